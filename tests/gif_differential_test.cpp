// Decodes GIFs made at test time by ImageMagick and gifsicle and compares the
// first image with what giflib reads from the same file.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image/gif_decoder.h"
#include "image/gif_frames.h"
#include "image/webp_frames.h"
#include "test_files.h"

using namespace morvel;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using morvel::testing::readFile;
using morvel::testing::TempDir;
using morvel::testing::writeFile;

bool haveTool(const char* name)
{
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command in `dir`; true when it succeeded.
bool run(const fs::path& dir, const std::string& command)
{
    const std::string line = "cd '" + dir.string() + "' && " + command + " >/dev/null 2>&1";
    return std::system(line.c_str()) == 0;
}

// Moves the global colour table of a one-table file into its first image
// descriptor and leaves the screen claiming 2 colours without a table: the
// layout of files that carry local tables only.
bool moveGlobalTableToFirstImage(const Bytes& in, Bytes& out)
{
    if (in.size() < 13 || !(in[10] & 0x80))
        return false;
    const int sizeField = in[10] & 7;
    const size_t tableBytes = static_cast<size_t>(3) << (sizeField + 1);
    if (in.size() < 13 + tableBytes)
        return false;
    const Bytes table(in.begin() + 13, in.begin() + 13 + static_cast<long>(tableBytes));
    out.assign(in.begin(), in.begin() + 13);
    out[10] = 0x00;
    size_t at = 13 + tableBytes;
    // Copy extensions up to the first image descriptor.
    while (at + 1 < in.size() && in[at] == 0x21) {
        size_t next = at + 2;
        while (next < in.size() && in[next] != 0)
            next += in[next] + 1u;
        ++next;
        if (next > in.size())
            return false;
        out.insert(out.end(), in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(next));
        at = next;
    }
    if (at + 10 > in.size() || in[at] != 0x2C || (in[at + 9] & 0x80))
        return false;
    out.insert(out.end(), in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + 10));
    out.back() = static_cast<uint8_t>((out.back() & 0x40) | 0x80 | sizeField);
    out.insert(out.end(), table.begin(), table.end());
    out.insert(out.end(), in.begin() + static_cast<long>(at + 10), in.end());
    return true;
}

// Compares the first image of `path` as this decoder and giflib read it:
// size, index bytes within the width, and the colour table the image uses.
void expectSameAsGiflib(const fs::path& path)
{
    SCOPED_TRACE(path.filename().string());
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    ASSERT_NE(gif, nullptr) << "giflib cannot open the file";
    ASSERT_EQ(DGifSlurp(gif), GIF_OK) << "giflib cannot read the file";
    ASSERT_GE(gif->ImageCount, 1);
    const SavedImage& frame = gif->SavedImages[0];
    const int width = frame.ImageDesc.Width;
    const int height = frame.ImageDesc.Height;
    const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;

    ImageHandle image = readGifFile(path.string());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->header.biWidth, width);
    EXPECT_EQ(image->rowCount, height);
    EXPECT_EQ(image->header.biHeight, -height);
    if (image->header.biWidth == width && image->rowCount == height) {
        int differing = 0;
        for (int y = 0; y < height; ++y) {
            const uint8_t* ours = image->rows[y];
            const uint8_t* theirs = frame.RasterBits + static_cast<size_t>(y) * static_cast<size_t>(width);
            for (int x = 0; x < width; ++x)
                differing += ours[x] != theirs[x];
        }
        EXPECT_EQ(differing, 0) << "pixels differing from giflib";
    }
    if (map) {
        for (int i = 0; i < map->ColorCount && i < 256; ++i) {
            const GifColorType& c = map->Colors[i];
            const RgbQuad& q = image->colors[i];
            EXPECT_TRUE(q.rgbRed == c.Red && q.rgbGreen == c.Green && q.rgbBlue == c.Blue) << "colour " << i;
        }
    }
    DGifCloseFile(gif, &error);
}

class GifDifferential : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!haveTool("convert") || !haveTool("gifsicle"))
            return;
        dir_ = new TempDir("morvel-gifdiff");
        const fs::path& d = dir_->path();
        // A few pictures from ImageMagick; the rest are gifsicle's rewrites.
        made_ = run(d, "convert -seed 5 -size 300x200 plasma:fractal -colors 256 plasma256.gif") &&
                run(d, "convert -size 61x37 gradient:black-white -monochrome gray2.gif") &&
                run(d, "convert -comment 'made for a test' -seed 6 -size 83x41 plasma:fractal -colors 16 "
                       "-interlace GIF interlaced16.gif") &&
                run(d, "convert -seed 8 -size 40x30 plasma:fractal plasma:fractal gradient:blue-yellow "
                       "-colors 32 -loop 0 frames.gif");
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override
    {
        if (!dir_)
            GTEST_SKIP() << "convert or gifsicle is not installed";
        ASSERT_TRUE(made_) << "ImageMagick could not make the test pictures";
    }
    static fs::path at(const char* name) { return dir_->path() / name; }

    static TempDir* dir_;
    static bool made_;
};

TempDir* GifDifferential::dir_ = nullptr;
bool GifDifferential::made_ = false;

TEST_F(GifDifferential, ImageMagickPictures)
{
    for (const char* name : {"plasma256.gif", "gray2.gif", "interlaced16.gif", "frames.gif"})
        expectSameAsGiflib(at(name));
}

TEST_F(GifDifferential, GifsicleRewrites)
{
    const fs::path& d = dir_->path();
    const std::vector<std::pair<const char*, std::string>> rewrites = {
        {"colors2.gif", "gifsicle --colors 2 plasma256.gif"},
        {"colors16.gif", "gifsicle --colors 16 plasma256.gif"},
        {"interlaced256.gif", "gifsicle --interlace plasma256.gif"},
        {"lossy.gif", "gifsicle --lossy=80 plasma256.gif"},
        {"careful.gif", "gifsicle --careful --interlace frames.gif"},
        {"optimized.gif", "gifsicle -O3 frames.gif"},
        {"cropped.gif", "gifsicle --crop 17,9+101x67 plasma256.gif"},
        {"extensions.gif",
         "gifsicle --comment 'first comment' --app-extension MORVELAP 'some data' --extension 254 'raw comment'"
         " --loopcount=3 --delay 7 --transparent '#000000' interlaced16.gif"},
        {"merged.gif", "gifsicle gray2.gif plasma256.gif interlaced16.gif"},
        {"pixel.gif", "gifsicle --resize 1x1 plasma256.gif"},
        {"column.gif", "gifsicle --resize 1x45 plasma256.gif"},
        {"row.gif", "gifsicle --resize 53x1 interlaced16.gif"},
        {"odd.gif", "gifsicle --resize 3x5 --interlace plasma256.gif"},
        {"wide.gif", "gifsicle --resize 613x7 gray2.gif"},
    };
    for (const auto& [name, command] : rewrites) {
        ASSERT_TRUE(run(d, command + " -o " + name)) << command;
        expectSameAsGiflib(d / name);
    }
}

TEST_F(GifDifferential, LocalTablesOnly)
{
    for (const char* name : {"plasma256.gif", "gray2.gif", "interlaced16.gif"}) {
        Bytes moved;
        ASSERT_TRUE(moveGlobalTableToFirstImage(readFile(at(name)), moved)) << name;
        const fs::path target = dir_->path() / (std::string("local-") + name);
        writeFile(target, moved);
        expectSameAsGiflib(target);
    }
}

// Every frame of a few animated GIFs, one per disposal method (transparency
// and local tables among them), and of an animated WebP, composed as Pillow
// composes it, both laid over white.
TEST(GifFrames, ComposedAsPillowComposes)
{
    if (std::system("/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-pil is not installed";
    TempDir dir("morvel-frames");
    ASSERT_TRUE(run(dir.path(), std::string("/usr/bin/python3 ") + MORVEL_TEST_DATA + "/gif_frames_cases.py ."));
    for (const char* name :
         {"dispose0.gif", "dispose1.gif", "dispose2.gif", "dispose3.gif", "restore.gif", "blend.webp"}) {
        const Bytes gif = readFile(dir.path() / name);
        int frames = 0;
        const auto compare = [&](AnimationFrame& frame) {
            frames = frame.index;
            const Bytes pillow =
                readFile(dir.path() / (std::string(name) + "." + std::to_string(frame.index) + ".rgb"));
            const ImageRecord& colour = *frame.picture.colour;
            Bytes ours;
            for (int32_t y = 0; y < colour.rowCount; ++y)
                ours.insert(ours.end(), colour.rows[y], colour.rows[y] + 3 * colour.header.biWidth);
            EXPECT_EQ(ours, pillow) << name << " frame " << frame.index;
            return true;
        };
        LoadOptions options;
        options.colour = true;
        const bool webp = std::string(name) == "blend.webp";
        ASSERT_TRUE(webp ? forEachWebpFrame(gif.data(), gif.size(), options, compare)
                         : forEachGifFrame(gif.data(), gif.size(), options, compare))
            << name;
        EXPECT_EQ(frames, webp ? 3 : std::string(name) == "restore.gif" ? 5 : 4) << name;
    }
}

}  // namespace
