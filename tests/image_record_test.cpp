#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "image/image_record.h"

using namespace morvel;

TEST(ImageRecord, RowPitchRoundsUpToFourBytes)
{
    const int64_t gray[] = {4, 4, 4, 4, 8};
    for (int w = 1; w <= 5; ++w)
        EXPECT_EQ(imageRowPitch(w, 8), gray[w - 1]) << "width " << w;
    const int64_t rgb[] = {4, 8, 12, 12, 16};
    for (int w = 1; w <= 5; ++w)
        EXPECT_EQ(imageRowPitch(w, 24), rgb[w - 1]) << "width " << w;
}

TEST(ImageRecord, CreateGivesZeroedRecordWithHeaderSizeAndPlane)
{
    ImageHandle record(createImageRecord());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->header.biSize, 40u);
    EXPECT_EQ(record->header.biPlanes, 1);
    EXPECT_EQ(record->header.biWidth, 0);
    EXPECT_EQ(record->rowCount, 0);
    EXPECT_EQ(record->pixels, nullptr);
    EXPECT_EQ(record->rows, nullptr);
    EXPECT_EQ(record->items, nullptr);
    EXPECT_EQ(record->palette.data, nullptr);
    // The colour table follows the header directly, so the pair reads as one
    // bitmap description.
    EXPECT_EQ(reinterpret_cast<const char*>(&record->header) + sizeof(BitmapInfoHeader),
              reinterpret_cast<const char*>(record->colors));
}

TEST(ImageRecord, ShapeBuildsTopDownRowTable)
{
    ImageHandle record(createImageRecord());
    ASSERT_TRUE(shapeImageRecord(record.get(), 640, 480, 8));
    EXPECT_EQ(record->header.biHeight, -480);
    EXPECT_EQ(record->rowCount, 480);
    EXPECT_EQ(record->header.biBitCount, 8);
    EXPECT_EQ(record->rows[0], record->pixels);
    EXPECT_EQ(record->rows[479], record->pixels + 479 * 640);
    EXPECT_EQ(recordPitch(*record), 640);
}

TEST(ImageRecord, ShapeRefusesBadOrHugeSizesWithoutAllocating)
{
    ImageHandle record(createImageRecord());
    EXPECT_FALSE(shapeImageRecord(record.get(), -1, 10, 8));
    EXPECT_FALSE(shapeImageRecord(record.get(), 10, -1, 8));
    EXPECT_FALSE(shapeImageRecord(record.get(), 10, 10, 16));
    // 65535 x 65535 would need 4 GiB: refused by the size limit, not by
    // running out of memory.
    EXPECT_FALSE(shapeImageRecord(record.get(), 65535, 65535, 8));
    EXPECT_EQ(record->pixels, nullptr);
    EXPECT_FALSE(shapeImageRecord(nullptr, 1, 1, 8));
}

TEST(ImageRecord, RecordWithoutRowsCopiesAndFrees)
{
    ImageHandle record(createImageRecord());
    ASSERT_TRUE(shapeImageRecord(record.get(), 7, 0, 8));
    EXPECT_EQ(record->rowCount, 0);
    ImageHandle copy(copyImageRecord(record.get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->rowCount, 0);
    EXPECT_EQ(copy->header.biWidth, 7);
}

TEST(ImageRecord, CopySharesNoPixelsNorPalette)
{
    ImageHandle source = makeGrayImage(5, 3);
    ASSERT_TRUE(source);
    for (int y = 0; y < 3; ++y)
        std::memset(source->rows[y], 10 * y, 8);  // fill bytes included
    static int released = 0;
    source->palette.data = &released;
    source->palette.release = [](void* p) { ++*static_cast<int*>(p); };

    ImageHandle copy(copyImageRecord(source.get()));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->pixels, source->pixels);
    EXPECT_EQ(copy->rows[0], copy->pixels);
    EXPECT_EQ(copy->rows[1] - copy->rows[0], 8);
    EXPECT_EQ(copy->palette.data, nullptr);
    EXPECT_EQ(copy->palette.release, nullptr);
    EXPECT_EQ(0, std::memcmp(copy->pixels, source->pixels, 24));
    EXPECT_EQ(copy->header.biHeight, -3);
    EXPECT_EQ(copy->colors[77].rgbRed, 77);

    copy->rows[1][2] = 99;
    EXPECT_EQ(source->rows[1][2], 10);

    copy.reset();
    EXPECT_EQ(released, 0);
    source.reset();
    EXPECT_EQ(released, 1);  // the palette cache goes with its own record
}

TEST(ImageRecord, FreeReleasesItemsAndAcceptsNone)
{
    freeImageRecord(nullptr);
    ImageRecord* record = createImageRecord();
    ASSERT_TRUE(record);
    record->itemCount = 2;
    record->items = static_cast<ImageItem*>(std::calloc(2, sizeof(ImageItem)));
    record->items[0].data = std::malloc(16);  // item 1 has no data block
    freeImageRecord(record);                  // leak checkers verify the release
}

TEST(ImageRecord, GrayColorTableKeepsReservedBytes)
{
    ImageHandle record(createImageRecord());
    record->colors[200].rgbReserved = 7;
    setGrayColorTable(record.get());
    EXPECT_EQ(record->colors[200].rgbBlue, 200);
    EXPECT_EQ(record->colors[200].rgbGreen, 200);
    EXPECT_EQ(record->colors[200].rgbRed, 200);
    EXPECT_EQ(record->colors[200].rgbReserved, 7);
}

TEST(ImageRecord, LargePixelBlocksAreWholeAndCopyable)
{
    // Blocks of several megabytes take the huge-page path: every byte of
    // every row must still be there, and copies and frees work as for any.
    ImageHandle big = makeGrayImage(4001, 3000);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->rows[2999], big->pixels + int64_t{2999} * 4004);
    big->rows[0][0] = 1;
    big->rows[2999][4003] = 2;  // the last fill byte of the last row
    ImageHandle copy(copyImageRecord(big.get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->rows[0][0], 1);
    EXPECT_EQ(copy->rows[2999][4003], 2);
}
