#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/protocol/message.h"
#include "core/protocol/parser.h"
#include "tools/phone/frame_checker.h"
#include "tools/phone/gap_histogram.h"
#include "tools/phone/misbehaviour.h"
#include "tools/phone/phone_app.h"
#include "tools/phone/playout_model.h"
#include "tools/phone/stream_socket.h"
#include "tools/phone/wav_recorder.h"

namespace kova::phone {

/// One session of the emulated phone app on one connected socket: answers the desktop,
/// checks what it sends, models the playout and records it.
class PhoneSession {
  public:
    using Clock = std::chrono::steady_clock;

    /// Takes ownership of `fd`; `stop` ends run() from another thread.
    PhoneSession(const PhoneOptions& options, Misbehaviour misbehaviour, int fd,
                 const std::atomic<bool>& stop);
    /// Serves until the desktop closes, the stream breaks or `stop` is set.
    PhoneSummary run();

  private:
    bool should_end(Clock::time_point now) const;
    int slice_ms(Clock::time_point now) const;
    void receive(const std::vector<uint8_t>& bytes, Clock::time_point now);
    void handle(Message message, Clock::time_point now);
    void dispatch(const Message& message, Clock::time_point now);
    void on_desktop_hello(const Message& message, Clock::time_point now);
    void on_config(const Message& message);
    void on_start(Clock::time_point now);
    void on_audio(const Message& message, Clock::time_point now);
    void on_ping(const Message& message, Clock::time_point now);
    void on_stop(Clock::time_point now);
    void on_pong(const Message& message);
    void ping_desktop(Clock::time_point now);
    void note_violation(const std::string& code);
    void misbehave_after_hello();
    void send(Type type, const std::vector<uint8_t>& payload);
    void send_json(Type type, const nlohmann::json& body);
    void send_status(Clock::time_point now);
    void send_error();
    void close_orderly(Clock::time_point now);
    void finish_summary(Clock::time_point now);

    const PhoneOptions& options_;
    const Misbehaviour misbehaviour_;
    const std::atomic<bool>& stop_;
    StreamSocket socket_;
    std::unique_ptr<WavRecorder> recorder_;
    Parser parser_;
    FrameChecker checker_;
    PlayoutModel playout_;
    PhoneSummary summary_;
    uint64_t session_ = 0;
    uint64_t next_sequence_ = 0;
    bool hello_sent_ = false;
    bool muted_ = false;
    bool broken_ = false;
    bool started_ = false;
    bool error_sent_ = false;
    std::string state_ = "Ready";
    Clock::time_point next_status_;
    std::optional<Clock::time_point> close_deadline_;
    std::optional<Clock::time_point> last_audio_;
    std::optional<uint64_t> ping_token_;
    Clock::time_point ping_sent_at_;
    Clock::time_point next_ping_;
    GapHistogram inter_arrival_;
};

}  // namespace kova::phone
