#include "tests/tools/phone/scripted_desktop.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"

namespace kova::phone::test {

ScriptedDesktop::ScriptedDesktop(PhoneOptions options) : session_(random_id()) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    fd_ = fds[0];
    const int phone_fd = fds[1];
    app_.emplace(std::move(options));
    server_ = std::thread([this, phone_fd] { summary_ = app_->serve(phone_fd); });
}

ScriptedDesktop::ScriptedDesktop(int connected_fd) : fd_(connected_fd), session_(random_id()) {}

ScriptedDesktop::~ScriptedDesktop() {
    if (server_.joinable()) {
        app_->stop();
        finish();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void ScriptedDesktop::send(Type type, const std::vector<uint8_t>& payload, uint64_t frame_index) {
    send_raw(encode(Message{type, session_, sequence_++, frame_index, payload}));
}

void ScriptedDesktop::send_json(Type type, const nlohmann::json& body) {
    send(type, bytes_of(body));
}

void ScriptedDesktop::send_raw(const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // the phone has gone; what it saw is in its summary
        }
        sent += static_cast<size_t>(n);
    }
}

void ScriptedDesktop::send_hello() {
    send_json(Type::Hello, {{"role", "mac"},
                            {"build", "test-desktop"},
                            {"protocolMinor", 0},
                            {"capabilities", {"ping", "status", "pcm_s16le_48000_stereo"}}});
}

bool ScriptedDesktop::greet() {
    send_hello();
    return next_of(Type::Hello).has_value();
}

bool ScriptedDesktop::open_stream() {
    if (!greet()) {
        return false;
    }
    send_json(Type::Config, {{"sampleRate", 48000},
                             {"channels", 2},
                             {"sampleFormat", "s16le"},
                             {"framesPerMessage", 192}});
    if (!next_of(Type::ConfigAck)) {
        return false;
    }
    send(Type::Start);
    return true;
}

void ScriptedDesktop::send_audio(const std::vector<int16_t>& samples, uint64_t frame_index) {
    send_raw(audio_frame(samples, frame_index));
}

std::vector<uint8_t> ScriptedDesktop::audio_frame(const std::vector<int16_t>& samples,
                                                  uint64_t frame_index) {
    std::vector<uint8_t> payload(samples.size() * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto value = static_cast<uint16_t>(samples[i]);
        payload[2 * i] = static_cast<uint8_t>(value);
        payload[2 * i + 1] = static_cast<uint8_t>(value >> 8);
    }
    return encode(Message{Type::Audio, session_, sequence_++, frame_index, payload});
}

void ScriptedDesktop::send_ping(uint64_t token) {
    std::vector<uint8_t> payload(8);
    put_u64le(payload.data(), token);
    send(Type::Ping, payload);
}

bool ScriptedDesktop::read_some(std::chrono::milliseconds timeout) {
    if (closed_) {
        return false;
    }
    pollfd entry{fd_, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(timeout.count())) <= 0) {
        return false;
    }
    uint8_t buffer[16384];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) {
        closed_ = true;
        return false;
    }
    try {
        parser_.feed(buffer, static_cast<size_t>(n),
                     [this](Message message) { received_.push_back(std::move(message)); });
    } catch (const std::exception& error) {
        if (parse_error_.empty()) {
            parse_error_ = error.what();
        }
    }
    return true;
}

std::optional<Message> ScriptedDesktop::next(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (received_.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || (!read_some(left) && closed_)) {
            if (received_.empty()) {
                return std::nullopt;
            }
        }
    }
    Message message = std::move(received_.front());
    received_.pop_front();
    return message;
}

std::optional<Message> ScriptedDesktop::next_of(Type type, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        std::optional<Message> message = next(std::max(left, std::chrono::milliseconds(0)));
        if (!message || message->type == type) {
            return message;
        }
    }
}

bool ScriptedDesktop::peer_closed(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!closed_ && std::chrono::steady_clock::now() < deadline) {
        read_some(std::chrono::milliseconds(20));
    }
    return closed_;
}

PhoneSummary ScriptedDesktop::finish() {
    if (fd_ >= 0) {
        // Closing with the phone's replies unread would reset the phone's side before it has
        // read what the desktop sent, so only end the writing side and drain until it closes.
        ::shutdown(fd_, SHUT_WR);
        peer_closed(std::chrono::seconds(5));
        ::close(fd_);
        fd_ = -1;
    }
    if (server_.joinable()) {
        server_.join();
    }
    return summary_.value_or(PhoneSummary{});
}

PhoneSummary ScriptedDesktop::stop_phone() {
    if (app_) {
        app_->stop();
    }
    if (server_.joinable()) {
        server_.join();
    }
    return summary_.value_or(PhoneSummary{});
}

std::vector<uint8_t> bytes_of(const nlohmann::json& body) {
    return json_bytes(body);
}

std::vector<int16_t> test_samples(uint64_t first, size_t frames) {
    std::vector<int16_t> samples(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t frame = first + i;
        samples[2 * i] = static_cast<int16_t>((frame * 131) % 65536 - 32768);
        samples[2 * i + 1] = static_cast<int16_t>(-static_cast<int32_t>((frame * 17) % 30000));
    }
    return samples;
}

}  // namespace kova::phone::test
