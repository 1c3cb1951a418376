// Files for tests that read from disk: a private temporary directory that
// cleans up after itself, and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace morvel::testing {

// Writes `bytes` to `path`, replacing what was there.
inline void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The whole file at `path`; empty when it cannot be read.
inline std::vector<uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A new directory of its own under the system's temporary folder (mkdtemp
// picks a name no other test process holds), removed with everything in it
// when the object goes.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "morvel-test")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
        else
            ADD_FAILURE() << "cannot make a temporary directory from " << pattern;
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes `bytes` as `name` inside the directory and returns its path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        const std::filesystem::path file = path_ / name;
        writeFile(file, bytes);
        return file.string();
    }

private:
    std::filesystem::path path_;
};

}  // namespace morvel::testing
