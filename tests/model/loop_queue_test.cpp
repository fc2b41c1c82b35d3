// The real-time main queue that the integration tests run the model on.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/model/doubles/loop_queue.h"

namespace kova::test {
namespace {

using namespace std::chrono_literals;

TEST(LoopQueue, RunsWorkPostedFromOtherThreadsOnTheLoopThreadInOrder) {
    LoopQueue queue;
    std::vector<int> seen;  // touched only by work, so only by this thread
    std::vector<std::thread::id> threads;
    std::thread poster([&] {
        for (int index = 0; index < 100; ++index) {
            queue.post([&, index] {
                seen.push_back(index);
                threads.push_back(std::this_thread::get_id());
            });
        }
    });
    EXPECT_TRUE(queue.runUntil([&] { return seen.size() == 100; }, 10s));
    poster.join();
    for (int index = 0; index < 100; ++index) {
        ASSERT_EQ(seen[index], index);
        ASSERT_EQ(threads[index], std::this_thread::get_id());
    }
}

TEST(LoopQueue, DelayedWorkWaitsItsTurnAndCancelledWorkNeverRuns) {
    LoopQueue queue;
    std::vector<std::string> seen;
    queue.postAfter(30ms, [&] { seen.push_back("late"); });
    const auto dropped = queue.postAfter(10ms, [&] { seen.push_back("cancelled"); });
    queue.post([&] { seen.push_back("now"); });
    queue.cancel(dropped);
    EXPECT_TRUE(queue.runUntil([&] { return seen.size() == 2; }, 10s));
    EXPECT_EQ(seen, (std::vector<std::string>{"now", "late"}));
    queue.post([&] { seen.push_back("cleared"); });
    queue.clear();
    EXPECT_FALSE(queue.runUntil([] { return false; }, 50ms));
    EXPECT_EQ(seen.size(), 2u);
}

}  // namespace
}  // namespace kova::test
