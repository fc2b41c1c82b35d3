#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct pa_context;
struct pa_threaded_mainloop;

namespace kova {

/// What the capture needs to know of a sink.
struct SinkInfo {
    uint32_t index = 0;          ///< the server's sink index
    uint32_t rate = 0;           ///< the sink's sample rate in Hz
    uint32_t owner_module = 0;   ///< module that created the sink
    std::string monitor_source;  ///< name of the sink's monitor source
};

/// Told about one sink on the client library's thread (lock held there; must not block).
class SinkWatcher {
  public:
    virtual ~SinkWatcher() = default;
    /// The watched sink changed; `rate` is its current sample rate.
    virtual void sink_rate(uint32_t rate) = 0;
    /// The watched sink, or the connection to the server, is gone.
    virtual void sink_gone() = 0;
};

/// One client connection to the audio server (PULSE_SERVER when set, else the default) on a
/// threaded main loop. Public calls lock the loop themselves and must not be made from its
/// thread; `Lock` lets an owner run several client-library calls as one.
class PulseConnection {
  public:
    /// Starts the loop thread; connects nothing yet.
    PulseConnection();
    /// Disconnects and stops the loop thread; no callback runs afterwards.
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    /// Connects to the server; false when there is none or it refuses.
    bool connect();
    /// Looks a sink up by name.
    std::optional<SinkInfo> sink_by_name(const std::string& name);
    /// Looks a sink up by index.
    std::optional<SinkInfo> sink_by_index(uint32_t index);
    /// Loads a server module; returns its index or nothing when the server refuses.
    std::optional<uint32_t> load_module(const std::string& name, const std::string& arguments);
    /// Unloads a server module; false when the server refuses.
    bool unload_module(uint32_t index);
    /// Reports changes and removal of sink `index` (and the loss of the server) to `watcher`;
    /// a sink already gone is reported before this returns.
    void watch_sink(uint32_t index, SinkWatcher* watcher);

    /// The loop, for streams created on this connection.
    pa_threaded_mainloop* loop() const { return loop_; }
    /// The context, for streams created on this connection.
    pa_context* context() const { return context_; }

    /// Holds the loop's lock for its lifetime.
    class Lock {
      public:
        /// Locks `connection`'s loop.
        explicit Lock(const PulseConnection& connection);
        /// Unlocks it.
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

  private:
    friend struct PulseCallbacks;

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool ready_ = false;
    uint32_t watched_ = 0;
    SinkWatcher* watcher_ = nullptr;
};

}  // namespace kova
