#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/model/device.h"
#include "app/model/platform/authorized_microphone.h"
#include "app/model/platform/openssl_sha256.h"
#include "app/model/platform/thread_runner.h"
#include "app/model/platform/udev_usb_watcher.h"
#include "tests/model/doubles/virtual_queue.h"

namespace kova::test {
namespace {

TEST(OpenSslSha256, MatchesTheStandardVectors) {
    OpenSslSha256 sha;
    EXPECT_EQ(serialHashOf("", sha),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(serialHashOf("abc", sha),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Bytes are hashed exactly, embedded NUL and non-ASCII included.
    EXPECT_NE(serialHashOf(std::string("a\0b", 3), sha), serialHashOf("a", sha));
    EXPECT_EQ(serialHashOf("abc", sha).size(), 64u);
}

TEST(ThreadRunner, RunsWorkElsewhereAndJoinsOnDestruction) {
    std::atomic<int> ran{0};
    std::atomic<bool> onCaller{false};
    const auto caller = std::this_thread::get_id();
    {
        ThreadRunner runner;
        for (int job = 0; job < 3; ++job) {
            runner.run([&ran, &onCaller, caller] {
                if (std::this_thread::get_id() == caller) {
                    onCaller = true;
                }
                ran.fetch_add(1);
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    EXPECT_EQ(ran.load(), 3);
    EXPECT_FALSE(onCaller.load());
}

TEST(AuthorizedMicrophone, AlwaysAuthorized) {
    AuthorizedMicrophone microphone;
    EXPECT_EQ(microphone.status(), Microphone::Status::authorized);
    bool granted = false;
    microphone.request([&granted](bool answer) { granted = answer; });
    EXPECT_TRUE(granted);
}

TEST(UdevUsbWatcher, DescriptorOnlyAfterStartAndQuietDrainPostsNothing) {
    auto queue = std::make_shared<VirtualQueue>();
    UdevUsbWatcher watcher(queue);
    EXPECT_EQ(watcher.fd(), -1);
    watcher.drain();
    if (!watcher.start([] {})) {
        GTEST_SKIP() << "no udev netlink socket here";
    }
    EXPECT_GE(watcher.fd(), 0);
    EXPECT_FALSE(watcher.start([] {}));
    watcher.drain();  // nothing attached meanwhile on this machine
    EXPECT_EQ(queue->pending(), 0u);
}

}  // namespace
}  // namespace kova::test
