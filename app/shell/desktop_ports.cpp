#include "app/shell/desktop_ports.h"

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

}  // namespace kova::shell
