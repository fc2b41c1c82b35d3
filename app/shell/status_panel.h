// The tray icon and the panel it opens.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "app/shell/brand.h"
#include "app/shell/panel_window.h"

namespace kova::shell {

/// Owns the tray icon and the panel; opens, closes and places the panel and keeps the
/// icon's glyph in step with the model.
class StatusPanel : public QObject {
    Q_OBJECT

  public:
    /// What the status panel asks of the model.
    struct Hooks {
        /// The glyph the icon shows now.
        std::function<GlyphState()> glyphState;
        /// Called before the panel opens (the model refreshes its list when idle).
        std::function<void()> opening;
    };

    /// A tray icon with a popup panel when `useTray`, else the panel as an ordinary window.
    StatusPanel(bool useTray, Hooks hooks);
    ~StatusPanel() override;

    /// The panel window; its content is set by the caller.
    PanelWindow& panel() { return *panel_; }
    /// True when the panel hangs off a tray icon.
    bool hasTray() const { return tray_ != nullptr; }
    /// Shows the panel (under the icon when there is a tray).
    void open();
    /// Hides the panel; nothing happens when it is hidden already.
    void close();
    /// Closes a visible panel, else opens it; the icon's click.
    void toggle();
    /// Sizes the panel to its content and moves it under the icon.
    void place();
    /// Refreshes the glyph and re-places a visible panel after a model change.
    void modelChanged();

  private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    Hooks hooks_;
    std::unique_ptr<PanelWindow> panel_;
    std::unique_ptr<QSystemTrayIcon> tray_;
};

}  // namespace kova::shell
