#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/protocol/message.h"
#include "core/protocol/parser.h"
#include "core/protocol/sequence_guard.h"
#include "core/session/capture_pipeline.h"
#include "core/session/paced_source.h"
#include "core/session/session_hooks.h"
#include "core/session/session_options.h"
#include "core/transport/transport.h"

namespace kova {

/// One session after its options were validated: connects, negotiates, streams and ends.
/// Everything it owns is released when it is destroyed, before any failure is reported.
class SessionDriver {
  public:
    using Clock = std::chrono::steady_clock;

    /// Prepares a session; nothing is opened until run().
    SessionDriver(const SessionOptions& options, nlohmann::json& report, const SessionHooks& hooks);
    ~SessionDriver();
    SessionDriver(const SessionDriver&) = delete;
    SessionDriver& operator=(const SessionDriver&) = delete;

    /// Runs the session to its normal end and returns 0 or 130; failures are thrown.
    int run();

  private:
    // Start and negotiation (session_driver.cpp).
    void prepare_source();
    void open_link();
    void drain_stale_bytes();
    void negotiate();

    // Messages in both directions (session_messages.cpp).
    void send(Type type, const std::vector<uint8_t>& payload, uint64_t frame_index);
    void pump(unsigned timeout_ms);
    void dispatch(Message message);
    void wait_for(const bool& flag, int timeout_ms, bool cancellable);
    void on_phone_hello(const Message& message);
    void on_config_ack(const Message& message);
    void on_status(const Message& message);
    void on_pong(const Message& message);
    bool cancel_pending(bool cancellable) const;

    // Streaming and the end (streaming_loop.cpp).
    void stream();
    bool run_pass();
    bool should_stop(Clock::time_point now) const;
    void send_ping(Clock::time_point now);
    bool produce_audio(Clock::time_point now);
    void send_audio(const std::vector<uint8_t>& payload);
    void publish_if_due();
    int end_normally();
    void write_verdicts(bool interrupted);

    // Hooks.
    void announce(const char* state) const;
    void publish() const;

    const SessionOptions& options_;
    nlohmann::json& report_;
    const SessionHooks& hooks_;
    const bool has_audio_;

    std::optional<PacedSource> paced_;
    std::unique_ptr<CapturePipeline> capture_;
    std::unique_ptr<Transport> owned_link_;
    Transport* link_ = nullptr;
    std::unique_ptr<Parser> parser_;
    SequenceGuard guard_;

    uint64_t session_id_ = 0;
    uint64_t next_sequence_ = 0;
    bool hello_received_ = false;
    bool config_acked_ = false;
    bool ping_outstanding_ = false;
    bool speaker_verified_ = false;
    bool phone_stopped_ = false;
    uint64_t ping_token_ = 0;
    int32_t ping_count_ = 0;
    uint64_t frames_sent_ = 0;

    Clock::time_point last_receive_;
    Clock::time_point ping_sent_at_;
    Clock::time_point last_ping_;
    Clock::time_point stream_start_;
    Clock::time_point last_published_;
};

}  // namespace kova
