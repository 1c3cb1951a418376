// Helpers shared by the fuzz targets: a scratch file the JPEG reader can be
// pointed at, and checks that a decoded picture is whole.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "image/image_record.h"
#include "image/load_picture.h"
#include "image/read_error.h"

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

// A reader of whole files in memory (WebP, HEIF, TIFF, BMP): bytes, their
// count, the pixel limit, the reason for no picture, options, colour.
using StillReader = ImageHandle (*)(const uint8_t*, size_t, int64_t, ReadError*, const LoadOptions&, ImageHandle*);

// The pixel limit the still readers are fuzzed with: small, so that a
// declared size cannot make a run slow.
inline constexpr int64_t kStillReaderPixelBytes = int64_t{4} << 20;

// The checks every still reader must pass on any bytes, read with
// kStillReaderPixelBytes: it gives a whole picture or none with a one-line
// reason; asking for colour leaves
// the gray picture as it was and gives colour at its size; a picture wanted
// at a third of its size comes at that size. With `samePixels` false, the
// second decode need only give the same size: a library that leaves part of
// a damaged picture undefined (the HEVC decoder behind libheif) fills it
// differently each time.
inline uint32_t checkStillReader(StillReader read, const uint8_t* data, size_t size, bool samePixels = true)
{
    const auto decode = [read](const uint8_t* bytes, size_t length, const LoadOptions& options, ImageHandle* colour,
                               ReadError* error) {
        return read(bytes, length, kStillReaderPixelBytes, error, options, colour);
    };
    ReadError why;
    const ImageHandle gray = decode(data, size, LoadOptions{}, nullptr, &why);
    if (!gray) {
        const std::string message = messageOf(why);
        if (message.empty() || message.find('\n') != std::string::npos)
            fail("no picture without a one-line reason");
        return 0;
    }
    uint32_t sum = checkPicture(*gray);
    const int32_t width = gray->header.biWidth;
    const int32_t height = gray->rowCount;
    LoadOptions withColour;
    withColour.colour = true;
    ImageHandle colour;
    const ImageHandle both = decode(data, size, withColour, &colour, &why);
    if (!both || both->header.biWidth != width || both->rowCount != height ||
        (samePixels &&
         std::memcmp(both->pixels, gray->pixels, static_cast<size_t>(imageRowPitch(width, 8) * height)) != 0))
        fail("asking for colour changed the gray picture");
    if (colour && (colour->header.biBitCount != 24 || colour->header.biWidth != width || colour->rowCount != height))
        fail("colour picture of another size than the gray one");
    LoadOptions third;
    third.fit = [](int32_t w, int32_t h) { return PictureSize{std::max(1, w / 3), std::max(1, h / 3)}; };
    if (const ImageHandle small = decode(data, size, third, nullptr, &why)) {
        sum += checkPicture(*small);
        if (small->header.biWidth != std::max(1, width / 3) || small->rowCount != std::max(1, height / 3))
            fail("shrunk picture of another size than asked");
    }
    return sum;
}

}  // namespace morvel::fuzz
