#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/model/platform/pulse_audio_watcher.h"
#include "tests/model/doubles/virtual_queue.h"
#include "tests/support/pulse_server.h"

namespace kova::test {
namespace {

using namespace std::chrono_literals;

template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(PulseAudioWatcher, SinkArrivalAndDepartureReachTheMainQueue) {
    PulseServer pulse(0);
    ASSERT_TRUE(pulse.ready()) << pulse.log();
    auto queue = std::make_shared<VirtualQueue>();
    int changes = 0;
    PulseAudioWatcher watcher(queue);
    ASSERT_TRUE(watcher.start([&changes] { ++changes; }));
    ASSERT_TRUE(waitUntil([&watcher] { return watcher.subscribed(); }));

    ASSERT_NE(pulse.load_kova_sink(48000), UINT32_MAX);
    ASSERT_TRUE(waitUntil([&queue] { return queue->pending() > 0; }));
    EXPECT_EQ(changes, 0);  // nothing runs off the main thread
    std::this_thread::sleep_for(100ms);
    queue->runReady();
    EXPECT_GE(changes, 1);

    const int before = changes;
    ASSERT_TRUE(pulse.unload_kova_sink());
    ASSERT_TRUE(waitUntil([&queue] { return queue->pending() > 0; }));
    std::this_thread::sleep_for(100ms);
    queue->runReady();
    EXPECT_GT(changes, before);
}

TEST(PulseAudioWatcher, NoServerIsNotAnError) {
    setenv("PULSE_SERVER", "unix:/nonexistent/kova/native", 1);
    auto queue = std::make_shared<VirtualQueue>();
    PulseAudioWatcher watcher(queue);
    watcher.start([] {});
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(watcher.subscribed());
    unsetenv("PULSE_SERVER");
}

}  // namespace
}  // namespace kova::test
