#include "app/model/connect_model.h"

#include <stdexcept>

#include "app/model/settings_keys.h"

namespace kova {

std::shared_ptr<ConnectModel> ConnectModel::create(ConnectPorts ports) {
    auto model = std::make_shared<ConnectModel>(Token{}, std::move(ports));
    model->refresh();
    model->updateIdleText();
    model->configureLoginItemOnFirstLaunch();
    model->updateLoginItemStatus();
    model->watchUSB();
    model->watchAudioDevices();
    model->scheduleAutoStart();
    return model;
}

ConnectModel::ConnectModel(Token, ConnectPorts ports) : ports_(std::move(ports)) {
    if (!ports_.library || !ports_.queue || !ports_.background || !ports_.settings ||
        !ports_.sha256 || !ports_.microphone || !ports_.loginItem || !ports_.usbWatcher ||
        !ports_.audioWatcher) {
        throw std::invalid_argument("ConnectModel needs every port");
    }
    autoStart_ = settings_keys::readBool(*ports_.settings, settings_keys::autoStart).value_or(true);
}

// The session's callback uses this object as its context: freeing the session here waits for
// the worker, so no callback can still be running once the members go away.
ConnectModel::~ConnectModel() {
    willTerminate();
}

void ConnectModel::willTerminate() {
    if (session_ != nullptr) {
        KovaSession* running = session_;
        session_ = nullptr;
        ports_.library->sessionFree(running);
    }
}

ConnectModel::ObserverId ConnectModel::observe(Observer observer) {
    const ObserverId id = nextObserver_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void ConnectModel::unobserve(ObserverId id) {
    observers_.erase(id);
}

void ConnectModel::notify(Property property) {
    // A copy, so an observer may register or remove observers while being told.
    const auto current = observers_;
    for (const auto& [id, observer] : current) {
        observer(property);
    }
}

void ConnectModel::setSelectedPath(std::optional<std::string> path) {
    publish(selectedPath_, std::move(path), Property::selectedPath);
    if (selectedPath_) {
        ports_.settings->setValue(settings_keys::devicePath, *selectedPath_);
    } else {
        ports_.settings->remove(settings_keys::devicePath);
    }
}

void ConnectModel::setAutoStart(bool on) {
    publish(autoStart_, on, Property::autoStart);
    ports_.settings->setValue(settings_keys::autoStart, on);
    if (on) {
        scheduleAutoStart();
    } else {
        updateIdleText();
    }
}

bool ConnectModel::canStart() const {
    return phase_ == Phase::idle && selectedPath_.has_value() && kovaDevicePresent_;
}

GlyphState ConnectModel::glyphState() const {
    if (streaming_) {
        return GlyphState::streaming;
    }
    return errorText_ ? GlyphState::error : GlyphState::idle;
}

}  // namespace kova
