#include "tools/cli/event_queue.h"

namespace kova::cli {

void EventQueue::push(const char* text) {
    {
        std::lock_guard lock(mutex_);
        texts_.emplace_back(text);
    }
    arrived_.notify_one();
}

bool EventQueue::pop(std::string& text, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !texts_.empty(); })) {
        return false;
    }
    text = std::move(texts_.front());
    texts_.pop_front();
    return true;
}

}  // namespace kova::cli
