// Scaling and inverting gray pictures.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "image/image_record.h"
#include "image/picture_transform.h"

using namespace morvel;

namespace {

ImageHandle checkerboard(int32_t width, int32_t height)
{
    ImageHandle image = makeGrayImage(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            image->rows[y][x] = (x + y) % 2 == 0 ? 0 : 255;
    return image;
}

using Plane = std::vector<std::vector<int64_t>>;

// The area average written out: each new pixel sums every source pixel
// times the length of their overlap in each direction, in units where a
// source pixel is n long and a new one s, rounded half up.
Plane plainShrink(const Plane& source, int32_t width, int32_t height)
{
    const auto sourceHeight = static_cast<int64_t>(source.size());
    const auto sourceWidth = static_cast<int64_t>(source[0].size());
    const auto overlap = [](int64_t a, int64_t b, int64_t c, int64_t d) {
        return std::max<int64_t>(0, std::min(b, d) - std::max(a, c));
    };
    Plane out(static_cast<size_t>(height), std::vector<int64_t>(static_cast<size_t>(width)));
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x) {
            int64_t sum = 0;
            // The source pixels from those at the new pixel's start to
            // those at its end; the others do not overlap it.
            for (int64_t v = y * sourceHeight / height;
                 v <= std::min(sourceHeight - 1, (y + 1) * sourceHeight / height); ++v)
                for (int64_t u = x * sourceWidth / width; u <= std::min(sourceWidth - 1, (x + 1) * sourceWidth / width);
                     ++u)
                    sum += source[static_cast<size_t>(v)][static_cast<size_t>(u)] *
                           overlap(u * width, (u + 1) * width, x * sourceWidth, (x + 1) * sourceWidth) *
                           overlap(v * height, (v + 1) * height, y * sourceHeight, (y + 1) * sourceHeight);
            const int64_t divisor = sourceWidth * sourceHeight;
            out[static_cast<size_t>(y)][static_cast<size_t>(x)] = (sum + divisor / 2) / divisor;
        }
    return out;
}

// Linear interpolation written out: new pixel i of n over s source pixels
// sits at u = (i + 1/2) s / n - 1/2, clamped to the first and last pixel
// centres; the next pixel's share is u's fraction in 256ths, rounded.
std::pair<int64_t, int64_t> plainTap(int64_t i, int64_t source, int64_t size)
{
    const double u =
        std::clamp((static_cast<double>(i) + 0.5) * static_cast<double>(source) / static_cast<double>(size) - 0.5, 0.0,
                   static_cast<double>(source - 1));
    const auto first = std::min(static_cast<int64_t>(u), source - 1);
    return {first, static_cast<int64_t>(std::floor((u - static_cast<double>(first)) * 256 + 0.5))};
}

Plane plainEnlarge(const Plane& source, int32_t width, int32_t height)
{
    const auto sourceHeight = static_cast<int64_t>(source.size());
    const auto sourceWidth = static_cast<int64_t>(source[0].size());
    Plane out(static_cast<size_t>(height), std::vector<int64_t>(static_cast<size_t>(width)));
    const auto at = [&](int64_t v, int64_t u) {
        return source[static_cast<size_t>(std::min(v, sourceHeight - 1))]
                     [static_cast<size_t>(std::min(u, sourceWidth - 1))];
    };
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x) {
            const auto [row, down] = plainTap(y, sourceHeight, height);
            const auto [column, across] = plainTap(x, sourceWidth, width);
            const int64_t sum = at(row, column) * (256 - across) * (256 - down) +
                                at(row, column + 1) * across * (256 - down) +
                                at(row + 1, column) * (256 - across) * down + at(row + 1, column + 1) * across * down;
            out[static_cast<size_t>(y)][static_cast<size_t>(x)] = (sum + 32768) / 65536;
        }
    return out;
}

}  // namespace

TEST(ResizeGray, EqualsThePlainDefinitionAtRandomSizes)
{
    // Sizes that shrink, grow or do both (one direction each way, as a
    // 448 x 240 picture fitted to 50 columns by 20 rows): the directions that
    // shrink averaged first, then those that grow interpolated, each exactly
    // as written out above; and the canvas made a few rows at a time is the
    // canvas made whole.
    std::mt19937 random(22);
    std::uniform_int_distribution<int32_t> side(1, 40);
    struct Sizes {
        int32_t sourceWidth, sourceHeight, width, height;
    };
    std::vector<Sizes> cases = {{448, 240, 357, 300}, {7, 3, 2, 11}, {1, 1, 5, 1}, {2, 9, 9, 2}};
    for (int i = 0; i < 60; ++i)
        cases.push_back({side(random), side(random), side(random), side(random)});
    for (const Sizes& c : cases) {
        SCOPED_TRACE(std::to_string(c.sourceWidth) + " x " + std::to_string(c.sourceHeight) + " to " +
                     std::to_string(c.width) + " x " + std::to_string(c.height));
        ImageHandle source = makeGrayImage(c.sourceWidth, c.sourceHeight);
        Plane plain(static_cast<size_t>(c.sourceHeight), std::vector<int64_t>(static_cast<size_t>(c.sourceWidth)));
        for (int32_t y = 0; y < c.sourceHeight; ++y)
            for (int32_t x = 0; x < c.sourceWidth; ++x)
                plain[static_cast<size_t>(y)][static_cast<size_t>(x)] = source->rows[y][x] =
                    static_cast<uint8_t>(random());
        const Plane expected =
            plainEnlarge(plainShrink(plain, std::min(c.width, c.sourceWidth), std::min(c.height, c.sourceHeight)),
                         c.width, c.height);
        ImageHandle resized = resizeGray(*source, c.width, c.height);
        ASSERT_TRUE(resized);
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x)
                ASSERT_EQ(resized->rows[y][x], expected[static_cast<size_t>(y)][static_cast<size_t>(x)])
                    << "at " << x << ", " << y;
        const int32_t canvasWidth = c.width + 3;
        const int32_t canvasHeight = c.height + 4;
        ImageHandle whole = fitGray(*source, c.width, c.height, canvasWidth, canvasHeight);
        FittedRows rows(*source, c.width, c.height, canvasWidth, canvasHeight);
        ImageHandle band = makeGrayImage(canvasWidth, 5);
        ASSERT_TRUE(whole && rows.ready() && band);
        for (int32_t first = 0; first < canvasHeight; first += band->rowCount) {
            rows.fill(first, *band);
            for (int32_t r = 0; r < band->rowCount && first + r < canvasHeight; ++r)
                ASSERT_EQ(std::memcmp(band->rows[r], whole->rows[first + r], static_cast<size_t>(canvasWidth)), 0)
                    << "canvas row " << first + r;
        }
    }
}

TEST(ResizeGray, FineCheckerboardShrinksToMidGray)
{
    // Every new pixel is the mean of the pixels under it, never a sample of
    // one black or white square: exactly mid-gray at a whole ratio, and close
    // to it at fractional ones, where a box of 3.2 x 3.2 pixels cannot hold
    // the two levels in equal shares.
    const ImageHandle board = checkerboard(800, 600);
    struct Case {
        int32_t width, height, tolerance;
    };
    for (const Case& c : {Case{400, 300, 1}, Case{100, 75, 1}, Case{97, 73, 10}, Case{250, 187, 10}, Case{9, 7, 3}}) {
        ImageHandle small = resizeGray(*board, c.width, c.height);
        ASSERT_TRUE(small) << c.width << " x " << c.height;
        ASSERT_EQ(small->header.biWidth, c.width);
        ASSERT_EQ(small->rowCount, c.height);
        EXPECT_EQ(small->colors[77].rgbGreen, 77);
        int lo = 255, hi = 0;
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x) {
                lo = std::min<int>(lo, small->rows[y][x]);
                hi = std::max<int>(hi, small->rows[y][x]);
            }
        EXPECT_GE(lo, 127 - c.tolerance) << c.width << " x " << c.height;
        EXPECT_LE(hi, 128 + c.tolerance) << c.width << " x " << c.height;
    }
}

TEST(ResizeGray, EnlargingInterpolatesWithinTheSourceLevels)
{
    ImageHandle two = makeGrayImage(2, 1);
    two->rows[0][0] = 20;
    two->rows[0][1] = 220;
    ImageHandle wide = resizeGray(*two, 40, 3);
    ASSERT_TRUE(wide);
    for (int32_t y = 0; y < 3; ++y) {
        EXPECT_EQ(wide->rows[y][0], 20);
        EXPECT_EQ(wide->rows[y][39], 220);
        for (int32_t x = 1; x < 40; ++x)
            ASSERT_GE(wide->rows[y][x], wide->rows[y][x - 1]) << "not monotone at " << x;
    }
    EXPECT_GT(wide->rows[0][20], 60);
    EXPECT_LT(wide->rows[0][20], 180);
}

TEST(ResizeGray, RefusesWhatCannotBeMade)
{
    const ImageHandle board = checkerboard(8, 8);
    EXPECT_FALSE(resizeGray(*board, 0, 5));
    EXPECT_FALSE(resizeGray(*board, 5, -1));
    EXPECT_FALSE(resizeGray(*board, 40000, 40000));  // past kMaxPixelBytes
    ImageHandle colour(createImageRecord());
    ASSERT_TRUE(shapeImageRecord(colour.get(), 4, 4, 24));
    EXPECT_FALSE(resizeGray(*colour, 2, 2));
}

TEST(ExtendGray, EdgesRepeatedRightAndBelow)
{
    ImageHandle image = makeGrayImage(2, 2);
    image->rows[0][0] = 1;
    image->rows[0][1] = 2;
    image->rows[1][0] = 3;
    image->rows[1][1] = 4;
    ImageHandle extended = extendGray(*image, 5, 4);
    ASSERT_TRUE(extended);
    const uint8_t expected[4][5] = {{1, 2, 2, 2, 2}, {3, 4, 4, 4, 4}, {3, 4, 4, 4, 4}, {3, 4, 4, 4, 4}};
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 5; ++x)
            EXPECT_EQ(extended->rows[y][x], expected[y][x]) << x << ", " << y;
    // Fill bytes up to the pitch of 8 are zero, in the extended picture and
    // in a scaled one, so that the whole block is defined.
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 5; x < 8; ++x)
            EXPECT_EQ(extended->rows[y][x], 0);
    ImageHandle scaled = resizeGray(*extended, 3, 3);
    ASSERT_TRUE(scaled);
    for (int32_t y = 0; y < 3; ++y)
        EXPECT_EQ(scaled->rows[y][3], 0);
    EXPECT_FALSE(extendGray(*image, 1, 4));
    EXPECT_FALSE(extendGray(*image, 40000, 40000));
}

TEST(FitGray, IsExtendOfResizeInOneBlock)
{
    const ImageHandle board = checkerboard(37, 23);
    struct Case {
        int32_t width, height, canvasWidth, canvasHeight;
    };
    for (const Case& c :
         {Case{37, 23, 45, 40}, Case{111, 69, 118, 80}, Case{9, 5, 9, 5}, Case{5, 3, 13, 21}, Case{1, 1, 2, 2}}) {
        ImageHandle fitted = fitGray(*board, c.width, c.height, c.canvasWidth, c.canvasHeight);
        ImageHandle scaled = resizeGray(*board, c.width, c.height);
        ImageHandle plain = scaled ? extendGray(*scaled, c.canvasWidth, c.canvasHeight) : nullptr;
        ASSERT_TRUE(fitted && plain) << c.width << " x " << c.height;
        ASSERT_EQ(recordPitch(*fitted), recordPitch(*plain));
        ASSERT_EQ(fitted->rowCount, plain->rowCount);
        for (int32_t y = 0; y < fitted->rowCount; ++y)
            ASSERT_EQ(std::memcmp(fitted->rows[y], plain->rows[y], static_cast<size_t>(recordPitch(*plain))), 0)
                << c.width << " x " << c.height << ", row " << y;
    }
    EXPECT_FALSE(fitGray(*board, 10, 10, 9, 10));
    EXPECT_FALSE(fitGray(*board, 40000, 40000, 40001, 40001));
}

TEST(InvertGray, EveryPixelMirroredFillBytesKept)
{
    ImageHandle image = makeGrayImage(3, 2);  // pitch 4: one fill byte a row
    const uint8_t levels[6] = {0, 1, 128, 200, 254, 255};
    for (int i = 0; i < 6; ++i)
        image->rows[i / 3][i % 3] = levels[i];
    image->rows[0][3] = 77;
    image->rows[1][3] = 78;
    invertGray(*image);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(image->rows[i / 3][i % 3], 255 - levels[i]);
    EXPECT_EQ(image->rows[0][3], 77);
    EXPECT_EQ(image->rows[1][3], 78);
}
