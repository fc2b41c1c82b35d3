#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct pa_stream;

namespace kova {

class PulseConnection;

/// Receives a record stream's audio on the client library's thread; must not block.
class FrameConsumer {
  public:
    virtual ~FrameConsumer() = default;
    /// `frames` interleaved stereo float frames just recorded.
    virtual void frames(const float* samples, size_t frames) = 0;
    /// The stream failed or was ended by the server (its source went away).
    virtual void stream_ended() = 0;
};

/// A float32 stereo record stream at a fixed rate. Every call, construction and destruction
/// included, needs the connection's loop lock (or must run on the loop's thread).
class PulseRecordStream {
  public:
    enum class State { idle, connecting, ready, failed };

    /// Creates the stream; `created()` tells whether the server library accepted it.
    PulseRecordStream(PulseConnection& connection, uint32_t rate, size_t fragment_frames,
                      FrameConsumer* consumer);
    /// Disconnects without reporting an end.
    ~PulseRecordStream();
    PulseRecordStream(const PulseRecordStream&) = delete;
    PulseRecordStream& operator=(const PulseRecordStream&) = delete;

    /// Whether the stream object exists.
    bool created() const { return stream_ != nullptr; }
    /// Starts recording `source`; false when refused at once.
    bool connect(const std::string& source);
    /// Waits while connecting; true once recording, false when the stream failed.
    bool wait_until_ready();
    /// Where the connection stands.
    State state() const { return state_; }
    /// The rate the stream records at.
    uint32_t rate() const { return rate_; }

  private:
    friend struct RecordCallbacks;

    pa_stream* stream_ = nullptr;
    PulseConnection& connection_;
    uint32_t rate_;
    size_t fragment_frames_;
    FrameConsumer* consumer_;
    State state_ = State::idle;
};

}  // namespace kova
