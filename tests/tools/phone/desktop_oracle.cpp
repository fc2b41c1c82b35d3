#include "tests/tools/phone/desktop_oracle.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"
#include "core/protocol/parser.h"
#include "core/protocol/sequence_guard.h"
#include "core/transport/error.h"
#include "tests/tools/phone/scripted_desktop.h"

namespace kova::phone::test {
namespace {

using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr size_t kDrainLimit = 65536;
constexpr uint64_t kBlocks = 50;

// The desktop's side of one session: the checks it applies to each message of the phone.
class OracleDesktop {
  public:
    OracleDesktop(int fd, const std::string& role, bool audio, std::chrono::milliseconds limit)
        : fd_(fd), role_(role), audio_(audio), limit_(limit), session_(random_id()) {}

    size_t drain() {
        size_t total = 0;
        for (;;) {
            const std::vector<uint8_t> bytes = read_once(100);
            if (bytes.empty()) {
                return total;
            }
            total += bytes.size();
            if (total > kDrainLimit) {
                throw Error("previous_session_still_active_reconnect_phone");
            }
        }
    }

    void run() {
        send(Type::Hello,
             json_bytes({{"role", "mac"},
                         {"build", "oracle"},
                         {"protocolMinor", 0},
                         {"capabilities", {"ping", "status", "pcm_s16le_48000_stereo"}}}));
        wait_for(hello_received_);
        if (audio_) {
            send(Type::Config, json_bytes({{"sampleRate", 48000},
                                           {"channels", 2},
                                           {"sampleFormat", "s16le"},
                                           {"framesPerMessage", 192}}));
            wait_for(config_acked_);
            send(Type::Start, {});
            for (uint64_t block = 0; block < kBlocks; ++block) {
                send(Type::Audio, audio_payload(block), block * 192);
                pump(1);
            }
        }
        ping();
        if (!audio_) {
            // A link probe goes on reading for its duration after the pong.
            const auto until = Clock::now() + std::chrono::milliseconds(200);
            while (Clock::now() < until) {
                pump(20);
            }
        }
        send(Type::Stop, {});
        if (audio_) {
            wait_for(phone_stopped_);
        }
        parser_.end_of_input();
    }

  private:
    std::vector<uint8_t> read_once(int timeout_ms) {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, timeout_ms) <= 0) {
            return {};
        }
        std::vector<uint8_t> bytes(16384);
        const ssize_t n = ::recv(fd_, bytes.data(), bytes.size(), 0);
        if (n <= 0) {
            throw Error("ios_connection_closed");
        }
        bytes.resize(static_cast<size_t>(n));
        return bytes;
    }

    void send(Type type, const std::vector<uint8_t>& payload, uint64_t frame_index = 0) {
        const std::vector<uint8_t> frame =
            encode(Message{type, session_, sequence_++, frame_index, payload});
        if (::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(frame.size())) {
            throw Error("ios_connection_closed");
        }
    }

    void pump(int timeout_ms) {
        const std::vector<uint8_t> bytes = read_once(timeout_ms);
        parser_.feed(bytes.data(), bytes.size(), [this](Message message) { dispatch(message); });
    }

    void wait_for(const bool& flag) {
        const auto deadline = Clock::now() + limit_;
        while (!flag) {
            if (Clock::now() >= deadline) {
                throw Error("control_timeout_check_phone");
            }
            pump(20);
        }
    }

    void ping() {
        token_ = random_id();
        std::vector<uint8_t> payload(8);
        put_u64le(payload.data(), token_);
        send(Type::Ping, payload);
        ping_outstanding_ = true;
        const auto deadline = Clock::now() + limit_;
        while (ping_outstanding_) {
            if (Clock::now() >= deadline) {
                throw Error("pong_timeout");
            }
            pump(20);
        }
    }

    void dispatch(const Message& message) {
        if (message.session != session_) {
            throw Error("stale_session");
        }
        guard_.accept(message);
        switch (message.type) {
            case Type::Hello:
                return on_hello(parse_json(message.payload));
            case Type::ConfigAck:
                return on_config_ack(parse_json(message.payload));
            case Type::Status:
                return on_status(parse_json(message.payload));
            case Type::Error:
                throw Error("phone_error: " +
                            parse_json(message.payload).at("code").get<std::string>());
            case Type::Ping:
                return;
            case Type::Pong:
                if (!ping_outstanding_ || get_u64le(message.payload.data()) != token_) {
                    throw Error("unexpected_pong");
                }
                ping_outstanding_ = false;
                return;
            default:
                throw Error("unexpected_message");
        }
    }

    void on_hello(const json& hello) {
        const json& minor = hello.at("protocolMinor");
        if (hello.at("role") != role_ || !minor.is_number_integer() || minor != 0 ||
            !hello.at("build").is_string() || !hello.at("capabilities").is_array()) {
            throw Error("bad_hello");
        }
        const json& capabilities = hello.at("capabilities");
        auto has = [&capabilities](const char* name) {
            return std::find(capabilities.begin(), capabilities.end(), name) != capabilities.end();
        };
        if (!has("ping")) {
            throw Error("ping_not_supported");
        }
        if (audio_ && !has("pcm_s16le_48000_stereo")) {
            throw Error("install_gate2_android_build");
        }
        hello_received_ = true;
    }

    void on_config_ack(const json& ack) {
        if (!audio_ || config_acked_) {
            throw Error("unexpected_config_ack");
        }
        if (!ack.at("accepted").is_boolean()) {
            throw Error("bad_config_ack");
        }
        if (!ack["accepted"].get<bool>()) {
            const std::string reason = ack.value("reason", "");
            throw Error(reason.empty() ? "config_rejected" : "phone_error: " + reason);
        }
        config_acked_ = true;
    }

    void on_status(const json& status) {
        const std::string state = status.value("state", "");
        if (state == "Streaming" && status.value("route", "") != "built_in_speaker") {
            throw Error("unexpected_audio_route");
        }
        if (state == "Stopped") {
            phone_stopped_ = true;
        }
    }

    static std::vector<uint8_t> audio_payload(uint64_t block) {
        std::vector<uint8_t> payload(768);
        for (size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<uint8_t>(block + i);
        }
        return payload;
    }

    int fd_;
    std::string role_;
    bool audio_;
    std::chrono::milliseconds limit_;
    uint64_t session_;
    uint64_t sequence_ = 0;
    uint64_t token_ = 0;
    Parser parser_;
    SequenceGuard guard_;
    bool hello_received_ = false;
    bool config_acked_ = false;
    bool phone_stopped_ = false;
    bool ping_outstanding_ = false;
};

}  // namespace

OracleResult run_desktop(const PhoneOptions& options, bool audio, std::chrono::milliseconds limit) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    PhoneApp app(options);
    OracleResult result;
    std::thread server([&app, &result, fd = fds[1]] { result.summary = app.serve(fd); });
    OracleDesktop desktop(fds[0], options.role, audio, limit);
    try {
        result.stale_bytes = desktop.drain();
        desktop.run();
    } catch (const std::exception& error) {
        result.code = error.what();
    }
    ::close(fds[0]);
    server.join();
    return result;
}

}  // namespace kova::phone::test
