// LZW decompression as GIF uses it: variable-width codes packed least
// significant bit first, a clear code and an end code after the roots, the
// code width growing to at most 12 bits as the string table fills.
//
// Roots are the codes below the clear code; a clear code resets the table
// wherever it comes; the first code after the start or a clear code is
// written as its root and adds no entry; a code at or beyond the next free
// code is the previous string plus its own first character (it decodes as
// the next free code); a full table stays in use without adding entries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvel {

inline constexpr int kGifMaxCodes = 4096;  // codes are at most 12 bits wide
inline constexpr int kGifMaxCodeWidth = 12;
// Zero bytes the code bytes are followed by: codes are read up to the end
// of kGifCodePadding of them (a stream cut short ends in zero codes), and
// the reader fetches three bytes at a time, kGifCodeSlack more.
inline constexpr size_t kGifCodePadding = 256;
inline constexpr size_t kGifCodeSlack = 4;

// The string table: for every code its prefix code, its last character, its
// first character and its length. Roots are their own one-character strings.
struct GifStringTable {
    uint16_t prefix[kGifMaxCodes];
    uint8_t suffix[kGifMaxCodes];
    uint8_t firstChar[kGifMaxCodes];
    uint16_t length[kGifMaxCodes];
};

// The code stream of one image: `bytes` holds the code bytes followed by
// kGifCodePadding + kGifCodeSlack zero bytes; codes are read while they end
// within `bitLimit` bits (the code bytes and kGifCodePadding zero bytes).
struct GifCodeStream {
    const uint8_t* bytes = nullptr;
    uint64_t bitLimit = 0;
    int minCodeSize = 0;  // 0 to 11: the roots are the codes below 1 << minCodeSize
};

namespace gif_lzw_detail {

// The next code, or -1 when it would end past the limit.
inline int readCode(const uint8_t* bytes, uint64_t& bitPosition, uint64_t bitLimit, int width, uint32_t mask)
{
    if (bitPosition + static_cast<uint64_t>(width) > bitLimit)
        return -1;
    const size_t index = static_cast<size_t>(bitPosition >> 3);
    const uint32_t window = static_cast<uint32_t>(bytes[index]) | (static_cast<uint32_t>(bytes[index + 1]) << 8) |
                            (static_cast<uint32_t>(bytes[index + 2]) << 16);
    const uint32_t shift = static_cast<uint32_t>(bitPosition & 7u);
    bitPosition += static_cast<uint64_t>(width);
    return static_cast<int>((window >> shift) & mask);
}

// The decoder's position in the code stream and in the table.
struct Coder {
    int clearCode;
    int endCode;
    int firstFree;
    int initialWidth;
    int width;
    int limit;
    uint32_t mask;
    int nextFree;
    int previous = -1;

    explicit Coder(int minCodeSize)
        : clearCode(1 << minCodeSize), endCode(clearCode + 1), firstFree(clearCode + 2), initialWidth(minCodeSize + 1)
    {
        reset();
    }
    void reset()
    {
        width = initialWidth;
        limit = 1 << width;
        mask = static_cast<uint32_t>(limit - 1);
        nextFree = firstFree;
        previous = -1;
    }
};

void resetTable(GifStringTable& table, int clearCode);

// Takes `code` (neither clear nor end) into the table; returns the code
// whose string it stands for, or -1 when the stream can go no further.
inline int enter(GifStringTable& table, Coder& coder, int code)
{
    const int previous = coder.previous;
    if (previous < 0) {
        // First code after the start or a clear code: only a root makes
        // sense here; anything else has no string to build on. It makes no
        // entry.
        if (code > coder.endCode)
            return -1;
    } else if (code >= coder.nextFree) {
        // Not yet in the table: the previous string plus its own first
        // character, which is exactly the entry about to be made.
        if (coder.nextFree >= kGifMaxCodes)
            return -1;  // cannot happen with 12-bit codes; kept for safety
        const int entry = coder.nextFree++;
        table.prefix[entry] = static_cast<uint16_t>(previous);
        table.suffix[entry] = table.firstChar[previous];
        table.firstChar[entry] = table.firstChar[previous];
        table.length[entry] = static_cast<uint16_t>(table.length[previous] + 1);
        code = entry;
    } else if (coder.nextFree < kGifMaxCodes) {
        const int entry = coder.nextFree++;
        table.prefix[entry] = static_cast<uint16_t>(previous);
        table.suffix[entry] = table.firstChar[code];
        table.firstChar[entry] = table.firstChar[previous];
        table.length[entry] = static_cast<uint16_t>(table.length[previous] + 1);
    }
    // Encoders widen their codes once the next entry number needs it (with a
    // minimum code size of 0 or 1 already after the first code).
    if (coder.nextFree >= coder.limit && coder.width < kGifMaxCodeWidth) {
        ++coder.width;
        coder.limit <<= 1;
        coder.mask = static_cast<uint32_t>(coder.limit - 1);
    }
    coder.previous = code;
    return code;
}

}  // namespace gif_lzw_detail

// Decodes `stream` into at most `pixelLimit` characters and returns how
// many it gave. The characters go where `out` says, a string at a time:
//   uint8_t* out.place(size_t count)  where the string's `count` characters go
//   void out.placed(uint8_t* at, size_t count)  after they are written there
// A string running past `pixelLimit` keeps only its first characters.
template <typename Out>
size_t decodeGifLzw(GifStringTable& table, const GifCodeStream& stream, size_t pixelLimit, Out& out)
{
    using namespace gif_lzw_detail;
    Coder coder(stream.minCodeSize);
    resetTable(table, coder.clearCode);
    uint64_t bitPosition = 0;
    size_t written = 0;
    while (written < pixelLimit) {
        int code = readCode(stream.bytes, bitPosition, stream.bitLimit, coder.width, coder.mask);
        if (code < 0 || code == coder.endCode)
            break;
        if (code == coder.clearCode) {
            coder.reset();
            continue;
        }
        code = enter(table, coder, code);
        if (code < 0)
            break;
        // The string, last character first, straight to its place.
        size_t count = table.length[code];
        int c = code;
        const size_t room = pixelLimit - written;
        if (count > room) {
            for (size_t skip = count - room; skip > 0; --skip)
                c = table.prefix[c];
            count = room;
        }
        uint8_t* const target = out.place(count);
        uint8_t* p = target + count;
        while (p != target) {
            *--p = table.suffix[c];
            c = table.prefix[c];
        }
        written += count;
        out.placed(target, count);
    }
    return written;
}

}  // namespace morvel
