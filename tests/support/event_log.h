#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/api/kova.h"

namespace kova::test {

// The event texts of one session started through the C interface; the callback runs on the
// session's worker. Header-only so that tests linking only libkova.so can use it.
class EventLog {
  public:
    static void on_event(void* context, const char* text) {
        auto* log = static_cast<EventLog*>(context);
        std::lock_guard lock(log->mutex_);
        log->texts_.emplace_back(text);
        const nlohmann::json event = nlohmann::json::parse(text);
        if (event.value("event", "") == "ended") {
            ++log->ended_;
        } else if (event.value("event", "") == "state") {
            log->states_.push_back(event.value("state", ""));
        }
        log->changed_.notify_all();
    }

    KovaSession* start(const std::string& options) {
        return kova_session_start(options.c_str(), &EventLog::on_event, this);
    }

    // Waits for the "ended" event, within a bound that only stops a hung test.
    bool wait_for_ended() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kBound, [this] { return ended_ > 0; });
    }
    // Waits likewise for the state `name` to be announced.
    bool wait_for_state(const std::string& name) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kBound, [&] {
            return std::find(states_.begin(), states_.end(), name) != states_.end();
        });
    }
    // The "ended" document once it has come (null after the bound).
    nlohmann::json ended() { return wait_for_ended() ? last() : nlohmann::json(); }

    std::vector<std::string> texts() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    std::vector<std::string> states() const {
        std::lock_guard lock(mutex_);
        return states_;
    }
    nlohmann::json last() const { return nlohmann::json::parse(texts().back()); }

  private:
    static constexpr std::chrono::seconds kBound{30};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> texts_;
    std::vector<std::string> states_;
    int ended_ = 0;
};

}  // namespace kova::test
