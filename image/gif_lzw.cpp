#include "image/gif_lzw.h"

namespace morvel::gif_lzw_detail {

void resetTable(GifStringTable& table, int clearCode)
{
    for (int root = 0; root < clearCode; ++root) {
        table.prefix[root] = 0;
        table.suffix[root] = static_cast<uint8_t>(root);  // roots above 255 keep their low 8 bits
        table.firstChar[root] = static_cast<uint8_t>(root);
        table.length[root] = 1;
    }
}

}  // namespace morvel::gif_lzw_detail
