// Unsigned integers read from bytes in either order, as file formats store
// them: big-endian (PNG, ISO boxes, Motorola EXIF) and little-endian (BMP,
// Intel EXIF). The caller has checked that the bytes are there.
#pragma once

#include <cstdint>

namespace morvel {

inline uint32_t bigEndian16(const uint8_t* p)
{
    return uint32_t{p[0]} << 8 | p[1];
}

inline uint32_t bigEndian32(const uint8_t* p)
{
    return bigEndian16(p) << 16 | bigEndian16(p + 2);
}

inline uint32_t littleEndian16(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8;
}

inline uint32_t littleEndian32(const uint8_t* p)
{
    return littleEndian16(p) | littleEndian16(p + 2) << 16;
}

}  // namespace morvel
