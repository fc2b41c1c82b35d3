#include "app/model/platform/thread_runner.h"

namespace kova {

ThreadRunner::~ThreadRunner() {
    std::lock_guard lock(mutex_);
    for (auto& job : jobs_) {
        job->thread.join();
    }
}

void ThreadRunner::run(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    reapFinished();
    auto job = std::make_unique<Job>();
    Job* raw = job.get();
    job->thread = std::thread([raw, work = std::move(work)] {
        work();
        raw->done.store(true, std::memory_order_release);
    });
    jobs_.push_back(std::move(job));
}

void ThreadRunner::reapFinished() {
    for (auto job = jobs_.begin(); job != jobs_.end();) {
        if ((*job)->done.load(std::memory_order_acquire)) {
            (*job)->thread.join();
            job = jobs_.erase(job);
        } else {
            ++job;
        }
    }
}

}  // namespace kova
