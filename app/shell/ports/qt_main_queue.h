// The model's main queue on the Qt event loop.
#pragma once

#include <QObject>
#include <map>

#include "app/model/ports/main_queue.h"

class QTimer;

namespace kova::shell {

/// Runs posted work on the thread that owns this object (the GUI thread), in order.
class QtMainQueue : public QObject, public MainQueue {
    Q_OBJECT

  public:
    QtMainQueue() = default;
    ~QtMainQueue() override;

    /// Queues `work` behind everything already posted; safe from any thread.
    void post(std::function<void()> work) override;
    /// Runs `work` once after `delay` on a single-shot timer; main thread only.
    Deferred postAfter(std::chrono::milliseconds delay, std::function<void()> work) override;
    /// Stops a pending timer; unknown or finished ones are ignored.
    void cancel(Deferred deferred) override;
    /// Timers armed and not yet fired or cancelled.
    std::size_t pendingTimers() const { return timers_.size(); }

  private:
    std::map<Deferred, QTimer*> timers_;
    Deferred nextDeferred_ = 1;
};

}  // namespace kova::shell
