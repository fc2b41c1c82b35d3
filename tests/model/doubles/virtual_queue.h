#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "app/model/ports/main_queue.h"

namespace kova::test {

/// A main queue on virtual time: nothing runs until the test says so.
class VirtualQueue : public MainQueue {
  public:
    /// Queues `work` to run at the current virtual time; any thread.
    void post(std::function<void()> work) override;
    /// Queues `work` for now + delay.
    Deferred postAfter(std::chrono::milliseconds delay, std::function<void()> work) override;
    /// Drops a pending item.
    void cancel(Deferred deferred) override;

    /// Runs everything due at the current time, including what that work queues for now.
    void runReady();
    /// Moves time forward by `span`, running every item in order at its own due time.
    void advance(std::chrono::milliseconds span);
    /// Moves time to the next pending item and runs what is due; false when nothing is pending.
    bool runNext();
    /// Items not yet run.
    std::size_t pending() const;
    /// Due times (from now) of the pending delayed items, in order.
    std::vector<std::chrono::milliseconds> pendingDelays() const;

  private:
    struct Key {
        std::chrono::milliseconds due;
        std::uint64_t order;
        auto operator<=>(const Key&) const = default;
    };
    bool runOneDue();

    mutable std::mutex mutex_;
    std::map<Key, std::function<void()>> items_;
    std::map<Deferred, Key> keys_;
    std::uint64_t nextOrder_ = 1;
    std::chrono::milliseconds now_{0};
};

}  // namespace kova::test
