// Checks the client against the system's own usbmuxd (started by scripts/test.sh) with no
// device attached. Skipped, saying so, when no daemon answers on the default socket.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <initializer_list>
#include <optional>
#include <string>

#include "core/api/kova.h"
#include "core/transport/error.h"
#include "core/transport/ios_id.h"
#include "core/transport/usbmux_client.h"
#include "core/transport/usbmux_transport.h"

namespace kova {
namespace {

class RealUsbmuxd : public ::testing::Test {
  protected:
    void SetUp() override {
        // The real daemon is reached on its default socket, whatever the caller's environment.
        if (const char* value = ::getenv("USBMUXD_SOCKET_ADDRESS")) {
            previous_ = value;
        }
        ::unsetenv("USBMUXD_SOCKET_ADDRESS");
        try {
            usbmux::DaemonConnection probe;
        } catch (const Error& error) {
            GTEST_SKIP() << "no usbmuxd answers on /var/run/usbmuxd (" << error.what()
                         << "); start it as root with `usbmuxd -f -U root`";
        }
    }
    void TearDown() override {
        if (previous_) {
            ::setenv("USBMUXD_SOCKET_ADDRESS", previous_->c_str(), 1);
        }
    }
    // One request with its own keys (name, value pairs) on a fresh daemon connection.
    static usbmux::Plist ask(const char* message_type,
                             std::initializer_list<std::pair<const char*, plist_t>> own_keys = {}) {
        usbmux::DaemonConnection daemon;
        usbmux::Plist request = usbmux::new_request(message_type);
        for (const auto& [key, value] : own_keys) {
            plist_dict_set_item(request.get(), key, value);
        }
        return daemon.exchange(request.get());
    }
    std::optional<std::string> previous_;
};

TEST_F(RealUsbmuxd, UnderstandsOurRequestsAndListsNothing) {
    const usbmux::Plist reply = ask("ListDevices");
    const plist_t list = plist_dict_get_item(reply.get(), "DeviceList");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(plist_get_node_type(list), PLIST_ARRAY);
    EXPECT_EQ(plist_array_get_size(list), 0u);
    EXPECT_TRUE(UsbmuxTransport::list().empty());
}

TEST_F(RealUsbmuxd, ConnectToAnUnknownDeviceAnswersNotFound) {
    const usbmux::Plist reply =
        ask("Connect",
            {{"DeviceID", plist_new_uint(1)}, {"PortNumber", plist_new_uint(swapped_port(48000))}});
    EXPECT_EQ(connect_result_code(usbmux::read_number(reply.get(), "Number")),
              "ios_device_not_found");
    try {
        UsbmuxTransport link;
        link.connect(ios_id("00008101-000A1B2C3D4E5F60"), 48000);
        FAIL() << "connected to a device that is not attached";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "ios_device_not_found");
    }
    EXPECT_EQ(kova_ios_probe(ios_id("00008101-000A1B2C3D4E5F60").c_str()), -1);
}

TEST_F(RealUsbmuxd, HoldsNoPairRecordForAnUnknownSerial) {
    const usbmux::Plist reply =
        ask("ReadPairRecord", {{"PairRecordID", plist_new_string("00008101-000A1B2C3D4E5F60")}});
    EXPECT_EQ(plist_dict_get_item(reply.get(), "PairRecordData"), nullptr);
}

}  // namespace
}  // namespace kova
