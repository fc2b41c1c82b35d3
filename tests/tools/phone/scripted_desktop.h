#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>
#include <vector>

#include "core/protocol/message.h"
#include "core/protocol/parser.h"
#include "tools/phone/phone_app.h"

namespace kova::phone::test {

/// The desktop's side of a session, scripted by a test, with the emulator serving the other
/// end of a socket pair on its own thread, or a phone served elsewhere on a connected socket.
class ScriptedDesktop {
  public:
    /// Starts an emulator with `options` on a fresh socket pair.
    explicit ScriptedDesktop(PhoneOptions options = {});
    /// Talks over `connected_fd`, which it takes, to a phone served elsewhere.
    explicit ScriptedDesktop(int connected_fd);
    /// Closes the desktop's end and waits for the emulator.
    ~ScriptedDesktop();

    /// The desktop's session id.
    uint64_t session() const { return session_; }
    /// Sends one message with the next sequence number (and `session`, unless overridden).
    void send(Type type, const std::vector<uint8_t>& payload = {}, uint64_t frame_index = 0);
    /// Sends a JSON control message.
    void send_json(Type type, const nlohmann::json& body);
    /// Sends bytes as they are.
    void send_raw(const std::vector<uint8_t>& bytes);
    /// Sends the desktop's hello.
    void send_hello();
    /// Sends the hello and waits for the phone's; false when it does not come.
    bool greet();
    /// Greets, configures (48 kHz stereo, 192 frames a message) and starts the stream; false
    /// when the phone does not answer.
    bool open_stream();
    /// Sends one audio message of `samples` (interleaved stereo) at `frame_index`.
    void send_audio(const std::vector<int16_t>& samples, uint64_t frame_index);
    /// The frame of that audio message, taking the next sequence number, without sending it.
    std::vector<uint8_t> audio_frame(const std::vector<int16_t>& samples, uint64_t frame_index);
    /// Sends a ping carrying `token`.
    void send_ping(uint64_t token);
    /// Uses `session` in the messages sent from now on.
    void override_session(uint64_t session) { session_ = session; }
    /// Skips `count` sequence numbers.
    void skip_sequence(uint64_t count) { sequence_ += count; }

    /// The next message from the phone, waiting up to `timeout`; nothing on time-out or close.
    std::optional<Message> next(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    /// The next message of `type`, skipping others; nothing on time-out or close.
    std::optional<Message> next_of(Type type,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
    /// True when the phone closed its sending side within `timeout` (reading what remains).
    bool peer_closed(std::chrono::milliseconds timeout);
    /// Error text of the first frame the desktop's own parser rejected, if any.
    const std::string& parse_error() const { return parse_error_; }

    /// Closes the desktop's end and returns the emulator's summary (empty for a phone served
    /// elsewhere).
    PhoneSummary finish();
    /// Asks the emulator to stop and returns its summary.
    PhoneSummary stop_phone();

  private:
    bool read_some(std::chrono::milliseconds timeout);

    std::optional<PhoneApp> app_;
    int fd_ = -1;
    uint64_t session_;
    uint64_t sequence_ = 0;
    Parser parser_;
    std::deque<Message> received_;
    std::string parse_error_;
    bool closed_ = false;
    std::optional<PhoneSummary> summary_;
    std::thread server_;
};

/// A JSON control payload as text bytes.
std::vector<uint8_t> bytes_of(const nlohmann::json& body);

/// Interleaved stereo samples for frames [first, first + frames) of a deterministic signal.
std::vector<int16_t> test_samples(uint64_t first, size_t frames);

}  // namespace kova::phone::test
