// The load sequence for a picture: the file's signature picks the decoder
// (GIF, then converted to gray; PNG, JPEG, WebP, HEIF (HEIC and AVIF), TIFF
// or BMP, gray already), and the picture is turned upright by its stored
// orientation (EXIF, or the TIFF tag).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "image/image_record.h"
#include "image/read_error.h"

namespace morvel {

// A picture's size in pixels.
struct PictureSize {
    int32_t width = 0;
    int32_t height = 0;
};

// A colour of 8-bit red, green and blue samples.
struct RgbColour {
    uint8_t red = 255;
    uint8_t green = 255;
    uint8_t blue = 255;
};

// What a caller asks of a load beyond the plain gray picture.
struct LoadOptions {
    // The size the picture is wanted at, given its upright size; none (or no
    // function) keeps the natural size. A loader may decode at a reduced
    // scale and shrink while it reads; the result is the asked size.
    std::function<std::optional<PictureSize>(int32_t width, int32_t height)> fit;
    // Also give the picture's colour (24-bit, the same size as the gray one).
    bool colour = false;
    // Turn the picture upright by its stored orientation (EXIF), if any.
    bool orient = true;
    // What the transparent parts of a picture are laid over, in its gray
    // and its colour alike: the ground the text is shown on (white for a
    // light one, black for a dark one, a page's colour).
    RgbColour background;
};

// A loaded picture, or why there is none.
struct LoadResult {
    ImageHandle gray;    // 8-bit gray picture; none when the file gives none
    ImageHandle colour;  // 24-bit picture, only when asked for and given
    ReadError failure;   // why `gray` is none
    std::string error;   // the same as messageOf(failure), for a message
    // With a picture: what is wrong with it although it was drawn (a file
    // that ends early, see endsEarlyWarning), in a few words; else empty.
    std::string warning;
};

// How many bytes of a file's beginning beginsLikeAPicture needs to decide.
inline constexpr size_t kSignatureBytes = 32;

// True when the `size` bytes at `data` (the file's beginning, kSignatureBytes
// or all there is) begin with the signature of a format some reader takes.
bool beginsLikeAPicture(const uint8_t* data, size_t size);

// The words for a picture whose data stops before its last pixel, the rest
// filled with gray level `fillLevel`: "picture ends early; the rest is drawn
// as black" (white for 255, gray for any other level).
std::string endsEarlyWarning(uint8_t fillLevel);

// The load sequence on the file at `path`, or on `size` bytes in memory (a
// picture read from standard input; the bytes are only read).
LoadResult readPicture(const std::string& path, const LoadOptions& options = {});
LoadResult readPictureFromBytes(const uint8_t* data, size_t size, const LoadOptions& options = {});

// The gray picture of readPicture with the default options (upright, at
// its natural size), or none when no decoder reads the file.
ImageHandle loadPicture(const std::string& path);
ImageHandle loadPictureFromBytes(const uint8_t* data, size_t size);

// The path's last component ('/' separates); the whole path when it has none.
std::string displayNameOf(const std::string& path);

}  // namespace morvel
