#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "core/api/kova.h"
#include "tests/support/usbmux_socket_dir.h"
#include "tools/phone/usbmux_server.h"

namespace {

using kova::phone::UsbmuxFault;
using kova::phone::UsbmuxServer;
using kova::phone::UsbmuxServerOptions;

// "ios:" and the head of the standard SHA-256 digest of "abc".
constexpr const char* kSerial = "abc";
constexpr const char* kPath = "ios:ba7816bf8f01";

class IosProbe : public ::testing::Test {
  protected:
    void serve(bool app_open) {
        UsbmuxServerOptions options;
        options.devices.front().serial = kSerial;
        options.app_open = app_open;
        server_ =
            std::make_unique<UsbmuxServer>(socket_.path(), options, [](int fd) { ::close(fd); });
    }
    kova::test::UsbmuxSocketDir socket_;
    std::unique_ptr<UsbmuxServer> server_;
};

TEST_F(IosProbe, OpenAppAnswersOne) {
    serve(true);
    EXPECT_EQ(kova_ios_probe(kPath), 1);
}

TEST_F(IosProbe, ClosedAppAnswersZero) {
    serve(false);
    EXPECT_EQ(kova_ios_probe(kPath), 0);
}

TEST_F(IosProbe, EveryOtherFailureAnswersMinusOne) {
    EXPECT_EQ(kova_ios_probe(kPath), -1);  // no daemon
    serve(true);
    EXPECT_EQ(kova_ios_probe("ios:000000000000"), -1);
    EXPECT_EQ(kova_ios_probe(nullptr), -1);
    server_->set_fault("Connect", UsbmuxFault::result_code, 1);
    EXPECT_EQ(kova_ios_probe(kPath), -1);
    server_->set_fault("Connect", UsbmuxFault::not_plist);
    EXPECT_EQ(kova_ios_probe(kPath), -1);
}

}  // namespace
