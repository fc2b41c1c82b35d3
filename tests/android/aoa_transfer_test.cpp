// Bulk transfers over a connected accessory on the fake bus: bytes both ways, time-outs,
// faults of the endpoints and the device, and cancellation.

#include <libusb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/transport/aoa_transport.h"
#include "tests/android/fake_bus_fixture.h"

namespace kova::test {
namespace {

using fakeusb::BulkFault;
using fakeusb::Outstanding;
using fakeusb::PhoneScript;
using namespace std::chrono_literals;

// Bytes waiting on the phone's end right now.
std::vector<uint8_t> drain(int fd) {
    std::vector<uint8_t> all;
    uint8_t chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n <= 0) {
            return all;
        }
        all.insert(all.end(), chunk, chunk + n);
    }
}

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    return bytes;
}

class AoaTransfer : public FakeBusTest {
  protected:
    void SetUp() override {
        FakeBusTest::SetUp();
        phone_ = std::make_unique<fakeusb::Phone>(bus().add(PhoneScript{}));
        transport_ = std::make_unique<AoaTransport>();
        transport_->connect("1:1.4", "acc");
        phone_fd_ = phone_->take_phone_end();
    }
    void TearDown() override {
        transport_.reset();
        EXPECT_EQ(bus().outstanding(), Outstanding{});
        if (phone_fd_ >= 0) {
            ::close(phone_fd_);
        }
        FakeBusTest::TearDown();
    }
    // Runs `action` on another thread; "hung" when it has not ended within a few seconds.
    static std::string bounded_code(const std::function<void()>& action) {
        auto outcome = std::async(std::launch::async, [&] { return code_of(action); });
        if (outcome.wait_for(5s) != std::future_status::ready) {
            kova::interrupted = 1;  // lets the action end so the test can report
            outcome.wait();
            return "hung";
        }
        return outcome.get();
    }

    std::unique_ptr<fakeusb::Phone> phone_;
    std::unique_ptr<AoaTransport> transport_;
    int phone_fd_ = -1;
};

TEST_F(AoaTransfer, BytesTravelBothWaysUnchanged) {
    const auto sent = pattern(300000);  // more than the line holds at once
    auto received = std::async(std::launch::async, [&] {
        std::vector<uint8_t> all;
        uint8_t chunk[8192];
        while (all.size() < sent.size()) {
            const ssize_t n = ::recv(phone_fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                break;
            }
            all.insert(all.end(), chunk, chunk + n);
        }
        return all;
    });
    transport_->write(sent, 5000);
    EXPECT_EQ(received.get(), sent);

    const std::string reply = "status from the phone";
    ASSERT_EQ(::send(phone_fd_, reply.data(), reply.size(), 0), static_cast<ssize_t>(reply.size()));
    const auto got = transport_->read(2000);
    EXPECT_EQ(std::string(got.begin(), got.end()), reply);
}

TEST_F(AoaTransfer, ReadWithNothingPendingReturnsNothing) {
    EXPECT_TRUE(transport_->read(30).empty());
    // A zero time-out must not turn into libusb's endless wait.
    EXPECT_EQ(bounded_code([&] { EXPECT_TRUE(transport_->read(0).empty()); }), "");
}

TEST_F(AoaTransfer, EmptyWriteSendsNothing) {
    transport_->write({}, 100);
    EXPECT_TRUE(drain(phone_fd_).empty());
}

TEST_F(AoaTransfer, LockedPhoneThatTakesNothingAsksToCheckUnlockAndPermission) {
    phone_->set_fault(BulkFault::locked);
    EXPECT_EQ(code_of([&] { transport_->write(pattern(768), 150); }),
              "bulk_write_timeout_check_android_unlocked_and_usb_permission");
    EXPECT_TRUE(drain(phone_fd_).empty());
}

TEST_F(AoaTransfer, PartialWriteThenTimeOutIsAWriteTimeout) {
    phone_->set_fault(BulkFault::partial_then_timeout, 100);
    const auto bytes = pattern(1000);
    EXPECT_EQ(code_of([&] { transport_->write(bytes, 150); }), "write_timeout");
    const auto arrived = drain(phone_fd_);
    EXPECT_EQ(arrived, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 100));
}

TEST_F(AoaTransfer, StalledEndpointsEndBothDirections) {
    phone_->set_fault(BulkFault::stall);
    EXPECT_EQ(code_of([&] { transport_->read(1000); }), "usb_endpoint_stalled");
    EXPECT_EQ(code_of([&] { transport_->write(pattern(10), 1000); }), "usb_endpoint_stalled");
}

TEST_F(AoaTransfer, UnpluggingDuringAReadIsADetach) {
    std::thread unplug([&] {
        std::this_thread::sleep_for(50ms);
        phone_->detach();
    });
    EXPECT_EQ(bounded_code([&] { transport_->read(30000); }), "usb_detached");
    unplug.join();
}

TEST_F(AoaTransfer, UnpluggingDuringAWriteIsADetach) {
    phone_->set_fault(BulkFault::locked);
    std::thread unplug([&] {
        std::this_thread::sleep_for(50ms);
        phone_->detach();
    });
    EXPECT_EQ(bounded_code([&] { transport_->write(pattern(768), 30000); }), "usb_detached");
    unplug.join();
}

TEST_F(AoaTransfer, TransferToAPhoneAlreadyGoneIsADetach) {
    phone_->detach();
    EXPECT_EQ(code_of([&] { transport_->read(100); }), "usb_detached");
}

TEST_F(AoaTransfer, OtherTransferStatusesCarryTheirNumber) {
    ::close(phone_fd_);  // the phone side of the line breaks: OUT transfers end in error
    phone_fd_ = -1;
    EXPECT_EQ(code_of([&] { transport_->write(pattern(768), 1000); }), "bulk_transfer_status_1");
}

TEST_F(AoaTransfer, FailingEventHandlingCancelsTheTransfer) {
    bus().fail_event_handling(1, LIBUSB_ERROR_IO);
    EXPECT_EQ(bounded_code([&] { transport_->read(30000); }), "usb_transfer_cancelled");
}

TEST_F(AoaTransfer, InterruptedEventHandlingIsNoFailure) {
    bus().fail_event_handling(2, LIBUSB_ERROR_INTERRUPTED);
    const std::string reply = "late";
    ASSERT_EQ(::send(phone_fd_, reply.data(), reply.size(), 0), 4);
    const auto got = transport_->read(2000);
    EXPECT_EQ(std::string(got.begin(), got.end()), reply);
}

TEST_F(AoaTransfer, InterruptCancelsARunningRead) {
    std::thread interrupter([] {
        std::this_thread::sleep_for(50ms);
        kova::interrupted = 1;
    });
    EXPECT_EQ(bounded_code([&] { transport_->read(30000); }), "usb_transfer_cancelled");
    interrupter.join();
}

TEST_F(AoaTransfer, InterruptCancelsAWriteToALockedPhone) {
    phone_->set_fault(BulkFault::locked);
    std::thread interrupter([] {
        std::this_thread::sleep_for(50ms);
        kova::interrupted = 1;
    });
    EXPECT_EQ(bounded_code([&] { transport_->write(pattern(768), 30000); }),
              "usb_transfer_cancelled");
    interrupter.join();
}

TEST(AoaUnconnected, TransfersNeedAConnection) {
    fakeusb::Bus::instance().reset();
    AoaTransport transport;
    std::string code;
    try {
        transport.read(10);
    } catch (const Error& error) {
        code = error.what();
    }
    EXPECT_EQ(code, "not_connected");
}

}  // namespace
}  // namespace kova::test
