// The atlas blur: one pass of a fixed, asymmetric 3 x 3 kernel in place.
#pragma once

namespace morvel {

struct ImageRecord;

// Weights (rows against columns) 1 1 1 / 1 2 2 / 1 0 0, divisor 9. Row 0
// becomes white, the first and last columns of filtered rows white, the last
// two rows are left as they are. Images of other depths, fewer than 4 rows or
// fewer than 2 columns are left unchanged.
void blurImage(ImageRecord* image);

}  // namespace morvel
