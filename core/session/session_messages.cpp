#include <limits>
#include <utility>

#include "core/protocol/codec.h"
#include "core/protocol/json_payload.h"
#include "core/session/phone_messages.h"
#include "core/session/report_values.h"
#include "core/session/session_driver.h"
#include "core/transport/error.h"
#include "core/transport/interrupt.h"

namespace kova {
namespace {

constexpr unsigned kControlWriteTimeoutMs = 5000;
constexpr unsigned kWaitReadMs = 100;

}  // namespace

void SessionDriver::send(Type type, const std::vector<uint8_t>& payload, uint64_t frame_index) {
    if (next_sequence_ == std::numeric_limits<uint64_t>::max()) {
        throw Error("sequence_exhausted");
    }
    const Message message{type, session_id_, next_sequence_, frame_index, payload};
    ++next_sequence_;
    const std::vector<uint8_t> frame = encode(message);
    const unsigned timeout_ms = type == Type::Hello
                                    ? static_cast<unsigned>(options_.hello_timeout_ms)
                                    : kControlWriteTimeoutMs;
    const auto started = Clock::now();
    try {
        link_->write(frame, timeout_ms);
    } catch (...) {
        add_integer(report_, "usbErrors", 1);
        throw;
    }
    if (type == Type::Audio) {
        raise_float(report_, "maxWriteMs", milliseconds(Clock::now() - started));
    }
    add_count(report_, "usbBytesSent", frame.size());
}

void SessionDriver::pump(unsigned timeout_ms) {
    const auto started = Clock::now();
    std::vector<uint8_t> bytes;
    try {
        bytes = link_->read(timeout_ms);
    } catch (...) {
        add_integer(report_, "usbErrors", 1);
        throw;
    }
    if (timeout_ms == 1) {
        raise_float(report_, "maxReadMs", milliseconds(Clock::now() - started));
    }
    add_count(report_, "usbBytesReceived", bytes.size());
    parser_->feed(bytes.data(), bytes.size(),
                  [this](Message message) { dispatch(std::move(message)); });
}

void SessionDriver::dispatch(Message message) {
    if (message.session != session_id_) {
        throw Error("stale_session");
    }
    guard_.accept(message);
    last_receive_ = Clock::now();
    switch (message.type) {
        case Type::Hello:
            on_phone_hello(message);
            return;
        case Type::ConfigAck:
            on_config_ack(message);
            return;
        case Type::Status:
            on_status(message);
            return;
        case Type::Error: {
            const nlohmann::json error = parse_json(message.payload);
            report_["phoneError"] = error;
            throw Error(phone_error_code(error));
        }
        case Type::Ping:
            send(Type::Pong, message.payload, 0);
            return;
        case Type::Pong:
            on_pong(message);
            return;
        default:
            throw Error("unexpected_message");
    }
}

void SessionDriver::on_phone_hello(const Message& message) {
    const nlohmann::json hello = parse_json(message.payload);
    check_phone_hello(hello, options_.treated_as_ios(), has_audio_);
    hello_received_ = true;
    report_["phoneHello"] = hello;
    announce("Ready");
}

void SessionDriver::on_config_ack(const Message& message) {
    if (!has_audio_ || config_acked_) {
        throw Error("unexpected_config_ack");
    }
    const nlohmann::json ack = parse_json(message.payload);
    report_["configAck"] = ack;
    check_config_ack(ack);
    config_acked_ = true;
}

void SessionDriver::on_status(const Message& message) {
    const nlohmann::json status = parse_json(message.payload);
    report_["lastPhoneStatus"] = status;
    const std::string state = status.value("state", std::string());
    if (state == "Streaming") {
        if (status.value("route", std::string()) != "built_in_speaker") {
            throw Error("unexpected_audio_route");
        }
        speaker_verified_ = true;
        report_["speakerVerified"] = true;
    }
    if (state == "Stopped") {
        phone_stopped_ = true;
    }
    if (capture_) {
        capture_->apply_status_peak(report_);
    }
    if (hooks_.on_status) {
        hooks_.on_status(report_);
    }
}

void SessionDriver::on_pong(const Message& message) {
    if (!ping_outstanding_ || token_value(message.payload) != ping_token_) {
        throw Error("unexpected_pong");
    }
    ping_outstanding_ = false;
    ++ping_count_;
    report_["pingCount"] = ping_count_;
}

bool SessionDriver::cancel_pending(bool cancellable) const {
    return is_interrupted() || (cancellable && hooks_.stop_requested && hooks_.stop_requested());
}

// Time limits are checked between reads, so a wait may overrun by one read of up to 100 ms.
void SessionDriver::wait_for(const bool& flag, int timeout_ms, bool cancellable) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!flag) {
        if (cancel_pending(cancellable)) {
            break;
        }
        if (Clock::now() >= deadline) {
            throw Error("control_timeout_check_phone");
        }
        pump(kWaitReadMs);
    }
    if (cancel_pending(cancellable)) {
        throw Error("cancelled");
    }
}

}  // namespace kova
