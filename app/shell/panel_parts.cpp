#include "app/shell/panel_parts.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/shell/panel_texts.h"

namespace kova::shell {
namespace {

constexpr int dotSize = 8;
constexpr int dotDrop = 3;  // the dot sits a little below the header's top
constexpr int wordmarkHeight = 13;
constexpr int stateTextMaxWidth = 190;
const QString footerHint = QStringLiteral("Choose KOVA as the output of your DAW or desktop.");

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& colour) {
    auto* label = new QLabel(text);
    label->setFont(font);
    setTextColour(*label, colour);
    return label;
}

QFont spacedFont(qreal pixels, qreal spacing) {
    QFont font = panelFont(pixels, QFont::Light);
    font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

QWidget* makeWordmark(const QPixmap& wordmark) {
    if (wordmark.isNull()) {
        auto* text = makeLabel(QStringLiteral("KOVA"), panelFont(13, QFont::Bold),
                               QApplication::palette().color(QPalette::WindowText));
        text->setObjectName(part::wordmark);
        return text;
    }
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap scaled =
        wordmark.scaledToHeight(qRound(wordmarkHeight * ratio), Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(ratio);
    auto* image = new QLabel;
    image->setPixmap(scaled);
    image->setAccessibleName(QStringLiteral("KOVA"));
    image->setObjectName(part::wordmark);
    return image;
}

QWidget* makeMarks(const QPixmap& wordmark) {
    auto* marks = new QWidget;
    auto* column = new QVBoxLayout(marks);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* line = new QHBoxLayout;
    line->setSpacing(7);
    line->addWidget(makeWordmark(wordmark), 0, Qt::AlignBottom);
    line->addWidget(makeLabel(QStringLiteral("CONNECT"), spacedFont(9.5, 2.4), secondaryColor()), 0,
                    Qt::AlignBottom);
    column->addLayout(line);
    column->addWidget(makeLabel(QStringLiteral("QUILLOMAR"), spacedFont(7, 1.5), tertiaryColor()));
    return marks;
}

}  // namespace

StateDot::StateDot(const QColor& colour, QWidget* parent) : QWidget(parent), colour_(colour) {
    setFixedSize(dotSize, dotDrop + dotSize);
}

void StateDot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour_);
    painter.drawEllipse(QRectF(0, dotDrop, dotSize, dotSize));
}

QFont panelFont(qreal pixels, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(qRound(pixels));
    font.setWeight(weight);
    return font;
}

void setTextColour(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget.setPalette(palette);
}

QWidget* makeHeader(const QPixmap& wordmark, const QColor& dotColour, const QString& stateText) {
    auto* header = new QWidget;
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(makeMarks(wordmark), 0, Qt::AlignTop);
    row->addStretch(1);
    auto* dot = new StateDot(dotColour);
    dot->setObjectName(part::stateDot);
    row->addWidget(dot, 0, Qt::AlignTop);
    auto* state = makeLabel(stateText, panelFont(10), secondaryColor());
    state->setObjectName(part::stateText);
    state->setAlignment(Qt::AlignRight | Qt::AlignTop);
    state->setWordWrap(true);
    // Short texts stay on one line; long ones wrap within the header's right part.
    state->setMinimumWidth(
        std::min(state->fontMetrics().horizontalAdvance(stateText), stateTextMaxWidth));
    state->setMaximumWidth(stateTextMaxWidth);
    row->addWidget(state, 0, Qt::AlignTop);
    return header;
}

QWidget* makeFooter(const QString& version) {
    auto* footer = new QWidget;
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);
    auto* hint = makeLabel(footerHint, panelFont(10), secondaryColor());
    hint->setWordWrap(true);
    row->addWidget(hint, 1, Qt::AlignVCenter);
    auto* versionLabel = makeLabel(versionText(version), panelFont(10), tertiaryColor());
    versionLabel->setObjectName(part::version);
    row->addWidget(versionLabel, 0, Qt::AlignVCenter);
    auto* quit = new QToolButton;
    quit->setText(QStringLiteral("Quit"));
    quit->setObjectName(part::quit);
    quit->setAutoRaise(true);
    quit->setFont(panelFont(11));
    QObject::connect(quit, &QToolButton::clicked, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    row->addWidget(quit, 0, Qt::AlignVCenter);
    return footer;
}

QWidget* makeDivider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    setTextColour(*line, QColor(0x48, 0x48, 0x4d));
    return line;
}

}  // namespace kova::shell
