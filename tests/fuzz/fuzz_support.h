// Helpers shared by the fuzz targets: a scratch file the JPEG reader can be
// pointed at, and checks that a decoded picture is whole.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/image_record.h"

namespace morvel::fuzz {

// Stops the run with a message; libFuzzer and the replay program both treat
// the abort as a finding.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// One scratch file per process, rewritten for every input and removed at
// exit. The JPEG reader is driven through a file because that is how the
// programs call it.
class ScratchFile {
public:
    ScratchFile()
    {
        const char* dir =
            ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
        std::string pattern = std::string(dir) + "/morvel-fuzz-XXXXXX";
        fd_ = ::mkstemp(pattern.data());
        if (fd_ < 0)
            fail("cannot make a scratch file");
        path_ = pattern;
    }
    ~ScratchFile()
    {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Replaces the file's content with `size` bytes at `data`.
    const std::string& hold(const uint8_t* data, size_t size)
    {
        if (::ftruncate(fd_, 0) != 0)
            fail("cannot truncate the scratch file");
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0)
                fail("cannot write the scratch file");
            done += static_cast<size_t>(n);
        }
        return path_;
    }

    static ScratchFile& instance()
    {
        static ScratchFile file;
        return file;
    }

private:
    int fd_ = -1;
    std::string path_;
};

// A decoded picture must be an 8-bit record of at least one pixel whose row
// table steps through one pixel block at the record's pitch. The first and
// last byte of every row are read, so that the address sanitizer reports a
// block shorter than the record declares (reading every pixel would make the
// instrumented loop, not the decoder, the slow part of a run). The GIF,
// JPEG and PNG readers all clear the fill bytes past each row's last pixel.
inline uint32_t checkPicture(const ImageRecord& image, bool clearFill = true)
{
    if (image.header.biBitCount != 8 || image.header.biWidth <= 0 || image.rowCount <= 0 ||
        image.header.biHeight != -image.rowCount || !image.pixels || !image.rows)
        fail("decoded record is not a whole 8-bit picture");
    const int64_t pitch = imageRowPitch(image.header.biWidth, 8);
    if (pitch * image.rowCount > kMaxPixelBytes)
        fail("decoded record is larger than the pixel limit");
    uint32_t sum = 0;
    for (int32_t y = 0; y < image.rowCount; ++y) {
        if (image.rows[y] != image.pixels + pitch * y)
            fail("row table does not follow the pitch");
        sum += image.rows[y][0] + image.rows[y][pitch - 1];
        for (int64_t x = image.header.biWidth; clearFill && x < pitch; ++x)
            if (image.rows[y][x] != 0)
                fail("fill bytes past the row's last pixel are not cleared");
    }
    return sum;
}

}  // namespace morvel::fuzz
