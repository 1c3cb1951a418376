#include "image/orientation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "image/byte_order.h"

namespace morvel {

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTiffShort = 3;

// Reads inside a TIFF structure of `size` bytes in its own byte order; every
// read is checked against the size.
class TiffBytes {
public:
    TiffBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool setByteOrder()
    {
        if (size_ < 8)
            return false;
        if (data_[0] == 'I' && data_[1] == 'I')
            little_ = true;
        else if (data_[0] == 'M' && data_[1] == 'M')
            little_ = false;
        else
            return false;
        return true;
    }
    bool u16(uint64_t at, uint32_t& value) const
    {
        if (at > size_ || size_ - at < 2)
            return false;
        const uint8_t* p = data_ + at;
        value = little_ ? p[0] | p[1] << 8 : p[0] << 8 | p[1];
        return true;
    }
    bool u32(uint64_t at, uint32_t& value) const
    {
        uint32_t first = 0, second = 0;
        if (!u16(at, first) || !u16(at + 2, second))
            return false;
        value = little_ ? first | second << 16 : first << 16 | second;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    bool little_ = true;
};

// The Orientation tag of the first image directory of a TIFF structure.
int orientationFromTiff(const uint8_t* data, size_t size)
{
    TiffBytes tiff(data, size);
    uint32_t magic = 0, directory = 0, entries = 0;
    if (!tiff.setByteOrder() || !tiff.u16(2, magic) || magic != 42 || !tiff.u32(4, directory) ||
        !tiff.u16(directory, entries))
        return 1;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint64_t entry = uint64_t{directory} + 2 + uint64_t{12} * i;
        uint32_t tag = 0, type = 0, count = 0, value = 0;
        if (!tiff.u16(entry, tag))
            return 1;
        if (tag != kOrientationTag)
            continue;
        if (!tiff.u16(entry + 2, type) || !tiff.u32(entry + 4, count) || !tiff.u16(entry + 8, value) ||
            type != kTiffShort || count != 1 || value < 1 || value > 8)
            return 1;
        return static_cast<int>(value);
    }
    return 1;
}

// Some writers begin an EXIF block with the JPEG segment's "Exif\0\0" even
// where the format has no room for it (PNG's eXIf chunk); it is stepped over.
int orientationFromExif(const uint8_t* data, size_t size)
{
    static const uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (size >= sizeof kExifHeader && std::memcmp(data, kExifHeader, sizeof kExifHeader) == 0)
        return orientationFromTiff(data + sizeof kExifHeader, size - sizeof kExifHeader);
    return orientationFromTiff(data, size);
}

// Most of an EXIF block read for its orientation: a JPEG segment holds at
// most 64 KiB; a PNG chunk may claim more, of which this much is looked at.
constexpr size_t kMaxExifBytes = size_t{1} << 20;

// A picture's bytes, read at given offsets: in memory, or from a file
// through its descriptor, so that a file and the same bytes in memory are
// walked alike, however far into them the EXIF block lies.
class ByteSource {
public:
    ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    ByteSource(int fd, uint64_t size) : fd_(fd), size_(size) {}

    uint64_t size() const { return size_; }

    // The `count` bytes at `at`; false when they are not all there.
    bool read(uint64_t at, size_t count, uint8_t* out) const
    {
        if (at > size_ || count > size_ - at)
            return false;
        if (data_ != nullptr) {
            std::memcpy(out, data_ + at, count);
            return true;
        }
        size_t done = 0;
        while (done < count) {
            const ssize_t got = ::pread(fd_, out + done, count - done, static_cast<off_t>(at + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            done += static_cast<size_t>(got);
        }
        return true;
    }

    // The orientation in the EXIF block of `length` bytes at `at`.
    int exifAt(uint64_t at, uint64_t length, bool jpegSegment) const
    {
        std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(length, kMaxExifBytes)));
        if (!read(at, block.size(), block.data()))
            return 1;
        return jpegSegment ? orientationFromTiff(block.data(), block.size())
                           : orientationFromExif(block.data(), block.size());
    }

private:
    const uint8_t* data_ = nullptr;
    int fd_ = -1;
    uint64_t size_;
};

// JPEG: the marker segments from SOI up to the first scan.
int orientationFromJpeg(const ByteSource& source)
{
    uint64_t at = 2;
    uint8_t head[10];
    while (source.read(at, 4, head)) {
        if (head[0] != 0xFF)
            return 1;
        const uint8_t marker = head[1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no length
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)  // image data, or the end
            return 1;
        const uint64_t length = bigEndian16(head + 2);
        if (length < 2 || length > source.size() - at - 2)
            return 1;
        if (marker == 0xE1 && length >= 8 && source.read(at, 10, head) && std::memcmp(head + 4, "Exif\0\0", 6) == 0)
            return source.exifAt(at + 10, length - 8, true);
        at += 2 + length;
    }
    return 1;
}

// PNG: the chunks after the signature, up to the end, wherever the eXIf
// chunk lies (before the image data, or after it as some writers put it).
int orientationFromPng(const ByteSource& source)
{
    uint64_t at = 8;
    uint8_t head[8];
    while (source.read(at, 8, head)) {
        const uint64_t length = bigEndian32(head);
        if (length > source.size() - at - 8 || source.size() - at - 8 - length < 4)
            return 1;
        const uint8_t* type = head + 4;
        if (std::memcmp(type, "eXIf", 4) == 0)
            return source.exifAt(at + 8, length, false);
        if (std::memcmp(type, "IEND", 4) == 0)
            return 1;
        at += 12 + length;
    }
    return 1;
}

// WebP: the RIFF chunks after the file header, up to an EXIF chunk.
int orientationFromWebp(const ByteSource& source)
{
    uint64_t at = 12;
    uint8_t head[8];
    while (source.read(at, 8, head)) {
        const uint64_t length =
            uint64_t{head[4]} | uint64_t{head[5]} << 8 | uint64_t{head[6]} << 16 | uint64_t{head[7]} << 24;
        if (length > source.size() - at - 8)
            return 1;
        if (std::memcmp(head, "EXIF", 4) == 0)
            return source.exifAt(at + 8, length, false);
        at += 8 + length + length % 2;  // chunks are padded to an even length
    }
    return 1;
}

// TIFF: the first image directory, copied behind a header of its own so
// that the directory is read alike wherever it lies in the file.
int orientationFromTiffFile(const ByteSource& source)
{
    uint8_t head[8];
    if (!source.read(0, 8, head))
        return 1;
    const bool little = head[0] == 'I';
    const auto field32 = [little](const uint8_t* p) { return little ? littleEndian32(p) : bigEndian32(p); };
    const uint64_t directory = field32(head + 4);
    uint8_t count[2];
    if (!source.read(directory, 2, count))
        return 1;
    const size_t entries = little ? littleEndian16(count) : bigEndian16(count);
    std::vector<uint8_t> copy(10 + 12 * entries);
    std::memcpy(copy.data(), head, 4);
    copy[little ? 4 : 7] = 8;
    std::memcpy(copy.data() + 8, count, 2);
    if (!source.read(directory + 2, 12 * entries, copy.data() + 10))
        return 1;
    return orientationFromTiff(copy.data(), copy.size());
}

int orientationOf(const ByteSource& source)
{
    static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    uint8_t head[8] = {};
    const bool eight = source.read(0, 8, head);
    if ((eight || source.read(0, 2, head)) && head[0] == 0xFF && head[1] == 0xD8)
        return orientationFromJpeg(source);
    if (eight && std::memcmp(head, kPngSignature, sizeof kPngSignature) == 0)
        return orientationFromPng(source);
    if (eight && std::memcmp(head, "RIFF", 4) == 0) {
        uint8_t form[4];
        if (source.read(8, 4, form) && std::memcmp(form, "WEBP", 4) == 0)
            return orientationFromWebp(source);
    }
    if (eight && (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0))
        return orientationFromTiffFile(source);
    return 1;
}

}  // namespace

int readOrientation(const uint8_t* data, size_t size)
{
    if (data == nullptr)
        return 1;
    return orientationOf(ByteSource(data, size));
}

int readFileOrientation(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return 1;
    struct stat status {};
    int orientation = 1;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
        orientation = orientationOf(ByteSource(fd, static_cast<uint64_t>(status.st_size)));
    ::close(fd);
    return orientation;
}

bool swapsSides(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

ImageHandle turnUpright(const ImageRecord& picture, int orientation)
{
    const int32_t width = picture.header.biWidth;
    const int32_t height = picture.rowCount;
    const int32_t bitCount = picture.header.biBitCount;
    if (orientation < 2 || orientation > 8 || (bitCount != 8 && bitCount != 24) || picture.rows == nullptr ||
        width < 1 || height < 1)
        return nullptr;
    const bool swap = swapsSides(orientation);
    const int32_t turnedWidth = swap ? height : width;
    const int32_t turnedHeight = swap ? width : height;
    ImageHandle turned(createImageRecord());
    if (!turned || !shapeImageRecord(turned.get(), turnedWidth, turnedHeight, bitCount))
        return nullptr;
    std::memcpy(turned->colors, picture.colors, sizeof picture.colors);

    // The stored pixel (sx, sy) shown at upright (x, y) is
    //   sx = x0 + dxx x + dxy y,  sy = y0 + dyx x + dyy y.
    struct Walk {
        int32_t x0, dxx, dxy, y0, dyx, dyy;
    };
    const int32_t w = width - 1, h = height - 1;
    const Walk walks[9] = {
        {},
        {},
        {w, -1, 0, 0, 0, 1},   // 2: mirrored left to right
        {w, -1, 0, h, 0, -1},  // 3: turned half round
        {0, 1, 0, h, 0, -1},   // 4: mirrored top to bottom
        {0, 0, 1, 0, 1, 0},    // 5: rows and columns exchanged
        {0, 0, 1, h, -1, 0},   // 6: turned a quarter clockwise
        {w, 0, -1, h, -1, 0},  // 7: exchanged across the other diagonal
        {w, 0, -1, 0, 1, 0},   // 8: turned a quarter anticlockwise
    };
    const Walk& walk = walks[orientation];
    const size_t bytesPerPixel = static_cast<size_t>(bitCount / 8);
    for (int32_t y = 0; y < turnedHeight; ++y) {
        int32_t sx = walk.x0 + walk.dxy * y;
        int32_t sy = walk.y0 + walk.dyy * y;
        uint8_t* to = turned->rows[y];
        if (bytesPerPixel == 1) {
            for (int32_t x = 0; x < turnedWidth; ++x, sx += walk.dxx, sy += walk.dyx)
                to[x] = picture.rows[sy][sx];
        } else {
            for (int32_t x = 0; x < turnedWidth; ++x, sx += walk.dxx, sy += walk.dyx)
                std::memcpy(to + size_t{3} * static_cast<size_t>(x),
                            picture.rows[sy] + size_t{3} * static_cast<size_t>(sx), 3);
        }
    }
    clearRowFill(*turned);
    return turned;
}

}  // namespace morvel
