#pragma once

#include <sys/types.h>

#include <cstddef>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct pa_simple;

namespace kova::test {

/// A private audio server for one test: its own runtime directory and socket, a KOVA null
/// sink at the requested rate (float samples), PULSE_SERVER pointing at it while it lives.
/// With KOVA_TEST_AUDIO_SERVER=pipewire it is PipeWire (dbus-daemon, pipewire, wireplumber
/// and pipewire-pulse) with the sink made by the pipewire-pulse configuration the README gives;
/// otherwise PulseAudio.
class PulseServer {
  public:
    /// The sink name the capture looks for.
    static constexpr const char* kSinkName = "com.brenvale.kova.device";

    /// Starts the server and waits until it answers; `sink_rate` 0 starts it without a sink.
    explicit PulseServer(unsigned sink_rate);
    /// Stops the server, removes its directory and restores PULSE_SERVER.
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    /// Whether the servers started are PipeWire's.
    static bool pipewire();

    /// Whether the server came up and answers.
    bool ready() const { return ready_; }
    /// The server's address, as PULSE_SERVER holds it.
    const std::string& address() const { return address_; }
    /// The server's log so far, for failure messages.
    std::string log() const;
    /// Loads a KOVA null sink at `rate`; returns the module index.
    uint32_t load_kova_sink(unsigned rate);
    /// Unloads the module that created the KOVA sink; false when there is none.
    bool unload_kova_sink();
    /// Kills the server at once, as a crash would.
    void kill_now();

  private:
    void spawn_pulseaudio();
    void spawn_pipewire(unsigned sink_rate);
    pid_t spawn(const std::vector<std::string>& arguments);
    bool wait_until_answering(const std::string& socket, unsigned sink_rate);
    bool alive();

    std::string directory_;
    std::string address_;
    std::string previous_server_;
    bool had_previous_server_ = false;
    std::vector<pid_t> pids_;  ///< in start order; the last one serves the clients
    bool ready_ = false;
};

/// Plays interleaved float samples into the KOVA sink of the current server.
class SinkPlayer {
  public:
    /// Opens a playback stream of `channels` float channels at `rate`.
    SinkPlayer(unsigned rate, unsigned channels = 2);
    /// Closes the stream without waiting.
    ~SinkPlayer();
    SinkPlayer(const SinkPlayer&) = delete;
    SinkPlayer& operator=(const SinkPlayer&) = delete;

    /// Whether the stream opened.
    bool open() const { return stream_ != nullptr; }
    /// Queues the samples; blocks while the server's buffer is full.
    bool write(const std::vector<float>& samples);
    /// Waits until everything queued has been played.
    bool drain();

  private:
    ::pa_simple* stream_ = nullptr;
};

/// Plays a 1 kHz sine at half scale into the KOVA sink until destroyed, in 10 ms writes from a
/// thread of its own, as a desktop would.
class SinePlayer {
  public:
    /// Starts playing at `rate`.
    explicit SinePlayer(unsigned rate);
    /// Stops playing and waits for the thread.
    ~SinePlayer();
    SinePlayer(const SinePlayer&) = delete;
    SinePlayer& operator=(const SinePlayer&) = delete;

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

/// `frames` stereo frames of a sine of `hz` at `rate` and amplitude `level`, both channels.
std::vector<float> stereo_sine(double hz, unsigned rate, size_t frames, float level);

}  // namespace kova::test
