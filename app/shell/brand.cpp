#include "app/shell/brand.h"

#include "app/shell/artwork.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#ifndef KOVA_VERSION
#define KOVA_VERSION ""
#endif

namespace kova::shell {
namespace {

// The glyph is laid out with the origin at the bottom left and y upwards, all shapes
// centred on (8, 9); these are its rectangles and strokes in that system.
const QRectF outerRing(0.7, 1.7, 14.6, 14.6);
const QRectF middleRing(3.1, 4.1, 9.8, 9.8);
const QRectF centreDisc(5.4, 6.4, 5.2, 5.2);
const QPointF glyphCentre(8.0, 9.0);
constexpr qreal arcRadius = 10.6;
constexpr qreal arcHalfAngle = 32.0;

QPen strokeOf(const QColor& colour, qreal width, Qt::PenCapStyle cap = Qt::FlatCap) {
    return QPen(colour, width, Qt::SolidLine, cap, Qt::MiterJoin);
}

void drawStreamingArc(QPainter& painter, const QColor& colour) {
    const QRectF bounds(glyphCentre.x() - arcRadius, glyphCentre.y() - arcRadius, 2 * arcRadius,
                        2 * arcRadius);
    QPainterPath arc;
    arc.arcMoveTo(bounds, -arcHalfAngle);
    arc.arcTo(bounds, -arcHalfAngle, 2 * arcHalfAngle);
    painter.strokePath(arc, strokeOf(colour, 1.3, Qt::RoundCap));
}

// Draws in glyph coordinates; the painter's transform maps them to the target.
void paintGlyph(QPainter& painter, GlyphState state, const QColor& colour) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(strokeOf(colour, 1.4));
    painter.drawEllipse(outerRing);
    painter.setPen(strokeOf(colour, 1.0));
    painter.drawEllipse(middleRing);
    if (state == GlyphState::streaming) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(centreDisc);
        drawStreamingArc(painter, colour);
        return;
    }
    painter.drawEllipse(centreDisc);
    if (state == GlyphState::error) {
        painter.setPen(strokeOf(colour, 1.4));
        painter.drawLine(QPointF(2.2, 15.8), QPointF(13.8, 2.2));
    }
}

// Flips the painter so that glyph coordinates (y upwards) land in an area `height` high.
void useGlyphCoordinates(QPainter& painter, qreal height) {
    painter.translate(0, height);
    painter.scale(1, -1);
}

}  // namespace

QColor Brand::accent() {
    return QColor::fromRgbF(0.93f, 0.33f, 0.2f, 1.0f);
}

QString Brand::version() {
    static const QString value = QStringLiteral(KOVA_VERSION).isEmpty()
                                     ? QStringLiteral("dev")
                                     : QStringLiteral(KOVA_VERSION);
    return value;
}

bool Brand::isBeta() {
    return isBeta(version());
}

bool Brand::isBeta(const QString& version) {
    return version.startsWith(QStringLiteral("0.")) || version.isEmpty() ||
           !version.front().isDigit();
}

QPixmap Brand::wordmark() {
    static const QPixmap image = loadWordmark(QStringLiteral(":/brand/wordmark.png"));
    return image;
}

QPixmap Brand::loadWordmark(const QString& path) {
    return QPixmap(path);
}

QImage Brand::glyph(GlyphState state, qreal devicePixelRatio, const QColor& colour) {
    QImage image(qCeil(glyphWidth * devicePixelRatio), qCeil(glyphHeight * devicePixelRatio),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    useGlyphCoordinates(painter, glyphHeight);
    paintGlyph(painter, state, colour);
    return image;
}

QIcon Brand::glyph(GlyphState state) {
    QIcon icon;
    qreal screenRatio = 1.0;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        screenRatio = screen->devicePixelRatio();
    }
    for (qreal ratio : {1.0, 2.0, screenRatio}) {
        icon.addPixmap(QPixmap::fromImage(glyph(state, ratio, trayForeground())));
    }
    return icon;
}

QColor Brand::trayForeground() {
    return QColor(0xf2, 0xf2, 0xf2);
}

void Brand::drawGlyph(QPainter& painter, GlyphState state, const QColor& colour) {
    paintGlyph(painter, state, colour);
}

QIcon Brand::applicationIcon() {
    QIcon icon;
    for (int pixels : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(QPixmap::fromImage(drawApplicationIcon(pixels)));
    }
    return icon;
}

}  // namespace kova::shell
