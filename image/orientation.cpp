#include "image/orientation.h"

#include <cstring>

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

uint32_t bigEndian16(const uint8_t* p)
{
    return uint32_t{p[0]} << 8 | p[1];
}
uint32_t bigEndian32(const uint8_t* p)
{
    return bigEndian16(p) << 16 | bigEndian16(p + 2);
}

// JPEG: the marker segments from SOI up to the first scan.
int orientationFromJpeg(const uint8_t* data, size_t size)
{
    size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF)
            return 1;
        const uint8_t marker = data[at + 1];
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
        const size_t length = bigEndian16(data + at + 2);
        if (length < 2 || length > size - at - 2)
            return 1;
        if (marker == 0xE1 && length >= 8 && std::memcmp(data + at + 4, "Exif\0\0", 6) == 0)
            return orientationFromTiff(data + at + 10, length - 8);
        at += 2 + length;
    }
    return 1;
}

// PNG: the chunks after the signature, up to the end.
int orientationFromPng(const uint8_t* data, size_t size)
{
    size_t at = 8;
    while (at + 12 <= size) {
        const uint32_t length = bigEndian32(data + at);
        if (length > size - at - 12)
            return 1;
        const uint8_t* type = data + at + 4;
        if (std::memcmp(type, "eXIf", 4) == 0)
            return orientationFromExif(data + at + 8, length);
        if (std::memcmp(type, "IEND", 4) == 0)
            return 1;
        at += 12 + size_t{length};
    }
    return 1;
}

// WebP: the RIFF chunks after the file header, up to an EXIF chunk.
int orientationFromWebp(const uint8_t* data, size_t size)
{
    size_t at = 12;
    while (size - at >= 8) {
        const uint8_t* field = data + at + 4;
        const uint32_t little =
            uint32_t{field[0]} | uint32_t{field[1]} << 8 | uint32_t{field[2]} << 16 | uint32_t{field[3]} << 24;
        if (little > size - at - 8)
            return 1;
        if (std::memcmp(data + at, "EXIF", 4) == 0)
            return orientationFromExif(data + at + 8, little);
        at += 8 + size_t{little};
        if (little % 2 != 0) {  // chunks are padded to an even length
            if (at == size)
                return 1;
            ++at;
        }
    }
    return 1;
}

}  // namespace

int readOrientation(const uint8_t* data, size_t size)
{
    static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (data == nullptr)
        return 1;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8)
        return orientationFromJpeg(data, size);
    if (size >= sizeof kPngSignature && std::memcmp(data, kPngSignature, sizeof kPngSignature) == 0)
        return orientationFromPng(data, size);
    if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0)
        return orientationFromWebp(data, size);
    if (size >= 4 && (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0))
        return orientationFromTiff(data, size);
    return 1;
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
