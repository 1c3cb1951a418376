// The one in-memory picture of the system: a pixel block with a table of row
// starts, a bitmap header with a negative height (rows stored top-down) and a
// 256-entry colour table. 8-bit records that reach the engine carry the gray
// ramp, so a pixel byte is its gray level (0 black, 255 white).
#pragma once

#include <cstdint>
#include <memory>

namespace morvel {

// Largest pixel block any producer will allocate. A picture needing more is
// refused as "no picture" rather than exhausting memory (1 GiB holds a
// 32768 x 32768 gray picture).
inline constexpr int64_t kMaxPixelBytes = int64_t{1} << 30;

struct RgbQuad {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

// Device-independent bitmap header, field for field.
struct BitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

// An element of a record's item list. No producer makes items; a record only
// honours the list when it is freed (the data block is released with free()).
struct ImageItem {
    int32_t kind;
    int32_t size;
    void* data;
};

// Cache slot for a display palette built from `colors` by a view on first
// paint. The library never looks inside; freeImageRecord calls release(data).
struct PaletteCache {
    void* data;
    void (*release)(void* data);
};

struct ImageRecord {
    uint8_t* pixels;   // owned: rowCount rows of one pitch each, top row first
    uint8_t** rows;    // owned: rows[i] = pixels + i * pitch
    ImageItem* items;  // owned; none when empty
    int32_t itemCount;
    void* logPalette;      // scratch while a view builds `palette`; none otherwise
    PaletteCache palette;  // owned; empty until a view fills it
    int32_t rowCount;      // height in pixels, never negative
    BitmapInfoHeader header;
    RgbQuad colors[256];  // must follow header directly
};

// Row pitch in bytes: width x bytes per pixel rounded up to a multiple of 4.
int64_t imageRowPitch(int64_t width, int32_t bitCount);

// A new zero-filled record (biSize 40, biPlanes 1), or none when memory is
// exhausted.
ImageRecord* createImageRecord();

// Gives a fresh record its size and an uncleared pixel block with its row
// table. Fails (leaving the record without pixels) for negative sizes, a bit
// count other than 8 or 24, a block above kMaxPixelBytes, or no memory.
bool shapeImageRecord(ImageRecord* record, int32_t width, int32_t rowCount, int32_t bitCount);

// Allocates and fills the row table for the record's pixel block at `pitch`.
bool buildRowTable(ImageRecord* record, int64_t pitch);

// An independent copy: own pixel block (fill bytes included), own row table,
// no items, no palette. None when memory runs out; nothing leaks.
ImageRecord* copyImageRecord(const ImageRecord* source);

// Releases everything the record owns, then the record. None is fine.
void freeImageRecord(ImageRecord* record);

// colors[i] = gray i for every entry; the reserved bytes are not touched.
void setGrayColorTable(ImageRecord* record);

// The row pitch of a record as its row table shows it (imageRowPitch of its
// header when it has fewer than two rows).
int64_t recordPitch(const ImageRecord& record);

// Zeroes the bytes between each row's last pixel and the pitch, so that the
// whole pixel block is defined (copies and views read rows whole). Producers
// that write only the pixels of each row call it.
void clearRowFill(ImageRecord& record);

struct ImageRecordDeleter {
    void operator()(ImageRecord* record) const { freeImageRecord(record); }
};
// Owning handle: the record is freed with freeImageRecord.
using ImageHandle = std::unique_ptr<ImageRecord, ImageRecordDeleter>;

// Convenience for producers and tests: a shaped 8-bit gray record (gray ramp
// colour table), or none.
ImageHandle makeGrayImage(int32_t width, int32_t rowCount);

}  // namespace morvel
