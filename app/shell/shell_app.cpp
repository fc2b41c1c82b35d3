#include "app/shell/shell_app.h"

#include <QCoreApplication>

#include "app/model/platform/authorized_microphone.h"
#include "app/model/platform/kova_library.h"
#include "app/model/platform/openssl_sha256.h"
#include "app/model/platform/pulse_audio_watcher.h"
#include "app/model/platform/thread_runner.h"
#include "app/model/platform/xdg_login_item.h"
#include "app/shell/ports/qt_settings.h"
#include "app/shell/ports/qt_usb_watcher.h"

namespace kova::shell {

ConnectPorts desktopPorts(const std::shared_ptr<QtMainQueue>& queue) {
    ConnectPorts ports;
    ports.library = std::make_shared<KovaLibrary>();
    ports.queue = queue;
    ports.background = std::make_shared<ThreadRunner>();
    ports.settings = std::make_shared<QtSettings>();
    ports.sha256 = std::make_shared<OpenSslSha256>();
    ports.microphone = std::make_shared<AuthorizedMicrophone>();
    ports.loginItem = std::make_shared<XdgLoginItem>();
    ports.usbWatcher = std::make_shared<QtUsbWatcher>(queue);
    ports.audioWatcher = std::make_shared<PulseAudioWatcher>(queue);
    return ports;
}

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
