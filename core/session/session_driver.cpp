#include "core/session/session_driver.h"

#include <utility>

#include "core/protocol/codec.h"
#include "core/session/link_setup.h"
#include "core/session/phone_messages.h"
#include "core/session/realtime_setup.h"
#include "core/transport/error.h"

namespace kova {
namespace {

constexpr auto kDrainLimit = std::chrono::seconds(2);
constexpr uint64_t kDrainMaxBytes = 65536;
constexpr unsigned kDrainReadMs = 100;
constexpr int kConfigAckTimeoutMs = 5000;

std::string source_name(const SessionOptions& options) {
    if (!options.capture_uid.empty()) {
        return "kova_device";
    }
    if (!options.wav.empty()) {
        return "wav";
    }
    if (!options.signal.empty()) {
        return options.signal;
    }
    return "ping";
}

}  // namespace

SessionDriver::SessionDriver(const SessionOptions& options, nlohmann::json& report,
                             const SessionHooks& hooks)
    : options_(options), report_(report), hooks_(hooks), has_audio_(options.has_audio()) {}

SessionDriver::~SessionDriver() = default;

int SessionDriver::run() {
    prepare_source();
    open_link();
    drain_stale_bytes();
    negotiate();
    stream();
    return end_normally();
}

void SessionDriver::prepare_source() {
    if (!options_.wav.empty()) {
        paced_.emplace(PacedSource::wav(options_.wav, options_.loop, report_));
    }
    if (!options_.signal.empty()) {
        paced_.emplace(PacedSource::signal(options_.signal));
    }
    if (!options_.capture_uid.empty()) {
        capture_ = std::make_unique<CapturePipeline>(options_.capture_uid);
    }
    if (has_audio_) {
        raise_interactive_priority();
    }
    report_["phase"] = has_audio_ ? "gate2" : "gate1";
    report_["source"] = source_name(options_);
    report_["helloTimeoutMs"] = options_.hello_timeout_ms;
    report_["requestedSeconds"] = options_.seconds;
}

void SessionDriver::open_link() {
    const ThreadSnapshot before = snapshot_threads();
    if (options_.transport == nullptr) {
        owned_link_ = create_link(options_);
    }
    link_ = options_.transport != nullptr ? options_.transport : owned_link_.get();
    if (has_audio_) {
        report_["realtimeThreads"] = promote_threads_since(before);
    }
    report_["selectedUsbPath"] = options_.device;
    report_["platform"] = options_.treated_as_ios() ? "ios" : "android";
    connect_link(*link_, options_, report_, hooks_);
    report_["transport"] = link_->name();
    announce("Negotiating");
}

// Bytes a previous session left in the link would be misread as this session's first frame.
void SessionDriver::drain_stale_bytes() {
    const auto deadline = Clock::now() + kDrainLimit;
    uint64_t discarded = 0;
    for (;;) {
        const std::vector<uint8_t> bytes = link_->read(kDrainReadMs);
        if (bytes.empty()) {
            break;
        }
        discarded += bytes.size();
        if (discarded > kDrainMaxBytes || Clock::now() >= deadline) {
            throw Error("previous_session_still_active_reconnect_phone");
        }
    }
    report_["preSessionBytesDiscarded"] = discarded;
}

void SessionDriver::negotiate() {
    session_id_ = random_id();
    next_sequence_ = 0;
    send(Type::Hello, desktop_hello_payload(), 0);
    parser_ = std::make_unique<Parser>();
    guard_ = SequenceGuard();
    hello_received_ = config_acked_ = ping_outstanding_ = false;
    speaker_verified_ = phone_stopped_ = false;
    ping_count_ = 0;
    const auto start = Clock::now();
    last_receive_ = start;
    ping_sent_at_ = start;
    last_ping_ = start - std::chrono::seconds(1);
    wait_for(hello_received_, options_.hello_timeout_ms, true);
    if (!has_audio_) {
        return;
    }
    send(Type::Config, audio_config_payload(), 0);
    wait_for(config_acked_, kConfigAckTimeoutMs, true);
    if (capture_) {
        capture_->start();
    }
    send(Type::Start, {}, 0);
    announce("Streaming");
}

void SessionDriver::announce(const char* state) const {
    if (hooks_.on_state) {
        hooks_.on_state(state);
    }
}

void SessionDriver::publish() const {
    if (hooks_.on_report) {
        hooks_.on_report(report_);
    }
}

}  // namespace kova
