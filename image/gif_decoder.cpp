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
#include "image/gif_lzw.h"

namespace morvel {
namespace {

constexpr int kStackSize = kGifMaxCodes + 1;  // longer than any string the table can hold

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

    GifStringTable table = {};
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
    // Why the last image given up was (an image too large, or memory
    // refused, rather than damage).
    ReadFailure failure = ReadFailure::Damaged;
    bool endsEarly = false;  // the decoded image's code stream stopped short

    // Every image to `frames` instead of the first one kept, with the
    // graphic control in force and the colours of the global table.
    GifFrameSink* frames = nullptr;
    GifFrame control;
    GifScreen screen;
    bool screenGiven = false;
    RgbQuad globalColors[256] = {};
    int imageCount = 0;
    bool stopped = false;

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

// The graphic control extension: disposal, transparency and delay of the
// next image.
void readGraphicControl(GifDecoderState& s)
{
    const size_t start = s.cursor;
    if (s.size - s.cursor >= 5 && s.data[s.cursor] >= 4) {
        const int packed = s.data[s.cursor + 1];
        const int disposal = (packed >> 2) & 7;
        s.control.disposal = disposal <= 3 ? disposal : 0;
        s.control.delay = s.data[s.cursor + 2] | (s.data[s.cursor + 3] << 8);
        s.control.transparent = (packed & 1) != 0 ? s.data[s.cursor + 4] : -1;
    }
    s.cursor = start;
    stepOverSubBlocks(s);
}

// An application extension: the NETSCAPE2.0 (or ANIMEXTS1.0) loop count.
void readApplication(GifDecoderState& s)
{
    const uint8_t* const at = s.data + s.cursor;
    const size_t left = s.size - s.cursor;
    if (left >= 16 && at[0] == 11 &&
        (std::memcmp(at + 1, "NETSCAPE2.0", 11) == 0 || std::memcmp(at + 1, "ANIMEXTS1.0", 11) == 0) && at[12] >= 3 &&
        at[13] == 1)
        s.screen.loops = at[14] | (at[15] << 8);
    stepOverSubBlocks(s);
}

void stepOverExtension(GifDecoderState& s, int label)
{
    int length = 0;
    if (s.frames != nullptr && label == 0xF9)
        return readGraphicControl(s);
    if (s.frames != nullptr && label == 0xFF)
        return readApplication(s);
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

// Where decodeGifLzw puts the strings of a non-interlaced image: in order
// into the pixel block, or (Streamed) into the window of a sink, whose
// finished rows are handed over as they fill (see handOverRows).
template <bool Streamed>
class RowOrderOut {
public:
    explicit RowOrderOut(GifDecoderState& s) : s_(s), out_(s.pixels.get()) {}
    uint8_t* place(size_t)
    {
        if constexpr (Streamed)
            return out_ + (written_ - s_.handedOver);
        else
            return out_ + written_;
    }
    void placed(uint8_t*, size_t count)
    {
        written_ += count;
        if constexpr (Streamed)
            handOverRows(s_, written_);
    }

private:
    GifDecoderState& s_;
    uint8_t* const out_;
    size_t written_ = 0;
};

// Where decodeGifLzw puts the strings of an interlaced image: a string that
// fits inside the current row goes there directly; one that ends a row goes
// by the stack and is spread over the rows pass by pass.
class InterlacedOut {
public:
    explicit InterlacedOut(GifDecoderState& s) : s_(s) { loadRow(); }
    uint8_t* place(size_t count) { return count < rowRoom_ ? rowCursor_ : s_.stack; }
    void placed(uint8_t* at, size_t count)
    {
        if (at == rowCursor_) {
            rowCursor_ += count;
            rowRoom_ -= count;
            return;
        }
        s_.column = s_.imageWidth - static_cast<int>(rowRoom_);
        advanceInterlacedPixel(s_, at, count);
        loadRow();
    }

private:
    void loadRow()
    {
        if (s_.row < s_.imageHeight) {
            const size_t rowWidth = static_cast<size_t>(s_.imageWidth);
            rowCursor_ = s_.pixels.get() + static_cast<size_t>(s_.row) * rowWidth + static_cast<size_t>(s_.column);
            rowRoom_ = rowWidth - static_cast<size_t>(s_.column);
        } else {
            rowCursor_ = nullptr;
            rowRoom_ = 0;
        }
    }
    GifDecoderState& s_;
    uint8_t* rowCursor_ = nullptr;  // where the current row continues
    size_t rowRoom_ = 0;            // how much of it is left
};

// Decodes the image's code bytes into the pixel block (or a sink's window)
// and returns the pixels written.
template <bool Interlaced, bool Streamed = false>
size_t runLzw(GifDecoderState& s, int minCodeSize)
{
    const GifCodeStream stream{s.codeBytes.get(), s.bitLimit, minCodeSize};
    if constexpr (Interlaced) {
        InterlacedOut out(s);
        return decodeGifLzw(s.table, stream, s.pixelLimit, out);
    } else {
        RowOrderOut<Streamed> out(s);
        return decodeGifLzw(s.table, stream, s.pixelLimit, out);
    }
}

// ---- Images ------------------------------------------------------------------

// Error exit of decodeGifImage: the image's buffers are released and the
// record gets nothing from it.
int gifAbandonImage(GifDecoderState& s, const char* text, ReadFailure failure = ReadFailure::Damaged)
{
    gifDiagnostic(text);
    s.failure = failure;
    s.codeBytes.reset();
    s.codeByteCount = 0;
    s.pixels.reset();
    s.comment.clear();
    return 0;
}

// Steps over the rest of an image (code-size byte already read) and gives it
// up, so that parsing carries on at the next block.
int giveUpImage(GifDecoderState& s, const char* text, ReadFailure failure = ReadFailure::Damaged)
{
    stepOverSubBlocks(s);
    return gifAbandonImage(s, text, failure);
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
    s.pixels.reset(static_cast<uint8_t*>(std::malloc(width + kGifMaxCodes)));
    if (!s.pixels)
        return gifAbandonImage(s, "couldn't malloc the row window", ReadFailure::NoMemory);
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
    s.endsEarly = written < s.pixelLimit;
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
    if (minCodeSize >= kGifMaxCodeWidth)
        return giveUpImage(s, "LZW code size leaves no free code");
    if (s.imageWidth == 0 || s.imageHeight == 0)
        return giveUpImage(s, "image has no pixels");
    const int64_t pitch = imageRowPitch(s.imageWidth, 8);
    const int64_t blockBytes = pitch * s.imageHeight;
    if (blockBytes > s.maxPixelBytes)
        return giveUpImage(s, "image too large", ReadFailure::TooLarge);

    // Collect the data sub-blocks. They cannot hold more than the bytes left.
    const size_t capacity = s.size - s.cursor;
    s.codeBytes.reset(static_cast<uint8_t*>(std::malloc(capacity + kGifCodePadding + kGifCodeSlack)));
    if (!s.codeBytes)
        return giveUpImage(s, "not enough memory to rasterize gif file", ReadFailure::NoMemory);
    size_t collected = 0;
    int blockLength = 0;
    while (readByte(s, blockLength) && blockLength != 0) {
        const size_t take = std::min(static_cast<size_t>(blockLength), s.size - s.cursor);
        std::memcpy(s.codeBytes.get() + collected, s.data + s.cursor, take);
        collected += take;
        s.cursor += take;
    }
    std::memset(s.codeBytes.get() + collected, 0, kGifCodePadding + kGifCodeSlack);
    s.codeByteCount = collected;
    s.bitLimit = static_cast<uint64_t>(collected + kGifCodePadding) * 8;

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
        return gifAbandonImage(s, "couldn't malloc 'pic8'", ReadFailure::NoMemory);

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
    s.endsEarly = s.pixelsWritten < s.pixelLimit;

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
        return gifAbandonImage(s, "no memory for the row table", ReadFailure::NoMemory);
    }
    for (int i = 0; i < s.localCount; ++i) {
        record->colors[i].rgbRed = s.localColors[i][0];
        record->colors[i].rgbGreen = s.localColors[i][1];
        record->colors[i].rgbBlue = s.localColors[i][2];
    }
    return 1;
}

// Decodes the image whose descriptor follows (cursor just past its 0x2C
// byte) for the frame sink, with the global colours under its local ones
// and the graphic control read since the image before. False when the sink
// stopped the decode.
bool decodeFrame(GifDecoderState& s, ImageRecord* record)
{
    if (!s.screenGiven) {
        s.screen.width = s.screenWidth;
        s.screen.height = s.screenHeight;
        s.frames->screen(s.screen);
        s.screenGiven = true;
    }
    std::memcpy(record->colors, s.globalColors, sizeof record->colors);
    const size_t descriptor = s.cursor;
    if (decodeGifImage(s, record) == 1) {
        s.gotImage = true;
        GifFrame frame = s.control;
        frame.left = s.data[descriptor] | (s.data[descriptor + 1] << 8);
        frame.top = s.data[descriptor + 2] | (s.data[descriptor + 3] << 8);
        frame.image = record;
        frame.endsEarly = s.endsEarly;
        s.stopped = !s.frames->frame(frame);
    }
    s.control = GifFrame{};
    return !s.stopped;
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
    std::memcpy(s.globalColors, record->colors, sizeof s.globalColors);

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
            if (s.frames != nullptr) {
                if (!decodeFrame(s, record))
                    break;
            } else if (s.gotImage)
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

ImageHandle decodeGif(const uint8_t* data, size_t size, int64_t maxPixelBytes, GifRowSink* sink, ReadError* error,
                      bool* endsEarly)
{
    if (!data && size > 0) {
        fail(error, ReadFailure::NotAPicture, PictureFormat::Gif);
        return nullptr;
    }
    ImageHandle record(createImageRecord());
    // The state holds the 4096-entry string table; keep it off the stack.
    std::unique_ptr<GifDecoderState> state(record ? new (std::nothrow) GifDecoderState : nullptr);
    if (!state) {
        fail(error, ReadFailure::NoMemory, PictureFormat::Gif);
        return nullptr;
    }
    state->data = data;
    state->size = data ? size : 0;
    state->maxPixelBytes = std::min(maxPixelBytes, kMaxPixelBytes);
    state->sink = sink;
    if (!parseGifBlocks(*state, record.get())) {
        fail(error, state->failure, PictureFormat::Gif);
        return nullptr;
    }
    if (endsEarly != nullptr)
        *endsEarly = state->endsEarly;
    if (!state->streamed)
        return record;
    ImageHandle made = sink->finish();
    if (!made)
        fail(error, ReadFailure::NoMemory, PictureFormat::Gif);
    return made;
}

bool decodeGifFrames(const uint8_t* data, size_t size, GifFrameSink& sink, int64_t maxPixelBytes)
{
    if (!data)
        return false;
    ImageHandle record(createImageRecord());
    std::unique_ptr<GifDecoderState> state(new (std::nothrow) GifDecoderState);
    if (!record || !state)
        return false;
    state->data = data;
    state->size = size;
    state->maxPixelBytes = std::min(maxPixelBytes, kMaxPixelBytes);
    state->frames = &sink;
    return parseGifBlocks(*state, record.get());
}

int countGifImages(const uint8_t* data, size_t size, int limit)
{
    if (!data || size < 13 || (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0))
        return 0;
    // Steps over sub-blocks from `at` up to the empty one.
    const auto subBlocksEnd = [data, size](size_t at) {
        while (at < size && data[at] != 0)
            at += size_t{data[at]} + 1;
        return at + 1;
    };
    size_t at = 13;
    if ((data[10] & 0x80) != 0)
        at += size_t{3} << ((data[10] & 7) + 1);
    int count = 0;
    while (at < size && count < limit) {
        if (data[at] == 0x21) {
            at = subBlocksEnd(at + 2);
        } else if (data[at] == 0x2C && size - at >= 11) {
            ++count;
            const int packed = data[at + 9];
            at += 10;
            if ((packed & 0x80) != 0)
                at += size_t{3} << ((packed & 7) + 1);
            at = subBlocksEnd(at + 1);
        } else {
            break;
        }
    }
    return count;
}

ImageHandle readGifFile(const std::string& path, GifRowSink* sink, ReadError* error, bool* endsEarly)
{
    // Look at the signature first: the load sequence tries every picture as
    // a GIF, and a large JPEG or PNG need not be read whole to be turned down.
    std::string why;
    const auto head = readFileHead(path, 6, &why);
    if (!head) {
        fail(error, ReadFailure::CannotOpen, PictureFormat::Gif, why);
        return nullptr;
    }
    if (head->size() < 6 ||
        (std::memcmp(head->data(), "GIF87a", 6) != 0 && std::memcmp(head->data(), "GIF89a", 6) != 0)) {
        fail(error, ReadFailure::NotAPicture, PictureFormat::Gif);
        return nullptr;
    }
    const auto bytes = readFileBytes(path, kMaxFileBytes, &why);
    if (!bytes) {
        fail(error, why == kTooLargeReason ? ReadFailure::TooLarge : ReadFailure::CannotOpen, PictureFormat::Gif, why);
        return nullptr;
    }
    return decodeGif(bytes->data(), bytes->size(), kMaxPixelBytes, sink, error, endsEarly);
}

}  // namespace morvel
