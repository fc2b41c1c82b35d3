#include <algorithm>

#include "app/model/connect_model.h"

namespace kova {

namespace {

// Wraps a member call so the deferred or watcher call holds the model only weakly.
std::function<void()> weakCall(const std::weak_ptr<ConnectModel>& weak,
                               void (ConnectModel::*member)()) {
    return [weak, member] {
        if (const auto model = weak.lock()) {
            (model.get()->*member)();
        }
    };
}

}  // namespace

void ConnectModel::scheduleAutoStart() {
    ports_.queue->postAfter(autoStartDelay,
                            weakCall(weak_from_this(), &ConnectModel::autoStartIfPossible));
}

void ConnectModel::autoStartIfPossible() {
    updateIdleText();
    if (!autoStart_ || phase_ != Phase::idle || session_ != nullptr || userStopped_ ||
        !kovaDevicePresent_) {
        return;
    }
    const auto isCandidate = [](const Device& entry) { return entry.isCandidate(); };
    if (std::count_if(devices_.begin(), devices_.end(), isCandidate) != 1) {
        return;
    }
    setSelectedPath(std::find_if(devices_.begin(), devices_.end(), isCandidate)->path);
    start();
}

void ConnectModel::watchUSB() {
    ports_.usbWatcher->start(weakCall(weak_from_this(), &ConnectModel::usbChanged));
}

void ConnectModel::watchAudioDevices() {
    ports_.audioWatcher->start(weakCall(weak_from_this(), &ConnectModel::audioDevicesChanged));
}

void ConnectModel::audioDevicesChanged() {
    if (phase_ != Phase::idle) {
        return;
    }
    refresh();
    autoStartIfPossible();
}

void ConnectModel::usbChanged() {
    for (auto* settle : {&usbSettle_, &usbmuxSettle_}) {
        if (*settle) {
            ports_.queue->cancel(**settle);
        }
    }
    const auto settled = weakCall(weak_from_this(), &ConnectModel::usbSettled);
    usbSettle_ = ports_.queue->postAfter(usbSettleDelay, settled);
    usbmuxSettle_ = ports_.queue->postAfter(usbmuxSettleDelay, settled);
}

void ConnectModel::usbSettled() {
    if (session_ != nullptr) {
        return;
    }
    refresh();
    const auto& target = sessionPath_ ? sessionPath_ : selectedPath_;
    if (target && device(target)) {
        autoStartIfPossible();
        return;
    }
    userStopped_ = false;
    if (phase_ == Phase::running) {
        cancelRetry();
        keepRunning_ = false;
        publish(phase_, Phase::idle, Property::phase);
    }
    autoStartIfPossible();
}

}  // namespace kova
