#include "app/shell/ports/qt_main_queue.h"

#include <QTimer>

namespace kova::shell {

// The timers are children of the queue and go with it.
QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(std::function<void()> work) {
    // A queued call is an event for this object's thread, delivered in posting order.
    QMetaObject::invokeMethod(
        this, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

MainQueue::Deferred QtMainQueue::postAfter(std::chrono::milliseconds delay,
                                           std::function<void()> work) {
    const Deferred deferred = nextDeferred_++;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, deferred, work = std::move(work)] {
        // Forget the timer before running: the work may arm or cancel others.
        if (const auto found = timers_.find(deferred); found != timers_.end()) {
            found->second->deleteLater();
            timers_.erase(found);
        }
        work();
    });
    timers_.emplace(deferred, timer);
    timer->start(std::chrono::milliseconds(std::max<std::int64_t>(delay.count(), 0)));
    return deferred;
}

void QtMainQueue::cancel(Deferred deferred) {
    const auto found = timers_.find(deferred);
    if (found == timers_.end()) {
        return;
    }
    found->second->stop();
    found->second->deleteLater();
    timers_.erase(found);
}

}  // namespace kova::shell
