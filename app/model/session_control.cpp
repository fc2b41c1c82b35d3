#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>

#include "app/model/connect_model.h"
#include "app/model/settings_keys.h"

namespace kova {

namespace {

constexpr int iosHelloTimeoutMs = 5000;
constexpr int androidHelloTimeoutMs = 60000;

std::string randomIdentity() {
    std::random_device source;
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(source()));
    return std::string("kova-connect-") + digits;
}

}  // namespace

void ConnectModel::start() {
    if (!canStart()) {
        return;
    }
    userStopped_ = false;
    switch (ports_.microphone->status()) {
        case Microphone::Status::authorized:
            startConfirmed();
            return;
        case Microphone::Status::notDetermined: {
            std::weak_ptr<ConnectModel> weak = weak_from_this();
            ports_.microphone->request([weak, queue = ports_.queue](bool granted) {
                queue->post([weak, granted] {
                    const auto model = weak.lock();
                    if (!model) {
                        return;
                    }
                    // The answer can come much later: only a model still idle may start.
                    if (!granted) {
                        model->denyMicrophone();
                    } else if (model->canStart()) {
                        model->startConfirmed();
                    }
                });
            });
            return;
        }
        case Microphone::Status::denied:
        case Microphone::Status::restricted:
            denyMicrophone();
            return;
    }
}

void ConnectModel::startConfirmed() {
    publish(errorText_, std::optional<std::string>(), Property::errorText);
    keepRunning_ = true;
    retries_ = 0;
    startSession();
}

void ConnectModel::denyMicrophone() {
    publish(errorText_,
            std::optional<std::string>(
                "Allow the microphone for KOVA Connect in System Settings › Privacy & Security "
                "› Microphone: it is needed to read the KOVA output."),
            Property::errorText);
}

void ConnectModel::stop() {
    if (phase_ != Phase::running) {
        return;
    }
    userStopped_ = true;
    keepRunning_ = false;
    cancelRetry();
    if (session_ == nullptr) {
        publish(phase_, Phase::idle, Property::phase);
        updateIdleText();
        return;
    }
    publish(phase_, Phase::stopping, Property::phase);
    publish(stateText_, std::string("Stopping…"), Property::stateText);
    ports_.library->sessionStop(session_);
}

void ConnectModel::startSession() {
    retry_.reset();
    if (session_ != nullptr) {
        return;
    }
    if (!kovaDevicePresent_ || !selectedPath_) {
        abandonRestart();
        return;
    }
    const std::string path = *selectedPath_;
    const auto entry = device(path);
    if (!entry || !entry->ios) {
        openSession(path);
        return;
    }
    publish(phase_, Phase::running, Property::phase);
    sessionPath_ = path;
    beginProbe(path);
}

// A deferred restart that cannot go ahead must not leave the model "running" with nothing
// pending: nothing else would ever bring it back to idle.
void ConnectModel::abandonRestart() {
    if (phase_ != Phase::running || session_ != nullptr || retry_) {
        return;
    }
    keepRunning_ = false;
    publish(phase_, Phase::idle, Property::phase);
    updateIdleText();
}

void ConnectModel::beginProbe(const std::string& path) {
    std::weak_ptr<ConnectModel> weak = weak_from_this();
    ports_.background->run([weak, path, library = ports_.library, queue = ports_.queue] {
        const int result = library->iosProbe(path.c_str());
        queue->post([weak, path, result] {
            if (const auto model = weak.lock()) {
                model->probed(path, result);
            }
        });
    });
}

void ConnectModel::probed(const std::string& path, int result) {
    if (!keepRunning_ || phase_ != Phase::running || session_ != nullptr || selectedPath_ != path) {
        return;
    }
    if (result == 1) {
        openSession(path);
        return;
    }
    refresh();
    if (const auto entry = device(path)) {
        publish(errorText_, std::optional<std::string>(), Property::errorText);
        publish(stateText_, entry->waitingText(), Property::stateText);
        scheduleRetry(probeRetryDelay, false);
        return;
    }
    keepRunning_ = false;
    publish(phase_, Phase::idle, Property::phase);
    userStopped_ = false;
    updateIdleText();
    scheduleAutoStart();
}

void ConnectModel::openSession(const std::string& path) {
    const auto entry = device(path);
    const bool ios = entry && entry->ios;
    nlohmann::json options{{"device", path},
                           {"kovaDevice", true},
                           {"seconds", 0},
                           {"helloTimeoutMs", ios ? iosHelloTimeoutMs : androidHelloTimeoutMs}};
    if (!ios) {
        options["accessoryId"] = accessoryId();
    }
    std::string text;
    try {
        text = options.dump();
    } catch (const nlohmann::json::exception&) {
        abandonRestart();
        return;
    }
    publish(inputPeak_, std::optional<double>(), Property::inputPeak);
    publish(bufferMs_, std::optional<double>(), Property::bufferMs);
    publish(underruns_, std::optional<long long>(), Property::underruns);
    session_ = ports_.library->sessionStart(text.c_str(), &ConnectModel::eventCallback, this);
    if (session_ == nullptr) {
        publish(errorText_, std::optional<std::string>("Invalid session options."),
                Property::errorText);
        abandonRestart();
        return;
    }
    sessionPath_ = path;
    publish(phase_, Phase::running, Property::phase);
    publish(stateText_, std::string("Starting…"), Property::stateText);
}

std::string ConnectModel::accessoryId() {
    const auto stored = settings_keys::readString(*ports_.settings, settings_keys::accessoryId);
    if (stored && !stored->empty()) {
        return *stored;
    }
    const std::string identity = randomIdentity();
    ports_.settings->setValue(settings_keys::accessoryId, identity);
    return identity;
}

// Runs on the session's worker thread: it only copies the text and queues it, holding the
// model until the queued call has run; it never calls back into the library.
void ConnectModel::eventCallback(void* context, const char* json) {
    if (context == nullptr || json == nullptr) {
        return;
    }
    auto model = static_cast<ConnectModel*>(context)->weak_from_this().lock();
    if (!model) {
        return;
    }
    const auto queue = model->ports_.queue;
    queue->post([model = std::move(model), text = std::string(json)] { model->handle(text); });
}

void ConnectModel::scheduleRetry(std::chrono::milliseconds delay, bool refreshFirst) {
    // Only one restart may be pending: an unreferenced one could not be cancelled by stop().
    cancelRetry();
    std::weak_ptr<ConnectModel> weak = weak_from_this();
    retry_ = ports_.queue->postAfter(delay, [weak, refreshFirst] {
        const auto model = weak.lock();
        if (!model) {
            return;
        }
        if (refreshFirst) {
            model->refresh();
        }
        model->startSession();
    });
}

void ConnectModel::cancelRetry() {
    if (retry_) {
        ports_.queue->cancel(*retry_);
        retry_.reset();
    }
}

}  // namespace kova
