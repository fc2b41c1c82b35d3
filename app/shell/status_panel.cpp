#include "app/shell/status_panel.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include "app/shell/placement.h"

namespace kova::shell {
namespace {

// A click on the icon while the popup is open first dismisses the popup (an outside click)
// and then arrives as the icon's activation; within this window it must not reopen it.
constexpr int dismissalClickMs = 300;

QRect availableAreaAround(const QPoint& point) {
    const QScreen* screen = QGuiApplication::screenAt(point);
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen ? screen->availableGeometry() : QRect();
}

}  // namespace

StatusPanel::StatusPanel(bool useTray, Hooks hooks)
    : hooks_(std::move(hooks)),
      panel_(std::make_unique<PanelWindow>(useTray ? PanelWindow::Mode::popup
                                                   : PanelWindow::Mode::window)) {
    if (!useTray) {
        return;
    }
    // The popup goes away when the application loses the focus to another one.
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationInactive) {
                    close();
                }
            });
    tray_ = std::make_unique<QSystemTrayIcon>(Brand::glyph(hooks_.glyphState()));
    tray_->setToolTip(QStringLiteral("KOVA Connect"));
    connect(tray_.get(), &QSystemTrayIcon::activated, this, &StatusPanel::onActivated);
    tray_->show();
}

StatusPanel::~StatusPanel() = default;

void StatusPanel::open() {
    if (hooks_.opening) {
        hooks_.opening();
    }
    place();
    panel_->show();
    panel_->raise();
    panel_->activateWindow();
}

void StatusPanel::close() {
    if (panel_->isVisible()) {
        panel_->hide();
    }
}

void StatusPanel::toggle() {
    if (panel_->isVisible()) {
        close();
    } else if (!panel_->dismissedWithin(dismissalClickMs)) {
        open();
    }
}

void StatusPanel::place() {
    const QSize size = panel_->panelSize();
    if (!tray_) {
        panel_->resize(size);
        return;
    }
    const QRect icon = tray_->geometry();
    const QPoint pointer = QCursor::pos();
    const QRect available = availableAreaAround(icon.isEmpty() ? pointer : icon.center());
    panel_->move(kova::shell::place(icon, available, size, pointer));
}

void StatusPanel::modelChanged() {
    if (tray_) {
        tray_->setIcon(Brand::glyph(hooks_.glyphState()));
    }
    if (panel_->isVisible()) {
        place();
    }
}

void StatusPanel::onActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) {
        toggle();
    }
}

}  // namespace kova::shell
