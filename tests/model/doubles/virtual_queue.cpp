#include "tests/model/doubles/virtual_queue.h"

namespace kova::test {

void VirtualQueue::post(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    items_.emplace(Key{now_, nextOrder_++}, std::move(work));
}

MainQueue::Deferred VirtualQueue::postAfter(std::chrono::milliseconds delay,
                                            std::function<void()> work) {
    std::lock_guard lock(mutex_);
    const Key key{now_ + delay, nextOrder_++};
    items_.emplace(key, std::move(work));
    keys_.emplace(key.order, key);
    return key.order;
}

void VirtualQueue::cancel(Deferred deferred) {
    std::lock_guard lock(mutex_);
    const auto found = keys_.find(deferred);
    if (found != keys_.end()) {
        items_.erase(found->second);
        keys_.erase(found);
    }
}

bool VirtualQueue::runOneDue() {
    std::function<void()> work;
    {
        std::lock_guard lock(mutex_);
        const auto first = items_.begin();
        if (first == items_.end() || first->first.due > now_) {
            return false;
        }
        work = std::move(first->second);
        keys_.erase(first->first.order);
        items_.erase(first);
    }
    work();
    return true;
}

void VirtualQueue::runReady() {
    while (runOneDue()) {
    }
}

void VirtualQueue::advance(std::chrono::milliseconds span) {
    const auto end = now_ + span;
    runReady();
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (items_.empty() || items_.begin()->first.due > end) {
                break;
            }
            now_ = std::max(now_, items_.begin()->first.due);
        }
        runReady();
    }
    now_ = end;
    runReady();
}

bool VirtualQueue::runNext() {
    {
        std::lock_guard lock(mutex_);
        if (items_.empty()) {
            return false;
        }
        now_ = std::max(now_, items_.begin()->first.due);
    }
    runReady();
    return true;
}

std::size_t VirtualQueue::pending() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

std::vector<std::chrono::milliseconds> VirtualQueue::pendingDelays() const {
    std::lock_guard lock(mutex_);
    std::vector<std::chrono::milliseconds> delays;
    for (const auto& [key, work] : items_) {
        delays.push_back(key.due - now_);
    }
    return delays;
}

}  // namespace kova::test
