#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "app/model/ports/background_runner.h"

namespace kova {

/// Runs each piece of work on a thread of its own; joins them all when destroyed.
class ThreadRunner : public BackgroundRunner {
  public:
    ThreadRunner() = default;
    /// Waits for every thread still running.
    ~ThreadRunner() override;
    ThreadRunner(const ThreadRunner&) = delete;
    ThreadRunner& operator=(const ThreadRunner&) = delete;
    /// Starts `work` on a new thread; finished threads are reaped first.
    void run(std::function<void()> work) override;

  private:
    struct Job {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void reapFinished();

    std::mutex mutex_;
    std::list<std::unique_ptr<Job>> jobs_;
};

}  // namespace kova
