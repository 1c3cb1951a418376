// Fuzz target: the whole way from file bytes to text on small pictures.
//
// Input: byte 0 is the black level, byte 1 picks the match mode (bit 0), the
// number of blur passes (bits 1-2) and the synthetic font (bits 3-4); the rest
// is the picture file. The picture is loaded as the programs load one (GIF
// first, turned gray; otherwise JPEG), stretched to the black level and
// turned into text by the engine against a small synthetic atlas. The same
// bytes are also loaded at a third of the size, which the loaders shrink
// while they decode: a PNG must come out as the whole picture shrunk.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "engine/text_engine.h"
#include "image/gif_decoder.h"
#include "image/gray_conversion.h"
#include "image/jpeg_reader.h"
#include "image/load_picture.h"
#include "image/picture_transform.h"
#include "image/png_reader.h"
#include "tests/fake_font.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using morvel::testing::FakeFont;

// Small pictures only: generation costs about 95 glyph comparisons a pixel.
constexpr int64_t kFuzzPixelBytes = int64_t{256} << 10;

std::unique_ptr<FakeFont> makeFont(int choice)
{
    switch (choice) {
    case 0:  // monospaced bars
        return std::make_unique<FakeFont>(6, 4);
    case 1:  // proportional, the space 1 wide
        return std::make_unique<FakeFont>(6, 4, [](char c) { return 1 + (static_cast<int32_t>(c) - 32) % 4; });
    case 2:  // some glyphs 0 wide, some measured wider than declared
        return std::make_unique<FakeFont>(5, 3, [](char c) {
            const int32_t k = static_cast<int32_t>(c) - 32;
            return k % 3 == 0 ? 0 : (k % 5 == 0 ? 9 : 2);
        });
    default:  // one-row cells beside tall ones: the tallest cell the margin allows
        return std::make_unique<FakeFont>(3, 2);
    }
}

morvel::ImageHandle loadLikeThePrograms(const uint8_t* data, size_t size)
{
    if (morvel::ImageHandle gif = morvel::decodeGif(data, size, kFuzzPixelBytes)) {
        morvel::grayFromPalette(gif.get());
        return gif;
    }
    if (!morvel::hasPngSignature(data, size)) {
        const std::string& path = morvel::fuzz::ScratchFile::instance().hold(data, size);
        if (morvel::ImageHandle jpeg = morvel::readJpegFile(path, kFuzzPixelBytes))
            return jpeg;
    }
    return morvel::decodePng(data, size, kFuzzPixelBytes);
}

// The picture loaded at about a third of `whole`'s size; for PNG (no
// reduced-scale decoding, and one image, so the fuzz size limit cannot make
// another picture of the file the one decoded) byte for byte `whole` shrunk.
void checkFittedLoad(const uint8_t* data, size_t size, const morvel::ImageRecord& whole)
{
    const morvel::PictureSize target{whole.header.biWidth / 3 + 1, whole.rowCount / 3 + 1};
    morvel::LoadOptions options;
    options.orient = false;
    options.fit = [target](int32_t, int32_t) { return std::optional<morvel::PictureSize>(target); };
    const morvel::LoadResult fitted = morvel::readPictureFromBytes(data, size, options);
    if (!fitted.gray)
        return;  // the JPEG library may stop on damage at another scale
    if (fitted.gray->header.biWidth != target.width || fitted.gray->rowCount != target.height)
        morvel::fuzz::fail("a fitted load is not the size asked for");
    morvel::fuzz::checkPicture(*fitted.gray);
    if (!morvel::hasPngSignature(data, size))
        return;
    const morvel::ImageHandle shrunk = morvel::resizeGray(whole, target.width, target.height);
    for (int32_t y = 0; shrunk && y < target.height; ++y)
        if (std::memcmp(shrunk->rows[y], fitted.gray->rows[y], static_cast<size_t>(target.width)) != 0)
            morvel::fuzz::fail("a picture shrunk while decoded differs from it shrunk whole");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using morvel::fuzz::fail;
    if (size < 2)
        return 0;
    const int32_t level = data[0];
    const int flags = data[1];
    morvel::ImageHandle picture = loadLikeThePrograms(data + 2, size - 2);
    if (!picture)
        return 0;
    morvel::fuzz::checkPicture(*picture);
    checkFittedLoad(data + 2, size - 2, *picture);

    morvel::TextEngine engine;
    engine.useRenderer(makeFont((flags >> 3) & 3), "Fuzz", 9);
    engine.buildGlyphAtlas();
    if (!engine.glyphAtlas())
        fail("the synthetic font gave no atlas");
    for (int i = 0; i < ((flags >> 1) & 3); ++i)
        engine.blurFont();
    engine.updateBlackLevelRange();
    engine.setMatchMode((flags & 1) ? morvel::MatchMode::Difference : morvel::MatchMode::Correlation);
    engine.setDisplayName("fuzz.gif");
    engine.setSourceImage(std::move(picture));
    engine.applyBlackLevel(level);
    if (!engine.workingImage())
        fail("no working image for a loaded picture");
    engine.generateTextImage(level);

    // Only printable characters and line ends; every line is cell-wide text.
    const std::string& text = engine.outputText();
    const std::string footer = morvel::formatFooter({"fuzz.gif", 9, "Fuzz", engine.blurCount(), level});
    if (text.size() < footer.size() || text.compare(text.size() - footer.size(), footer.size(), footer) != 0)
        fail("text does not end with its footer");
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (!(u == '\r' || u == '\n' || (u >= 32 && u <= 126)))
            fail("text holds a character outside the printable range");
    }
    const int64_t pictureWidth = engine.workingImage()->header.biWidth;
    if (engine.widestLine() < 0 || engine.widestLine() > pictureWidth)
        fail("a line is wider than the picture has pixels");
    return 0;
}
