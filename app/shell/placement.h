// Where the panel goes on the screen, as a pure function of the geometry involved.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace kova::shell {

/// Distance kept between the panel and the screen's available edges, in points.
constexpr int screenMargin = 8;
/// Gap between the tray icon and the panel, in points.
constexpr int iconGap = 4;

/// Top-left corner of a panel of `panel` size for a tray icon at `icon` on a screen whose
/// available area is `available`: centred under the icon, above it when it does not fit
/// below; an empty `icon` (no tray geometry) places the panel at `pointer` instead.
QPoint place(const QRect& icon, const QRect& available, const QSize& panel, const QPoint& pointer);

}  // namespace kova::shell
