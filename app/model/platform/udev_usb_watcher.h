#pragma once

#include <functional>
#include <memory>

#include "app/model/ports/main_queue.h"
#include "app/model/ports/usb_watcher.h"

struct udev;
struct udev_monitor;

namespace kova {

/// USB attach/detach from a udev monitor; the application's loop watches fd() and calls drain().
class UdevUsbWatcher : public UsbWatcher {
  public:
    /// Changes are handed to `queue`.
    explicit UdevUsbWatcher(std::shared_ptr<MainQueue> queue);
    /// Closes the monitor.
    ~UdevUsbWatcher() override;
    UdevUsbWatcher(const UdevUsbWatcher&) = delete;
    UdevUsbWatcher& operator=(const UdevUsbWatcher&) = delete;
    /// Opens the monitor for whole USB devices; false when udev is unavailable.
    bool start(std::function<void()> changed) override;
    /// The monitor's descriptor to watch for reading; -1 before a successful start.
    int fd() const;
    /// Reads every pending event; posts one `changed` when any device was added or removed.
    void drain();

  private:
    std::shared_ptr<MainQueue> queue_;
    std::function<void()> changed_;
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
};

}  // namespace kova
