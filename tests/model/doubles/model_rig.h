#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

#include "app/model/connect_model.h"
#include "app/model/platform/openssl_sha256.h"
#include "tests/model/doubles/fake_library.h"
#include "tests/model/doubles/fakes.h"
#include "tests/model/doubles/virtual_queue.h"

namespace kova::test {

using namespace std::chrono_literals;

/// The emulated iPhone most model tests plug in.
inline const std::string iosPath = "ios:00008030001a";

/// A model on fakes and virtual time. Script the fakes, then call make().
class ModelRig : public ::testing::Test {
  protected:
    std::shared_ptr<FakeLibrary> library = std::make_shared<FakeLibrary>();
    std::shared_ptr<VirtualQueue> queue = std::make_shared<VirtualQueue>();
    std::shared_ptr<ManualRunner> background = std::make_shared<ManualRunner>();
    std::shared_ptr<MemorySettings> settings = std::make_shared<MemorySettings>();
    std::shared_ptr<FakeMicrophone> microphone = std::make_shared<FakeMicrophone>();
    std::shared_ptr<FakeLoginItem> loginItem = std::make_shared<FakeLoginItem>();
    std::shared_ptr<LoginItem> loginPort;  ///< Used instead of loginItem when set.
    std::shared_ptr<FakeWatcher> usb = std::make_shared<FakeWatcher>();
    std::shared_ptr<FakeWatcher> audio = std::make_shared<FakeWatcher>();
    std::ostringstream reports;
    std::shared_ptr<ConnectModel> model;
    std::vector<Property> changes;

    /// Builds the model; the first automatic start is still pending (0.5 s).
    ConnectModel& make() {
        ConnectPorts ports;
        ports.library = library;
        ports.queue = queue;
        ports.background = background;
        ports.settings = settings;
        ports.sha256 = std::make_shared<OpenSslSha256>();
        ports.microphone = microphone;
        ports.loginItem = loginPort ? loginPort : std::shared_ptr<LoginItem>(loginItem);
        ports.usbWatcher = usb;
        ports.audioWatcher = audio;
        ports.reportLog = &reports;
        model = ConnectModel::create(std::move(ports));
        model->observe([this](Property property) { changes.push_back(property); });
        return *model;
    }

    /// Builds the model and lets its start-up timers run.
    ConnectModel& makeSettled() {
        make();
        queue->advance(1s);
        return *model;
    }

    /// Delivers a session event and lets the main queue apply it.
    void event(const std::string& json) {
        library->emit(json);
        queue->runReady();
    }

    /// Runs the held iPhone probes and applies their answers.
    void probe() {
        background->runAll();
        queue->runReady();
    }

    /// A USB attach or detach, as the watcher delivers it.
    void usbEvent() { usb->fire(); }

    /// Whether `property` changed since the last clearChanges().
    bool changed(Property property) const {
        return std::find(changes.begin(), changes.end(), property) != changes.end();
    }

    void clearChanges() { changes.clear(); }

    /// The stored value under `key`.
    template <typename T>
    std::optional<T> stored(const std::string& key) const {
        const auto value = settings->value(key);
        if (value && std::holds_alternative<T>(*value)) {
            return std::get<T>(*value);
        }
        return std::nullopt;
    }
};

}  // namespace kova::test
