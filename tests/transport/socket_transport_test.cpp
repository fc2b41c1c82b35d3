#include "core/transport/socket_transport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "core/transport/error.h"
#include "core/transport/interrupt.h"
#include "tests/support/error_code.h"
#include "tests/support/socket_pair.h"

namespace kova::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Counts SIGPIPE instead of letting it end the process, so that a raised signal shows as a
// failed expectation. The disposition is restored afterwards.
class SigpipeCounter {
  public:
    SigpipeCounter() {
        count_ = 0;
        struct sigaction action {};
        action.sa_handler = [](int) { ++count_; };
        sigemptyset(&action.sa_mask);
        sigaction(SIGPIPE, &action, &previous_);
    }
    ~SigpipeCounter() { sigaction(SIGPIPE, &previous_, nullptr); }
    int count() const { return count_; }

  private:
    static inline std::atomic<int> count_{0};
    struct sigaction previous_ {};
};

size_t pending_bytes(int fd) {
    int available = 0;
    ::ioctl(fd, FIONREAD, &available);
    return static_cast<size_t>(available);
}

// Reads from the peer end without blocking; empty when nothing is there.
std::vector<uint8_t> drain(int fd) {
    std::vector<uint8_t> all;
    uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) {
            return all;
        }
        all.insert(all.end(), buffer, buffer + n);
    }
}

class SocketTransportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        interrupted = 0;
        transport_.adopt(pair_.release_near());
    }
    void TearDown() override { interrupted = 0; }

    void send_from_peer(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(::send(pair_.far(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Sets the interrupt flag from another thread after `delay`.
    std::thread interrupt_after(milliseconds delay) {
        return std::thread([delay] {
            std::this_thread::sleep_for(delay);
            interrupted = 1;
        });
    }

    test::SocketPair pair_;
    SocketTransport transport_;
};

TEST_F(SocketTransportTest, NameIsSocket) {
    EXPECT_EQ(transport_.name(), "socket");
}

TEST_F(SocketTransportTest, AdoptedSocketIsNonBlocking) {
    SocketTransport other;
    test::SocketPair pair;
    const int fd = pair.near();
    other.adopt(pair.release_near());
    EXPECT_NE(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
}

TEST_F(SocketTransportTest, WriteDeliversEveryByteInOrder) {
    std::vector<uint8_t> bytes(5000);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 31);
    }
    transport_.write(bytes, 1000);
    EXPECT_EQ(drain(pair_.far()), bytes);
}

TEST_F(SocketTransportTest, EmptyWriteSendsNothing) {
    transport_.write({}, 0);
    EXPECT_EQ(pending_bytes(pair_.far()), 0u);
}

TEST_F(SocketTransportTest, ReadReturnsExactlyWhatArrived) {
    send_from_peer({1, 2, 3, 4, 5});
    EXPECT_EQ(transport_.read(1000), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(SocketTransportTest, ReadTakesAtMost16384BytesAtATime) {
    const std::vector<uint8_t> big(40000, 0x42);
    std::thread peer([&] { send_from_peer(big); });
    std::vector<uint8_t> received;
    const auto start = Clock::now();
    while (received.size() < big.size() && elapsed_ms(start) < 5000) {
        const std::vector<uint8_t> chunk = transport_.read(100);
        EXPECT_LE(chunk.size(), 16384u);
        received.insert(received.end(), chunk.begin(), chunk.end());
    }
    peer.join();
    EXPECT_EQ(received, big);
}

TEST_F(SocketTransportTest, ReadZeroIsOneNonBlockingCheck) {
    // A read(0) that waited even one 100 ms slice would take 2 s over twenty calls.
    const auto start = Clock::now();
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(transport_.read(0).empty());
    }
    EXPECT_LT(elapsed_ms(start), 1000);
    send_from_peer({9});
    EXPECT_EQ(transport_.read(0), std::vector<uint8_t>{9});
}

TEST_F(SocketTransportTest, ReadTimesOutWithNothing) {
    const auto start = Clock::now();
    EXPECT_TRUE(transport_.read(250).empty());
    EXPECT_GE(elapsed_ms(start), 240);
}

TEST_F(SocketTransportTest, OrderlyCloseEndsReadAfterPendingBytes) {
    send_from_peer({7, 8});
    pair_.close_far();
    EXPECT_EQ(transport_.read(1000), (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(code_of([&] { transport_.read(1000); }), "ios_connection_closed");
    EXPECT_EQ(code_of([&] { transport_.read(0); }), "ios_connection_closed");
}

TEST_F(SocketTransportTest, WriteToClosedPeerRaisesNoSignal) {
    SigpipeCounter sigpipe;
    pair_.close_far();
    EXPECT_EQ(code_of([&] { transport_.write({1, 2, 3}, 1000); }), "ios_connection_closed");
    EXPECT_EQ(code_of([&] { transport_.write({1, 2, 3}, 1000); }), "ios_connection_closed");
    EXPECT_EQ(sigpipe.count(), 0);
}

TEST_F(SocketTransportTest, PeerThatStopsReadingGivesWriteTimeout) {
    pair_.shrink_buffers();
    const std::vector<uint8_t> big(1 << 20, 0x33);
    const auto start = Clock::now();
    EXPECT_EQ(code_of([&] { transport_.write(big, 300); }), "write_timeout");
    const long long took = elapsed_ms(start);
    EXPECT_GE(took, 290);
    EXPECT_LT(took, 10000);
    // Part of the buffer did go out before the deadline.
    EXPECT_GT(pending_bytes(pair_.far()), 0u);
}

TEST_F(SocketTransportTest, InterruptEndsALongRead) {
    std::thread setter = interrupt_after(milliseconds(150));
    const auto start = Clock::now();
    EXPECT_EQ(code_of([&] { transport_.read(60000); }), "usb_transfer_cancelled");
    setter.join();
    // A bound that catches a read ignoring the flag, not a speed check.
    EXPECT_LT(elapsed_ms(start), 150 + 1000);
}

TEST_F(SocketTransportTest, InterruptEndsABlockedWrite) {
    pair_.shrink_buffers();
    std::thread setter = interrupt_after(milliseconds(150));
    const auto start = Clock::now();
    EXPECT_EQ(code_of([&] { transport_.write(std::vector<uint8_t>(1 << 20), 60000); }),
              "usb_transfer_cancelled");
    setter.join();
    EXPECT_LT(elapsed_ms(start), 150 + 1000);
}

TEST_F(SocketTransportTest, InterruptWinsOverPendingBytes) {
    send_from_peer({1});
    interrupted = 1;
    EXPECT_EQ(code_of([&] { transport_.read(0); }), "usb_transfer_cancelled");
    interrupted = 0;
    EXPECT_EQ(transport_.read(0), std::vector<uint8_t>{1});
}

TEST_F(SocketTransportTest, SecondAdoptIsRefusedAndKeepsTheFirstDescriptor) {
    test::SocketPair second;
    EXPECT_EQ(code_of([&] { transport_.adopt(second.near()); }), "socket_adopt");
    // The refused descriptor stays the caller's: still blocking, still open.
    EXPECT_EQ(::fcntl(second.near(), F_GETFL) & O_NONBLOCK, 0);
    transport_.write({4, 2}, 1000);
    EXPECT_EQ(drain(pair_.far()), (std::vector<uint8_t>{4, 2}));
    EXPECT_EQ(pending_bytes(second.far()), 0u);
}

TEST(SocketTransportEmpty, NotConnected) {
    SocketTransport transport;
    EXPECT_EQ(code_of([&] { transport.read(0); }), "not_connected");
    EXPECT_EQ(code_of([&] { transport.write({1}, 10); }), "not_connected");
    EXPECT_EQ(code_of([&] { transport.write({}, 10); }), "not_connected");
}

TEST(SocketTransportEmpty, NegativeDescriptorIsRefused) {
    SocketTransport transport;
    EXPECT_EQ(code_of([&] { transport.adopt(-1); }), "socket_adopt");
    EXPECT_EQ(code_of([&] { transport.read(0); }), "not_connected");
}

TEST(SocketTransportEmpty, DescriptorThatCannotBeMadeNonBlockingIsNotTaken) {
    const int closed = ::dup(0);
    ASSERT_GE(closed, 0);
    ::close(closed);
    SocketTransport transport;
    EXPECT_EQ(code_of([&] { transport.adopt(closed); }), "socket_nonblocking");
    EXPECT_EQ(code_of([&] { transport.read(0); }), "not_connected");
}

TEST(SocketTransportLifetime, DestructionClosesTheDescriptor) {
    test::SocketPair pair;
    {
        SocketTransport transport;
        transport.adopt(pair.release_near());
    }
    uint8_t byte = 0;
    EXPECT_EQ(::recv(pair.far(), &byte, 1, MSG_DONTWAIT), 0);
}

// A TCP connection over loopback, port chosen by the system.
class LoopbackTest : public ::testing::Test {
  protected:
    void SetUp() override { transport_.adopt(pair_.release_near()); }

    test::SocketPair pair_{test::SocketPair::Kind::loopback_tcp};
    SocketTransport transport_;
};

TEST_F(LoopbackTest, WritesAfterThePeerClosedEndWithConnectionClosedAndNoSignal) {
    SigpipeCounter sigpipe;
    pair_.close_far();
    // The first send may still be accepted; the peer's reset makes a later one fail.
    std::string code;
    const auto start = Clock::now();
    while (code.empty() && elapsed_ms(start) < 5000) {
        code = code_of([&] { transport_.write(std::vector<uint8_t>(100, 1), 1000); });
        std::this_thread::sleep_for(milliseconds(5));
    }
    EXPECT_EQ(code, "ios_connection_closed");
    EXPECT_EQ(sigpipe.count(), 0);
}

TEST_F(LoopbackTest, OrderlyCloseEndsRead) {
    ::shutdown(pair_.far(), SHUT_WR);
    EXPECT_EQ(code_of([&] { transport_.read(1000); }), "ios_connection_closed");
}

}  // namespace
}  // namespace kova::test
