#include "app/shell/placement.h"

#include <algorithm>

namespace kova::shell {
namespace {

int centredLeft(const QRect& anchor, const QRect& available, int width) {
    int left = anchor.x() + anchor.width() / 2 - width / 2;
    left = std::max(left, available.x() + screenMargin);
    // The right-hand limit wins when the panel is too wide for both.
    return std::min(left, available.x() + available.width() - width - screenMargin);
}

int top(const QRect& anchor, const QRect& available, int height) {
    const int lowest = available.y() + available.height() - screenMargin - height;
    const int highest = available.y() + screenMargin;
    const int below = anchor.y() + anchor.height() + iconGap;
    const int above = anchor.y() - iconGap - height;
    if (below <= lowest) {
        return below;
    }
    if (above >= highest) {
        return above;
    }
    // Fits on neither side: stay on the roomier side, inside the margins, top edge first.
    const bool roomBelow = available.y() + available.height() - below > anchor.y() - available.y();
    return std::max(std::min(roomBelow ? below : above, lowest), highest);
}

}  // namespace

QPoint place(const QRect& icon, const QRect& available, const QSize& panel, const QPoint& pointer) {
    const QRect anchor = icon.isEmpty() ? QRect(pointer, QSize(0, 0)) : icon;
    return QPoint(centredLeft(anchor, available, panel.width()),
                  top(anchor, available, panel.height()));
}

}  // namespace kova::shell
