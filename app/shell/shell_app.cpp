#include "app/shell/shell_app.h"

#include <QCoreApplication>

namespace kova::shell {

GlyphState glyphFor(kova::GlyphState state) {
    switch (state) {
        case kova::GlyphState::streaming:
            return GlyphState::streaming;
        case kova::GlyphState::error:
            return GlyphState::error;
        case kova::GlyphState::idle:
            break;
    }
    return GlyphState::idle;
}

ShellApp::ShellApp(ConnectPorts ports, bool useTray)
    : model_(ConnectModel::create(std::move(ports))) {
    const std::weak_ptr<ConnectModel> model = model_;
    StatusPanel::Hooks hooks{
        [model] {
            const auto alive = model.lock();
            return alive ? glyphFor(alive->glyphState()) : GlyphState::idle;
        },
        // Opening while idle lists the phones afresh, so the picker is current.
        [model] {
            const auto alive = model.lock();
            if (alive && alive->phase() == Phase::idle) {
                alive->refresh();
            }
        }};
    statusPanel_ = std::make_unique<StatusPanel>(useTray, std::move(hooks));
    view_ = new PanelView(model_, Brand::wordmark(), Brand::version());
    statusPanel_->panel().setContent(view_);
    connect(view_, &PanelView::rebuilt, statusPanel_.get(), &StatusPanel::modelChanged);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { model_->willTerminate(); });
}

ShellApp::~ShellApp() {
    // The view watches the model: it goes first, with the panel.
    statusPanel_.reset();
}

}  // namespace kova::shell
