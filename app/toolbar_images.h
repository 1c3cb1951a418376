// The five toolbar images, drawn in code: olive on a transparent ground,
// 30 x 20 each, in button order (folder, letter F, blurred blob, dash,
// letter T).
#pragma once

#include <QPixmap>

namespace morvel {

inline constexpr int kToolImageWidth = 30;
inline constexpr int kToolImageHeight = 20;
inline constexpr int kToolImageCount = 5;

// Image `index` (0 .. 4); an empty transparent image for any other index.
QPixmap toolbarImage(int index);

}  // namespace morvel
