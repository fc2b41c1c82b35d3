// Connecting to phones on the fake bus: the switch into accessory mode, phones already in it,
// and every way the switch can go wrong.

#include <libusb.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/transport/aoa_transport.h"
#include "tests/android/fake_bus_fixture.h"

namespace kova::test {
namespace {

using fakeusb::ControlRequest;
using fakeusb::Outstanding;
using fakeusb::PhoneScript;

std::string text_of(const ControlRequest& request) {
    return {request.data.begin(), request.data.end()};
}

class AoaConnect : public FakeBusTest {};

TEST_F(AoaConnect, TestProgramRunsOnTheFakeLibrary) {
    ASSERT_NE(libusb_get_version(), nullptr);
    EXPECT_STREQ(libusb_get_version()->describe, fakeusb::kFakeDescription);
}

TEST_F(AoaConnect, SwitchesPhoneIntoAccessoryModeWithTheIdentityStrings) {
    auto phone = bus().add(PhoneScript{});
    {
        AoaTransport transport;
        transport.connect("1:1.4", "acc-7f3e");
        EXPECT_EQ(transport.interface_number(), 0);
        EXPECT_EQ(transport.accessory_product(), 0x2D00);
    }
    const auto log = bus().control_log();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[0].request_type, 0xC0);
    EXPECT_EQ(log[0].request, 51);
    const std::vector<std::pair<uint16_t, std::string>> expected{
        {0, "KOVA Audio"}, {1, "Quillomar"}, {2, "KOVA PCM Monitor"}, {3, "1.0"}, {5, "acc-7f3e"}};
    for (size_t i = 0; i < expected.size(); ++i) {
        const ControlRequest& request = log[1 + i];
        EXPECT_EQ(request.request_type, 0x40);
        EXPECT_EQ(request.request, 52);
        EXPECT_EQ(request.value, 0);
        EXPECT_EQ(request.index, expected[i].first);
        EXPECT_EQ(text_of(request), expected[i].second + std::string(1, '\0'));
    }
    EXPECT_EQ(log[6].request_type, 0x40);
    EXPECT_EQ(log[6].request, 53);
    EXPECT_EQ(log[6].index, 0);
    EXPECT_TRUE(log[6].data.empty());
    EXPECT_EQ(phone.starts(), 1);
    EXPECT_EQ(bus().outstanding(), Outstanding{});
}

TEST_F(AoaConnect, PhoneAlreadyInAccessoryModeIsTakenWithoutControlRequests) {
    PhoneScript script;
    script.vendor = 0x18D1;
    script.product = 0x2D01;
    script.accessory_product = 0x2D01;
    bus().add(script);
    AoaTransport transport;
    transport.connect("1:1.4", "acc");
    EXPECT_TRUE(bus().control_log().empty());
    EXPECT_EQ(transport.accessory_product(), 0x2D01);
    // The debugging interface next to it has bulk endpoints too and must not be taken.
    EXPECT_EQ(transport.interface_number(), 0);
}

TEST_F(AoaConnect, AccessoryOnAnAlternateSettingIsSelected) {
    PhoneScript script;
    script.accessory_interface = 2;
    script.accessory_alternate = 1;
    bus().add(script);
    AoaTransport transport;
    transport.connect("1:1.4", "acc");
    EXPECT_EQ(transport.interface_number(), 2);
    const auto log = bus().control_log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().request, LIBUSB_REQUEST_SET_INTERFACE);
    EXPECT_EQ(log.back().index, 2);
    EXPECT_EQ(log.back().value, 1);
}

TEST_F(AoaConnect, SecondConnectIsRefused) {
    bus().add(PhoneScript{});
    AoaTransport transport;
    transport.connect("1:1.4", "acc");
    EXPECT_EQ(code_of([&] { transport.connect("1:1.4", "acc"); }), "already_connected");
}

TEST_F(AoaConnect, AccessoryIdAtTheLimitStopsBeforeTheSerialAndStart) {
    bus().add(PhoneScript{});
    AoaTransport transport;
    EXPECT_EQ(code_of([&] { transport.connect("1:1.4", std::string(256, 'a')); }),
              "aoa_string_limit");
    const auto log = bus().control_log();
    ASSERT_EQ(log.size(), 5u);  // get-protocol and strings 0 to 3
    EXPECT_EQ(log.back().index, 3);
}

TEST_F(AoaConnect, AccessoryIdWithAZeroByteIsRefused) {
    bus().add(PhoneScript{});
    AoaTransport transport;
    EXPECT_EQ(code_of([&] { transport.connect("1:1.4", std::string("ab\0cd", 5)); }),
              "aoa_string_limit");
}

TEST_F(AoaConnect, AccessoryIdOf255BytesIsSent) {
    bus().add(PhoneScript{});
    AoaTransport transport;
    transport.connect("1:1.4", std::string(255, 'z'));
    EXPECT_EQ(bus().control_log()[5].data.size(), 256u);
}

TEST_F(AoaConnect, StartRequestAnsweredByLeavingTheBusIsFine) {
    PhoneScript script;
    script.start_result = LIBUSB_ERROR_NO_DEVICE;
    bus().add(script);
    AoaTransport transport;
    EXPECT_EQ(code_of([&] { transport.connect("1:1.4", "acc"); }), "");
}

TEST_F(AoaConnect, InterruptEndsTheReenumerationWait) {
    PhoneScript script;
    script.return_after_ms = -1;
    bus().add(script);
    auto outcome = std::async(std::launch::async, [&] {
        AoaTransport transport;
        return code_of([&] { transport.connect("1:1.4", "acc"); });
    });
    while (bus().control_log().size() < 7) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kova::interrupted = 1;
    // Far below the 10 s the wait would otherwise last.
    ASSERT_EQ(outcome.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(outcome.get(), "accessory_reenumeration_timeout");
}

TEST_F(AoaConnect, NameReportsTheLinkedLibraryVersion) {
    bus().set_version(1, 2, 3);
    AoaTransport transport;
    EXPECT_EQ(transport.name(), "AOA bulk / libusb 1.2.3");
}

// One scripted fault and the code connect must end with.
struct ConnectFault {
    const char* name;
    PhoneScript script;
    const char* path;
    const char* code;
    bool twice = false;  // a second phone with the same script is plugged in
};

void PrintTo(const ConnectFault& fault, std::ostream* out) {
    *out << fault.name;
}

PhoneScript scripted(const std::function<void(PhoneScript&)>& change) {
    PhoneScript script;
    change(script);
    return script;
}

class AoaConnectFault : public FakeBusTest, public ::testing::WithParamInterface<ConnectFault> {};

TEST_P(AoaConnectFault, EndsWithItsCodeAndReleasesEverything) {
    const ConnectFault& fault = GetParam();
    bus().add(fault.script);
    if (fault.twice) {
        bus().add(fault.script);
    }
    {
        AoaTransport transport;
        EXPECT_EQ(code_of([&] { transport.connect(fault.path, "acc"); }), fault.code);
    }
    EXPECT_EQ(bus().outstanding(), Outstanding{});
}

INSTANTIATE_TEST_SUITE_P(
    Faults, AoaConnectFault,
    ::testing::Values(
        ConnectFault{"unknown_path", PhoneScript{}, "1:1.5", "selected_device_not_found"},
        ConnectFault{"two_phones_on_one_path", PhoneScript{}, "1:1.4", "ambiguous_device_path",
                     true},
        ConnectFault{"apple", scripted([](auto& s) { s.vendor = 0x05AC; }), "1:1.4",
                     "aoa_refused_apple_device"},
        ConnectFault{"descriptor", scripted([](auto& s) { s.descriptor_error = true; }), "1:1.4",
                     "descriptor: LIBUSB_ERROR_IO"},
        ConnectFault{"no_access", scripted([](auto& s) { s.open_error = LIBUSB_ERROR_ACCESS; }),
                     "1:1.4", "open_selected_device: LIBUSB_ERROR_ACCESS"},
        ConnectFault{"zero_version", scripted([](auto& s) { s.aoa_version = 0; }), "1:1.4",
                     "aoa_not_supported"},
        ConnectFault{"one_byte_version", scripted([](auto& s) { s.get_protocol_length = 1; }),
                     "1:1.4", "aoa_not_supported"},
        ConnectFault{"protocol_stalls",
                     scripted([](auto& s) { s.get_protocol_error = LIBUSB_ERROR_PIPE; }), "1:1.4",
                     "AOA_GET_PROTOCOL: LIBUSB_ERROR_PIPE"},
        ConnectFault{"short_string", scripted([](auto& s) { s.string_shortfall = 1; }), "1:1.4",
                     "aoa_short_control_write"},
        ConnectFault{"start_fails", scripted([](auto& s) { s.start_result = LIBUSB_ERROR_PIPE; }),
                     "1:1.4", "AOA_START_ACCESSORY: LIBUSB_ERROR_PIPE"},
        ConnectFault{"address_only", scripted([](auto& s) { s.ports.clear(); }), "1:addr7",
                     "no_topology_for_reenumeration_list_and_select_again"},
        ConnectFault{"two_accessories_return", scripted([](auto& s) { s.returning_copies = 2; }),
                     "1:1.4", "ambiguous_reenumeration"},
        ConnectFault{"accessory_interface_missing",
                     scripted([](auto& s) { s.accessory_settings = 0; }), "1:1.4",
                     "accessory_bulk_interface_missing"},
        ConnectFault{"accessory_interface_doubled",
                     scripted([](auto& s) { s.accessory_settings = 2; }), "1:1.4",
                     "ambiguous_accessory_interface"},
        ConnectFault{"claim_refused", scripted([](auto& s) { s.claim_error = LIBUSB_ERROR_BUSY; }),
                     "1:1.4", "claim_accessory_interface: LIBUSB_ERROR_BUSY"},
        ConnectFault{"never_returns", scripted([](auto& s) { s.return_after_ms = -1; }), "1:1.4",
                     "accessory_reenumeration_timeout"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AoaConnect, AddressOnlyPhoneIsStillSwitched) {
    PhoneScript script;
    script.ports.clear();
    auto phone = bus().add(script);
    AoaTransport transport;
    EXPECT_EQ(code_of([&] { transport.connect("1:addr7", "acc"); }),
              "no_topology_for_reenumeration_list_and_select_again");
    EXPECT_EQ(phone.starts(), 1);
}

TEST_F(AoaConnect, LibraryFailuresCarryTheirPrefix) {
    bus().fail_init(LIBUSB_ERROR_OTHER);
    EXPECT_EQ(code_of([] { AoaTransport transport; }), "libusb_init: LIBUSB_ERROR_OTHER");
    AoaTransport transport;
    bus().fail_enumeration(LIBUSB_ERROR_NO_MEM);
    EXPECT_EQ(code_of([&] { transport.connect("1:1.4", "acc"); }),
              "enumerate: LIBUSB_ERROR_NO_MEM");
}

class AoaList : public FakeBusTest {};

TEST_F(AoaList, ListsEveryReadableDeviceWithItsPath) {
    PhoneScript hub;
    hub.ports = {2};
    hub.address = 3;
    hub.vendor = 0x1D6B;
    hub.product = 0x0002;
    hub.device_class = 9;
    bus().add(hub);
    PhoneScript loose;
    loose.bus = 20;
    loose.ports.clear();
    loose.address = 5;
    bus().add(loose);
    PhoneScript unreadable;
    unreadable.descriptor_error = true;
    bus().add(unreadable);
    PhoneScript apple;
    apple.ports = {1, 2, 3, 4, 5, 6, 7};
    apple.vendor = 0x05AC;
    apple.product = 0x12A8;
    bus().add(apple);

    AoaTransport transport;
    const auto devices = transport.list();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].path, "1:2");
    EXPECT_TRUE(devices[0].topology);
    EXPECT_EQ(devices[0].device_class, 9);
    EXPECT_EQ(devices[0].vendor, 0x1D6B);
    EXPECT_EQ(devices[0].address, 3);
    EXPECT_EQ(devices[1].path, "20:addr5");
    EXPECT_FALSE(devices[1].topology);
    EXPECT_EQ(devices[1].bus, 20);
    EXPECT_EQ(devices[2].path, "1:1.2.3.4.5.6.7");
    EXPECT_EQ(devices[2].product, 0x12A8);
}

}  // namespace
}  // namespace kova::test
