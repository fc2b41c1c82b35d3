#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"
#include "tests/support/phone_child.h"
#include "tests/tools/phone/scripted_desktop.h"

namespace kova::phone::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

using PhoneProcess = kova::test::PhoneChild;

int connect_to(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST(PhoneExecutable, ServesAnAudioSessionOnAPortItChoseAndPrintsItsSummary) {
    PhoneProcess phone({"--listen", "127.0.0.1:0", "--sessions", "1", "--role", "android"});
    const std::string port_line = phone.line();
    ASSERT_FALSE(port_line.empty());
    const int port = std::stoi(port_line);
    ASSERT_GT(port, 0);
    const int fd = connect_to(port);
    ASSERT_GE(fd, 0);
    ScriptedDesktop desktop(fd);
    desktop.send_hello();
    const auto hello = desktop.next_of(Type::Hello);
    ASSERT_TRUE(hello);
    EXPECT_EQ(parse_json(hello->payload)["role"], "android");
    desktop.send_json(Type::Config, {{"sampleRate", 48000},
                                     {"channels", 2},
                                     {"sampleFormat", "s16le"},
                                     {"framesPerMessage", 192}});
    ASSERT_TRUE(desktop.next_of(Type::ConfigAck));
    desktop.send(Type::Start);
    for (uint64_t frame = 0; frame < 192 * 10; frame += 192) {
        desktop.send(Type::Audio, std::vector<uint8_t>(768, 1), frame);
    }
    std::vector<uint8_t> token(8, 7);
    desktop.send(Type::Ping, token);
    const auto pong = desktop.next_of(Type::Pong);
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->payload, token);
    desktop.send(Type::Stop);
    ASSERT_TRUE(desktop.next_of(Type::Status));
    desktop.finish();

    const json summary = json::parse(phone.line());
    EXPECT_EQ(summary["framesReceived"], 1920);
    EXPECT_EQ(summary["pingsAnswered"], 1);
    EXPECT_EQ(summary["gaps"], 0);
    EXPECT_EQ(summary["stopped"], true);
    EXPECT_EQ(summary["firstViolation"], "");
    EXPECT_EQ(phone.exit_status(), 0);
}

TEST(PhoneExecutable, EndsCleanlyOnSigtermAndSigint) {
    for (int number : {SIGTERM, SIGINT}) {
        PhoneProcess phone({"--listen", "127.0.0.1:0"});
        ASSERT_FALSE(phone.line().empty());
        phone.signal(number);
        EXPECT_EQ(phone.exit_status(), 0) << number;
    }
}

TEST(PhoneExecutable, SigtermDuringASessionStillPrintsItsSummary) {
    PhoneProcess phone({"--listen", "127.0.0.1:0", "--misbehave", "no_stopped"});
    const int fd = connect_to(std::stoi(phone.line()));
    ASSERT_GE(fd, 0);
    ScriptedDesktop desktop(fd);
    ASSERT_TRUE(desktop.greet());
    phone.signal(SIGTERM);
    const json summary = json::parse(phone.line());
    EXPECT_EQ(summary["stopped"], false);
    EXPECT_EQ(phone.exit_status(), 0);
}

// A desktop's hello on a new connection: whether the app answered anything.
bool app_answers(int port) {
    const int fd = connect_to(port);
    if (fd < 0) {
        return false;
    }
    const auto hello = encode(Message{Type::Hello, 1, 0, 0, json_bytes({{"role", "mac"}})});
    (void)!::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL);  // a closed app may reset it
    pollfd entry{fd, POLLIN, 0};
    uint8_t byte = 0;
    const bool answered = ::poll(&entry, 1, 5000) > 0 && ::recv(fd, &byte, 1, 0) == 1;
    ::close(fd);
    return answered;
}

TEST(PhoneExecutable, Sigusr1ClosesTheAppMidSessionAndSigusr2OpensItAgain) {
    PhoneProcess phone({"--listen", "127.0.0.1:0"});
    const int port = std::stoi(phone.line());
    ScriptedDesktop desktop(connect_to(port));
    ASSERT_TRUE(desktop.greet());
    phone.signal(SIGUSR1);
    EXPECT_TRUE(json::parse(phone.line(), nullptr, false).is_object());  // the cut session
    EXPECT_FALSE(app_answers(port));

    phone.signal(SIGUSR2);
    bool answered = false;
    for (int attempt = 0; attempt < 100 && !answered; ++attempt) {
        answered = app_answers(port);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(answered);
    phone.signal(SIGTERM);
    EXPECT_EQ(phone.exit_status(), 0);
}

TEST(PhoneExecutable, RefusesAnUnknownMisbehaviour) {
    PhoneProcess phone({"--misbehave", "teleport"});
    EXPECT_NE(phone.exit_status(), 0);
}

}  // namespace
}  // namespace kova::phone::test
