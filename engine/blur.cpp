#include "engine/blur.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "image/image_record.h"

namespace morvel {

void blurImage(ImageRecord* image)
{
    if (!image || image->header.biBitCount != 8 || !image->rows)
        return;
    const int32_t width = image->header.biWidth;
    const int32_t height = image->rowCount;
    // Fewer than 4 rows: no row is filtered. One column: a filtered row could
    // not hold both of its white border columns.
    if (height < 4 || width < 2)
        return;

    const auto bytes = static_cast<size_t>(width);
    std::unique_ptr<uint8_t[]> first(new (std::nothrow) uint8_t[bytes]);
    std::unique_ptr<uint8_t[]> second(new (std::nothrow) uint8_t[bytes]);
    if (!first || !second)
        return;  // no buffers: the image stays as it was
    uint8_t* pending = first.get();
    uint8_t* current = second.get();
    std::memset(pending, 255, bytes);

    uint8_t* const* rows = image->rows;
    for (int32_t i = 1; i < height - 2; ++i) {
        const uint8_t* above = rows[i - 1];
        const uint8_t* here = rows[i];
        const uint8_t* below = rows[i + 1];
        current[0] = 255;
        for (int32_t j = 1; j <= width - 2; ++j) {
            const int32_t sum =
                above[j - 1] + above[j] + above[j + 1] + here[j - 1] + 2 * here[j] + 2 * here[j + 1] + below[j - 1];
            current[j] = static_cast<uint8_t>(sum / 9);
        }
        current[width - 1] = 255;
        // Row i - 1 is no longer read by any later row: write back its result.
        std::memcpy(rows[i - 1], pending, bytes);
        uint8_t* swap = pending;
        pending = current;
        current = swap;
    }
    std::memcpy(rows[height - 3], pending, bytes);
}

}  // namespace morvel
