// The arithmetic that places the main window's children and sizes the window
// itself, kept free of widgets so it can be checked on its own. Rectangles
// follow the classic convention: right = x + width and bottom = y + height
// (exclusive), never QRect::right()/bottom().
#pragma once

#include <QRect>
#include <QSize>

namespace morvel {

struct LayoutInput {
    QSize client;            // the main window's client area
    QSize toolbar;           // the toolbar's own size (tw x th)
    int statusHeight = 0;    // height of the status bar docked at the bottom
    int maxGlyphWidth = -1;  // -1 before the first atlas
};

struct WindowLayout {
    QRect atlasPane;     // skinny pane at the far left, down to the status bar
    QRect splitterArea;  // shared by the image pane, the bar and the text box
    int minLeft = 0;     // the splitter's left limit for a drag
    QRect toolbar;       // at the area's left edge, top of the window
    QRect slider;        // 16 px right of the toolbar, bottom-aligned with it
};

// Width of the atlas pane for a max glyph width: 2 x width + 25, never 32 or
// less (then 32).
int atlasPaneWidth(int maxGlyphWidth);

WindowLayout computeLayout(const LayoutInput& in);

// The main window's rectangle for a screen work area: 32 pixels in on every
// side, then the bottom coordinate (not the height) scaled by 8/10.
QRect windowRectForWorkArea(const QRect& workArea);

}  // namespace morvel
