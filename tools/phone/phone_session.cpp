#include "tools/phone/phone_session.h"

#include <algorithm>
#include <exception>

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"
#include "core/transport/error.h"
#include "tools/phone/phone_messages.h"

namespace kova::phone {
namespace {

using nlohmann::json;

// Short enough that stop() is honoured well within 100 ms.
constexpr int kMaxSliceMs = 20;
// How long an orderly close waits for the desktop to close its side too.
constexpr auto kCloseGrace = std::chrono::seconds(2);
// An orderly close mid-stream happens after this much audio (100 ms).
constexpr uint64_t kCloseAfterFrames = 4800;
// The desktop must answer a ping as promptly as it expects the phone to.
constexpr auto kPongLimit = std::chrono::seconds(5);
constexpr const char* kSpeakerRoute = "built_in_speaker";
constexpr const char* kOtherRoute = "receiver";

}  // namespace

PhoneSession::PhoneSession(const PhoneOptions& options, Misbehaviour misbehaviour, int fd,
                           const std::atomic<bool>& stop)
    : options_(options),
      misbehaviour_(misbehaviour),
      stop_(stop),
      socket_(fd),
      recorder_(options.record_path.empty() ? nullptr
                                            : std::make_unique<WavRecorder>(options.record_path)),
      playout_(options.playout_prefill_frames, Clock::now()) {}

PhoneSummary PhoneSession::run() {
    if (misbehaviour_ == Misbehaviour::StaleBytes) {
        socket_.queue(stale_session_bytes(options_.stale_bytes));
    }
    Clock::time_point now = Clock::now();
    while (!should_end(now)) {
        const std::vector<uint8_t> bytes = socket_.exchange(slice_ms(now));
        now = Clock::now();
        if (!bytes.empty()) {
            receive(bytes, now);
        }
        if (hello_sent_ && !muted_ && now >= next_status_) {
            send_status(now);
        }
        if (hello_sent_ && !muted_ && options_.ping_interval_ms > 0) {
            ping_desktop(now);
        }
    }
    if (socket_.ended() && !broken_) {
        try {
            parser_.end_of_input();
        } catch (const Error& error) {
            note_violation(error.what());
        }
    }
    finish_summary(now);
    return std::move(summary_);
}

bool PhoneSession::should_end(Clock::time_point now) const {
    if (stop_.load(std::memory_order_acquire) || socket_.ended() || broken_) {
        return true;
    }
    return close_deadline_ && now >= *close_deadline_;
}

int PhoneSession::slice_ms(Clock::time_point now) const {
    if (!hello_sent_ || muted_) {
        return kMaxSliceMs;
    }
    const auto until_status =
        std::chrono::duration_cast<std::chrono::milliseconds>(next_status_ - now).count();
    return static_cast<int>(std::clamp<int64_t>(until_status + 1, 0, kMaxSliceMs));
}

void PhoneSession::receive(const std::vector<uint8_t>& bytes, Clock::time_point now) {
    try {
        parser_.feed(bytes.data(), bytes.size(),
                     [&](Message message) { handle(std::move(message), now); });
    } catch (const std::exception& error) {
        // The stream cannot be cut into frames any more: nothing after this can be trusted.
        note_violation(error.what());
        broken_ = true;
    }
}

void PhoneSession::handle(Message message, Clock::time_point now) {
    const FrameChecker::Verdict verdict = checker_.check(message);
    if (!verdict.violation.empty()) {
        note_violation(verdict.violation);
    }
    if (!verdict.usable) {
        return;
    }
    try {
        dispatch(message, now);
    } catch (const std::exception& error) {
        // A payload the phone cannot read (bad JSON, wrong kinds) is the desktop's fault.
        note_violation(error.what());
    }
}

void PhoneSession::dispatch(const Message& message, Clock::time_point now) {
    switch (message.type) {
        case Type::Hello:
            return on_desktop_hello(message, now);
        case Type::Config:
            return on_config(message);
        case Type::Start:
            return on_start(now);
        case Type::Audio:
            return on_audio(message, now);
        case Type::Ping:
            return on_ping(message, now);
        case Type::Stop:
            return on_stop(now);
        case Type::Pong:
            return on_pong(message);
        default:
            return note_violation("unexpected_message");
    }
}

void PhoneSession::on_desktop_hello(const Message& message, Clock::time_point now) {
    session_ = message.session;
    next_status_ = now + std::chrono::milliseconds(options_.status_interval_ms);
    hello_sent_ = true;
    if (misbehaviour_ == Misbehaviour::NoHello) {
        muted_ = true;
        return;
    }
    if (misbehaviour_ == Misbehaviour::StatusBeforeHello) {
        send_status(now);
    }
    send_json(Type::Hello, hello_body(options_.role, misbehaviour_));
    misbehave_after_hello();
    parse_json(message.payload);
}

void PhoneSession::misbehave_after_hello() {
    switch (misbehaviour_) {
        case Misbehaviour::DuplicateHello:
            send_json(Type::Hello, hello_body(options_.role, misbehaviour_));
            break;
        case Misbehaviour::SequenceGap:
            ++next_sequence_;
            break;
        case Misbehaviour::UnexpectedMessage:
            send(Type::Start, {});
            break;
        case Misbehaviour::Garbage:
            socket_.queue(garbage_bytes());
            muted_ = true;
            break;
        case Misbehaviour::BadHeader:
            socket_.queue(bad_header_frame(session_, next_sequence_++));
            muted_ = true;
            break;
        case Misbehaviour::Silence:
            muted_ = true;
            break;
        default:
            break;
    }
}

void PhoneSession::on_config(const Message& message) {
    const json config = parse_json(message.payload);
    if (misbehaviour_ != Misbehaviour::NoConfigAck) {
        send_json(Type::ConfigAck, config_ack_body(config, misbehaviour_));
    }
}

void PhoneSession::on_start(Clock::time_point now) {
    started_ = true;
    if (misbehaviour_ == Misbehaviour::ErrorMessage) {
        return send_error();
    }
    state_ = "Streaming";
    send_status(now);
}

void PhoneSession::on_audio(const Message& message, Clock::time_point now) {
    if (state_ != "Streaming") {
        note_violation("audio_not_streaming");
    }
    const size_t sample_count = message.payload.size() / 2;
    std::vector<int16_t> samples(sample_count);
    for (size_t i = 0; i < sample_count; ++i) {
        samples[i] =
            static_cast<int16_t>(message.payload[2 * i] | (message.payload[2 * i + 1] << 8));
    }
    const uint64_t frames = sample_count / 2;
    summary_.frames_received += frames;
    ++summary_.audio_messages;
    if (options_.keep_samples) {
        summary_.samples.insert(summary_.samples.end(), samples.begin(), samples.end());
    }
    if (recorder_) {
        recorder_->append(samples.data(), samples.size());
    }
    if (options_.on_audio) {
        options_.on_audio(now, samples.data(), samples.size());
    }
    playout_.push(frames, now);
    if (last_audio_) {
        const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(now - *last_audio_);
        inter_arrival_.add(static_cast<uint64_t>(std::max<int64_t>(gap.count(), 0)));
    }
    last_audio_ = now;
    if (misbehaviour_ == Misbehaviour::CloseMidStream &&
        summary_.frames_received >= kCloseAfterFrames) {
        close_orderly(now);
    }
}

void PhoneSession::on_ping(const Message& message, Clock::time_point now) {
    if (misbehaviour_ == Misbehaviour::ErrorMessage && !started_) {
        return send_error();
    }
    if (misbehaviour_ == Misbehaviour::NoPongs || muted_) {
        return;
    }
    std::vector<uint8_t> token = message.payload;
    if (misbehaviour_ == Misbehaviour::WrongPongToken) {
        token[0] ^= 0xFF;
    }
    send(Type::Pong, token);
    ++summary_.pings_answered;
    if (misbehaviour_ == Misbehaviour::CloseMidStream && !started_) {
        close_orderly(now);
    }
}

void PhoneSession::on_stop(Clock::time_point now) {
    summary_.stopped = true;
    playout_.finish(now);
    if (misbehaviour_ == Misbehaviour::NoStopped) {
        return;
    }
    state_ = "Stopped";
    send_status(now);
}

void PhoneSession::on_pong(const Message& message) {
    if (!ping_token_ || get_u64le(message.payload.data()) != *ping_token_) {
        return note_violation("unexpected_pong");
    }
    ping_token_.reset();
    ++summary_.pongs_received;
}

void PhoneSession::ping_desktop(Clock::time_point now) {
    if (ping_token_) {
        if (now - ping_sent_at_ >= kPongLimit) {
            note_violation("pong_timeout");
            ping_token_.reset();
        }
        return;
    }
    if (now < next_ping_) {
        return;
    }
    ping_token_ = random_id();
    std::vector<uint8_t> token(kTokenSize);
    put_u64le(token.data(), *ping_token_);
    send(Type::Ping, token);
    ping_sent_at_ = now;
    next_ping_ = now + std::chrono::milliseconds(options_.ping_interval_ms);
}

void PhoneSession::note_violation(const std::string& code) {
    if (summary_.first_violation.empty()) {
        summary_.first_violation = code;
    }
}

void PhoneSession::send(Type type, const std::vector<uint8_t>& payload) {
    if (muted_) {
        return;
    }
    uint64_t session = session_;
    if (misbehaviour_ == Misbehaviour::WrongSession) {
        session = session_ + 1 == 0 ? 1 : session_ + 1;
    }
    socket_.queue(encode(Message{type, session, next_sequence_++, 0, payload}));
}

void PhoneSession::send_json(Type type, const json& body) {
    send(type, json_bytes(body));
}

void PhoneSession::send_status(Clock::time_point now) {
    const std::string route =
        misbehaviour_ == Misbehaviour::WrongRoute ? kOtherRoute : kSpeakerRoute;
    send_json(Type::Status,
              status_body(state_, route, playout_.take_interval_mean(now), playout_.underruns()));
    next_status_ = now + std::chrono::milliseconds(options_.status_interval_ms);
}

void PhoneSession::send_error() {
    if (!error_sent_) {
        send_json(Type::Error, json{{"code", "audio_focus_lost"}});
        error_sent_ = true;
        muted_ = true;
    }
}

void PhoneSession::close_orderly(Clock::time_point now) {
    socket_.close_after_flush();
    muted_ = true;
    close_deadline_ = now + kCloseGrace;
}

void PhoneSession::finish_summary(Clock::time_point now) {
    playout_.advance(now);
    summary_.gaps = checker_.gaps();
    summary_.late_blocks = playout_.late_blocks();
    summary_.underruns = playout_.underruns();
    summary_.occupancy_mean = playout_.overall_mean();
    summary_.inter_arrival_p50_ms = inter_arrival_.percentile_ms(0.5);
    summary_.inter_arrival_p99_ms = inter_arrival_.percentile_ms(0.99);
    summary_.inter_arrival_max_ms = inter_arrival_.max_ms();
}

}  // namespace kova::phone
