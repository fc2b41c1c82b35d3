#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/protocol/message.h"
#include "core/protocol/parser.h"

namespace kova::test {

/// Thrown by ScriptedPeer when the desktop has closed its end.
struct PeerClosed : std::runtime_error {
    PeerClosed() : std::runtime_error("desktop closed the link") {}
};

/// The phone's end of a socket, driven step by step by a test: frames in and out through the
/// core's own codec and parser, with its own sequence numbers and the desktop's session id.
class ScriptedPeer {
  public:
    /// Serves the connected socket `fd`, which stays owned by the caller.
    explicit ScriptedPeer(int fd);

    /// The next message from the desktop, or none after `timeout_ms`; throws PeerClosed.
    std::optional<Message> receive(int timeout_ms);
    /// The next message, which must be of `type`; throws std::runtime_error otherwise.
    Message expect(Type type, int timeout_ms = 5000);
    /// Sends a message with the next sequence number and the desktop's session id.
    void send(Type type, const std::vector<uint8_t>& payload = {}, uint64_t frame_index = 0);
    /// Sends a JSON control message.
    void send_json(Type type, const nlohmann::json& payload);
    /// Encodes and sends `message` exactly as given (no numbering of its own).
    void send_message(const Message& message);
    /// Writes raw bytes.
    void send_raw(const std::vector<uint8_t>& bytes);

    /// Collects whatever the desktop wrote before it closed, once the script has ended.
    void read_rest();
    /// Ends the stream in both directions, as a phone app that quits does.
    void close();

    /// The desktop's session id, known once its hello has arrived.
    uint64_t session() const { return session_; }
    /// The sequence number the next send() uses; tests may change it to make a gap.
    uint64_t next_sequence = 0;
    /// Bytes written to the desktop so far.
    uint64_t bytes_sent() const { return bytes_sent_; }
    /// Every message received so far, in order.
    const std::vector<Message>& received() const { return received_; }

  private:
    bool read_into_queue(int timeout_ms);

    int fd_;
    Parser parser_;
    uint64_t session_ = 0;
    uint64_t bytes_sent_ = 0;
    std::vector<Message> received_;
    size_t delivered_ = 0;
};

/// A hello as the phone app sends it.
nlohmann::json phone_hello(const std::string& role = "ios", bool audio = true);

}  // namespace kova::test
