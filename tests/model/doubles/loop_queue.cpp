#include "tests/model/doubles/loop_queue.h"

namespace kova::test {

void LoopQueue::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        items_.emplace(Key{Clock::now(), nextOrder_++}, std::move(work));
    }
    changed_.notify_all();
}

MainQueue::Deferred LoopQueue::postAfter(std::chrono::milliseconds delay,
                                         std::function<void()> work) {
    Deferred deferred = 0;
    {
        std::lock_guard lock(mutex_);
        const Key key{Clock::now() + delay, nextOrder_++};
        items_.emplace(key, std::move(work));
        keys_.emplace(key.order, key);
        deferred = key.order;
    }
    changed_.notify_all();
    return deferred;
}

void LoopQueue::cancel(Deferred deferred) {
    std::lock_guard lock(mutex_);
    const auto found = keys_.find(deferred);
    if (found != keys_.end()) {
        items_.erase(found->second);
        keys_.erase(found);
    }
}

void LoopQueue::clear() {
    std::map<Key, std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(items_);
        keys_.clear();
    }
}

bool LoopQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (done()) {
            return true;
        }
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            const auto now = Clock::now();
            if (now >= deadline) {
                return false;
            }
            const auto first = items_.begin();
            if (first == items_.end() || first->first.due > now) {
                const auto wake =
                    first == items_.end() ? deadline : std::min(deadline, first->first.due);
                changed_.wait_until(lock, wake);
                continue;
            }
            work = std::move(first->second);
            keys_.erase(first->first.order);
            items_.erase(first);
        }
        work();
    }
}

}  // namespace kova::test
