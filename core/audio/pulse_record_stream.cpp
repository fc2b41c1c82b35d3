#include "core/audio/pulse_record_stream.h"

#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include "core/audio/pulse_connection.h"

namespace kova {
namespace {

constexpr size_t kBytesPerFrame = 2 * sizeof(float);

}  // namespace

struct RecordCallbacks {
    // Runs on the client library's thread for every fragment: copies, never allocates,
    // locks or logs.
    static void read(pa_stream* stream, size_t, void* userdata) {
        auto* self = static_cast<PulseRecordStream*>(userdata);
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
                return;
            }
            // A hole (data null) is audio the server never had: nothing to copy.
            if (data != nullptr) {
                self->consumer_->frames(static_cast<const float*>(data), bytes / kBytesPerFrame);
            }
            pa_stream_drop(stream);
        }
    }

    static void state(pa_stream* stream, void* userdata) {
        auto* self = static_cast<PulseRecordStream*>(userdata);
        switch (pa_stream_get_state(stream)) {
            case PA_STREAM_READY:
                self->state_ = PulseRecordStream::State::ready;
                break;
            case PA_STREAM_FAILED:
            case PA_STREAM_TERMINATED:
                self->state_ = PulseRecordStream::State::failed;
                self->consumer_->stream_ended();
                break;
            default:
                break;
        }
        pa_threaded_mainloop_signal(self->connection_.loop(), 0);
    }
};

PulseRecordStream::PulseRecordStream(PulseConnection& connection, uint32_t rate,
                                     size_t fragment_frames, FrameConsumer* consumer)
    : connection_(connection), rate_(rate), fragment_frames_(fragment_frames), consumer_(consumer) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, rate, 2};
    if (connection.context() != nullptr && pa_sample_spec_valid(&spec) != 0) {
        stream_ = pa_stream_new(connection.context(), "KOVA capture", &spec, nullptr);
    }
    if (stream_ != nullptr) {
        pa_stream_set_read_callback(stream_, &RecordCallbacks::read, this);
        pa_stream_set_state_callback(stream_, &RecordCallbacks::state, this);
    }
}

PulseRecordStream::~PulseRecordStream() {
    if (stream_ == nullptr) {
        return;
    }
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    if (state_ == State::connecting || state_ == State::ready) {
        pa_stream_disconnect(stream_);
    }
    pa_stream_unref(stream_);
}

bool PulseRecordStream::connect(const std::string& source) {
    if (stream_ == nullptr) {
        return false;
    }
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<uint32_t>(-1);
    attributes.tlength = static_cast<uint32_t>(-1);
    attributes.prebuf = static_cast<uint32_t>(-1);
    attributes.minreq = static_cast<uint32_t>(-1);
    attributes.fragsize = static_cast<uint32_t>(fragment_frames_ * kBytesPerFrame);
    // The server must not move the stream elsewhere: losing the KOVA sink ends it instead.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, source.c_str(), &attributes, flags) < 0) {
        state_ = State::failed;
        return false;
    }
    state_ = State::connecting;
    return true;
}

bool PulseRecordStream::wait_until_ready() {
    while (state_ == State::connecting) {
        pa_threaded_mainloop_wait(connection_.loop());
    }
    return state_ == State::ready;
}

}  // namespace kova
