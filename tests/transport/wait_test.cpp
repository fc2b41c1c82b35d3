#include "core/transport/wait.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "core/transport/error.h"
#include "core/transport/interrupt.h"
#include "tests/support/error_code.h"
#include "tests/support/socket_pair.h"

namespace kova::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class WaitTest : public ::testing::Test {
  protected:
    void SetUp() override { interrupted = 0; }
    void TearDown() override { interrupted = 0; }

    test::SocketPair pair_;
};

TEST_F(WaitTest, TimesOutWhenNothingArrives) {
    const auto start = Clock::now();
    EXPECT_FALSE(wait(pair_.near(), POLLIN, 250));
    EXPECT_GE(elapsed_ms(start), 240);
}

TEST_F(WaitTest, ZeroAndNegativeTimeoutsCheckOnce) {
    const auto start = Clock::now();
    for (int i = 0; i < 10; ++i) {
        EXPECT_FALSE(wait(pair_.near(), POLLIN, 0));
        EXPECT_FALSE(wait(pair_.near(), POLLIN, -5));
    }
    // Twenty checks that each waited a 100 ms slice would take 2 s.
    EXPECT_LT(elapsed_ms(start), 1000);
}

TEST_F(WaitTest, ReadyForReadingOnceBytesArrive) {
    std::thread peer([this] {
        std::this_thread::sleep_for(milliseconds(150));
        const char byte = 'x';
        ASSERT_EQ(::send(pair_.far(), &byte, 1, MSG_NOSIGNAL), 1);
    });
    EXPECT_TRUE(wait(pair_.near(), POLLIN, 10000));
    peer.join();
    EXPECT_TRUE(wait(pair_.near(), POLLIN, 0));
}

TEST_F(WaitTest, FreshSocketIsReadyForWriting) {
    EXPECT_TRUE(wait(pair_.near(), POLLOUT, 0));
}

TEST_F(WaitTest, HangUpAloneIsNotAnError) {
    pair_.close_far();
    EXPECT_TRUE(wait(pair_.near(), POLLIN, 1000));
    EXPECT_TRUE(wait(pair_.near(), 0, 1000));
}

TEST_F(WaitTest, InvalidDescriptorIsDetached) {
    const int closed = ::dup(pair_.near());
    ::close(closed);
    EXPECT_EQ(code_of([&] { wait(closed, POLLIN, 1000); }), "usb_detached");
}

TEST_F(WaitTest, InterruptIsCheckedBeforePolling) {
    interrupted = 1;
    EXPECT_EQ(code_of([&] { wait(pair_.near(), POLLOUT, 0); }), "usb_transfer_cancelled");
}

TEST_F(WaitTest, InterruptFromAnotherThreadEndsALongWait) {
    std::thread setter([] {
        std::this_thread::sleep_for(milliseconds(150));
        interrupted = 1;
    });
    const auto start = Clock::now();
    EXPECT_EQ(code_of([&] { wait(pair_.near(), POLLIN, 60000); }), "usb_transfer_cancelled");
    setter.join();
    EXPECT_LT(elapsed_ms(start), 150 + 1000);
}

TEST_F(WaitTest, SignalDuringPollIsNotAFailure) {
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: poll returns EINTR
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
    const pthread_t waiter = pthread_self();
    std::atomic<bool> done{false};
    std::thread signaller([&] {
        for (int i = 0; i < 5 && !done; ++i) {
            std::this_thread::sleep_for(milliseconds(30));
            pthread_kill(waiter, SIGUSR1);
        }
    });
    EXPECT_FALSE(wait(pair_.near(), POLLIN, 300));
    done = true;
    signaller.join();
    sigaction(SIGUSR1, &previous, nullptr);
}

TEST(WaitReset, ResetByPeerIsDetached) {
    test::SocketPair pair(test::SocketPair::Kind::loopback_tcp);
    // Closing with a zero linger time sends a reset instead of an orderly close.
    const linger abort_close{1, 0};
    ::setsockopt(pair.far(), SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
    pair.close_far();
    EXPECT_EQ(code_of([&] { wait(pair.near(), POLLIN, 1000); }), "usb_detached");
}

}  // namespace
}  // namespace kova::test
