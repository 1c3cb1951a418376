#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "image/gif_decoder.h"
#include "image/gif_lzw.h"
#include "test_files.h"

using namespace morvel;

namespace {

using Bytes = std::vector<uint8_t>;
using Rgb = std::array<uint8_t, 3>;

// Packs codes least significant bit first, each at the width given.
class CodePacker {
public:
    CodePacker& put(int code, int width)
    {
        accumulator_ |= static_cast<uint64_t>(code) << bits_;
        bits_ += width;
        while (bits_ >= 8) {
            bytes_.push_back(static_cast<uint8_t>(accumulator_ & 0xFF));
            accumulator_ >>= 8;
            bits_ -= 8;
        }
        return *this;
    }
    Bytes finish()
    {
        if (bits_ > 0)
            bytes_.push_back(static_cast<uint8_t>(accumulator_ & 0xFF));
        bits_ = 0;
        accumulator_ = 0;
        return bytes_;
    }

private:
    Bytes bytes_;
    uint64_t accumulator_ = 0;
    int bits_ = 0;
};

// A plain LZW encoder with the usual code-width rule: after each code, the
// width grows once the next entry number no longer fits.
struct EncodeOptions {
    bool leadingClear = true;
    bool clearWhenFull = true;  // false: keep sending codes from a full table
};

Bytes lzwEncode(const Bytes& pixels, int minCodeSize, EncodeOptions options = {})
{
    const int clear = 1 << minCodeSize;
    const int end = clear + 1;
    CodePacker packer;
    int width = minCodeSize + 1;
    int nextCode = clear + 2;
    std::map<std::pair<int, int>, int> table;
    if (options.leadingClear)
        packer.put(clear, width);
    auto emit = [&](int code) {
        packer.put(code, width);
        if (nextCode >= (1 << width) && width < 12)
            ++width;
    };
    int current = -1;
    for (uint8_t p : pixels) {
        if (current < 0) {
            current = p;
            continue;
        }
        auto found = table.find({current, p});
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        emit(current);
        if (nextCode < 4096) {
            table[{current, p}] = nextCode++;
        } else if (options.clearWhenFull) {
            packer.put(clear, width);
            table.clear();
            nextCode = clear + 2;
            width = minCodeSize + 1;
        }
        current = p;
    }
    if (current >= 0)
        emit(current);
    packer.put(end, width);
    return packer.finish();
}

// Writes a GIF byte by byte.
class GifBuilder {
public:
    explicit GifBuilder(const char* signature = "GIF89a") { bytes_.assign(signature, signature + 6); }

    GifBuilder& screen(int width, int height, int packed, int aspect = 0)
    {
        word(width);
        word(height);
        byte(packed);
        byte(0);
        byte(aspect);
        return *this;
    }
    GifBuilder& colors(const std::vector<Rgb>& table)
    {
        for (const Rgb& c : table)
            bytes_.insert(bytes_.end(), c.begin(), c.end());
        return *this;
    }
    GifBuilder& image(int width, int height, int packed = 0, int left = 0, int top = 0)
    {
        byte(0x2C);
        word(left);
        word(top);
        word(width);
        word(height);
        byte(packed);
        return *this;
    }
    // Code-size byte, the code bytes in sub-blocks of at most `chunk` bytes,
    // the terminator.
    GifBuilder& data(int minCodeSize, const Bytes& codeBytes, size_t chunk = 255)
    {
        byte(minCodeSize);
        return subBlocks(codeBytes, chunk);
    }
    GifBuilder& subBlocks(const Bytes& payload, size_t chunk = 255)
    {
        for (size_t at = 0; at < payload.size(); at += chunk) {
            const size_t n = std::min(chunk, payload.size() - at);
            byte(static_cast<int>(n));
            bytes_.insert(bytes_.end(), payload.begin() + static_cast<long>(at),
                          payload.begin() + static_cast<long>(at + n));
        }
        return byte(0);
    }
    // An extension whose data comes in the sub-blocks given.
    GifBuilder& extension(int label, const std::vector<Bytes>& blocks)
    {
        byte(0x21);
        byte(label);
        for (const Bytes& block : blocks) {
            byte(static_cast<int>(block.size()));
            raw(block);
        }
        return byte(0);
    }
    GifBuilder& byte(int value)
    {
        bytes_.push_back(static_cast<uint8_t>(value));
        return *this;
    }
    GifBuilder& raw(const Bytes& more)
    {
        bytes_.insert(bytes_.end(), more.begin(), more.end());
        return *this;
    }
    GifBuilder& trailer() { return byte(0x3B); }
    const Bytes& bytes() const { return bytes_; }

private:
    void word(int value)
    {
        byte(value & 0xFF);
        byte((value >> 8) & 0xFF);
    }
    Bytes bytes_;
};

ImageHandle decode(const Bytes& bytes)
{
    return decodeGif(bytes.data(), bytes.size());
}

// Index bytes of the record, row by row, within the width.
Bytes indices(const ImageRecord& record)
{
    Bytes out;
    for (int y = 0; y < record.rowCount; ++y)
        out.insert(out.end(), record.rows[y], record.rows[y] + record.header.biWidth);
    return out;
}

std::vector<Rgb> grayTable(int count)
{
    std::vector<Rgb> table;
    for (int i = 0; i < count; ++i) {
        const auto v = static_cast<uint8_t>(i * 255 / std::max(1, count - 1));
        table.push_back({v, v, v});
    }
    return table;
}

Bytes noise(size_t count, int colors, uint32_t seed, int runChance = 0)
{
    Bytes out(count);
    uint32_t state = seed;
    uint8_t last = 0;
    for (auto& p : out) {
        state = state * 1664525u + 1013904223u;
        const uint32_t r = state >> 8;
        if (runChance > 0 && static_cast<int>(r % 100) < runChance)
            p = last;
        else
            p = static_cast<uint8_t>((r >> 8) % static_cast<uint32_t>(colors));
        last = p;
    }
    return out;
}

// One-image file with a global table of 2^(bits) gray entries.
Bytes simpleGif(int width, int height, int tableBits, int minCodeSize, const Bytes& codeBytes, int imagePacked = 0)
{
    return GifBuilder()
        .screen(width, height, 0x80 | (tableBits - 1))
        .colors(grayTable(1 << tableBits))
        .image(width, height, imagePacked)
        .data(minCodeSize, codeBytes)
        .trailer()
        .bytes();
}

}  // namespace

TEST(GifDecoder, TwoByTwoStreamGivesPaddedRowsAndFileColours)
{
    // clear, 0, 1, 2, 3, end: the width grows to 4 bits once entry 7 is made.
    const Bytes codes = CodePacker().put(4, 3).put(0, 3).put(1, 3).put(2, 3).put(3, 4).put(5, 4).finish();
    const std::vector<Rgb> table = {{{10, 20, 30}}, {{40, 50, 60}}, {{70, 80, 90}}, {{100, 110, 120}}};
    const Bytes gif = GifBuilder().screen(2, 2, 0x81).colors(table).image(2, 2).data(2, codes).trailer().bytes();

    ImageHandle image = decode(gif);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->header.biWidth, 2);
    EXPECT_EQ(image->rowCount, 2);
    EXPECT_EQ(image->header.biHeight, -2);
    EXPECT_EQ(image->header.biBitCount, 8);
    EXPECT_EQ(image->header.biSize, 40u);
    EXPECT_EQ(image->items, nullptr);
    ASSERT_EQ(image->rows[0], image->pixels);
    ASSERT_EQ(image->rows[1], image->pixels + 4);
    const Bytes block(image->pixels, image->pixels + 8);
    EXPECT_EQ(block, (Bytes{0, 1, 0, 0, 2, 3, 0, 0}));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(image->colors[i].rgbRed, table[i][0]);
        EXPECT_EQ(image->colors[i].rgbGreen, table[i][1]);
        EXPECT_EQ(image->colors[i].rgbBlue, table[i][2]);
        EXPECT_EQ(image->colors[i].rgbReserved, 0);
    }
    for (int i = 4; i < 256; ++i) {
        const RgbQuad& c = image->colors[i];
        EXPECT_EQ(c.rgbRed | c.rgbGreen | c.rgbBlue | c.rgbReserved, 0) << "entry " << i;
    }
}

TEST(GifDecoder, ColourTables)
{
    const Bytes codes = lzwEncode({0, 1, 2, 3}, 2);
    // No table at all: the 16 default colours, repeated.
    {
        ImageHandle image = decode(GifBuilder().screen(4, 1, 0x00).image(4, 1).data(2, codes).trailer().bytes());
        ASSERT_TRUE(image);
        EXPECT_EQ(image->colors[17].rgbRed, 0);
        EXPECT_EQ(image->colors[17].rgbGreen, 0);
        EXPECT_EQ(image->colors[17].rgbBlue, 128);
        EXPECT_EQ(image->colors[7 + 16 * 9].rgbRed, 200);
        EXPECT_EQ(image->colors[255].rgbBlue, 255);
        EXPECT_EQ(image->colors[252].rgbRed, 255);
        EXPECT_EQ(image->colors[252].rgbGreen, 100);
    }
    // A 4-entry local table over an 8-entry global one replaces entries 0-3.
    {
        std::vector<Rgb> global = grayTable(8);
        std::vector<Rgb> local = {{{1, 2, 3}}, {{4, 5, 6}}, {{7, 8, 9}}, {{10, 11, 12}}};
        ImageHandle image = decode(GifBuilder()
                                       .screen(4, 1, 0x82)
                                       .colors(global)
                                       .image(4, 1, 0x81)
                                       .colors(local)
                                       .data(2, codes)
                                       .trailer()
                                       .bytes());
        ASSERT_TRUE(image);
        EXPECT_EQ(image->colors[3].rgbRed, 10);
        EXPECT_EQ(image->colors[3].rgbBlue, 12);
        EXPECT_EQ(image->colors[4].rgbRed, global[4][0]);
        EXPECT_EQ(image->colors[7].rgbGreen, global[7][1]);
        EXPECT_EQ(image->colors[8].rgbRed, 0);
        EXPECT_EQ(indices(*image), (Bytes{0, 1, 2, 3}));
    }
    // Only a local table (a common layout): decodes, colours from it.
    {
        ImageHandle image = decode(
            GifBuilder().screen(4, 1, 0x00).image(4, 1, 0x81).colors(grayTable(4)).data(2, codes).trailer().bytes());
        ASSERT_TRUE(image);
        EXPECT_EQ(image->colors[3].rgbRed, 255);
        EXPECT_EQ(image->colors[17].rgbBlue, 128);  // the default colours above it
        EXPECT_EQ(indices(*image), (Bytes{0, 1, 2, 3}));
    }
}

TEST(GifDecoder, InterlacedRowsFollowThePasses)
{
    // Pixel k of the stream carries value k, one pixel per row; record row r
    // then tells which stream row landed there.
    auto streamRowOf = [](int height) {
        Bytes stream(static_cast<size_t>(height));
        for (int k = 0; k < height; ++k)
            stream[static_cast<size_t>(k)] = static_cast<uint8_t>(k);
        ImageHandle image = decode(simpleGif(1, height, 4, 4, lzwEncode(stream, 4), 0x40));
        EXPECT_TRUE(image);
        return image ? indices(*image) : Bytes{};
    };
    // Stream rows go to rows 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
    EXPECT_EQ(streamRowOf(10), (Bytes{0, 5, 3, 6, 2, 7, 4, 8, 1, 9}));
    // Pass 1 has no rows: stream rows go to 0, 2, 1.
    EXPECT_EQ(streamRowOf(3), (Bytes{0, 2, 1}));
    EXPECT_EQ(streamRowOf(1), (Bytes{0}));

    // A wider interlaced picture round-trips through the encoder.
    const int width = 37;
    const int height = 29;
    const Bytes picture = noise(width * height, 16, 7, 60);
    Bytes stream;
    for (int pass = 0; pass < 4; ++pass)
        for (int y = (pass == 0   ? 0
                      : pass == 1 ? 4
                      : pass == 2 ? 2
                                  : 1);
             y < height; y += (pass < 2    ? 8
                               : pass == 2 ? 4
                                           : 2))
            stream.insert(stream.end(), picture.begin() + y * width, picture.begin() + (y + 1) * width);
    ImageHandle image = decode(simpleGif(width, height, 4, 4, lzwEncode(stream, 4), 0x40));
    ASSERT_TRUE(image);
    EXPECT_EQ(indices(*image), picture);
}

TEST(GifDecoder, StreamEndingEarlyLeavesTheRestZero)
{
    const Bytes firstHalf = {1, 2, 3, 4, 5, 6, 7, 8};
    // Not interlaced, 4 x 4: the last two rows are 0.
    {
        ImageHandle image = decode(simpleGif(4, 4, 4, 4, lzwEncode(firstHalf, 4)));
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0, 0}));
    }
    // Interlaced, 2 x 8: rows 0, 4, 2, 6 come from the stream, the odd ones are 0.
    {
        ImageHandle image = decode(simpleGif(2, 8, 4, 4, lzwEncode(firstHalf, 4), 0x40));
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), (Bytes{1, 2, 0, 0, 5, 6, 0, 0, 3, 4, 0, 0, 7, 8, 0, 0}));
    }
    // The data sub-blocks cut off by the end of the file: what arrived is kept.
    {
        const Bytes picture = noise(40 * 30, 16, 3, 50);
        Bytes gif = simpleGif(40, 30, 4, 4, lzwEncode(picture, 4));
        gif.resize(gif.size() / 2);
        ImageHandle image = decode(gif);
        ASSERT_TRUE(image);
        const Bytes got = indices(*image);
        EXPECT_TRUE(std::equal(picture.begin(), picture.begin() + 200, got.begin()));
        EXPECT_EQ(got.back(), 0);
    }
}

TEST(GifDecoder, CodesOutsideTheTable)
{
    // Minimum code size 3: clear 8, end 9, first free 10, 4-bit codes.
    // 1, 2 (makes 10 = "12"), 14 (beyond the next free code 11: decodes as
    // 11 = "2" + "2"), 11 ("22", makes 12 = "222"), 3, 12 ("222").
    {
        const Bytes codes =
            CodePacker().put(8, 4).put(1, 4).put(2, 4).put(14, 4).put(11, 4).put(3, 4).put(12, 4).put(9, 4).finish();
        ImageHandle image = decode(simpleGif(10, 1, 3, 3, codes));
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), (Bytes{1, 2, 2, 2, 2, 2, 3, 2, 2, 2}));
    }
    // No leading clear code: the first code is a root and makes no entry,
    // so 6 is "21".
    {
        const Bytes codes = CodePacker().put(2, 3).put(1, 3).put(6, 3).put(5, 4).finish();
        ImageHandle image = decode(simpleGif(4, 1, 2, 2, codes));
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), (Bytes{2, 1, 2, 1}));
    }
    // A first code that is not a root has nothing to build on: decoding ends.
    {
        const Bytes codes = CodePacker().put(4, 3).put(7, 3).put(1, 3).put(5, 3).finish();
        ImageHandle image = decode(simpleGif(2, 1, 2, 2, codes));
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), (Bytes{0, 0}));
    }
    // A string running past the last pixel writes only up to it: 1, 2, 3,
    // then 7 = "23" with room for one pixel.
    {
        const Bytes codes = CodePacker().put(4, 3).put(1, 3).put(2, 3).put(3, 3).put(7, 4).put(5, 4).finish();
        ImageHandle image = decode(simpleGif(4, 1, 2, 2, codes));
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), (Bytes{1, 2, 3, 2}));
    }
}

TEST(GifDecoder, ClearAndEndCodes)
{
    // Clear resets the width and the table wherever it comes, twice in a row
    // included: 1 2 3 (width now 4), clear, clear, 0 1 6 where 6 is "01".
    {
        const Bytes codes = CodePacker()
                                .put(4, 3)
                                .put(1, 3)
                                .put(2, 3)
                                .put(3, 3)
                                .put(4, 4)
                                .put(4, 3)
                                .put(0, 3)
                                .put(1, 3)
                                .put(6, 3)
                                .put(5, 4)
                                .finish();
        ImageHandle image = decode(simpleGif(7, 1, 2, 2, codes));
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), (Bytes{1, 2, 3, 0, 1, 0, 1}));
    }
    // Neither clear nor end is ever a pixel; clear then end ends the image.
    {
        const Bytes codes = CodePacker().put(4, 3).put(3, 3).put(4, 3).put(5, 3).put(2, 3).finish();
        ImageHandle image = decode(simpleGif(3, 1, 2, 2, codes));
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), (Bytes{3, 0, 0}));
    }
}

TEST(GifDecoder, FullTableStaysInUseAndClearWhenFullResets)
{
    const int width = 160;
    const int height = 120;
    const Bytes picture = noise(width * height, 16, 11, 30);
    for (bool clearWhenFull : {false, true}) {
        EncodeOptions options;
        options.clearWhenFull = clearWhenFull;
        ImageHandle image = decode(simpleGif(width, height, 4, 4, lzwEncode(picture, 4, options)));
        ASSERT_TRUE(image) << clearWhenFull;
        EXPECT_EQ(indices(*image), picture) << "clear when full: " << clearWhenFull;
    }
}

TEST(GifDecoder, CodeSizeAndTableSizeAreIndependent)
{
    // A 256-colour local table under a 2-colour screen.
    {
        const Bytes picture = noise(64 * 20, 256, 5, 40);
        std::vector<Rgb> local = grayTable(256);
        ImageHandle image = decode(GifBuilder()
                                       .screen(64, 20, 0x80)
                                       .colors(grayTable(2))
                                       .image(64, 20, 0x87)
                                       .colors(local)
                                       .data(8, lzwEncode(picture, 8))
                                       .trailer()
                                       .bytes());
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), picture);
        EXPECT_EQ(image->colors[200].rgbRed, local[200][0]);
    }
    // An LZW code size smaller than the global table's bits.
    {
        const Bytes picture = noise(50 * 10, 4, 9, 40);
        ImageHandle image = decode(simpleGif(50, 10, 8, 2, lzwEncode(picture, 2)));
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), picture);
    }
    // Code sizes 1 to 8 round-trip.
    for (int m = 1; m <= 8; ++m) {
        const Bytes picture = noise(33 * 17, 1 << m, static_cast<uint32_t>(m), 20);
        ImageHandle image = decode(simpleGif(33, 17, std::max(1, m), m, lzwEncode(picture, m)));
        ASSERT_TRUE(image) << m;
        EXPECT_EQ(indices(*image), picture) << "code size " << m;
    }
    // Code size 9: roots above 255 keep their low 8 bits.
    {
        const Bytes codes = CodePacker().put(512, 10).put(300, 10).put(5, 10).put(513, 10).finish();
        ImageHandle image = decode(simpleGif(2, 1, 1, 9, codes));
        ASSERT_TRUE(image);
        EXPECT_EQ(indices(*image), (Bytes{44, 5}));
    }
    // Code size 12 or more leaves no free code: the image is given up.
    for (int m : {12, 13, 255}) {
        const Bytes codes = CodePacker().put(1 << 12, 12).put(1, 12).put(2, 12).finish();
        EXPECT_FALSE(decode(simpleGif(2, 1, 1, m, codes))) << m;
    }
}

// The LZW unit alone: what the encoder packs comes back, for every code size
// a GIF of 4 to 256 colours uses, with a table that fills and is cleared or
// stays in use, and with the output cut short of the stream.
TEST(GifLzw, RoundTripsEveryCodeSize)
{
    struct Out {
        Bytes& pixels;
        uint8_t* place(size_t) { return pixels.data() + at; }
        void placed(uint8_t*, size_t count) { at += count; }
        size_t at = 0;
    };
    static GifStringTable table;
    for (int m = 2; m <= 8; ++m) {
        for (const bool clearWhenFull : {true, false}) {
            const Bytes picture = noise(20000, 1 << m, static_cast<uint32_t>(m * 7 + 1), 30);
            Bytes codes = lzwEncode(picture, m, {true, clearWhenFull});
            codes.resize(codes.size() + kGifCodePadding + kGifCodeSlack, 0);
            const GifCodeStream stream{codes.data(), (codes.size() - kGifCodeSlack) * 8, m};
            for (const size_t limit : {picture.size(), picture.size() / 3 + 1}) {
                Bytes pixels(limit + kGifMaxCodes);
                Out out{pixels};
                EXPECT_EQ(decodeGifLzw(table, stream, limit, out), limit) << m;
                pixels.resize(limit);
                EXPECT_EQ(pixels, Bytes(picture.begin(), picture.begin() + static_cast<std::ptrdiff_t>(limit)))
                    << "code size " << m << (clearWhenFull ? "" : ", full table kept") << ", " << limit << " pixels";
            }
        }
    }
}

TEST(GifDecoder, SignatureScreenAndSizes)
{
    const Bytes codes = lzwEncode({0, 1, 1, 0}, 2);
    auto withAspect = [&](const char* signature, int aspect) {
        return GifBuilder(signature)
            .screen(2, 2, 0x81, aspect)
            .colors(grayTable(4))
            .image(2, 2)
            .data(2, codes)
            .trailer()
            .bytes();
    };
    EXPECT_TRUE(decode(withAspect("GIF89a", 49)));
    EXPECT_FALSE(decode(withAspect("GIF87a", 49)));
    EXPECT_TRUE(decode(withAspect("GIF87a", 0)));
    EXPECT_FALSE(decode(withAspect("GIF88a", 0)));

    // Too short for the screen descriptor or the table it announces.
    const Bytes good = withAspect("GIF89a", 0);
    EXPECT_FALSE(decode(Bytes(good.begin(), good.begin() + 12)));
    EXPECT_FALSE(decode(Bytes(good.begin(), good.begin() + 20)));
    EXPECT_FALSE(decodeGif(nullptr, 0));

    // No pixels at all, and a pixel block beyond the limit: no picture, and
    // no time spent on it.
    EXPECT_FALSE(decode(simpleGif(0, 5, 2, 2, codes)));
    EXPECT_FALSE(decode(simpleGif(5, 0, 2, 2, codes)));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(decode(simpleGif(65535, 65535, 2, 2, codes)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    // An image given up leaves room for a later one.
    const Bytes later = GifBuilder()
                            .screen(3, 1, 0x81)
                            .colors(grayTable(4))
                            .image(0, 0)
                            .data(2, codes)
                            .image(3, 1)
                            .data(2, lzwEncode({3, 2, 1}, 2))
                            .trailer()
                            .bytes();
    ImageHandle image = decode(later);
    ASSERT_TRUE(image);
    EXPECT_EQ(indices(*image), (Bytes{3, 2, 1}));
}

TEST(GifDecoder, BlocksAroundTheImage)
{
    const Bytes picture = {0, 1, 2, 3, 3, 2, 1, 0, 1, 1};
    const Bytes codes = lzwEncode(picture, 2);
    GifBuilder head;
    head.screen(5, 2, 0x81).colors(grayTable(4));
    const Bytes plain = GifBuilder(head).image(5, 2).data(2, codes).trailer().bytes();
    ImageHandle reference = decode(plain);
    ASSERT_TRUE(reference);
    ASSERT_EQ(indices(*reference), picture);

    auto sameAsReference = [&](const Bytes& gif) {
        ImageHandle image = decode(gif);
        if (!image)
            return false;
        return image->header.biWidth == 5 && image->rowCount == 2 && indices(*image) == picture &&
               std::equal(std::begin(image->colors), std::end(image->colors), std::begin(reference->colors),
                          [](const RgbQuad& a, const RgbQuad& b) {
                              return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
                          });
    };

    // Extensions before the image change nothing.
    const Bytes withExtensions =
        GifBuilder(head)
            .extension(0xFE, {{'h', 'i'}})
            .extension(0xFE, {Bytes(200, 'x'), Bytes(100, 'y')})
            .extension(0xF9, {{0x05, 0x00, 0x00, 0x01}})
            .extension(0xFF, {{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, {1, 0, 0}})
            .extension(0x01, {{0, 0, 0, 0, 5, 0, 2, 0, 8, 8, 1, 0}, {'t', 'x', 't'}})
            .byte(0x21)
            .byte(0x52)
            .byte(2)
            .byte(1)
            .byte(1)
            .byte(0)
            .extension(0x77, {{1, 2, 3}})
            .image(5, 2)
            .data(2, codes)
            .trailer()
            .bytes();
    EXPECT_TRUE(sameAsReference(withExtensions));

    // A second image, with its own size and local table, changes nothing.
    const Bytes second = GifBuilder(head)
                             .image(5, 2)
                             .data(2, codes)
                             .image(3, 3, 0xC1)
                             .colors({{{9, 9, 9}}, {{8, 8, 8}}, {{7, 7, 7}}, {{6, 6, 6}}})
                             .data(2, lzwEncode(Bytes(9, 3), 2))
                             .trailer()
                             .bytes();
    EXPECT_TRUE(sameAsReference(second));

    // Code bytes split into many tiny sub-blocks read the same.
    EXPECT_TRUE(sameAsReference(GifBuilder(head).image(5, 2).data(2, codes, 1).trailer().bytes()));

    // No trailer, or a stray byte after the image: still the picture. The
    // stray byte before any image: no picture.
    EXPECT_TRUE(sameAsReference(GifBuilder(head).image(5, 2).data(2, codes).bytes()));
    EXPECT_TRUE(sameAsReference(GifBuilder(head).image(5, 2).data(2, codes).byte(0x00).bytes()));
    EXPECT_TRUE(sameAsReference(GifBuilder(head)
                                    .image(5, 2)
                                    .data(2, codes)
                                    .byte(0x99)
                                    .image(5, 2)
                                    .data(2, lzwEncode(Bytes(10, 2), 2))
                                    .bytes()));
    EXPECT_FALSE(decode(GifBuilder(head).byte(0x00).bytes()));
    EXPECT_FALSE(decode(GifBuilder(head).byte(0x00).image(5, 2).data(2, codes).trailer().bytes()));
    EXPECT_FALSE(decode(GifBuilder(head).trailer().bytes()));
    EXPECT_FALSE(decode(GifBuilder(head).bytes()));
}

TEST(GifDecoder, DamagedFilesNeverCrash)
{
    const Bytes picture = noise(23 * 11, 16, 21, 40);
    const Bytes codes = lzwEncode(picture, 4);
    std::vector<Bytes> samples;
    for (int packed : {0x00, 0x40, 0x83, 0xC3}) {
        GifBuilder builder;
        builder.screen(23, 11, 0x83).colors(grayTable(16)).extension(0xFE, {{'c'}});
        builder.byte(0x21).byte(0x01).byte(12).raw(Bytes(12, 1)).subBlocks({'a'});
        builder.image(23, 11, packed);
        if (packed & 0x80)
            builder.colors(grayTable(16));
        builder.data(4, codes, 40).image(2, 2).data(2, lzwEncode({1, 1, 1, 1}, 2)).trailer();
        samples.push_back(builder.bytes());
    }
    for (const Bytes& gif : samples) {
        ASSERT_TRUE(decode(gif));
        // Every prefix of the file: a picture of the right size, or none.
        for (size_t cut = 0; cut < gif.size(); ++cut) {
            const Bytes part(gif.begin(), gif.begin() + static_cast<long>(cut));
            ImageHandle image = decode(part);
            if (image) {
                EXPECT_EQ(image->header.biWidth, 23);
                EXPECT_EQ(image->rowCount, 11);
                ASSERT_NE(image->rows, nullptr);
                EXPECT_EQ(image->rows[10], image->pixels + 10 * 24);
            }
        }
        // Random damage: a few changed bytes at a time.
        uint32_t state = 99;
        for (int round = 0; round < 300; ++round) {
            Bytes damaged = gif;
            for (int k = 0; k < 3; ++k) {
                state = state * 1664525u + 1013904223u;
                const size_t at = (state >> 8) % damaged.size();
                damaged[at] = static_cast<uint8_t>(state >> 24);
            }
            ImageHandle image = decode(damaged);
            if (image) {
                ASSERT_NE(image->rows, nullptr);
                ASSERT_GT(image->header.biWidth, 0);
                ASSERT_GT(image->rowCount, 0);
                // Touch every pixel so the sanitizer sees the block is whole.
                unsigned sum = 0;
                for (int y = 0; y < image->rowCount; ++y)
                    for (int x = 0; x < image->header.biWidth; ++x)
                        sum += image->rows[y][x];
                (void)sum;
            }
        }
    }
}

TEST(GifDecoder, ReadsFilesAndRefusesOtherPaths)
{
    const morvel::testing::TempDir dir("morvel-gif");
    const std::string path = dir.write("p.gif", simpleGif(3, 2, 2, 2, lzwEncode({1, 2, 3, 3, 2, 1}, 2)));

    ImageHandle image = readGifFile(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(indices(*image), (Bytes{1, 2, 3, 3, 2, 1}));
    EXPECT_FALSE(readGifFile(dir.path().string()));
    EXPECT_FALSE(readGifFile((dir.path() / "missing.gif").string()));
    EXPECT_FALSE(readGifFile("/dev/zero"));
}
