#include "core/transport/usbmux_transport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "core/transport/error.h"
#include "core/transport/ios_id.h"
#include "core/transport/usbmux_client.h"
#include "tests/support/usbmux_socket_dir.h"
#include "tools/phone/usbmux_server.h"

namespace kova {
namespace {

using phone::UsbmuxDevice;
using phone::UsbmuxFault;
using phone::UsbmuxServer;
using phone::UsbmuxServerOptions;

constexpr unsigned short kAppPort = 48000;

// Echoes whatever arrives on the tunnel until the desktop closes it.
void echo_tunnel(int fd) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0 || ::send(fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) {
            break;
        }
    }
    ::close(fd);
}

UsbmuxDevice device(std::string serial, int64_t device_id, bool trusted = true) {
    UsbmuxDevice entry;
    entry.serial = std::move(serial);
    entry.device_id = device_id;
    entry.trusted = trusted;
    return entry;
}

std::string connect_code(const std::string& id) {
    try {
        UsbmuxTransport link;
        link.connect(id, kAppPort);
    } catch (const Error& error) {
        return error.what();
    }
    return "connected";
}

class UsbmuxAgainstStandIn : public ::testing::Test {
  protected:
    void serve(UsbmuxServerOptions options) {
        server_ = std::make_unique<UsbmuxServer>(socket_.path(), std::move(options), echo_tunnel);
    }
    void serve_one(UsbmuxDevice entry = device("00008101-000A1B2C3D4E5F60", 3)) {
        UsbmuxServerOptions options;
        options.devices = {entry};
        serve(options);
    }
    std::vector<nlohmann::json> requests_of(const std::string& type) const {
        std::vector<nlohmann::json> matching;
        for (const auto& request : server_->requests()) {
            if (request.value("MessageType", "") == type) {
                matching.push_back(request);
            }
        }
        return matching;
    }

    test::UsbmuxSocketDir socket_;
    std::unique_ptr<UsbmuxServer> server_;
};

TEST_F(UsbmuxAgainstStandIn, ListsUsbDevicesWithSerialsAndTheirPairing) {
    UsbmuxServerOptions options;
    UsbmuxDevice first = device("serial-first", 5);
    first.product_id = 0x12A8;
    first.location_id = 0x00030007;
    UsbmuxDevice network = device("serial-wifi", 6);
    network.connection_type = "Network";
    UsbmuxDevice unnamed = device("", 7);
    options.devices = {first, network, unnamed, device("serial-second", 8, false)};
    serve(options);

    const std::vector<IosDevice> devices = UsbmuxTransport::list();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, ios_id("serial-first"));
    EXPECT_EQ(devices[0].serial, "serial-first");
    EXPECT_EQ(devices[0].device_id, 5);
    EXPECT_EQ(devices[0].product_id, 0x12A8);
    EXPECT_EQ(devices[0].location_id, 0x00030007u);
    EXPECT_TRUE(devices[0].trusted);
    EXPECT_EQ(devices[1].id, ios_id("serial-second"));
    EXPECT_EQ(devices[1].device_id, 8);
    EXPECT_FALSE(devices[1].trusted);

    // One pairing query per listed device, every request carrying the client's names.
    const auto pair_queries = requests_of("ReadPairRecord");
    ASSERT_EQ(pair_queries.size(), 2u);
    EXPECT_EQ(pair_queries[0]["PairRecordID"], "serial-first");
    EXPECT_EQ(pair_queries[1]["PairRecordID"], "serial-second");
    ASSERT_EQ(server_->requests().size(), 3u);
    for (const auto& request : server_->requests()) {
        EXPECT_EQ(request["ClientVersionString"], "KOVA");
        EXPECT_EQ(request["ProgName"], "KOVA Connect");
    }
}

TEST_F(UsbmuxAgainstStandIn, FailingPairQueryLeavesDeviceUntrusted) {
    serve_one();
    for (UsbmuxFault fault : {UsbmuxFault::close_early, UsbmuxFault::not_plist,
                              UsbmuxFault::result_code, UsbmuxFault::size_15}) {
        server_->set_fault("ReadPairRecord", fault, 1);
        const std::vector<IosDevice> devices = UsbmuxTransport::list();
        ASSERT_EQ(devices.size(), 1u) << static_cast<int>(fault);
        EXPECT_FALSE(devices[0].trusted) << static_cast<int>(fault);
    }
}

TEST_F(UsbmuxAgainstStandIn, DaemonTroubleGivesAnEmptyList) {
    EXPECT_TRUE(UsbmuxTransport::list().empty());  // nothing listens yet
    serve_one();
    for (UsbmuxFault fault :
         {UsbmuxFault::close_early, UsbmuxFault::not_plist, UsbmuxFault::not_dict,
          UsbmuxFault::size_oversize, UsbmuxFault::result_code}) {
        server_->set_fault("ListDevices", fault, 1);
        EXPECT_TRUE(UsbmuxTransport::list().empty()) << static_cast<int>(fault);
    }
}

TEST_F(UsbmuxAgainstStandIn, ConnectOpensTheTunnelToTheAppPort) {
    serve_one();
    UsbmuxTransport link;
    link.connect(ios_id("00008101-000A1B2C3D4E5F60"), kAppPort);
    EXPECT_EQ(link.name(), "usbmux / usbmuxd");

    const auto connects = requests_of("Connect");
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(connects[0]["DeviceID"], 3);
    EXPECT_EQ(connects[0]["PortNumber"], 32955);
    EXPECT_EQ(connects[0]["ClientVersionString"], "KOVA");
    EXPECT_EQ(connects[0]["ProgName"], "KOVA Connect");

    const std::vector<uint8_t> hello{'h', 'e', 'l', 'l', 'o'};
    link.write(hello, 1000);
    std::vector<uint8_t> echoed;
    for (int attempt = 0; attempt < 50 && echoed.size() < hello.size(); ++attempt) {
        const auto chunk = link.read(100);
        echoed.insert(echoed.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(echoed, hello);
    EXPECT_EQ(connect_code(ios_id("00008101-000A1B2C3D4E5F60")), "connected");
}

TEST_F(UsbmuxAgainstStandIn, ConnectedTransportRefusesASecondConnect) {
    serve_one();
    UsbmuxTransport link;
    link.connect(ios_id("00008101-000A1B2C3D4E5F60"), kAppPort);
    try {
        link.connect(ios_id("00008101-000A1B2C3D4E5F60"), kAppPort);
        FAIL() << "second connect succeeded";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "already_connected");
    }
}

TEST_F(UsbmuxAgainstStandIn, ClosedAppIsNotListening) {
    UsbmuxServerOptions options;
    options.devices = {device("closed-app", 2)};
    options.app_open = false;
    serve(options);
    EXPECT_EQ(connect_code(ios_id("closed-app")), "ios_app_not_listening");
}

TEST_F(UsbmuxAgainstStandIn, ConnectResultsBecomeCodes) {
    serve_one();
    const std::string id = ios_id("00008101-000A1B2C3D4E5F60");
    const std::pair<int64_t, const char*> cases[] = {
        {2, "ios_device_not_found"}, {3, "ios_app_not_listening"}, {1, "usbmux_result_1"},
        {6, "usbmux_result_6"},      {-5, "usbmux_result_-5"},
    };
    for (const auto& [number, code] : cases) {
        server_->set_fault("Connect", UsbmuxFault::result_code, number);
        EXPECT_EQ(connect_code(id), code);
    }
    server_->set_fault("Connect", UsbmuxFault::missing_number);
    EXPECT_EQ(connect_code(id), "usbmux_result_-1");
    // A failed connect leaves the transport empty and connectable again.
    UsbmuxTransport link;
    server_->set_fault("Connect", UsbmuxFault::result_code, 3);
    EXPECT_THROW(link.connect(id, kAppPort), Error);
    server_->set_fault("Connect", UsbmuxFault::none);
    EXPECT_NO_THROW(link.connect(id, kAppPort));
}

TEST_F(UsbmuxAgainstStandIn, MalformedConnectRepliesAreRefused) {
    serve_one();
    const std::string id = ios_id("00008101-000A1B2C3D4E5F60");
    // The size faults send a bare header and keep the connection open: reading the announced
    // payload would end in the 5 s time-out with "usbmux_read" instead.
    const std::pair<UsbmuxFault, const char*> cases[] = {
        {UsbmuxFault::size_15, "usbmux_reply_size"},
        {UsbmuxFault::size_oversize, "usbmux_reply_size"},
        {UsbmuxFault::not_plist, "usbmux_bad_reply"},
        {UsbmuxFault::not_dict, "usbmux_bad_reply"},
        {UsbmuxFault::close_early, "usbmux_read"},
    };
    for (const auto& [fault, code] : cases) {
        server_->set_fault("Connect", fault);
        EXPECT_EQ(connect_code(id), code) << static_cast<int>(fault);
    }
}

TEST_F(UsbmuxAgainstStandIn, SilentDaemonTimesOutAfterFiveSeconds) {
    serve_one();
    server_->set_fault("Connect", UsbmuxFault::never_answer);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connect_code(ios_id("00008101-000A1B2C3D4E5F60")), "usbmux_read");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4900));
}

TEST_F(UsbmuxAgainstStandIn, DeviceIdsMustMatchExactlyOnce) {
    UsbmuxServerOptions options;
    options.devices = {device("twin", 1), device("twin", 2), device("single", 3)};
    serve(options);
    EXPECT_EQ(connect_code(ios_id("twin")), "ambiguous_device_path");
    EXPECT_EQ(connect_code(ios_id("absent")), "ios_device_not_found");
    EXPECT_EQ(connect_code("ios:"), "ios_device_not_found");
    EXPECT_EQ(connect_code(ios_id("single")), "connected");
}

TEST_F(UsbmuxAgainstStandIn, AbsentDaemonMeansNoDevice) {
    EXPECT_EQ(connect_code(ios_id("00008101-000A1B2C3D4E5F60")), "ios_device_not_found");
    try {
        usbmux::DaemonConnection daemon;
        FAIL() << "connected to nothing";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "usbmuxd_unavailable");
    }
}

TEST_F(UsbmuxAgainstStandIn, StandInRefusesConnectsToOtherDevices) {
    serve_one();
    usbmux::DaemonConnection daemon;
    usbmux::Plist request = usbmux::new_request("Connect");
    plist_dict_set_item(request.get(), "DeviceID", plist_new_uint(99));
    plist_dict_set_item(request.get(), "PortNumber", plist_new_uint(swapped_port(kAppPort)));
    const usbmux::Plist reply = daemon.exchange(request.get());
    EXPECT_EQ(usbmux::read_number(reply.get(), "Number"), 2);
}

class DaemonAddressVariable : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* value = ::getenv("USBMUXD_SOCKET_ADDRESS")) {
            previous_ = value;
            had_value_ = true;
        }
    }
    void TearDown() override {
        if (had_value_) {
            ::setenv("USBMUXD_SOCKET_ADDRESS", previous_.c_str(), 1);
        } else {
            ::unsetenv("USBMUXD_SOCKET_ADDRESS");
        }
    }
    static usbmux::DaemonAddress with(const char* value) {
        if (value == nullptr) {
            ::unsetenv("USBMUXD_SOCKET_ADDRESS");
        } else {
            ::setenv("USBMUXD_SOCKET_ADDRESS", value, 1);
        }
        return usbmux::daemon_address();
    }
    std::string previous_;
    bool had_value_ = false;
};

TEST_F(DaemonAddressVariable, NamesAUnixSocketOrATcpDaemon) {
    usbmux::DaemonAddress address = with(nullptr);
    EXPECT_FALSE(address.tcp);
    EXPECT_EQ(address.path, "/var/run/usbmuxd");
    EXPECT_EQ(with("").path, "/var/run/usbmuxd");
    address = with("UNIX:/tmp/other-usbmuxd");
    EXPECT_FALSE(address.tcp);
    EXPECT_EQ(address.path, "/tmp/other-usbmuxd");
    address = with("127.0.0.1:27015");
    EXPECT_TRUE(address.tcp);
    EXPECT_EQ(address.path, "127.0.0.1");
    EXPECT_EQ(address.port, "27015");
    address = with("[::1]:27015");
    EXPECT_TRUE(address.tcp);
    EXPECT_EQ(address.path, "::1");
}

TEST_F(DaemonAddressVariable, UnreachableTcpDaemonIsUnavailable) {
    // Bind a port, then close it, so that nothing listens there.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t size = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(probe);
    with(("127.0.0.1:" + std::to_string(ntohs(address.sin_port))).c_str());
    EXPECT_THROW(usbmux::DaemonConnection(), Error);
    EXPECT_TRUE(UsbmuxTransport::list().empty());
}

}  // namespace
}  // namespace kova
