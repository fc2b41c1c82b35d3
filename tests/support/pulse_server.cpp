#include "tests/support/pulse_server.h"

#include <pulse/simple.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/audio/pulse_connection.h"

// The client library is not built with ThreadSanitizer: its memory pools and lock-free lists
// look like races to it. Reports from inside the library are not this code's.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libpulse.so.0\n"
           "called_from_lib:libpulse-simple.so.0\n"
           "called_from_lib:libpulsecommon-16.1.so\n"
           "race:libpulsecommon-16.1.so\n"
           "race:libpulse.so.0\n";
}
#endif

namespace kova::test {
namespace {

constexpr auto kStartLimit = std::chrono::seconds(15);
constexpr auto kStopLimit = std::chrono::seconds(5);
constexpr pa_usec_t kPlayerLatencyUs = 250000;

std::string make_directory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kova-pulse.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    for (const char* sub : {"home", "runtime", "config"}) {
        std::filesystem::create_directories(std::filesystem::path(pattern) / sub);
    }
    std::filesystem::permissions(std::filesystem::path(pattern) / "runtime",
                                 std::filesystem::perms::owner_all);
    return pattern;
}

std::string sink_arguments(unsigned rate) {
    std::ostringstream arguments;
    arguments << "sink_name=" << PulseServer::kSinkName
              << " sink_properties=device.description=KOVA format=float32le channels=2 rate="
              << rate;
    return arguments.str();
}

void write_script(const std::string& path, const std::string& socket, unsigned rate) {
    std::ofstream script(path);
    script << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket << "\n";
    if (rate != 0) {
        script << "load-module module-null-sink " << sink_arguments(rate) << "\n";
    }
}

bool wait_for_exit(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

PulseServer::PulseServer(unsigned sink_rate) : directory_(make_directory()) {
    if (directory_.empty()) {
        return;
    }
    const std::string socket = directory_ + "/native";
    address_ = "unix:" + socket;
    write_script(directory_ + "/default.pa", socket, sink_rate);
    if (const char* previous = getenv("PULSE_SERVER")) {
        previous_server_ = previous;
        had_previous_server_ = true;
    }
    setenv("PULSE_SERVER", address_.c_str(), 1);
    spawn();
    ready_ = pid_ > 0 && wait_until_answering();
}

PulseServer::~PulseServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        if (!wait_for_exit(pid_, kStopLimit)) {
            ::kill(pid_, SIGKILL);
            wait_for_exit(pid_, kStopLimit);
        }
    }
    if (had_previous_server_) {
        setenv("PULSE_SERVER", previous_server_.c_str(), 1);
    } else {
        unsetenv("PULSE_SERVER");
    }
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

// The server refuses to run as root in user mode unless told exactly what to do: no
// autoloaded configuration (-n), no idle exit, no daemonising, no realtime or nice changes
// that would touch the test machine, and a home and runtime directory of its own.
void PulseServer::spawn() {
    const std::string home = "HOME=" + directory_ + "/home";
    const std::string runtime = "XDG_RUNTIME_DIR=" + directory_ + "/runtime";
    const std::string config = "XDG_CONFIG_HOME=" + directory_ + "/config";
    const char* path = getenv("PATH");
    const std::string path_entry = std::string("PATH=") + (path ? path : "/usr/bin:/bin");
    std::vector<std::string> arguments = {"pulseaudio",
                                          "--daemonize=no",
                                          "--system=no",
                                          "--exit-idle-time=-1",
                                          "--use-pid-file=no",
                                          "--realtime=no",
                                          "--high-priority=no",
                                          "--disable-shm=yes",
                                          "--log-level=info",
                                          "--log-target=file:" + directory_ + "/log",
                                          "-n",
                                          "-F",
                                          directory_ + "/default.pa"};
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = {home, runtime, config, path_entry};
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        // The server must not outlive a test that crashes or is killed on a time-out.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execvpe("pulseaudio", argv.data(), envp.data());
        _exit(127);
    }
}

bool PulseServer::wait_until_answering() {
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        if (std::filesystem::exists(directory_ + "/native")) {
            PulseConnection connection;
            if (connection.connect()) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string PulseServer::log() const {
    std::ifstream file(directory_ + "/log");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

uint32_t PulseServer::load_kova_sink(unsigned rate) {
    PulseConnection connection;
    if (!connection.connect()) {
        return UINT32_MAX;
    }
    return connection.load_module("module-null-sink", sink_arguments(rate)).value_or(UINT32_MAX);
}

bool PulseServer::unload_kova_sink() {
    PulseConnection connection;
    if (!connection.connect()) {
        return false;
    }
    const auto sink = connection.sink_by_name(kSinkName);
    return sink && connection.unload_module(sink->owner_module);
}

void PulseServer::kill_now() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait_for_exit(pid_, kStopLimit);
        pid_ = -1;
    }
}

SinkPlayer::SinkPlayer(unsigned rate, unsigned channels) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, rate, static_cast<uint8_t>(channels)};
    // A quarter second of buffer: playback starts at once instead of after seconds of
    // prebuffering, and a busy machine does not make it run dry in the middle.
    pa_buffer_attr buffer;
    buffer.maxlength = buffer.prebuf = buffer.minreq = buffer.fragsize = UINT32_MAX;
    buffer.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kPlayerLatencyUs, &spec));
    int error = 0;
    stream_ = pa_simple_new(nullptr, "kova-test-player", PA_STREAM_PLAYBACK, PulseServer::kSinkName,
                            "test signal", &spec, nullptr, &buffer, &error);
}

SinkPlayer::~SinkPlayer() {
    if (stream_ != nullptr) {
        pa_simple_free(stream_);
    }
}

bool SinkPlayer::write(const std::vector<float>& samples) {
    int error = 0;
    return stream_ != nullptr &&
           pa_simple_write(stream_, samples.data(), samples.size() * sizeof(float), &error) == 0;
}

bool SinkPlayer::drain() {
    int error = 0;
    return stream_ != nullptr && pa_simple_drain(stream_, &error) == 0;
}

std::vector<float> stereo_sine(double hz, unsigned rate, size_t frames, float level) {
    std::vector<float> samples(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
        const double phase = 2.0 * M_PI * hz * static_cast<double>(i) / rate;
        samples[2 * i] = samples[2 * i + 1] = level * static_cast<float>(std::sin(phase));
    }
    return samples;
}

SinePlayer::SinePlayer(unsigned rate)
    : thread_([this, rate] {
          SinkPlayer player(rate);
          const auto block = stereo_sine(1000.0, rate, rate / 100, 0.5f);
          while (!stop_.load() && player.write(block)) {
          }
      }) {}

SinePlayer::~SinePlayer() {
    stop_.store(true);
    thread_.join();
}

}  // namespace kova::test
