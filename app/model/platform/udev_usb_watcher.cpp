#include "app/model/platform/udev_usb_watcher.h"

#include <libudev.h>

#include <cstring>

namespace kova {

UdevUsbWatcher::UdevUsbWatcher(std::shared_ptr<MainQueue> queue) : queue_(std::move(queue)) {}

UdevUsbWatcher::~UdevUsbWatcher() {
    if (monitor_ != nullptr) {
        udev_monitor_unref(monitor_);
    }
    if (udev_ != nullptr) {
        udev_unref(udev_);
    }
}

bool UdevUsbWatcher::start(std::function<void()> changed) {
    if (monitor_ != nullptr) {
        return false;
    }
    udev_ = udev_new();
    if (udev_ == nullptr) {
        return false;
    }
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ == nullptr ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        if (monitor_ != nullptr) {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
        }
        return false;
    }
    changed_ = std::move(changed);
    return true;
}

int UdevUsbWatcher::fd() const {
    return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1;
}

void UdevUsbWatcher::drain() {
    if (monitor_ == nullptr) {
        return;
    }
    bool attachOrDetach = false;
    // The monitor's socket is non-blocking: this stops when nothing is left to read.
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        const char* action = udev_device_get_action(device);
        if (action != nullptr &&
            (std::strcmp(action, "add") == 0 || std::strcmp(action, "remove") == 0)) {
            attachOrDetach = true;
        }
        udev_device_unref(device);
    }
    if (attachOrDetach && changed_) {
        queue_->post(changed_);
    }
}

}  // namespace kova
