#include "app/shell/panel_window.h"

#include <QCloseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace kova::shell {

PanelWindow::PanelWindow(Mode mode, QWidget* parent)
    : QWidget(parent, mode == Mode::popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window),
      mode_(mode) {
    setWindowTitle(QStringLiteral("KOVA Connect"));
    if (mode_ == Mode::popup) {
        setAttribute(Qt::WA_TranslucentBackground);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window always takes the size its content asks for.
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void PanelWindow::setContent(QWidget* content) {
    if (content_) {
        // The old content may be the sender of the signal that led here.
        content_->hide();
        layout()->removeWidget(content_);
        content_->setParent(nullptr);
        content_->deleteLater();
    }
    content_ = content;
    if (content_) {
        content_->setFixedWidth(width);
        layout()->addWidget(content_);
        content_->show();
    }
    layout()->activate();
}

QSize PanelWindow::panelSize() const {
    layout()->activate();
    return QSize(width, content_ ? content_->sizeHint().height() : 0);
}

bool PanelWindow::dismissedWithin(int milliseconds) const {
    return sinceHidden_.isValid() && !sinceHidden_.hasExpired(milliseconds);
}

void PanelWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().window());
    if (mode_ == Mode::popup) {
        painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    } else {
        painter.drawRect(rect());
    }
}

void PanelWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    sinceHidden_.start();
    Q_EMIT hidden();
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (mode_ == Mode::window && event->spontaneous()) {
        Q_EMIT closedByUser();
    }
}

}  // namespace kova::shell
