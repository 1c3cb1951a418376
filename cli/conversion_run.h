// One run of the converter: the options, what the terminal answered, the
// engine, the pictures loading ahead and the output file, taken through its
// steps one method each. Every picture and frame is made into text by the
// engine's one call (TextEngine::makeTextImage), coloured from the cells
// it gives, and written in the form asked (text, colour codes, a page, a
// picture of the text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "cli/animation.h"
#include "cli/cell_colours.h"
#include "cli/colour_text.h"
#include "cli/engine_setup.h"
#include "cli/fill_colours.h"
#include "cli/html_page.h"
#include "cli/load_ahead.h"
#include "cli/options.h"
#include "cli/text_size.h"
#include "engine/glyph_atlas.h"
#include "engine/text_engine.h"
#include "engine/text_image.h"
#include "image/load_picture.h"
#include "platform/output_file.h"

namespace morvel::cli {

// The colours of a text image's cells: each character's, and with --fill
// each cell's ground (else none).
struct CellColours {
    std::vector<Rgb> inks;
    std::vector<Rgb> grounds;
};

class ConversionRun {
public:
    explicit ConversionRun(Options options);
    // Waits for the engine's preparation and the loads still in flight.
    ~ConversionRun();
    ConversionRun(const ConversionRun&) = delete;
    ConversionRun& operator=(const ConversionRun&) = delete;

    // The whole run; returns the exit status.
    int run();

private:
    // The terminal the text goes to, if it goes to one, asked what the
    // options leave open; the background and the text's size rule settled.
    void askTerminal();
    // The engine prepared on a second thread while the first pictures load
    // on threads of their own.
    void startEngineAndLoads();
    // Waits for the engine, builds what every picture shares and opens the
    // output. The exit status when the run ends here.
    std::optional<int> prepare();
    // The picture named at `index` (or its frames) made into text and
    // written.
    void convertPicture(size_t index);
    // The finished text of one loaded picture or frame: its lines, colour
    // codes or page included. None when it could not be made (reported).
    std::optional<std::string> textOf(LoadResult& loaded, const std::optional<ColumnFit>& loaderFit,
                                      const std::string& path, size_t index);
    // The engine's text image of a loaded picture, the gray picture saved
    // first when asked. None when it could not be made (reported).
    std::optional<TextImage> textImageOf(LoadResult& loaded, const std::optional<ColumnFit>& loaderFit,
                                         const std::string& path, const std::string& displayName, size_t index);
    // The colours of `image`'s cells from the picture's colour, which is
    // then let go of, as are the cells.
    CellColours colour(TextImage& image, LoadResult& loaded) const;
    // `image` in the form asked: a picture of the text, a page's part,
    // colour codes, or the plain lines.
    std::optional<std::string> shownText(TextImage& image, const CellColours& colours, const std::string& path,
                                         const std::string& displayName);
    // The frames of an animation, played or as text.
    void playFrames(const Animation& frames, const std::string& path, size_t index);
    std::optional<std::string> framesTextOf(const Animation& frames, const std::string& path, size_t index);
    // Appends one picture's text to the output.
    void write(std::string text);
    // Ends the page, keeps or drops the output; the exit status.
    int finish();

    Options o_;
    bool toStandardOutput_ = true;
    std::optional<TerminalSize> terminal_;
    RgbColour ground_;
    SizeRule size_;
    ColourMode colourMode_ = ColourMode::None;
    bool colour_ = false;
    bool play_ = false;       // animations are played on the terminal
    bool takeApart_ = false;  // animations give their frames

    TextEngine engine_;
    TextSettings settings_;
    std::promise<GlyphCell> cellPromise_;
    std::shared_future<GlyphCell> cell_;
    GlyphInk glyphInk_;                      // where the glyphs put ink, for --fill
    std::optional<BuiltAtlas> plainGlyphs_;  // unblurred, for a picture of the text
    AtlasView plainView_;
    HtmlStyle htmlStyle_;

    // The fit each picture's loader chose, read once the picture is taken.
    std::vector<std::optional<ColumnFit>> loaderFits_;
    std::optional<LoadAhead> loads_;
    std::future<bool> prepared_;  // the engine's preparation; touches the engine until done

    OutputFile out_;
    std::string outputName_;
    std::string writeError_;
    bool anyFailed_ = false;
    bool writeFailed_ = false;
    int converted_ = 0;
    bool pageStarted_ = false;
};

}  // namespace morvel::cli
