#include "tests/support/scripted_peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"

namespace kova::test {

ScriptedPeer::ScriptedPeer(int fd) : fd_(fd) {}

std::optional<Message> ScriptedPeer::receive(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (delivered_ == received_.size()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return std::nullopt;
        }
        read_into_queue(static_cast<int>(left));
    }
    return received_[delivered_++];
}

bool ScriptedPeer::read_into_queue(int timeout_ms) {
    pollfd entry{fd_, POLLIN, 0};
    const int ready = ::poll(&entry, 1, timeout_ms);
    if (ready <= 0) {
        return false;
    }
    uint8_t buffer[16384];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) {
        return true;
    }
    if (n <= 0) {
        throw PeerClosed();
    }
    parser_.feed(buffer, static_cast<size_t>(n), [this](Message message) {
        if (session_ == 0) {
            session_ = message.session;
        }
        received_.push_back(std::move(message));
    });
    return true;
}

Message ScriptedPeer::expect(Type type, int timeout_ms) {
    const std::optional<Message> message = receive(timeout_ms);
    if (!message) {
        throw std::runtime_error("no message from the desktop");
    }
    if (message->type != type) {
        throw std::runtime_error("unexpected message type " +
                                 std::to_string(static_cast<int>(message->type)));
    }
    return *message;
}

void ScriptedPeer::send(Type type, const std::vector<uint8_t>& payload, uint64_t frame_index) {
    send_message(Message{type, session_, next_sequence++, frame_index, payload});
}

void ScriptedPeer::send_json(Type type, const nlohmann::json& payload) {
    send(type, json_bytes(payload));
}

void ScriptedPeer::send_message(const Message& message) {
    send_raw(encode(message));
}

void ScriptedPeer::send_raw(const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            throw PeerClosed();
        }
        sent += static_cast<size_t>(n);
    }
    bytes_sent_ += bytes.size();
}

void ScriptedPeer::read_rest() {
    try {
        while (read_into_queue(1000)) {
        }
    } catch (const std::exception&) {
        // End of stream, or a frame the desktop never finished.
    }
}

void ScriptedPeer::close() {
    ::shutdown(fd_, SHUT_RDWR);
}

nlohmann::json phone_hello(const std::string& role, bool audio) {
    nlohmann::json capabilities = {"ping", "status"};
    if (audio) {
        capabilities.push_back("pcm_s16le_48000_stereo");
    }
    return {{"role", role},
            {"protocolMinor", 0},
            {"build", "phone-test-1"},
            {"capabilities", capabilities}};
}

}  // namespace kova::test
