// The application's visual constants and the tray glyph.
#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>

class QPainter;

namespace kova::shell {

/// The three looks of the tray glyph.
enum class GlyphState { idle, streaming, error };

/// Process-wide brand constants and the glyph drawing; no instances.
class Brand {
  public:
    Brand() = delete;

    /// The accent colour (sRGB 0.93, 0.33, 0.2).
    static QColor accent();
    /// The project's version from the build, "dev" when the build gave none.
    static QString version();
    /// True for a "0." version or one that does not start with a digit.
    static bool isBeta();
    /// The beta rule applied to any version text.
    static bool isBeta(const QString& version);
    /// The shipped wordmark image; a null pixmap when the resource is missing.
    static QPixmap wordmark();
    /// Loads a wordmark from `path`; a null pixmap when missing or unreadable.
    static QPixmap loadWordmark(const QString& path);

    /// Logical size of the glyph in points.
    static constexpr int glyphWidth = 20;
    static constexpr int glyphHeight = 18;
    /// The glyph for `state` at `devicePixelRatio`, drawn in `colour` on transparency.
    static QImage glyph(GlyphState state, qreal devicePixelRatio, const QColor& colour);
    /// Draws the glyph in glyph coordinates (origin bottom left, y upwards) on `painter`.
    static void drawGlyph(QPainter& painter, GlyphState state, const QColor& colour);
    /// The tray icon for `state` at the screen's ratios, in the tray's foreground colour.
    static QIcon glyph(GlyphState state);
    /// The colour the tray glyph is drawn in: Linux trays do not tint icons.
    static QColor trayForeground();
    /// The application's icon: the streaming glyph on an accent tile.
    static QIcon applicationIcon();
};

}  // namespace kova::shell
