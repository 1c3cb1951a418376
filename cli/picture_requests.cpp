#include "cli/picture_requests.h"

#include <algorithm>
#include <sys/stat.h>

#include "cli/input.h"

namespace morvel::cli {

bool isSmallFile(const std::string& path)
{
    struct stat info {};
    return path != kStdinName && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= 65536;
}

int64_t loadBytes(PictureSize natural, const std::optional<PictureSize>& loaded, bool colour)
{
    const int64_t samples = colour ? 4 : 1;
    const int64_t naturalPixels = int64_t{natural.width} * natural.height;
    if (!loaded) {
        return naturalPixels * samples;
    }
    const int64_t pixels = int64_t{loaded->width} * loaded->height;
    return pixels * samples * (pixels < naturalPixels ? 9 : 1);
}

LoadOptions loadOptionsFor(const Options& o, const SizeRule& size, const std::shared_future<GlyphCell>& cell,
                           std::optional<ColumnFit>* chosen, bool colour, const RgbColour& ground,
                           const std::function<void(int64_t)>& reserve)
{
    LoadOptions options;
    options.orient = o.orient;
    options.colour = colour;
    options.background = ground;
    const bool fitted = (size.columns > 0 || size.rows > 0) && o.saveGray.empty();
    options.fit = [size, cell, chosen, fitted, colour, reserve](int32_t width,
                                                                int32_t height) -> std::optional<PictureSize> {
        std::optional<PictureSize> wanted;
        if (fitted) {
            const GlyphCell glyphs = cell.get();
            *chosen = fitText(width, height, size, glyphs.maxWidth, glyphs.height);
            // The loader only shrinks: a direction that grows is enlarged
            // band by band as the text is made (see TextEngine::makeTextImage).
            if (*chosen) {
                wanted =
                    PictureSize{std::min(width, (*chosen)->scaled.width), std::min(height, (*chosen)->scaled.height)};
            }
        }
        if (reserve) {
            reserve(loadBytes({width, height}, wanted, colour));
        }
        return wanted;
    };
    return options;
}

}  // namespace morvel::cli
