#include "image/image_record.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace morvel {

int64_t imageRowPitch(int64_t width, int32_t bitCount)
{
    return ((width * bitCount / 8) + 3) / 4 * 4;
}

namespace {

// Large pixel blocks are aligned to 2 MiB and offered transparent huge pages:
// a decoder writing a 12 MB picture then takes a handful of page faults
// instead of thousands. The block is released with free() like any other.
uint8_t* allocatePixels(int64_t bytes)
{
    constexpr size_t kHugePage = size_t{2} << 20;
    const size_t size = bytes > 0 ? static_cast<size_t>(bytes) : 1;
    if (size < 4 * kHugePage)
        return static_cast<uint8_t*>(std::malloc(size));
    void* block = nullptr;
    if (posix_memalign(&block, kHugePage, (size + kHugePage - 1) / kHugePage * kHugePage) != 0)
        return nullptr;
    madvise(block, (size + kHugePage - 1) / kHugePage * kHugePage, MADV_HUGEPAGE);
    return static_cast<uint8_t*>(block);
}

}  // namespace

ImageRecord* createImageRecord()
{
    auto* record = static_cast<ImageRecord*>(std::calloc(1, sizeof(ImageRecord)));
    if (!record)
        return nullptr;
    record->header.biSize = 40;
    record->header.biPlanes = 1;
    return record;
}

bool buildRowTable(ImageRecord* record, int64_t pitch)
{
    if (!record || record->rowCount < 0)
        return false;
    std::free(record->rows);
    record->rows = nullptr;
    // An empty table still gets one slot so that "no rows" and "no table"
    // stay distinguishable and malloc(0) never decides the outcome.
    const size_t count = record->rowCount > 0 ? static_cast<size_t>(record->rowCount) : 1;
    auto** rows = static_cast<uint8_t**>(std::malloc(count * sizeof(uint8_t*)));
    if (!rows)
        return false;
    rows[0] = record->pixels;
    for (int32_t i = 1; i < record->rowCount; ++i)
        rows[i] = rows[i - 1] + pitch;
    record->rows = rows;
    return true;
}

bool shapeImageRecord(ImageRecord* record, int32_t width, int32_t rowCount, int32_t bitCount)
{
    if (!record || width < 0 || rowCount < 0 || (bitCount != 8 && bitCount != 24))
        return false;
    const int64_t pitch = imageRowPitch(width, bitCount);
    const int64_t bytes = pitch * rowCount;
    if (bytes > kMaxPixelBytes)
        return false;
    record->header.biWidth = width;
    record->rowCount = rowCount;
    record->header.biHeight = -rowCount;
    record->header.biBitCount = static_cast<uint16_t>(bitCount);
    std::free(record->pixels);
    record->pixels = allocatePixels(bytes);
    if (!record->pixels)
        return false;
    if (!buildRowTable(record, pitch)) {
        std::free(record->pixels);
        record->pixels = nullptr;
        return false;
    }
    return true;
}

int64_t recordPitch(const ImageRecord& record)
{
    if (record.rowCount >= 2 && record.rows)
        return record.rows[1] - record.rows[0];
    return imageRowPitch(record.header.biWidth, record.header.biBitCount);
}

void clearRowFill(ImageRecord& record)
{
    if (!record.rows)
        return;
    const int64_t used = int64_t{record.header.biWidth} * record.header.biBitCount / 8;
    const int64_t fill = recordPitch(record) - used;
    if (fill <= 0)
        return;
    for (int32_t y = 0; y < record.rowCount; ++y)
        std::memset(record.rows[y] + used, 0, static_cast<size_t>(fill));
}

ImageRecord* copyImageRecord(const ImageRecord* source)
{
    if (!source)
        return nullptr;
    ImageRecord* copy = createImageRecord();
    if (!copy)
        return nullptr;
    copy->rowCount = source->rowCount;
    copy->header = source->header;
    std::memcpy(copy->colors, source->colors, sizeof copy->colors);

    const int64_t pitch = recordPitch(*source);
    const int64_t bytes = pitch * source->rowCount;
    copy->pixels = allocatePixels(bytes);
    if (!copy->pixels) {
        freeImageRecord(copy);
        return nullptr;
    }
    if (bytes > 0 && source->pixels)
        std::memcpy(copy->pixels, source->pixels, static_cast<size_t>(bytes));
    if (!buildRowTable(copy, pitch)) {
        freeImageRecord(copy);
        return nullptr;
    }
    return copy;
}

void freeImageRecord(ImageRecord* record)
{
    if (!record)
        return;
    if (record->items) {
        for (int32_t i = 0; i < record->itemCount; ++i)
            std::free(record->items[i].data);
    }
    std::free(record->items);
    std::free(record->rows);
    std::free(record->pixels);
    if (record->palette.release)
        record->palette.release(record->palette.data);
    std::free(record);
}

void setGrayColorTable(ImageRecord* record)
{
    if (!record)
        return;
    for (int i = 0; i < 256; ++i) {
        record->colors[i].rgbBlue = static_cast<uint8_t>(i);
        record->colors[i].rgbGreen = static_cast<uint8_t>(i);
        record->colors[i].rgbRed = static_cast<uint8_t>(i);
    }
}

ImageHandle makeGrayImage(int32_t width, int32_t rowCount)
{
    ImageHandle image(createImageRecord());
    if (!image || !shapeImageRecord(image.get(), width, rowCount, 8))
        return nullptr;
    setGrayColorTable(image.get());
    return image;
}

}  // namespace morvel
