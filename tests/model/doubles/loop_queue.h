#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "app/model/ports/main_queue.h"

namespace kova::test {

/// A main queue on real time whose work runs on the thread that calls runUntil, as an
/// application's event loop would run it.
class LoopQueue : public MainQueue {
  public:
    /// Queues `work` behind everything already due; any thread.
    void post(std::function<void()> work) override;
    /// Queues `work` to run once `delay` has passed.
    Deferred postAfter(std::chrono::milliseconds delay, std::function<void()> work) override;
    /// Drops a pending item.
    void cancel(Deferred deferred) override;

    /// Runs due work on the calling thread until `done` holds (checked after each item) or
    /// `limit` has passed; true when `done` held.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);
    /// Drops everything pending: queued work may hold what holds this queue.
    void clear();

  private:
    using Clock = std::chrono::steady_clock;
    struct Key {
        Clock::time_point due;
        std::uint64_t order;
        auto operator<=>(const Key&) const = default;
    };

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<Key, std::function<void()>> items_;
    std::map<Deferred, Key> keys_;
    std::uint64_t nextOrder_ = 1;
};

}  // namespace kova::test
