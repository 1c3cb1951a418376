// Truncation and corruption sweeps through the load sequence: every byte
// prefix of small valid GIFs and JPEGs, and single-byte changes at every
// offset of small files, must give a whole picture or none, quickly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "image/image_record.h"
#include "image/load_picture.h"
#include "test_files.h"

using namespace morvel;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// No single load may take longer than this, sanitizers included.
constexpr auto kLoadTimeLimit = std::chrono::seconds(2);

// The small valid pictures saved as fuzz seeds.
Bytes seed(const std::string& name)
{
    return morvel::testing::readFile(fs::path(MORVEL_SOURCE_DIR) / "tests/fuzz/corpus" / name);
}

// Standard error goes nowhere while the JPEG library reports thousands of
// damaged files; it comes back when the sweep ends.
class QuietStderr {
public:
    QuietStderr()
    {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, 2);
            ::close(null);
        }
    }
    ~QuietStderr()
    {
        std::fflush(stderr);
        if (saved_ >= 0) {
            ::dup2(saved_, 2);
            ::close(saved_);
        }
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    int saved_ = -1;
};

struct LoadOutcome {
    bool picture = false;
    int32_t width = 0;
    int32_t height = 0;
    Bytes pixels;  // the picture's pixels, fill bytes left out
};

class Sweep : public ::testing::Test {
protected:
    // Loads `bytes` from a file as the programs do, checking the time bound
    // and that a picture is a whole 8-bit gray record (every pixel is read,
    // so the address sanitizer sees a short block).
    LoadOutcome load(const Bytes& bytes, const std::string& what)
    {
        morvel::testing::writeFile(path_, bytes);
        const auto start = Clock::now();
        ImageHandle image = loadPicture(path_);
        const auto took = Clock::now() - start;
        EXPECT_LT(took, kLoadTimeLimit) << what;
        LoadOutcome outcome;
        if (!image)
            return outcome;
        outcome.picture = true;
        outcome.width = image->header.biWidth;
        outcome.height = image->rowCount;
        EXPECT_EQ(image->header.biBitCount, 8) << what;
        EXPECT_GT(outcome.width, 0) << what;
        EXPECT_GT(outcome.height, 0) << what;
        EXPECT_EQ(image->header.biHeight, -outcome.height) << what;
        EXPECT_NE(image->rows, nullptr) << what;
        if (image->header.biBitCount != 8 || !image->rows)
            return outcome;
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(image->colors[i].rgbRed, i) << what;
        // Fill bytes past each row's last pixel are cleared, so the same file
        // always gives the same block.
        const int64_t pitch = recordPitch(*image);
        size_t dirtyFill = 0;
        for (int32_t y = 0; y < outcome.height; ++y) {
            outcome.pixels.insert(outcome.pixels.end(), image->rows[y], image->rows[y] + outcome.width);
            for (int64_t x = outcome.width; x < pitch; ++x)
                dirtyFill += image->rows[y][x] != 0 ? 1 : 0;
        }
        EXPECT_EQ(dirtyFill, 0u) << what;
        return outcome;
    }

    // Every prefix of `whole`: a picture, when there is one, has the full
    // picture's size (a cut-off stream still gives the whole picture); the
    // whole file gives a picture. Returns how many prefixes gave one.
    size_t sweepPrefixes(const std::string& name)
    {
        const Bytes whole = seed(name);
        EXPECT_GT(whole.size(), 16u) << name;
        QuietStderr quiet;
        const LoadOutcome full = load(whole, name);
        EXPECT_TRUE(full.picture) << name;
        size_t pictures = 0;
        for (size_t n = 0; n < whole.size(); ++n) {
            const std::string what = name + " cut to " + std::to_string(n) + " bytes";
            const LoadOutcome cut = load(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)), what);
            if (!cut.picture)
                continue;
            ++pictures;
            EXPECT_EQ(cut.width, full.width) << what;
            EXPECT_EQ(cut.height, full.height) << what;
        }
        return pictures;
    }

    // Every offset of `whole` set to each of the replacement values (and its
    // low and high bits flipped) in turn.
    void sweepCorruptions(const std::string& name, std::initializer_list<uint8_t> values)
    {
        const Bytes whole = seed(name);
        ASSERT_GT(whole.size(), 16u) << name;
        QuietStderr quiet;
        size_t pictures = 0;
        size_t loads = 0;
        for (size_t at = 0; at < whole.size(); ++at) {
            std::vector<uint8_t> replacements(values);
            replacements.push_back(static_cast<uint8_t>(whole[at] ^ 0x01));
            replacements.push_back(static_cast<uint8_t>(whole[at] ^ 0x80));
            for (uint8_t value : replacements) {
                if (value == whole[at])
                    continue;
                Bytes damaged = whole;
                damaged[at] = value;
                const LoadOutcome outcome =
                    load(damaged, name + " with byte " + std::to_string(at) + " = " + std::to_string(value));
                ++loads;
                pictures += outcome.picture ? 1 : 0;
            }
        }
        // Damage to pixel data alone leaves a picture; damage to the
        // signature leaves none: both outcomes must have occurred.
        EXPECT_GT(pictures, 0u) << name;
        EXPECT_LT(pictures, loads) << name;
    }

    morvel::testing::TempDir dir_{"morvel-sweep"};
    std::string path_ = (dir_.path() / "picture").string();
};

TEST_F(Sweep, EveryPrefixOfSmallGifsGivesTheWholePictureOrNone)
{
    for (const char* name : {"gif/g16.gif", "gif/ci.gif", "gif/r256.gif", "gif/anim2.gif"}) {
        // A GIF cut anywhere after its image's code-size byte still decodes;
        // only the header and tables before it decide "none".
        EXPECT_GT(sweepPrefixes(name), 0u) << name;
    }
}

TEST_F(Sweep, EveryPrefixOfSmallJpegsGivesTheWholePictureOrNone)
{
    for (const char* name : {"jpeg/gray.jpg", "jpeg/prog.jpg", "jpeg/arith.jpg", "jpeg/rst.jpg"}) {
        // The library completes a stream that ends after its first scan
        // header with gray, so some prefixes give pictures.
        EXPECT_GT(sweepPrefixes(name), 0u) << name;
    }
}

TEST_F(Sweep, SingleByteDamageAtEveryOffsetOfAGif)
{
    sweepCorruptions("gif/g16.gif", {0x00, 0xFF, 0x2C, 0x21, 0x3B});
    sweepCorruptions("gif/ci.gif", {0x00, 0xFF, 0x0B});
}

TEST_F(Sweep, SingleByteDamageAtEveryOffsetOfAJpeg)
{
    sweepCorruptions("jpeg/gray.jpg", {0x00, 0xFF});
    sweepCorruptions("jpeg/prog.jpg", {0xFF});
}

TEST_F(Sweep, AJpegCutBeforeItsEndMarkerMatchesTheWholeFile)
{
    // Only the end-of-image marker is missing: every row was complete.
    // (c444.jpg is 17 pixels wide: its rows have fill bytes.)
    for (const char* name : {"jpeg/gray.jpg", "jpeg/prog.jpg", "jpeg/arith.jpg", "jpeg/rst.jpg", "jpeg/c444.jpg"}) {
        const Bytes whole = seed(name);
        ASSERT_GE(whole.size(), 2u);
        ASSERT_EQ(whole[whole.size() - 2], 0xFF);
        ASSERT_EQ(whole[whole.size() - 1], 0xD9);
        QuietStderr quiet;
        const LoadOutcome full = load(whole, name);
        const LoadOutcome cut = load(Bytes(whole.begin(), whole.end() - 2), name);
        ASSERT_TRUE(full.picture && cut.picture) << name;
        EXPECT_EQ(cut.pixels, full.pixels) << name;
    }
}

}  // namespace
