#include "app/shell/toggle_switch.h"

#include <QPainter>

#include "app/shell/brand.h"

namespace kova::shell {
namespace {

// The small control size: a 26 × 15 track.
constexpr int trackWidth = 26;
constexpr int trackHeight = 15;
constexpr int knobInset = 2;
constexpr int labelGap = 8;

}  // namespace

ToggleSwitch::ToggleSwitch(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
}

QSize ToggleSwitch::sizeHint() const {
    const QFontMetrics metrics = fontMetrics();
    return QSize(trackWidth + labelGap + metrics.horizontalAdvance(text()) + 2,
                 std::max(trackHeight, metrics.height()) + 2);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(0.5, (height() - trackHeight) / 2.0, trackWidth, trackHeight);
    const QColor off = palette().color(QPalette::Mid).lighter(160);
    QColor fill = isChecked() ? Brand::accent() : off;
    if (!isEnabled()) {
        fill.setAlphaF(0.4f);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, trackHeight / 2.0, trackHeight / 2.0);
    const qreal knob = trackHeight - 2 * knobInset;
    const qreal knobLeft =
        isChecked() ? track.right() - knobInset - knob : track.left() + knobInset;
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(knobLeft, track.top() + knobInset, knob, knob));
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(QRect(trackWidth + labelGap, 0, width() - trackWidth - labelGap, height()),
                     Qt::AlignVCenter | Qt::AlignLeft, text());
    if (hasFocus()) {
        painter.setPen(QPen(Brand::accent(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), trackHeight / 2.0 + 1,
                                trackHeight / 2.0 + 1);
    }
}

}  // namespace kova::shell
