#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "image/file_bytes.h"
#include "test_files.h"

using namespace morvel;

using morvel::testing::TempDir;

TEST(FileBytes, ReadsRegularFilesWithinTheLimit)
{
    const TempDir dir("morvel-bytes");
    const std::string file = dir.write("five", {'G', 'I', 'F', '8', '9'});
    const auto bytes = readFileBytes(file);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "GIF89");
    EXPECT_TRUE(isRegularFile(file));

    EXPECT_FALSE(readFileBytes(file, 4));  // larger than the limit
    const auto empty = readFileBytes(dir.write("empty", {}));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(FileBytes, RefusesWhatIsNotARegularFileWithoutWaiting)
{
    const TempDir dir("morvel-bytes");
    EXPECT_FALSE(readFileBytes(dir.path().string()));
    EXPECT_FALSE(isRegularFile(dir.path().string()));
    EXPECT_FALSE(readFileBytes((dir.path() / "missing").string()));
    EXPECT_FALSE(readFileBytes("/dev/zero"));
    // A named pipe with no writer: opening it must not block.
    const auto fifo = dir.path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(readFileBytes(fifo.string()));
    EXPECT_FALSE(isRegularFile(fifo.string()));
}

TEST(FileBytes, HeadReadsOnlyTheFirstBytes)
{
    TempDir dir;
    const auto file = dir.path() / "gif";
    std::ofstream(file, std::ios::binary) << "GIF89a and the rest";
    const auto head = readFileHead(file.string(), 6);
    ASSERT_TRUE(head);
    EXPECT_EQ(std::string(head->begin(), head->end()), "GIF89a");
    const auto all = readFileHead(file.string(), 1000);  // a short file gives what it has
    ASSERT_TRUE(all);
    EXPECT_EQ(all->size(), 19u);
    EXPECT_FALSE(readFileHead(dir.path().string(), 6));
}
