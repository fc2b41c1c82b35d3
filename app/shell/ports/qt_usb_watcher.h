// USB hot-plug for the model: the udev monitor's descriptor on the Qt event loop.
#pragma once

#include <QSocketNotifier>
#include <memory>

#include "app/model/platform/udev_usb_watcher.h"

namespace kova::shell {

/// Watches the udev monitor with a QSocketNotifier and drains it when it becomes readable.
class QtUsbWatcher : public UsbWatcher {
  public:
    /// Changes reach the model through `queue`.
    explicit QtUsbWatcher(std::shared_ptr<MainQueue> queue);
    ~QtUsbWatcher() override;

    /// Opens the monitor and starts watching its descriptor; false without udev.
    bool start(std::function<void()> changed) override;

  private:
    UdevUsbWatcher monitor_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace kova::shell
