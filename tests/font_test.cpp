#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fontconfig/fontconfig.h>

#include "engine/glyph_atlas.h"
#include "image/image_record.h"
#include "platform/face_cache.h"
#include "platform/face_match.h"
#include "platform/font.h"
#include "platform/glyph_cache.h"
#include "platform/log_font.h"

using namespace morvel;

namespace {

LogFont describe(const std::string& face, int32_t height, int32_t weight = 400)
{
    LogFont font{};
    font.lfHeight = height;
    font.lfWeight = weight;
    setFaceName(font, face);
    return font;
}

// Whether fontconfig lists `family` as installed (exact family name). A
// configuration of its own, released afterwards, keeps the check apart from
// the one the font layer loads.
bool installed(const std::string& family)
{
    FcConfig* config = FcInitLoadConfigAndFonts();
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet* set = FcFontList(config, pattern, objects);
    const bool found = set && set->nfont > 0;
    if (set)
        FcFontSetDestroy(set);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    return found;
}

void expectMonospaced(const Font& font)
{
    const int32_t advance = font.advanceWidth(' ');
    EXPECT_GT(advance, 0);
    for (int code = 32; code <= 126; ++code)
        EXPECT_EQ(font.advanceWidth(static_cast<char>(code)), advance) << "character " << code;
    EXPECT_EQ(font.textMetrics().maxCharWidth, advance);
}

ImageHandle filledGray(int32_t width, int32_t rows, uint8_t value)
{
    ImageHandle image = makeGrayImage(width, rows);
    if (image) {
        for (int32_t r = 0; r < rows; ++r)
            std::memset(image->rows[r], value, static_cast<size_t>(width));
    }
    return image;
}

}  // namespace

TEST(MulDiv, RoundsToNearestWithHalvesAwayFromZero)
{
    EXPECT_EQ(mulDiv(9, 96, 72), 12);
    EXPECT_EQ(mulDiv(13, 72, 96), 10);  // 9.75
    EXPECT_EQ(mulDiv(-13, 72, 96), -10);
    EXPECT_EQ(mulDiv(10, 72, 96), 8);    // 7.5 goes up
    EXPECT_EQ(mulDiv(-10, 72, 96), -8);  // -7.5 goes down
    EXPECT_EQ(mulDiv(10, -72, 96), -8);
    EXPECT_EQ(mulDiv(10, 72, -96), -8);
    EXPECT_EQ(mulDiv(-10, -72, -96), -8);
    EXPECT_EQ(mulDiv(-10, -72, 96), 8);
    EXPECT_EQ(mulDiv(7, 1, 3), 2);  // 2.33 goes down
    EXPECT_EQ(mulDiv(-7, 1, 3), -2);
    EXPECT_EQ(mulDiv(0, 5, 7), 0);
}

TEST(MulDiv, UsesTheExactProductAndRefusesWhatDoesNotFit)
{
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(mulDiv(kMax, kMax, kMax), kMax);  // the product needs 62 bits
    EXPECT_EQ(mulDiv(kMin, kMin, kMin), kMin);
    EXPECT_EQ(mulDiv(kMin, 1, 1), kMin);
    EXPECT_EQ(mulDiv(kMin, -1, 1), -1);  // 2^31 does not fit
    EXPECT_EQ(mulDiv(kMax, 2, 1), -1);
    EXPECT_EQ(mulDiv(kMax, kMax, 2), -1);
    EXPECT_EQ(mulDiv(5, 7, 0), -1);
    EXPECT_EQ(mulDiv(0, 0, 0), -1);
}

TEST(LogFontName, KeepsAtMost31CharactersAndTheTerminator)
{
    LogFont font{};
    std::memset(font.lfFaceName, 'x', sizeof font.lfFaceName);
    const std::string longName(40, 'A');
    setFaceName(font, longName);
    EXPECT_EQ(std::string(font.lfFaceName), std::string(31, 'A'));
    EXPECT_EQ(font.lfFaceName[31], '\0');

    setFaceName(font, "Mono");
    EXPECT_STREQ(font.lfFaceName, "Mono");
    for (size_t i = 4; i < sizeof font.lfFaceName; ++i)
        EXPECT_EQ(font.lfFaceName[i], '\0');
}

TEST(Font, MissingDefaultFaceResolvesToAnInstalledMonospacedFace)
{
    auto font = Font::create(describe("Lucida Console", -12));
    ASSERT_TRUE(font);
    EXPECT_TRUE(font->isSubstitute());
    EXPECT_EQ(font->requestedFace(), "Lucida Console");
    EXPECT_NE(font->faceUsed(), "Lucida Console");
    EXPECT_TRUE(installed(font->faceUsed())) << font->faceUsed();
    EXPECT_FALSE(font->filePath().empty());
    EXPECT_EQ(font->pixelSize(), 12);
    expectMonospaced(*font);
}

TEST(Font, InstalledFaceIsUsedAsIs)
{
    ASSERT_TRUE(installed("DejaVu Sans Mono"));
    // The name matches without regard to case, and a bold weight keeps the
    // family.
    for (const char* name : {"DejaVu Sans Mono", "dejavu sans mono"}) {
        for (int32_t weight : {0, 400, 700}) {
            auto font = Font::create(describe(name, -12, weight));
            ASSERT_TRUE(font) << name << " " << weight;
            EXPECT_FALSE(font->isSubstitute()) << name << " " << weight;
            EXPECT_EQ(font->faceUsed(), "DejaVu Sans Mono");
            expectMonospaced(*font);
        }
    }
    // Generic families and the configuration's aliases count as installed
    // and resolve to the installed face fontconfig picks for them (an alias
    // only where its target is installed).
    const std::pair<const char*, const char*> resolved[] = {{"monospace", ""},  {"Mono", ""},
                                                            {"sans-serif", ""}, {"sans", ""},
                                                            {"serif", ""},      {"Courier", "Nimbus Mono PS"}};
    for (const auto& [name, target] : resolved) {
        if (*target != '\0' && !installed(target))
            continue;
        auto font = Font::create(describe(name, -12));
        ASSERT_TRUE(font) << name;
        EXPECT_FALSE(font->isSubstitute()) << name;
        EXPECT_TRUE(installed(font->faceUsed())) << name << ": " << font->faceUsed();
        if (*target != '\0') {
            EXPECT_EQ(font->faceUsed(), target) << name;
        }
    }
    // A name fontconfig only falls back from is not installed.
    auto fallback = Font::create(describe("Consolas", -12));
    ASSERT_TRUE(fallback);
    EXPECT_TRUE(fallback->isSubstitute());
    auto proportional = Font::create(describe("DejaVu Sans", -12));
    ASSERT_TRUE(proportional);
    EXPECT_FALSE(proportional->isSubstitute());
    EXPECT_LT(proportional->advanceWidth('i'), proportional->advanceWidth('M'));
    EXPECT_GE(proportional->textMetrics().maxCharWidth, proportional->advanceWidth('M'));
}

TEST(Font, NegativeHeightIsTheEmAndPositiveHeightTheCell)
{
    for (const char* face : {"DejaVu Sans Mono", "DejaVu Serif", "Lucida Console"}) {
        auto em = Font::create(describe(face, -20));
        ASSERT_TRUE(em) << face;
        EXPECT_EQ(em->pixelSize(), 20);
        // The cell holds the ascender and descender: taller than the em.
        EXPECT_GT(em->textMetrics().height, 20) << face;

        for (int32_t cell = 6; cell <= 48; ++cell) {
            auto font = Font::create(describe(face, cell));
            ASSERT_TRUE(font) << face << " " << cell;
            EXPECT_EQ(font->textMetrics().height, cell) << face;
            EXPECT_LT(font->pixelSize(), cell) << face;
        }
    }
    // Height 0 is the default 9 points.
    auto standard = Font::create(describe("DejaVu Sans Mono", 0));
    ASSERT_TRUE(standard);
    EXPECT_EQ(standard->pixelSize(), 12);
}

TEST(Font, RefusesUnusableSizes)
{
    EXPECT_FALSE(Font::create(describe("DejaVu Sans Mono", -2049)));
    EXPECT_FALSE(Font::create(describe("DejaVu Sans Mono", std::numeric_limits<int32_t>::min())));
    EXPECT_FALSE(Font::create(describe("DejaVu Sans Mono", std::numeric_limits<int32_t>::max())));
    EXPECT_FALSE(Font::create(describe("DejaVu Sans Mono", -12), 0));
    EXPECT_TRUE(Font::create(describe("DejaVu Sans Mono", -2048)));
}

TEST(Font, ReadsAtMost31CharactersOfAnUnterminatedName)
{
    LogFont description = describe("", -12);
    std::memset(description.lfFaceName, 'Q', sizeof description.lfFaceName);
    auto font = Font::create(description);
    ASSERT_TRUE(font);
    EXPECT_EQ(font->requestedFace(), std::string(31, 'Q'));
    EXPECT_TRUE(font->isSubstitute());
}

TEST(Font, DrawsInkInsideThePaperFilledCell)
{
    auto font = Font::create(describe("Lucida Console", -12));
    ASSERT_TRUE(font);
    const TextMetrics metrics = font->textMetrics();
    const int32_t x = 5;
    const int32_t y = 4;
    ImageHandle raster = filledGray(40, metrics.height + 12, 100);
    ASSERT_TRUE(raster);
    auto insideCell = [&](int32_t col, int32_t row, char c) {
        return col >= x && col < x + font->advanceWidth(c) && row >= y && row < y + metrics.height;
    };

    font->drawChar(*raster, x, y, ' ');
    for (int32_t row = 0; row < raster->rowCount; ++row)
        for (int32_t col = 0; col < raster->header.biWidth; ++col)
            ASSERT_EQ(raster->rows[row][col], insideCell(col, row, ' ') ? 255 : 100) << col << "," << row;

    raster = filledGray(40, metrics.height + 12, 100);
    font->drawChar(*raster, x, y, 'M');
    int darkest = 255;
    int inked = 0;
    for (int32_t row = 0; row < raster->rowCount; ++row) {
        for (int32_t col = 0; col < raster->header.biWidth; ++col) {
            const uint8_t value = raster->rows[row][col];
            if (!insideCell(col, row, 'M')) {
                ASSERT_EQ(value, 100) << col << "," << row;
                continue;
            }
            darkest = std::min<int>(darkest, value);
            inked += value < 128;
        }
    }
    EXPECT_LE(darkest, 16);
    EXPECT_GE(inked, 10);
    // The baseline sits at y + ascent: the bottom cell rows belong to the
    // descent and 'M' leaves them blank.
    for (int32_t col = x; col < x + font->advanceWidth('M'); ++col)
        EXPECT_EQ(raster->rows[y + metrics.height - 1][col], 255);
}

TEST(Font, DrawingAtOrPastTheEdgesStaysInsideTheRecord)
{
    auto font = Font::create(describe("DejaVu Sans Mono", -14));
    ASSERT_TRUE(font);
    const int32_t advance = font->advanceWidth('W');
    const int32_t height = font->textMetrics().height;

    // The raster proper is a window into a larger record whose rows are
    // handed over with their true pitch; the frame around it must survive.
    constexpr int32_t kFrame = 8;
    constexpr int32_t kWidth = 21;
    constexpr int32_t kRows = 19;
    ImageHandle outer = filledGray(kWidth + 2 * kFrame, kRows + 2 * kFrame, 77);
    ASSERT_TRUE(outer);
    ImageHandle inner = makeGrayImage(kWidth, kRows);
    ASSERT_TRUE(inner);
    for (int32_t r = 0; r < kRows; ++r)
        inner->rows[r] = outer->rows[r + kFrame] + kFrame;

    const int32_t far = std::numeric_limits<int32_t>::max();
    const int32_t nearFar = std::numeric_limits<int32_t>::min();
    const int32_t positions[] = {nearFar, -advance - 3,     -advance,   -advance + 1, -1,         0,
                                 3,       kWidth - advance, kWidth - 1, kWidth,       kWidth + 5, far};
    const int32_t rows[] = {nearFar, -height - 2, -height + 1, -3, 0, 4, kRows - height, kRows - 2, kRows, far};
    for (char c : {'W', '@', '_', 'j', '|'}) {
        for (int32_t x : positions)
            for (int32_t y : rows)
                font->drawChar(*inner, x, y, c);
    }
    // Restore the record's own table before it is freed.
    for (int32_t r = 0; r < kRows; ++r)
        inner->rows[r] = inner->pixels + r * imageRowPitch(kWidth, 8);

    int changed = 0;
    for (int32_t row = 0; row < outer->rowCount; ++row) {
        for (int32_t col = 0; col < outer->header.biWidth; ++col) {
            const bool inside = row >= kFrame && row < kFrame + kRows && col >= kFrame && col < kFrame + kWidth;
            if (inside)
                changed += outer->rows[row][col] != 77;
            else
                ASSERT_EQ(outer->rows[row][col], 77) << col << "," << row;
        }
    }
    EXPECT_GT(changed, 0);
}

TEST(Font, IgnoresRecordsItCannotDrawInto)
{
    auto font = Font::create(describe("DejaVu Sans Mono", -12));
    ASSERT_TRUE(font);
    ImageHandle color(createImageRecord());
    ASSERT_TRUE(color);
    ASSERT_TRUE(shapeImageRecord(color.get(), 8, 8, 24));
    std::memset(color->pixels, 9, static_cast<size_t>(recordPitch(*color) * 8));
    font->drawChar(*color, 0, 0, 'M');
    for (int64_t i = 0; i < recordPitch(*color) * 8; ++i)
        ASSERT_EQ(color->pixels[i], 9);

    ImageHandle empty(createImageRecord());
    ASSERT_TRUE(empty);
    font->drawChar(*empty, 0, 0, 'M');  // no rows: nothing to do
}

TEST(Font, OverhangingInkStaysInsideTheGlyphsOwnCell)
{
    // Serif and italic faces draw ink past their advances (f, j, W, italic
    // slants); in the atlas every pixel outside the cells must stay paper, so
    // that a cell holds its own glyph's ink and nothing of its neighbours.
    for (const char* face : {"DejaVu Serif", "DejaVu Sans Mono"}) {
        if (!installed(face))
            continue;
        for (uint8_t italic : {uint8_t{0}, uint8_t{1}}) {
            LogFont description = describe(face, -12);
            description.lfItalic = italic;
            auto font = Font::create(description);
            ASSERT_TRUE(font);
            const std::optional<BuiltAtlas> built = renderGlyphAtlas(*font);
            ASSERT_TRUE(built);
            const ImageRecord& atlas = *built->atlas;
            const int32_t h = built->cellHeight;
            int outside = 0;
            int inked = 0;
            for (int32_t y = 0; y < atlas.rowCount; ++y) {
                for (int32_t x = 0; x < atlas.header.biWidth; ++x) {
                    const int32_t k = (y - kAtlasMargin) / (h + 1);
                    const bool inCell = y >= kAtlasMargin && k < kGlyphCount && (y - kAtlasMargin) % (h + 1) < h &&
                                        x >= kAtlasMargin && x < kAtlasMargin + built->glyphs[k].width;
                    if (!inCell)
                        outside += atlas.rows[y][x] != 255;
                    else
                        inked += atlas.rows[y][x] < 128;
                }
            }
            EXPECT_EQ(outside, 0) << face << (italic ? " italic" : "");
            EXPECT_GT(inked, 500) << face;
        }
    }
}

namespace {

// A private folder under the system's temporary folder, removed at the end.
struct TempFolder {
    std::string path;
    TempFolder()
    {
        char name[] = "/tmp/morvel-face-cache-XXXXXX";
        if (mkdtemp(name))
            path = name;
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
};

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

}  // namespace

TEST(FaceCache, GivesTheSameFaceAsTheSearchAndNeverAStaleOrDamagedEntry)
{
    TempFolder folder;
    ASSERT_FALSE(folder.path.empty());
    const LogFont description = describe("Lucida Console", -12);
    const std::optional<MatchedFace> searched = matchFace(description);
    ASSERT_TRUE(searched);

    setFaceCacheDirectory(folder.path + "/morvel");
    const std::optional<MatchedFace> stored = matchFace(description);  // searches and stores
    const std::optional<MatchedFace> reused = matchFace(description);  // read back
    for (const auto& face : {stored, reused}) {
        ASSERT_TRUE(face);
        EXPECT_EQ(face->requested, searched->requested);
        EXPECT_EQ(face->family, searched->family);
        EXPECT_EQ(face->substitute, searched->substitute);
        EXPECT_EQ(face->path, searched->path);
        EXPECT_EQ(face->index, searched->index);
    }

    // An entry is used only while its face file and every watched file keep
    // their state.
    const std::string faceFile = folder.path + "/face.ttf";
    const std::string watched = folder.path + "/fonts.conf";
    writeText(faceFile, "face");
    writeText(watched, "config");
    const MatchedFace fake{"Some Face", "Fake Family", true, faceFile, 2};
    const std::string key = faceCacheKey("Some Face", 400, false, 0);
    storeFace(key, fake, {watched});
    std::optional<MatchedFace> hit = cachedFace(key);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->family, "Fake Family");
    EXPECT_EQ(hit->index, 2);
    EXPECT_FALSE(cachedFace(faceCacheKey("Some Face", 700, false, 0)));

    writeText(watched, "config, edited");
    EXPECT_FALSE(cachedFace(key));
    storeFace(key, fake, {watched});
    ASSERT_TRUE(cachedFace(key));
    std::filesystem::remove(faceFile);
    EXPECT_FALSE(cachedFace(key));

    // Damaged entries are ignored: cut short, or with a field out of range.
    writeText(faceFile, "face");
    storeFace(key, fake, {watched});
    std::filesystem::path entry;
    for (const auto& item : std::filesystem::directory_iterator(folder.path + "/morvel")) {
        std::ifstream in(item.path());
        std::string magic, storedKey;
        std::getline(in, magic);
        if (std::getline(in, storedKey) && storedKey == key)
            entry = item.path();
    }
    ASSERT_FALSE(entry.empty());
    std::ifstream in(entry, std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(cachedFace(key));
    for (const std::string& damaged :
         {good.substr(0, good.size() - 4),
          good.substr(0, good.find("\n2\n")) + "\n-2\n" + good.substr(good.find("\n2\n") + 3), std::string("garbage"),
          std::string()}) {
        writeText(entry.string(), damaged);
        EXPECT_FALSE(cachedFace(key)) << damaged;
    }
    // A search after a damaged entry still finds the face and mends it.
    EXPECT_TRUE(matchFace(description));
    setFaceCacheDirectory("");
}

namespace {

// The atlas of `description`'s font, with its metrics, as bytes.
std::string atlasBytes(const LogFont& description)
{
    const std::unique_ptr<Font> font = Font::create(description);
    if (!font)
        return {};
    const std::optional<BuiltAtlas> built = renderGlyphAtlas(*font);
    if (!built)
        return {};
    const ImageRecord& atlas = *built->atlas;
    std::string bytes(reinterpret_cast<const char*>(atlas.pixels),
                      static_cast<size_t>(recordPitch(atlas) * atlas.rowCount));
    for (const GlyphEntry& entry : built->glyphs)
        bytes += " " + std::to_string(entry.top) + "/" + std::to_string(entry.width);
    return bytes + " " + font->faceUsed() + " " + std::to_string(font->pixelSize()) + " " +
           std::to_string(font->ascent()) + " " + std::to_string(font->textMetrics().maxCharWidth);
}

// The one entry of the glyph cache in `folder`.
std::filesystem::path glyphEntry(const std::string& folder)
{
    std::filesystem::path found;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        if (item.path().filename().string().rfind("glyphs-", 0) == 0)
            found = found.empty() ? item.path() : std::filesystem::path("more than one");
    }
    return found;
}

}  // namespace

// Glyphs read back from the cache draw the atlas rendered without it, byte
// for byte; an entry is read only for exactly its key (the face file's
// state, the size and the rest), and a damaged one is rendered again.
TEST(GlyphCache, DrawsTheSameAtlasAndNeverAStaleOrDamagedEntry)
{
    TempFolder folder;
    ASSERT_FALSE(folder.path.empty());
    const LogFont description = describe("Lucida Console", -12);
    const std::string plain = atlasBytes(description);
    ASSERT_FALSE(plain.empty());

    const std::string cache = folder.path + "/morvel";
    setFaceCacheDirectory(cache);
    EXPECT_EQ(atlasBytes(description), plain);  // renders and stores
    const std::filesystem::path entry = glyphEntry(cache);
    ASSERT_TRUE(std::filesystem::is_regular_file(entry)) << entry;
    struct stat before {};
    ASSERT_EQ(stat(entry.c_str(), &before), 0);
    EXPECT_EQ(atlasBytes(description), plain);  // read back, not stored again
    struct stat after {};
    ASSERT_EQ(stat(entry.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);

    // Damaged entries are rendered again (and mended): cut short, a byte
    // changed, garbage, empty.
    std::ifstream in(entry, std::ios::binary);
    const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string flipped = good;
    flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x10);
    for (const std::string& damaged :
         {good.substr(0, good.size() - 9), flipped, std::string("garbage"), std::string()}) {
        writeText(entry.string(), damaged);
        EXPECT_EQ(atlasBytes(description), plain);
        std::ifstream mended(entry, std::ios::binary);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(mended)), std::istreambuf_iterator<char>()), good);
    }

    // A key names the face file's state and every setting that shapes the
    // glyphs: an entry stored for one is not read for another.
    const std::string faceFile = folder.path + "/face.ttf";
    writeText(faceFile, "face");
    const MatchedFace face{"Some Face", "Fake Family", false, faceFile, 0};
    const std::string key = glyphCacheKey(face, description, 96, 0);
    RenderedGlyphs glyphs;
    glyphs.pixelSize = 12;
    glyphs.ascent = 10;
    glyphs.descent = 3;
    glyphs.printable['A' - kFirstPrintable] = GlyphBitmap{7, true, 1, 9, 2, 3, {0, 64, 128, 192, 255, 1}};
    storeGlyphs(key, glyphs);
    const std::optional<RenderedGlyphs> hit = cachedGlyphs(key);
    ASSERT_TRUE(hit);
    const GlyphBitmap& a = hit->printable['A' - kFirstPrintable];
    EXPECT_EQ(a.coverage, glyphs.printable['A' - kFirstPrintable].coverage);
    EXPECT_EQ(
        std::vector<int32_t>({hit->pixelSize, hit->ascent, hit->descent, a.advance, a.left, a.top, a.width, a.rows}),
        std::vector<int32_t>({12, 10, 3, 7, 1, 9, 2, 3}));
    LogFont larger = description;
    larger.lfHeight = -13;
    LogFont bold = description;
    bold.lfWeight = 700;
    for (const std::string& other : {glyphCacheKey(face, larger, 96, 0), glyphCacheKey(face, bold, 96, 0),
                                     glyphCacheKey(face, description, 72, 0), glyphCacheKey(face, description, 96, 2)})
        EXPECT_FALSE(cachedGlyphs(other));
    writeText(faceFile, "face, changed");
    EXPECT_NE(glyphCacheKey(face, description, 96, 0), key);
    EXPECT_FALSE(cachedGlyphs(glyphCacheKey(face, description, 96, 0)));
    setFaceCacheDirectory("");
}
