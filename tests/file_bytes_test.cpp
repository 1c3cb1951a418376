#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "image/file_bytes.h"

using namespace morvel;

namespace {

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        char name[] = "/tmp/morvel-bytes-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

}  // namespace

TEST(FileBytes, ReadsRegularFilesWithinTheLimit)
{
    TempDir dir;
    const auto file = dir.path / "five";
    std::ofstream(file, std::ios::binary) << "GIF89";
    const auto bytes = readFileBytes(file.string());
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "GIF89");
    EXPECT_TRUE(isRegularFile(file.string()));

    EXPECT_FALSE(readFileBytes(file.string(), 4));  // larger than the limit
    std::ofstream(dir.path / "empty", std::ios::binary);
    const auto empty = readFileBytes((dir.path / "empty").string());
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(FileBytes, RefusesWhatIsNotARegularFileWithoutWaiting)
{
    TempDir dir;
    EXPECT_FALSE(readFileBytes(dir.path.string()));
    EXPECT_FALSE(isRegularFile(dir.path.string()));
    EXPECT_FALSE(readFileBytes((dir.path / "missing").string()));
    EXPECT_FALSE(readFileBytes("/dev/zero"));
    // A named pipe with no writer: opening it must not block.
    const auto fifo = dir.path / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readFileBytes(fifo.string()));
    EXPECT_FALSE(isRegularFile(fifo.string()));
}
