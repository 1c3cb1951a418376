// morvel-text: prints the text image of each picture named on the command
// line, made as the window's Generate command makes it.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/output.h"
#include "engine/generator.h"
#include "engine/text_engine.h"
#include "image/load_picture.h"
#include "platform/font.h"

namespace {

using morvel::cli::Options;

void complain(const std::string& message)
{
    std::fprintf(stderr, "morvel-text: %s\n", message.c_str());
}

// Font, atlas, blurs and black-level range, once for every picture:
// generation reads the atlas and never changes it.
bool prepareEngine(morvel::TextEngine& engine, const Options& o)
{
    if (!engine.setDefaultFont(o.face, o.points, o.weight, o.italic) || engine.font() == nullptr) {
        complain("no usable font for \"" + o.face + "\" at " + std::to_string(o.points) + " points");
        return false;
    }
    const morvel::Font& font = *engine.font();
    if (font.isSubstitute()) {
        complain("font \"" + o.face + "\" is not installed; using \"" + font.faceUsed() + "\"");
    }
    engine.buildGlyphAtlas();
    if (engine.glyphAtlas() == nullptr) {
        complain("cannot build the glyph atlas for \"" + font.faceUsed() + "\" at " + std::to_string(o.points) +
                 " points");
        return false;
    }
    for (int32_t i = 0; i < o.blur; ++i) {
        engine.blurFont();
    }
    engine.updateBlackLevelRange();
    engine.setMatchMode(o.match);
    return true;
}

// Loads the picture, saves it as gray when asked, and makes the working
// image at the black level. Returns false when the picture cannot be
// converted (already reported).
bool preparePicture(morvel::TextEngine& engine, const Options& o, const std::string& path, int index,
                    int32_t blackLevel, bool& saveFailed)
{
    morvel::ImageHandle picture = morvel::loadPicture(path);
    if (!picture) {
        complain("cannot read picture: " + path);
        return false;
    }
    if (!o.saveGray.empty()) {
        const std::string grayPath = morvel::cli::expandIndex(o.saveGray, index);
        std::string error;
        if (!morvel::cli::writePgm(grayPath, *picture, error)) {
            complain("cannot write " + grayPath + ": " + error);
            saveFailed = true;
        }
    }
    engine.setSourceImage(std::move(picture));
    engine.applyBlackLevel(blackLevel);
    if (engine.workingImage() == nullptr) {
        complain("out of memory converting picture: " + path);
        return false;
    }
    engine.setDisplayName(morvel::displayNameOf(path));
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    morvel::cli::ParseResult parsed = morvel::cli::parseOptions(argc, argv);
    if (!parsed.options) {
        return parsed.exitStatus;
    }
    const Options& o = *parsed.options;

    morvel::TextEngine engine(nullptr, o.dpi);
    if (!prepareEngine(engine, o)) {
        return 1;
    }
    const int32_t blackLevel = o.blackLevelMax ? engine.blackLevelRange() : o.blackLevel;

    std::unique_ptr<morvel::cli::AtomicFile> file;
    std::FILE* out = stdout;
    if (!o.output.empty()) {
        file = std::make_unique<morvel::cli::AtomicFile>(o.output);
        if (!file->isOpen()) {
            complain("cannot write " + o.output + ": " + file->error());
            return 1;
        }
        out = file->stream();
    }

    bool anyFailed = false;
    bool writeFailed = false;
    int writeError = 0;
    int converted = 0;
    for (size_t i = 0; i < o.pictures.size() && !writeFailed; ++i) {
        const std::string& path = o.pictures[i];
        bool saveFailed = false;
        const bool ok = preparePicture(engine, o, path, static_cast<int>(i) + 1, blackLevel, saveFailed);
        anyFailed = anyFailed || !ok || saveFailed;
        if (!ok) {
            continue;
        }
        // An empty line between the texts of consecutive pictures.
        if (converted > 0 && !morvel::cli::writeText(out, "\r\n", o.crlf)) {
            writeError = errno;
            writeFailed = true;
            break;
        }
        ++converted;
        bool written;
        if (o.footer) {
            engine.generateTextImage(blackLevel);
            written = morvel::cli::writeText(out, engine.outputText(), o.crlf);
        } else {
            // The engine's walk, without the footer.
            const morvel::GeneratedText lines =
                morvel::generateText(*engine.workingImage(), engine.atlasView(), o.match, nullptr);
            written = morvel::cli::writeText(out, lines.text, o.crlf);
        }
        if (!written) {
            writeError = errno;
            writeFailed = true;
        }
    }

    if (file) {
        if (writeFailed) {
            complain("cannot write " + o.output + ": " + std::strerror(writeError));
            file->discard();
            return 1;
        }
        if (converted == 0) {
            // Nothing to put in it: the file is left as it was.
            file->discard();
            return 1;
        }
        if (!file->commit()) {
            complain("cannot write " + o.output + ": " + file->error());
            return 1;
        }
    } else {
        if (!writeFailed && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
            writeError = errno;
            writeFailed = true;
        }
        if (writeFailed) {
            complain(std::string("cannot write to standard output: ") + std::strerror(writeError));
            return 1;
        }
    }
    return anyFailed ? 1 : 0;
}
