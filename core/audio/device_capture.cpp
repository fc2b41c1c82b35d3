#include "core/audio/device_capture.h"

#include "core/transport/error.h"

namespace kova {
namespace {

std::optional<SinkInfo> sink_by_device(PulseConnection& connection, uint32_t device) {
    return device == 0 ? std::nullopt : connection.sink_by_index(device - 1);
}

}  // namespace

uint32_t DeviceCapture::find(const std::string& uid) {
    PulseConnection connection;
    if (!connection.connect()) {
        return 0;
    }
    const std::optional<SinkInfo> sink = connection.sink_by_name(uid);
    return sink ? sink->index + 1 : 0;
}

double DeviceCapture::nominal_rate(uint32_t device) {
    if (device == 0) {
        return 0.0;
    }
    PulseConnection connection;
    if (!connection.connect()) {
        return 0.0;
    }
    const std::optional<SinkInfo> sink = sink_by_device(connection, device);
    return sink ? static_cast<double>(sink->rate) : 0.0;
}

DeviceCapture::DeviceCapture(const std::string& uid)
    : connection_(std::make_unique<PulseConnection>()) {
    const std::optional<SinkInfo> sink =
        connection_->connect() ? connection_->sink_by_name(uid) : std::nullopt;
    if (!sink) {
        throw Error("kova_device_not_found");
    }
    device_ = sink->index + 1;
    monitor_ = sink->monitor_source;
    if (sink->rate == 0) {
        throw Error("kova_device_rate_unknown");
    }
    rate.store(static_cast<double>(sink->rate), std::memory_order_release);
    {
        PulseConnection::Lock lock(*connection_);
        stream_ = new_stream(sink->rate);
    }
    if (!stream_->created()) {
        throw Error("kova_device_ioproc_failed");
    }
    connection_->watch_sink(sink->index, this);
}

DeviceCapture::~DeviceCapture() {
    {
        PulseConnection::Lock lock(*connection_);
        stream_.reset();
    }
    connection_.reset();
}

void DeviceCapture::start() {
    PulseConnection::Lock lock(*connection_);
    if (lost() || !stream_->connect(monitor_)) {
        throw Error("kova_device_start_failed");
    }
    if (!stream_->wait_until_ready()) {
        throw Error("kova_device_start_failed");
    }
    started_ = true;
}

std::unique_ptr<PulseRecordStream> DeviceCapture::new_stream(uint32_t stream_rate) {
    FrameConsumer* consumer = this;
    return std::make_unique<PulseRecordStream>(*connection_, stream_rate, kFragmentFrames,
                                               consumer);
}

void DeviceCapture::frames(const float* samples, size_t count) {
    const size_t kept = ring_.write(samples, count);
    if (kept < count) {
        overflow_frames.fetch_add(count - kept, std::memory_order_relaxed);
    }
    peak_.raise(samples, 2 * kept);
}

void DeviceCapture::stream_ended() {
    lost_.store(true, std::memory_order_release);
}

// A stream keeps the rate it was made with (the server would resample behind our back), so
// the stream is rebuilt at the new rate before the change is published: whoever sees the new
// `rate_changes` also sees the new `rate`, and every later frame has that rate.
void DeviceCapture::sink_rate(uint32_t new_rate) {
    // A change may still arrive while the destructor has already let the stream go.
    if (!stream_ || new_rate == 0 || new_rate == stream_->rate()) {
        return;
    }
    stream_ = new_stream(new_rate);
    if (!stream_->created() || (started_ && !stream_->connect(monitor_))) {
        lost_.store(true, std::memory_order_release);
    }
    rate.store(static_cast<double>(new_rate), std::memory_order_release);
    rate_changes.fetch_add(1, std::memory_order_acq_rel);
}

void DeviceCapture::sink_gone() {
    lost_.store(true, std::memory_order_release);
}

}  // namespace kova
