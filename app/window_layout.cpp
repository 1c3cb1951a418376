#include "app/window_layout.h"

namespace morvel {

int atlasPaneWidth(int maxGlyphWidth)
{
    const int width = 2 * maxGlyphWidth + 25;
    return width <= 32 ? 32 : width;
}

WindowLayout computeLayout(const LayoutInput& in)
{
    WindowLayout out;
    const int bottom = in.client.height() - in.statusHeight;  // usable bottom
    const int paneWidth = atlasPaneWidth(in.maxGlyphWidth);
    out.atlasPane = QRect(5, 5, paneWidth, bottom - 5);

    const int left = paneWidth + 15;
    const int top = in.toolbar.height();
    const int right = in.client.width() - 5;
    out.splitterArea = QRect(left, top, right - left, bottom - top);
    out.minLeft = left + 3;
    out.toolbar = QRect(left, 0, in.toolbar.width(), in.toolbar.height());
    out.slider = QRect(left + in.toolbar.width() + 16, in.toolbar.height() - 20, 100, 20);
    return out;
}

QRect windowRectForWorkArea(const QRect& workArea)
{
    const int left = workArea.x() + 32;
    const int top = workArea.y() + 32;
    const int right = workArea.x() + workArea.width() - 32;
    const int bottom = (workArea.y() + workArea.height() - 32) * 8 / 10;
    return QRect(left, top, right - left, bottom - top);
}

}  // namespace morvel
