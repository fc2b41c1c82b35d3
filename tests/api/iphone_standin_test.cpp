// kova_list_devices and kova_ios_probe through libkova.so: the real libusb of this machine
// together with the usbmux stand-in presenting an emulated iPhone.

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

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

std::string listed_text() {
    char* text = kova_list_devices();
    EXPECT_NE(text, nullptr);
    std::string copy = text != nullptr ? text : "";
    kova_free(text);
    return copy;
}

class StandIn : public ::testing::Test {
  protected:
    void serve(bool trusted, bool app_open = true) {
        server_.reset();  // the socket's path is free again for the next one
        UsbmuxServerOptions options;
        options.devices.front().serial = kSerial;
        options.devices.front().trusted = trusted;
        options.app_open = app_open;
        server_ =
            std::make_unique<UsbmuxServer>(socket_.path(), options, [](int fd) { ::close(fd); });
    }
    kova::test::UsbmuxSocketDir socket_;
    std::unique_ptr<UsbmuxServer> server_;
};

using ListDevices = StandIn;
using IosProbe = StandIn;

TEST_F(ListDevices, EmulatedIphoneIsListedNextToWhateverUsbHolds) {
    serve(true);
    const std::string text = listed_text();
    // No registry record matches here.
    const std::string iphone =
        "{\"accessory\":false,\"hub\":false,\"path\":\"ios:ba7816bf8f01\",\"platform\":\"ios\","
        "\"product\":4776,\"productName\":\"\",\"serial\":\"abc\",\"trusted\":true,"
        "\"vendor\":1452,\"vendorName\":\"Apple\"}";
    EXPECT_NE(text.find(iphone), std::string::npos) << text;
    const auto devices = nlohmann::json::parse(text);
    int iphones = 0;
    for (const auto& device : devices) {
        iphones += device["platform"] == "ios";
        if (device["platform"] == "android") {
            EXPECT_FALSE(device.contains("trusted"));
        }
    }
    EXPECT_EQ(iphones, 1);
    EXPECT_EQ(devices.back()["path"], "ios:ba7816bf8f01");  // iOS devices come last
}

TEST_F(ListDevices, UntrustedIphoneSaysSo) {
    serve(false);
    const auto devices = nlohmann::json::parse(listed_text());
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(devices.back()["trusted"], false);
}

TEST_F(ListDevices, NoDaemonLeavesOutOnlyTheIphones) {
    const auto devices = nlohmann::json::parse(listed_text());
    ASSERT_TRUE(devices.is_array());
    for (const auto& device : devices) {
        EXPECT_EQ(device["platform"], "android");
    }
}

TEST_F(IosProbe, OpenAppAnswersOneAndClosedAppZero) {
    serve(true);
    EXPECT_EQ(kova_ios_probe(kPath), 1);
    serve(true, false);
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

TEST(KovaFree, NullIsAllowed) {
    kova_free(nullptr);
}

}  // namespace
