#include "core/session/realtime_threads.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "core/session/sched_policy.h"

namespace kova {
namespace {

constexpr int kDeadline = 6;

bool realtime(int policy) {
    return policy == kDeadline || policy == SCHED_FIFO;
}

// A thread that reports its kernel id and then waits to be released.
class ParkedThread {
  public:
    ParkedThread() : thread_([this] { run(); }) { id_ = id_promise_.get_future().get(); }
    ~ParkedThread() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            released_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    uint64_t id() const { return id_; }

  private:
    void run() {
        id_promise_.set_value(current_thread_id());
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return released_; });
    }

    std::promise<uint64_t> id_promise_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool released_ = false;
    std::thread thread_;
    uint64_t id_ = 0;
};

// Promotion changes the test thread; every test runs in a thread of its own so the policy
// never leaks into the next test, and puts it back to normal on the way out.
template <class F>
void in_fresh_thread(F body) {
    std::thread worker([&] {
        body();
        set_normal_policy(current_thread_id());
    });
    worker.join();
}

TEST(RealtimeThreads, SnapshotListsTheCallingThreadAndNewThreads) {
    const auto before = thread_ids();
    EXPECT_EQ(before.count(current_thread_id()), 1u);
    ParkedThread parked;
    const auto after = thread_ids();
    EXPECT_EQ(before.count(parked.id()), 0u);
    EXPECT_EQ(after.count(parked.id()), 1u);
}

TEST(RealtimeThreads, ForEachThreadVisitsEveryThreadOnce) {
    ParkedThread parked;
    int visits_of_parked = 0;
    int visits = 0;
    for_each_thread([&](uint64_t id) {
        ++visits;
        visits_of_parked += id == parked.id() ? 1 : 0;
    });
    EXPECT_EQ(visits_of_parked, 1);
    EXPECT_EQ(static_cast<size_t>(visits), thread_ids().size());
}

TEST(RealtimeThreads, ThreadsOfTheSnapshotAreNeverPromoted) {
    in_fresh_thread([] {
        ParkedThread old_thread;
        const auto snapshot = thread_ids();
        const int promoted = make_realtime_since(snapshot, 4.0, 2.0, 4.0);
        EXPECT_LE(promoted, 1);
        EXPECT_FALSE(realtime(thread_policy(old_thread.id()).policy));
    });
}

TEST(RealtimeThreads, TheCallingThreadIsCountedOnceEvenInTheSnapshot) {
    in_fresh_thread([] {
        const auto snapshot = thread_ids();
        ASSERT_EQ(snapshot.count(current_thread_id()), 1u);
        const int promoted = make_realtime_since(snapshot, 4.0, 2.0, 4.0);
        const bool promoted_self = realtime(thread_policy(current_thread_id()).policy);
        EXPECT_EQ(promoted, promoted_self ? 1 : 0);
    });
}

TEST(RealtimeThreads, AThreadBornAfterTheSnapshotIsPromoted) {
    in_fresh_thread([] {
        const auto snapshot = thread_ids();
        ParkedThread newcomer;
        const int promoted = make_realtime_since(snapshot, 4.0, 2.0, 4.0);
        const int expected = (realtime(thread_policy(current_thread_id()).policy) ? 1 : 0) +
                             (realtime(thread_policy(newcomer.id()).policy) ? 1 : 0);
        EXPECT_EQ(promoted, expected);
        if (geteuid() == 0) {
            EXPECT_EQ(promoted, 2);
        }
        set_normal_policy(newcomer.id());
    });
}

TEST(RealtimeThreads, AsRootThePolicyReallyChangesWithTheRequestedBudget) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "realtime policies need privileges";
    }
    in_fresh_thread([] {
        ASSERT_EQ(thread_policy(current_thread_id()).policy, SCHED_OTHER);
        ASSERT_EQ(make_realtime_since(thread_ids(), 4.0, 2.0, 4.0), 1);
        const ThreadPolicy policy = thread_policy(current_thread_id());
        ASSERT_TRUE(realtime(policy.policy));
        if (policy.policy == kDeadline) {
            EXPECT_EQ(policy.period_ns, 4000000u);
            EXPECT_EQ(policy.runtime_ns, 2000000u);
            EXPECT_EQ(policy.deadline_ns, 4000000u);
        }
        // A promoted thread can still start threads: they do not inherit the policy.
        std::thread child(
            [] { EXPECT_EQ(thread_policy(current_thread_id()).policy, SCHED_OTHER); });
        child.join();
        EXPECT_TRUE(set_normal_policy(current_thread_id()));
        EXPECT_EQ(thread_policy(current_thread_id()).policy, SCHED_OTHER);
    });
}

}  // namespace
}  // namespace kova
