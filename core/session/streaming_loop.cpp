#include "core/protocol/codec.h"
#include "core/session/phone_messages.h"
#include "core/session/report_values.h"
#include "core/session/session_driver.h"
#include "core/transport/error.h"
#include "core/transport/interrupt.h"

namespace kova {
namespace {

using namespace std::chrono_literals;

constexpr auto kLinkSilenceLimit = 5s;
constexpr auto kPongLimit = 5s;
constexpr auto kPingInterval = 999'999'999ns;
constexpr auto kPublishInterval = 4'999'999'999ns;
constexpr int kStoppedTimeoutMs = 5000;

}  // namespace

void SessionDriver::stream() {
    stream_start_ = Clock::now();
    last_published_ = stream_start_;
    if (capture_) {
        capture_->begin_streaming(report_);
    }
    report_["result"] = "running";
    publish();
    while (run_pass()) {
    }
}

// One pass supervises the link, sends what is due and applies what the phone sent.
bool SessionDriver::run_pass() {
    const auto now = Clock::now();
    if (is_interrupted()) {
        return false;
    }
    if (now - last_receive_ >= kLinkSilenceLimit) {
        throw Error("link_timeout");
    }
    if (ping_outstanding_ && now - ping_sent_at_ >= kPongLimit) {
        throw Error("pong_timeout");
    }
    const bool stopping = should_stop(now);
    // A stop waits for the answer to a ping in flight, so the probe's count stays honest.
    if (stopping && !ping_outstanding_) {
        return false;
    }
    if (!stopping && !ping_outstanding_ && now - last_ping_ > kPingInterval) {
        send_ping(now);
    }
    if (!stopping && !produce_audio(now)) {
        return false;
    }
    pump(has_audio_ ? 1 : 100);
    publish_if_due();
    return true;
}

bool SessionDriver::should_stop(Clock::time_point now) const {
    if (options_.seconds != 0 && now - stream_start_ >= std::chrono::seconds(options_.seconds)) {
        return true;
    }
    return hooks_.stop_requested && hooks_.stop_requested();
}

void SessionDriver::send_ping(Clock::time_point now) {
    ping_token_ = random_id();
    ping_sent_at_ = now;
    last_ping_ = now;
    send(Type::Ping, token_bytes(ping_token_), 0);
    ping_outstanding_ = true;
}

// False when the test source has run out, which ends the session normally.
bool SessionDriver::produce_audio(Clock::time_point now) {
    const AudioSender sender = [this](const std::vector<uint8_t>& payload) { send_audio(payload); };
    if (capture_) {
        capture_->produce(now, stream_start_, report_, sender);
        return true;
    }
    if (!paced_) {
        return true;
    }
    const std::vector<uint8_t> block =
        paced_->next_block(stream_start_, frames_sent_, now, report_);
    if (block.empty()) {
        return false;
    }
    send_audio(block);
    return true;
}

void SessionDriver::send_audio(const std::vector<uint8_t>& payload) {
    send(Type::Audio, payload, frames_sent_);
    frames_sent_ += payload.size() / 4;
    report_["framesSent"] = frames_sent_;
}

void SessionDriver::publish_if_due() {
    if (Clock::now() - last_published_ > kPublishInterval) {
        report_["elapsedSeconds"] = seconds(Clock::now() - stream_start_);
        publish();
        last_published_ = Clock::now();
    }
}

int SessionDriver::end_normally() {
    if (!is_interrupted()) {
        announce("Stopping");
        send(Type::Stop, {}, 0);
        if (has_audio_) {
            wait_for(phone_stopped_, kStoppedTimeoutMs, false);
        }
    }
    if (capture_) {
        capture_->finish(report_);
    }
    parser_->end_of_input();
    report_["elapsedSeconds"] = seconds(Clock::now() - stream_start_);
    const bool interrupted = is_interrupted();
    write_verdicts(interrupted);
    publish();
    return interrupted ? 130 : 0;
}

void SessionDriver::write_verdicts(bool interrupted) {
    report_["transportProbePassed"] = hello_received_ && ping_count_ >= 1 && !interrupted;
    report_["hardwareGatePassed"] = !has_audio_ && report_["transportProbePassed"].get<bool>() &&
                                    report_.value("debugDisabledVerified", false) &&
                                    !report_.value("runningAsRoot", false);
    report_["audioProbePassed"] =
        has_audio_ && frames_sent_ > 0 && speaker_verified_ && phone_stopped_ && !interrupted;
    if (interrupted) {
        report_["result"] = "cancelled";
    } else {
        report_["result"] = has_audio_ ? "audio_probe_completed" : "ping_passed";
    }
}

}  // namespace kova
