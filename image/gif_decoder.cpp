// GIF87a / GIF89a decoding: the block structure of the file, then LZW
// decompression of its first image into an 8-bit palette record.
//
// Every read of the input checks the bytes left first; a file that ends early
// ends the parse as a trailer would. The LZW codes are read from a copy of the
// image's data sub-blocks followed by zero bytes, so the code reader needs one
// end test per code and no other bounds test.
#include "image/gif_decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "image/file_bytes.h"

namespace morvel {
namespace {

constexpr int kMaxCodes = 4096;  // codes are at most 12 bits wide
constexpr int kMaxCodeWidth = 12;
constexpr int kStackSize = 4097;      // longer than any string the table can hold
constexpr size_t kCodePadding = 256;  // zero bytes after the collected code bytes
constexpr size_t kCodeSlack = 4;      // lets the reader fetch 3 bytes at the padding's end
constexpr int kNoCode = -1;

// Colours used when the file brings no global colour table; entry i of the
// record takes row i mod 16.
constexpr uint8_t kDefaultColors[16][3] = {
    {0, 0, 0},       {0, 0, 128},     {0, 128, 0},     {0, 128, 128},   {128, 0, 0},     {128, 0, 128},
    {128, 128, 0},   {200, 200, 200}, {100, 100, 100}, {100, 100, 255}, {100, 255, 100}, {100, 255, 255},
    {255, 100, 100}, {255, 100, 255}, {255, 255, 100}, {255, 255, 255},
};

// Interlace passes: first row and row step of each.
constexpr int kPassFirstRow[4] = {0, 4, 2, 1};
constexpr int kPassStep[4] = {8, 8, 4, 2};

struct FreeDeleter {
    void operator()(uint8_t* block) const { std::free(block); }
};
using MallocBlock = std::unique_ptr<uint8_t[], FreeDeleter>;

enum class GifSignature {
    Gif87a,
    Gif89a
};

struct GifDecoderState {
    // Input.
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t cursor = 0;
    int64_t maxPixelBytes = kMaxPixelBytes;
    GifSignature signature = GifSignature::Gif89a;

    // Logical screen (size and background are read, not used).
    int screenWidth = 0;
    int screenHeight = 0;
    int screenPacked = 0;
    int background = 0;
    bool globalTable = false;
    int colorCount = 0;

    // Current image.
    int imageWidth = 0;
    int imageHeight = 0;
    bool interlaced = false;
    bool localTable = false;
    int localCount = 0;
    uint8_t localColors[256][3] = {};

    // String table: for every code its prefix code, its last character, its
    // first character and its length. Roots are their own one-character
    // strings.
    uint16_t prefix[kMaxCodes] = {};
    uint8_t suffix[kMaxCodes] = {};
    uint8_t firstChar[kMaxCodes] = {};
    uint16_t length[kMaxCodes] = {};
    uint8_t stack[kStackSize] = {};

    // Code bytes: the data sub-blocks without their length bytes, then zeros.
    MallocBlock codeBytes;
    size_t codeByteCount = 0;
    uint64_t bitPosition = 0;
    uint64_t bitLimit = 0;

    // Pixels, packed at a stride of the image width while decoding.
    MallocBlock pixels;
    size_t pixelLimit = 0;
    size_t pixelsWritten = 0;

    // Interlace position.
    int pass = 0;
    int row = 0;
    int column = 0;

    std::string comment;
    bool gotImage = false;

    // Rows handed to a sink instead of stored: `pixels` then holds the
    // pixels from `handedOver` on (part of a row and the latest string).
    GifRowSink* sink = nullptr;
    bool streamed = false;
    size_t handedOver = 0;
};

// Diagnostic texts are formatted for a reader of the code; nothing shows them.
void gifDiagnostic(const char* text)
{
    (void)text;
}

// ---- Checked input reads ---------------------------------------------------

bool readByte(GifDecoderState& s, int& value)
{
    if (s.cursor >= s.size)
        return false;
    value = s.data[s.cursor++];
    return true;
}

bool readWord(GifDecoderState& s, int& value)
{
    if (s.size - s.cursor < 2)
        return false;
    value = s.data[s.cursor] | (s.data[s.cursor + 1] << 8);
    s.cursor += 2;
    return true;
}

// Skips up to `count` bytes; false when the data ended first.
bool skipBytes(GifDecoderState& s, size_t count)
{
    if (count > s.size - s.cursor) {
        s.cursor = s.size;
        return false;
    }
    s.cursor += count;
    return true;
}

// Reads `count` colour triples; false (cursor at the end) when they are not
// all there.
bool readColorTriples(GifDecoderState& s, uint8_t (*colors)[3], int count)
{
    const size_t bytes = static_cast<size_t>(count) * 3;
    if (bytes > s.size - s.cursor) {
        s.cursor = s.size;
        return false;
    }
    std::memcpy(colors, s.data + s.cursor, bytes);
    s.cursor += bytes;
    return true;
}

// Steps over sub-blocks up to and including the zero-length one, or to the
// end of the data.
void stepOverSubBlocks(GifDecoderState& s)
{
    int length = 0;
    while (readByte(s, length) && length != 0) {
        if (!skipBytes(s, static_cast<size_t>(length)))
            return;
    }
}

// ---- Extensions ------------------------------------------------------------

void readCommentExtension(GifDecoderState& s)
{
    // First pass: the total length and where the extension ends. A sub-block
    // cut off by the end of the data gives the bytes that exist.
    const size_t start = s.cursor;
    size_t total = 0;
    int length = 0;
    while (readByte(s, length) && length != 0) {
        total += std::min(static_cast<size_t>(length), s.size - s.cursor);
        if (!skipBytes(s, static_cast<size_t>(length)))
            break;
    }
    if (total == 0)
        return;
    const size_t end = s.cursor;
    try {
        std::string text;
        text.reserve(total);
        size_t at = start;
        while (at < end) {
            const size_t n = s.data[at++];
            if (n == 0)
                break;
            const size_t take = std::min(n, end - at);
            text.append(reinterpret_cast<const char*>(s.data + at), take);
            at += take;
        }
        if (s.comment.empty())
            s.comment = std::move(text);
        else
            s.comment.append("\n").append(text);
    } catch (const std::bad_alloc&) {
        gifDiagnostic("couldn't malloc space for comments\n");
    }
}

void stepOverExtension(GifDecoderState& s, int label)
{
    int length = 0;
    switch (label) {
    case 0x52:  // "R": a numerator and a denominator when its length is 2
        if (!readByte(s, length))
            return;
        if (!skipBytes(s, static_cast<size_t>(length)))
            return;
        stepOverSubBlocks(s);
        break;
    case 0xFE:
        readCommentExtension(s);
        break;
    case 0x01:  // plain text: a 12-byte header block, then its text
        if (!readByte(s, length))
            return;
        if (!skipBytes(s, 12))
            return;
        if (length > 12 && !skipBytes(s, static_cast<size_t>(length - 12)))
            return;
        stepOverSubBlocks(s);
        break;
    default:  // graphic control, application and any other extension
        stepOverSubBlocks(s);
        break;
    }
}

// ---- LZW ---------------------------------------------------------------------

// The next code from the code bytes, least significant bit first, or kNoCode
// when the code would need bytes past the collected ones and their padding.
inline int readGifCode(const uint8_t* bytes, uint64_t& bitPosition, uint64_t bitLimit, int width, uint32_t mask)
{
    if (bitPosition + static_cast<uint64_t>(width) > bitLimit)
        return kNoCode;
    const size_t index = static_cast<size_t>(bitPosition >> 3);
    const uint32_t window = static_cast<uint32_t>(bytes[index]) | (static_cast<uint32_t>(bytes[index + 1]) << 8) |
                            (static_cast<uint32_t>(bytes[index + 2]) << 16);
    const uint32_t shift = static_cast<uint32_t>(bitPosition & 7u);
    bitPosition += static_cast<uint64_t>(width);
    return static_cast<int>((window >> shift) & mask);
}

void moveToNextInterlacedRow(GifDecoderState& s)
{
    s.column = 0;
    s.row += kPassStep[s.pass];
    while (s.row >= s.imageHeight && s.pass < 3) {
        ++s.pass;
        s.row = kPassFirstRow[s.pass];
    }
}

// Stores `count` pixels of an interlaced image, in stream order, at the
// current position, moving through the rows pass by pass. Pixels beyond the
// last row of the last pass are dropped.
void advanceInterlacedPixel(GifDecoderState& s, const uint8_t* chars, size_t count)
{
    const size_t width = static_cast<size_t>(s.imageWidth);
    while (count > 0 && s.row < s.imageHeight) {
        const size_t n = std::min(count, width - static_cast<size_t>(s.column));
        std::memcpy(s.pixels.get() + static_cast<size_t>(s.row) * width + static_cast<size_t>(s.column), chars, n);
        chars += n;
        count -= n;
        s.column += static_cast<int>(n);
        if (static_cast<size_t>(s.column) == width)
            moveToNextInterlacedRow(s);
    }
}

// The image row that the `streamRow`th row of the code stream fills: the
// same row, or for an interlaced image its row in pass order.
int32_t imageRowOf(const GifDecoderState& s, size_t streamRow)
{
    if (!s.interlaced)
        return static_cast<int32_t>(streamRow);
    const auto height = static_cast<size_t>(s.imageHeight);
    for (int pass = 0; pass < 4; ++pass) {
        const auto first = static_cast<size_t>(kPassFirstRow[pass]);
        const auto step = static_cast<size_t>(kPassStep[pass]);
        const size_t rows = height > first ? (height - first + step - 1) / step : 0;
        if (streamRow < rows)
            return static_cast<int32_t>(first + streamRow * step);
        streamRow -= rows;
    }
    return static_cast<int32_t>(height);  // past the last pass: not a row
}

// Hands the finished rows among the pixels written so far to the sink and
// moves the rest of a row to the front of the window.
void handOverRows(GifDecoderState& s, size_t written)
{
    const size_t width = static_cast<size_t>(s.imageWidth);
    const size_t pending = written - s.handedOver;
    if (pending < width)
        return;
    uint8_t* const window = s.pixels.get();
    const size_t rows = pending / width;
    const size_t done = s.handedOver / width;
    for (size_t r = 0; r < rows; ++r)
        s.sink->row(imageRowOf(s, done + r), window + r * width);
    s.handedOver += rows * width;
    std::memmove(window, window + rows * width, pending - rows * width);
}

// Decodes the code bytes into the pixel block and returns the pixels written.
// Streamed: into the window of a sink instead (see handOverRows).
//
// Roots are the codes below the clear code; a clear code resets the table
// wherever it comes; the first code after the start or a clear code is
// written as its root and adds no entry; a code at or beyond the next free
// code is the previous string plus its own first character (it decodes as
// the next free code); a full table stays in use without adding entries.
template <bool Interlaced, bool Streamed = false>
size_t runLzw(GifDecoderState& s, int minCodeSize)
{
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    const int firstFree = clearCode + 2;
    const int initialWidth = minCodeSize + 1;

    uint16_t* const prefix = s.prefix;
    uint8_t* const suffix = s.suffix;
    uint8_t* const firstChar = s.firstChar;
    uint16_t* const length = s.length;
    for (int root = 0; root < clearCode; ++root) {
        prefix[root] = 0;
        suffix[root] = static_cast<uint8_t>(root);  // roots above 255 keep their low 8 bits
        firstChar[root] = static_cast<uint8_t>(root);
        length[root] = 1;
    }

    const uint8_t* const bytes = s.codeBytes.get();
    uint64_t bitPosition = 0;
    const uint64_t bitLimit = s.bitLimit;
    int width = initialWidth;
    int limit = 1 << width;
    uint32_t mask = static_cast<uint32_t>(limit - 1);
    int nextFree = firstFree;
    int previous = kNoCode;

    uint8_t* const out = s.pixels.get();
    const size_t pixelLimit = s.pixelLimit;
    size_t written = 0;

    // Interlaced images: where the current row continues and how much of it
    // is left. Strings that fit inside the row are written there directly.
    uint8_t* rowCursor = nullptr;
    size_t rowRoom = 0;
    auto loadInterlacedRow = [&] {
        if (s.row < s.imageHeight) {
            const size_t rowWidth = static_cast<size_t>(s.imageWidth);
            rowCursor = out + static_cast<size_t>(s.row) * rowWidth + static_cast<size_t>(s.column);
            rowRoom = rowWidth - static_cast<size_t>(s.column);
        } else {
            rowCursor = nullptr;
            rowRoom = 0;
        }
    };
    if constexpr (Interlaced)
        loadInterlacedRow();

    while (written < pixelLimit) {
        int code = readGifCode(bytes, bitPosition, bitLimit, width, mask);
        if (code == kNoCode || code == endCode)
            break;
        if (code == clearCode) {
            width = initialWidth;
            limit = 1 << width;
            mask = static_cast<uint32_t>(limit - 1);
            nextFree = firstFree;
            previous = kNoCode;
            continue;
        }
        if (previous == kNoCode) {
            // First code after the start or a clear code: only a root makes
            // sense here; anything else has no string to build on. It makes
            // no entry.
            if (code > endCode)
                break;
        } else if (code >= nextFree) {
            // Not yet in the table: the previous string plus its own first
            // character, which is exactly the entry about to be made.
            if (nextFree >= kMaxCodes)
                break;  // cannot happen with 12-bit codes; kept for safety
            prefix[nextFree] = static_cast<uint16_t>(previous);
            suffix[nextFree] = firstChar[previous];
            firstChar[nextFree] = firstChar[previous];
            length[nextFree] = static_cast<uint16_t>(length[previous] + 1);
            code = nextFree++;
        } else if (nextFree < kMaxCodes) {
            prefix[nextFree] = static_cast<uint16_t>(previous);
            suffix[nextFree] = firstChar[code];
            firstChar[nextFree] = firstChar[previous];
            length[nextFree] = static_cast<uint16_t>(length[previous] + 1);
            ++nextFree;
        }
        // Encoders widen their codes once the next entry number needs it
        // (with a minimum code size of 0 or 1 already after the first code).
        if (nextFree >= limit && width < kMaxCodeWidth) {
            ++width;
            limit <<= 1;
            mask = static_cast<uint32_t>(limit - 1);
        }
        previous = code;

        // Write the string, last character first, straight to its place. A
        // string running past the last pixel keeps only its first characters.
        size_t count = length[code];
        int c = code;
        const size_t room = pixelLimit - written;
        if (count > room) {
            for (size_t skip = count - room; skip > 0; --skip)
                c = prefix[c];
            count = room;
        }
        uint8_t* target;
        if constexpr (Interlaced)
            target = count < rowRoom ? rowCursor : s.stack;  // a string ending a row goes by the stack
        else if constexpr (Streamed)
            target = out + (written - s.handedOver);
        else
            target = out + written;
        uint8_t* p = target + count;
        while (p != target) {
            *--p = suffix[c];
            c = prefix[c];
        }
        if constexpr (Interlaced) {
            if (target == rowCursor) {
                rowCursor += count;
                rowRoom -= count;
            } else {
                s.column = s.imageWidth - static_cast<int>(rowRoom);
                advanceInterlacedPixel(s, target, count);
                loadInterlacedRow();
            }
        }
        written += count;
        if constexpr (Streamed)
            handOverRows(s, written);
    }
    return written;
}

// ---- Images ------------------------------------------------------------------

// Error exit of decodeGifImage: the image's buffers are released and the
// record gets nothing from it.
int gifAbandonImage(GifDecoderState& s, const char* text)
{
    gifDiagnostic(text);
    s.codeBytes.reset();
    s.codeByteCount = 0;
    s.pixels.reset();
    s.comment.clear();
    return 0;
}

// Steps over the rest of an image (code-size byte already read) and gives it
// up, so that parsing carries on at the next block.
int giveUpImage(GifDecoderState& s, const char* text)
{
    stepOverSubBlocks(s);
    return gifAbandonImage(s, text);
}

// Steps over an image descriptor that follows the first decoded image.
void stepOverImage(GifDecoderState& s)
{
    int packed = 0;
    if (!skipBytes(s, 8) || !readByte(s, packed))
        return;
    if (packed & 0x80) {
        if (!skipBytes(s, static_cast<size_t>(3) << ((packed & 7) + 1)))
            return;
    }
    if (!skipBytes(s, 1))
        return;
    stepOverSubBlocks(s);
}

// Decodes an image (code bytes collected) row by row into the sink, when
// the sink takes it; else into the record as usual. Returns what
// decodeGifImage returns.
int decodeGifImageWhole(GifDecoderState& s, ImageRecord* record, int minCodeSize);

int streamGifImage(GifDecoderState& s, ImageRecord* record, int minCodeSize)
{
    const size_t width = static_cast<size_t>(s.imageWidth);
    const size_t height = static_cast<size_t>(s.imageHeight);
    // Part of a row, then the longest string the table can hold.
    s.pixels.reset(static_cast<uint8_t*>(std::malloc(width + kMaxCodes)));
    if (!s.pixels)
        return gifAbandonImage(s, "couldn't malloc the row window");
    RgbQuad colors[256];
    std::memcpy(colors, record->colors, sizeof colors);
    for (int i = 0; i < s.localCount; ++i)
        colors[i] = RgbQuad{s.localColors[i][2], s.localColors[i][1], s.localColors[i][0], colors[i].rgbReserved};
    if (!s.sink->begin(s.imageWidth, s.imageHeight, colors, s.interlaced)) {
        s.pixels.reset();
        return decodeGifImageWhole(s, record, minCodeSize);
    }
    s.handedOver = 0;
    const size_t written = runLzw<false, true>(s, minCodeSize);
    s.codeBytes.reset();
    // The rows the code stream did not reach are 0.
    uint8_t* const window = s.pixels.get();
    size_t rowsDone = s.handedOver / width;
    if (rowsDone < height) {
        const size_t pending = written - s.handedOver;
        std::memset(window + pending, 0, width - pending);
        s.sink->row(imageRowOf(s, rowsDone), window);
        std::memset(window, 0, width);
        for (++rowsDone; rowsDone < height; ++rowsDone)
            s.sink->row(imageRowOf(s, rowsDone), window);
    }
    s.pixels.reset();
    s.streamed = true;
    return 1;
}

// Decodes one image (the cursor is just past its 0x2C byte) into the record.
// Returns 1 when the record received the image, 0 when it was given up.
int decodeGifImage(GifDecoderState& s, ImageRecord* record)
{
    int left = 0;
    int top = 0;
    int packed = 0;
    if (!readWord(s, left) || !readWord(s, top) || !readWord(s, s.imageWidth) || !readWord(s, s.imageHeight) ||
        !readByte(s, packed)) {
        s.cursor = s.size;
        return gifAbandonImage(s, "image descriptor cut short");
    }
    s.interlaced = (packed & 0x40) != 0;
    s.localTable = (packed & 0x80) != 0;
    s.localCount = s.localTable ? 1 << ((packed & 7) + 1) : 0;
    // The local colours reach the record only with the decoded image, so an
    // image that is given up leaves the colours of a later one untouched.
    if (s.localTable && !readColorTriples(s, s.localColors, s.localCount))
        return gifAbandonImage(s, "local colour table cut short");

    int minCodeSize = 0;
    if (!readByte(s, minCodeSize))
        return gifAbandonImage(s, "image data missing");
    if (minCodeSize >= kMaxCodeWidth)
        return giveUpImage(s, "LZW code size leaves no free code");
    if (s.imageWidth == 0 || s.imageHeight == 0)
        return giveUpImage(s, "image has no pixels");
    const int64_t pitch = imageRowPitch(s.imageWidth, 8);
    const int64_t blockBytes = pitch * s.imageHeight;
    if (blockBytes > s.maxPixelBytes)
        return giveUpImage(s, "image too large");

    // Collect the data sub-blocks. They cannot hold more than the bytes left.
    const size_t capacity = s.size - s.cursor;
    s.codeBytes.reset(static_cast<uint8_t*>(std::malloc(capacity + kCodePadding + kCodeSlack)));
    if (!s.codeBytes)
        return giveUpImage(s, "not enough memory to rasterize gif file");
    size_t collected = 0;
    int blockLength = 0;
    while (readByte(s, blockLength) && blockLength != 0) {
        const size_t take = std::min(static_cast<size_t>(blockLength), s.size - s.cursor);
        std::memcpy(s.codeBytes.get() + collected, s.data + s.cursor, take);
        collected += take;
        s.cursor += take;
    }
    std::memset(s.codeBytes.get() + collected, 0, kCodePadding + kCodeSlack);
    s.codeByteCount = collected;
    s.bitLimit = static_cast<uint64_t>(collected + kCodePadding) * 8;

    s.pixelLimit = static_cast<size_t>(s.imageWidth) * static_cast<size_t>(s.imageHeight);
    if (s.sink != nullptr)
        return streamGifImage(s, record, minCodeSize);
    return decodeGifImageWhole(s, record, minCodeSize);
}

int decodeGifImageWhole(GifDecoderState& s, ImageRecord* record, int minCodeSize)
{
    const int64_t pitch = imageRowPitch(s.imageWidth, 8);
    const int64_t blockBytes = pitch * s.imageHeight;
    const size_t width = static_cast<size_t>(s.imageWidth);
    const size_t height = static_cast<size_t>(s.imageHeight);
    s.pixels.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(blockBytes))));
    if (!s.pixels)
        return gifAbandonImage(s, "couldn't malloc 'pic8'");

    if (s.interlaced) {
        // Rows the stream never reaches stay 0.
        std::memset(s.pixels.get(), 0, s.pixelLimit);
        s.pass = 0;
        s.row = 0;
        s.column = 0;
        s.pixelsWritten = runLzw<true>(s, minCodeSize);
    } else {
        s.pixelsWritten = runLzw<false>(s, minCodeSize);
        if (s.pixelsWritten < s.pixelLimit)
            std::memset(s.pixels.get() + s.pixelsWritten, 0, s.pixelLimit - s.pixelsWritten);
    }
    s.codeBytes.reset();

    // Spread the packed rows out to the pitch, last row first, and clear the
    // fill bytes.
    const size_t rowPitch = static_cast<size_t>(pitch);
    if (rowPitch != width) {
        uint8_t* const block = s.pixels.get();
        for (size_t r = height; r-- > 0;) {
            std::memmove(block + r * rowPitch, block + r * width, width);
            std::memset(block + r * rowPitch + width, 0, rowPitch - width);
        }
    }

    std::free(record->rows);
    record->rows = nullptr;
    std::free(record->pixels);
    record->pixels = s.pixels.release();
    record->header.biWidth = s.imageWidth;
    record->rowCount = s.imageHeight;
    record->header.biHeight = -s.imageHeight;
    if (!buildRowTable(record, pitch)) {
        s.pixels.reset(record->pixels);
        record->pixels = nullptr;
        return gifAbandonImage(s, "no memory for the row table");
    }
    for (int i = 0; i < s.localCount; ++i) {
        record->colors[i].rgbRed = s.localColors[i][0];
        record->colors[i].rgbGreen = s.localColors[i][1];
        record->colors[i].rgbBlue = s.localColors[i][2];
    }
    return 1;
}

// ---- File structure ----------------------------------------------------------

bool parseGifBlocks(GifDecoderState& s, ImageRecord* record)
{
    record->header.biBitCount = 8;

    if (s.size < 6)
        return false;
    if (std::memcmp(s.data, "GIF87a", 6) == 0)
        s.signature = GifSignature::Gif87a;
    else if (std::memcmp(s.data, "GIF89a", 6) == 0)
        s.signature = GifSignature::Gif89a;
    else
        return false;
    s.cursor = 6;

    int aspect = 0;
    if (!readWord(s, s.screenWidth) || !readWord(s, s.screenHeight) || !readByte(s, s.screenPacked) ||
        !readByte(s, s.background) || !readByte(s, aspect))
        return false;
    if (aspect != 0 && s.signature == GifSignature::Gif87a)
        return false;

    s.globalTable = (s.screenPacked & 0x80) != 0;
    s.colorCount = 1 << ((s.screenPacked & 7) + 1);
    if (s.globalTable) {
        uint8_t global[256][3];
        if (!readColorTriples(s, global, s.colorCount))
            return false;
        for (int i = 0; i < s.colorCount; ++i) {
            record->colors[i].rgbRed = global[i][0];
            record->colors[i].rgbGreen = global[i][1];
            record->colors[i].rgbBlue = global[i][2];
        }
    } else {
        for (int i = 0; i < 256; ++i) {
            record->colors[i].rgbRed = kDefaultColors[i % 16][0];
            record->colors[i].rgbGreen = kDefaultColors[i % 16][1];
            record->colors[i].rgbBlue = kDefaultColors[i % 16][2];
        }
    }

    for (;;) {
        const size_t offset = s.cursor;
        int block = 0;
        if (!readByte(s, block))
            break;  // the data ended: as at a trailer
        if (block == 0x21) {
            int label = 0;
            if (!readByte(s, label))
                break;
            stepOverExtension(s, label);
        } else if (block == 0x2C) {
            if (s.gotImage)
                stepOverImage(s);
            else if (decodeGifImage(s, record) == 1)
                s.gotImage = true;
        } else if (block == 0x3B) {
            break;
        } else {
            char text[80];
            std::snprintf(text, sizeof text, "Unknown block type (0x%02x) at offset 0x%lx", block,
                          static_cast<unsigned long>(offset));
            if (!s.gotImage)
                return false;
            gifDiagnostic(text);
            break;
        }
    }
    s.codeBytes.reset();
    return s.gotImage;
}

}  // namespace

ImageHandle decodeGif(const uint8_t* data, size_t size, int64_t maxPixelBytes, GifRowSink* sink)
{
    if (!data && size > 0)
        return nullptr;
    ImageHandle record(createImageRecord());
    if (!record)
        return nullptr;
    // The state holds the 4096-entry string table; keep it off the stack.
    std::unique_ptr<GifDecoderState> state(new (std::nothrow) GifDecoderState);
    if (!state)
        return nullptr;
    state->data = data;
    state->size = data ? size : 0;
    state->maxPixelBytes = std::min(maxPixelBytes, kMaxPixelBytes);
    state->sink = sink;
    if (!parseGifBlocks(*state, record.get()))
        return nullptr;
    if (state->streamed)
        return sink->finish();
    return record;
}

ImageHandle readGifFile(const std::string& path, GifRowSink* sink)
{
    // Look at the signature first: the load sequence tries every picture as
    // a GIF, and a large JPEG or PNG need not be read whole to be turned down.
    const auto head = readFileHead(path, 6);
    if (!head || head->size() < 6 ||
        (std::memcmp(head->data(), "GIF87a", 6) != 0 && std::memcmp(head->data(), "GIF89a", 6) != 0))
        return nullptr;
    const auto bytes = readFileBytes(path);
    if (!bytes)
        return nullptr;
    return decodeGif(bytes->data(), bytes->size(), kMaxPixelBytes, sink);
}

}  // namespace morvel
