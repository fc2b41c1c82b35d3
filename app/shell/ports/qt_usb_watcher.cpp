#include "app/shell/ports/qt_usb_watcher.h"

namespace kova::shell {

QtUsbWatcher::QtUsbWatcher(std::shared_ptr<MainQueue> queue) : monitor_(std::move(queue)) {}

// The notifier goes before the monitor whose descriptor it watches.
QtUsbWatcher::~QtUsbWatcher() {
    notifier_.reset();
}

bool QtUsbWatcher::start(std::function<void()> changed) {
    if (!monitor_.start(std::move(changed)) || monitor_.fd() < 0) {
        return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(monitor_.fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { monitor_.drain(); });
    return true;
}

}  // namespace kova::shell
