#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/model/ports/audio_watcher.h"
#include "app/model/ports/background_runner.h"
#include "app/model/ports/login_item.h"
#include "app/model/ports/microphone.h"
#include "app/model/ports/settings.h"
#include "app/model/ports/usb_watcher.h"

namespace kova::test {

/// Settings kept in memory.
class MemorySettings : public Settings {
  public:
    std::map<std::string, SettingValue> values;  ///< The store's content.
    std::optional<SettingValue> value(const std::string& key) const override {
        const auto found = values.find(key);
        return found == values.end() ? std::nullopt : std::optional<SettingValue>(found->second);
    }
    void setValue(const std::string& key, const SettingValue& value) override {
        values[key] = value;
    }
    void remove(const std::string& key) override { values.erase(key); }
};

/// Background work held until the test runs it.
class ManualRunner : public BackgroundRunner {
  public:
    std::deque<std::function<void()>> jobs;  ///< Work not yet run.
    void run(std::function<void()> work) override { jobs.push_back(std::move(work)); }
    /// Runs every held job (and jobs they add), in order.
    void runAll() {
        while (!jobs.empty()) {
            auto job = std::move(jobs.front());
            jobs.pop_front();
            job();
        }
    }
};

/// A login item whose state the test sees and can make fail.
class FakeLoginItem : public LoginItem {
  public:
    bool enabled = false;                ///< Registered.
    bool approval = false;               ///< Awaiting approval.
    std::optional<std::string> failure;  ///< set() throws this text when present.
    int setCalls = 0;                    ///< set() calls.
    bool isEnabled() override { return enabled; }
    bool requiresApproval() override { return approval; }
    void set(bool on) override {
        ++setCalls;
        if (failure) {
            throw std::runtime_error(*failure);
        }
        enabled = on;
    }
};

/// A microphone permission the test decides.
class FakeMicrophone : public Microphone {
  public:
    Status answer = Status::authorized;        ///< status()'s answer.
    std::function<void(bool)> pendingRequest;  ///< The last request's reply function.
    Status status() override { return answer; }
    void request(std::function<void(bool)> reply) override { pendingRequest = std::move(reply); }
};

/// A watcher whose change notification the test fires.
class FakeWatcher : public UsbWatcher, public AudioWatcher {
  public:
    std::function<void()> changed;  ///< What start() registered.
    bool refuse = false;            ///< start() fails.
    bool start(std::function<void()> callback) override {
        if (refuse) {
            return false;
        }
        changed = std::move(callback);
        return true;
    }
    /// Delivers one change as the platform would (on the main thread).
    void fire() {
        if (changed) {
            changed();
        }
    }
};

}  // namespace kova::test
