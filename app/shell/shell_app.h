// The running application: the controller model on its Linux ports, the panel and the icon.
#pragma once

#include <QObject>
#include <memory>

#include "app/model/connect_model.h"
#include "app/shell/panel_view.h"
#include "app/shell/ports/qt_main_queue.h"
#include "app/shell/status_panel.h"

namespace kova::shell {

/// The tray glyph for the model's state.
GlyphState glyphFor(kova::GlyphState state);

/// Creates the model on `ports`, the panel showing it and (with `useTray`) the tray icon,
/// and keeps the icon and the panel's place in step with the model.
class ShellApp : public QObject {
    Q_OBJECT

  public:
    /// Builds everything; the model runs its start-up work here.
    ShellApp(ConnectPorts ports, bool useTray);
    ~ShellApp() override;

    /// The controller model.
    ConnectModel& model() { return *model_; }
    /// The tray icon and the panel window.
    StatusPanel& statusPanel() { return *statusPanel_; }
    /// The panel's content.
    PanelView& view() { return *view_; }

  private:
    std::shared_ptr<ConnectModel> model_;
    std::unique_ptr<StatusPanel> statusPanel_;
    PanelView* view_ = nullptr;
};

}  // namespace kova::shell
