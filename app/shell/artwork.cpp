#include "app/shell/artwork.h"

#include <QPainter>
#include <QPainterPath>

#include "app/shell/brand.h"

namespace kova::shell {
namespace {

// Letter geometry of the wordmark in units of the cap height: a stroke alphabet of
// straight lines and one ring, so it needs no font.
constexpr qreal strokeWidth = 0.17;
constexpr qreal letterGap = 0.26;
constexpr qreal margin = 0.12;

QPainterPath letterK() {
    QPainterPath path;
    path.moveTo(0.085, 0);
    path.lineTo(0.085, 1);
    path.moveTo(0.72, 0);
    path.lineTo(0.12, 0.6);
    path.moveTo(0.33, 0.4);
    path.lineTo(0.74, 1);
    return path;
}

QPainterPath letterV() {
    QPainterPath path;
    path.moveTo(0, 0);
    path.lineTo(0.4, 1);
    path.lineTo(0.8, 0);
    return path;
}

QPainterPath letterA() {
    QPainterPath path;
    path.moveTo(0, 1);
    path.lineTo(0.4, 0);
    path.lineTo(0.8, 1);
    path.moveTo(0.16, 0.64);
    path.lineTo(0.64, 0.64);
    return path;
}

// Strokes a letter and cuts its ends flush with the baseline and the cap line.
void strokeLetter(QPainter& painter, const QPainterPath& letter, const QColor& colour) {
    painter.save();
    painter.setClipRect(QRectF(-1, 0, 3, 1));
    painter.strokePath(letter,
                       QPen(colour, strokeWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.restore();
}

// The O echoes the glyph: a ring with the accent centre.
void drawLetterO(QPainter& painter, const QColor& colour) {
    const qreal radius = 0.5 - strokeWidth / 2;
    painter.setPen(QPen(colour, strokeWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(0.5, 0.5), radius, radius);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Brand::accent());
    painter.drawEllipse(QPointF(0.5, 0.5), 0.15, 0.15);
}

constexpr qreal widthK = 0.74;
constexpr qreal widthO = 1.0;
constexpr qreal widthV = 0.8;
constexpr qreal widthA = 0.8;

}  // namespace

QImage drawWordmark(int pixelHeight) {
    const qreal units = 2 * margin + widthK + widthO + widthV + widthA + 3 * letterGap;
    QImage image(qCeil(units * pixelHeight), qCeil((1 + 2 * margin) * pixelHeight),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixelHeight, pixelHeight);
    painter.translate(margin, margin);
    const QColor letters(0xf2, 0xf2, 0xf2);
    strokeLetter(painter, letterK(), letters);
    painter.translate(widthK + letterGap, 0);
    drawLetterO(painter, letters);
    painter.translate(widthO + letterGap, 0);
    strokeLetter(painter, letterV(), letters);
    painter.translate(widthV + letterGap, 0);
    strokeLetter(painter, letterA(), letters);
    return image;
}

QImage drawApplicationIcon(int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Brand::accent());
    const qreal corner = pixels * 0.22;
    painter.drawRoundedRect(QRectF(0, 0, pixels, pixels), corner, corner);
    // The streaming glyph spans x 0 to 18.6 and y 1 to 17 around (9.3, 9).
    const qreal scale = pixels * 0.7 / Brand::glyphWidth;
    painter.translate(pixels / 2.0 - 9.3 * scale, pixels / 2.0 + 9.0 * scale);
    painter.scale(scale, -scale);
    Brand::drawGlyph(painter, GlyphState::streaming, Qt::white);
    return image;
}

}  // namespace kova::shell
