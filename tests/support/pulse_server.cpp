#include "tests/support/pulse_server.h"

#include <fcntl.h>
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

bool wait_for_path(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The pipewire-pulse configuration the README gives users for a KOVA device that lasts.
void write_pipewire_config(const std::string& config_home, unsigned rate) {
    const std::filesystem::path dir =
        std::filesystem::path(config_home) / "pipewire" / "pipewire-pulse.conf.d";
    std::filesystem::create_directories(dir);
    std::ofstream file(dir / "kova-device.conf");
    file << "pulse.cmd = [\n"
         << "    { cmd = \"load-module\"\n"
         << "      args = \"module-null-sink " << sink_arguments(rate) << "\"\n"
         << "      flags = [ \"nofail\" ] }\n"
         << "]\n";
}

bool stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    if (wait_for_exit(pid, kStopLimit)) {
        return true;
    }
    ::kill(pid, SIGKILL);
    return wait_for_exit(pid, kStopLimit);
}

}  // namespace

bool PulseServer::pipewire() {
    const char* server = getenv("KOVA_TEST_AUDIO_SERVER");
    return server != nullptr && std::string(server) == "pipewire";
}

PulseServer::PulseServer(unsigned sink_rate) : directory_(make_directory()) {
    if (directory_.empty()) {
        return;
    }
    const std::string socket =
        pipewire() ? directory_ + "/runtime/pulse/native" : directory_ + "/native";
    address_ = "unix:" + socket;
    if (const char* previous = getenv("PULSE_SERVER")) {
        previous_server_ = previous;
        had_previous_server_ = true;
    }
    setenv("PULSE_SERVER", address_.c_str(), 1);
    if (pipewire()) {
        spawn_pipewire(sink_rate);
    } else {
        write_script(directory_ + "/default.pa", socket, sink_rate);
        spawn_pulseaudio();
    }
    ready_ = alive() && wait_until_answering(socket, sink_rate);
}

PulseServer::~PulseServer() {
    // Clients first, the bus last.
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) {
        if (*pid > 0) {
            stop(*pid);
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

pid_t PulseServer::spawn(const std::vector<std::string>& arguments) {
    std::vector<std::string> environment = {
        "HOME=" + directory_ + "/home", "XDG_RUNTIME_DIR=" + directory_ + "/runtime",
        "XDG_CONFIG_HOME=" + directory_ + "/config",
        std::string("PATH=") + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin")};
    if (pipewire()) {
        environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + directory_ + "/runtime/bus");
    }
    std::vector<char*> argv;
    std::vector<std::string> copy = arguments;
    for (auto& argument : copy) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    // PulseAudio writes its own log; PipeWire's programs write to standard error.
    const std::string log_path = pipewire() ? directory_ + "/log" : "";
    const pid_t pid = fork();
    if (pid == 0) {
        // The server must not outlive a test that crashes or is killed on a time-out.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int log =
            log_path.empty() ? -1 : open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    pids_.push_back(pid);
    return pid;
}

// The server refuses to run as root in user mode unless told exactly what to do: no
// autoloaded configuration (-n), no idle exit, no daemonising, no realtime or nice changes
// that would touch the test machine, and a home and runtime directory of its own.
void PulseServer::spawn_pulseaudio() {
    spawn({"pulseaudio", "--daemonize=no", "--system=no", "--exit-idle-time=-1",
           "--use-pid-file=no", "--realtime=no", "--high-priority=no", "--disable-shm=yes",
           "--log-level=info", "--log-target=file:" + directory_ + "/log", "-n", "-F",
           directory_ + "/default.pa"});
}

// No desktop session: a session bus of its own, then the graph, its session manager and the
// pulse interface, each waiting for what it needs.
void PulseServer::spawn_pipewire(unsigned sink_rate) {
    if (sink_rate != 0) {
        write_pipewire_config(directory_ + "/config", sink_rate);
    }
    const std::string runtime = directory_ + "/runtime";
    spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile",
           "--address=unix:path=" + runtime + "/bus"});
    if (!wait_for_path(runtime + "/bus")) {
        return;
    }
    spawn({"pipewire"});
    if (!wait_for_path(runtime + "/pipewire-0")) {
        return;
    }
    spawn({"wireplumber"});
    spawn({"pipewire-pulse"});
}

bool PulseServer::alive() {
    for (pid_t& pid : pids_) {
        int status = 0;
        if (pid <= 0 || waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
    }
    return !pids_.empty();
}

bool PulseServer::wait_until_answering(const std::string& socket, unsigned sink_rate) {
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!alive()) {
            return false;
        }
        if (std::filesystem::exists(socket)) {
            PulseConnection connection;
            // PipeWire answers before its configuration has made the sink.
            if (connection.connect() &&
                (sink_rate == 0 || !pipewire() || connection.sink_by_name(kSinkName).has_value())) {
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
    for (pid_t& pid : pids_) {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            wait_for_exit(pid, kStopLimit);
            pid = -1;
        }
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
