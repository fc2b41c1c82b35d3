// kova-soak: one long capture session through the C interface to kova-phone presented as an
// iPhone, with a generated programme played into a private KOVA sink at 44100 Hz. Samples the
// process every 10 s and prints one JSON summary; exits 1 on a gap, a lost frame, memory growth
// after the first minute or any descriptor or thread growth.
#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/api/kova.h"
#include "tests/support/pulse_server.h"
#include "tests/support/usbmux_socket_dir.h"

extern char** environ;

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr unsigned kRate = 44100;
constexpr const char* kSerial = "00008101-000A1B2C3D4E5F60";

int entries(const char* path) {
    int count = 0;
    if (DIR* dir = ::opendir(path)) {
        while (const dirent* entry = ::readdir(dir)) {
            count += entry->d_name[0] != '.';
        }
        ::closedir(dir);
    }
    return count;
}

long resident_bytes() {
    long pages = 0;
    long resident = 0;
    if (FILE* file = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(file);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Music-like: three tones, a noise burst and a silence in every 5 s, which starts with an
// impulse.
void play_programme(const std::atomic<bool>& stop) {
    kova::test::SinkPlayer player(kRate, 2);
    if (!player.open()) {
        std::cerr << "kova-soak: cannot play into the KOVA sink\n";
        return;
    }
    std::minstd_rand noise(7);
    std::uniform_real_distribution<float> spread(-0.2f, 0.2f);
    uint64_t frame = 0;
    std::vector<float> block(2 * kRate / 100);
    while (!stop.load()) {
        for (size_t i = 0; i < block.size() / 2; ++i, ++frame) {
            const double t = static_cast<double>(frame % (5 * kRate)) / kRate;
            const double s = static_cast<double>(frame) / kRate;
            float value = 0.0f;
            if (frame % (5 * kRate) == 0) {
                value = 0.9f;
            } else if (t < 2.0 || t >= 3.5) {
                value = static_cast<float>(0.1 * (std::sin(2 * M_PI * 220 * s) +
                                                  std::sin(2 * M_PI * 330 * s) +
                                                  std::sin(2 * M_PI * 495 * s)));
            } else if (t < 2.5) {
                value = spread(noise);
            }
            block[2 * i] = block[2 * i + 1] = value;
        }
        if (!player.write(block)) {
            std::cerr << "kova-soak: playing into the KOVA sink failed\n";
            return;
        }
    }
}

struct Session {
    std::mutex mutex;
    std::condition_variable changed;
    json last_status;
    std::optional<json> ended;
    bool streaming = false;

    static void on_event(void* context, const char* text) {
        auto* self = static_cast<Session*>(context);
        json event = json::parse(text);
        std::lock_guard lock(self->mutex);
        if (event["event"] == "status") {
            self->last_status = std::move(event);
        } else if (event["event"] == "state" && event["state"] == "Streaming") {
            self->streaming = true;
        } else if (event["event"] == "ended") {
            self->ended = std::move(event);
        }
        self->changed.notify_all();
    }
};

// kova-phone presenting an iPhone on the private usbmux socket; its stdout carries the
// attached device's id, then one summary line per session.
struct Phone {
    pid_t pid = -1;
    FILE* out = nullptr;

    bool start(const std::string& socket_path) {
        int pipe_fds[2];
        if (::pipe(pipe_fds) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
        posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
        std::vector<std::string> args = {
            KOVA_PHONE_EXE,         "--usbmux", socket_path, "--serial", kSerial, "--sessions", "1",
            "--status-interval-ms", "500"};
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        const int failed =
            ::posix_spawn(&pid, KOVA_PHONE_EXE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe_fds[1]);
        out = ::fdopen(pipe_fds[0], "r");
        return failed == 0 && out != nullptr;
    }
    std::string line() {
        char buffer[65536];
        return out != nullptr && std::fgets(buffer, sizeof buffer, out) ? buffer : "";
    }
    void finish() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (out != nullptr) {
            std::fclose(out);
        }
    }
};

struct Sample {
    double at = 0;
    long rss = 0;
    int fds = 0;
    int tasks = 0;
};

json sample_json(const Sample& sample) {
    return {{"seconds", sample.at},
            {"rss", sample.rss},
            {"fds", sample.fds},
            {"threads", sample.tasks}};
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App cli("Streams a generated programme from the KOVA sink to an emulated iPhone");
    double minutes = 60;
    bool android = false;
    cli.add_option("--minutes", minutes, "length of the session (fractions allowed)")
        ->capture_default_str();
    cli.add_flag("--android", android, "run over the fake USB bus instead");
    CLI11_PARSE(cli, argc, argv);
    if (android) {
        std::cerr << "kova-soak: --android is not available in this build\n";
        return 2;
    }

    kova::test::PulseServer pulse(kRate);
    if (!pulse.ready()) {
        std::cerr << "kova-soak: the audio server did not start\n" << pulse.log();
        return 2;
    }
    kova::test::UsbmuxSocketDir socket;
    Phone phone;
    if (!phone.start(socket.path())) {
        std::cerr << "kova-soak: cannot start kova-phone\n";
        return 2;
    }
    std::string device = phone.line();
    while (!device.empty() && (device.back() == '\n' || device.back() == '\r')) {
        device.pop_back();
    }

    std::atomic<bool> stop_programme{false};
    std::thread programme(play_programme, std::cref(stop_programme));
    Session session;
    const json options = {{"device", device}, {"kovaDevice", true}, {"helloTimeoutMs", 5000}};
    const auto started = Clock::now();
    KovaSession* handle = kova_session_start(options.dump().c_str(), &Session::on_event, &session);
    if (handle == nullptr) {
        std::cerr << "kova-soak: options refused\n";
        return 2;
    }

    const auto length = std::chrono::duration<double>(minutes * 60);
    std::vector<Sample> samples;
    std::vector<json> statuses;
    for (;;) {
        std::unique_lock lock(session.mutex);
        const auto next = started + std::chrono::seconds(10 * (samples.size() + 1));
        const auto until =
            std::min(next, started + std::chrono::duration_cast<Clock::duration>(length));
        session.changed.wait_until(lock, until, [&] { return session.ended.has_value(); });
        if (session.ended) {
            break;
        }
        const double at = std::chrono::duration<double>(Clock::now() - started).count();
        samples.push_back(
            {at, resident_bytes(), entries("/proc/self/fd"), entries("/proc/self/task")});
        statuses.push_back(session.last_status.value("phone", json::object()));
        if (Clock::now() >= started + length) {
            break;
        }
    }
    kova_session_stop(handle);
    {
        std::unique_lock lock(session.mutex);
        session.changed.wait_for(lock, std::chrono::seconds(15),
                                 [&] { return session.ended.has_value(); });
    }
    kova_session_free(handle);
    stop_programme.store(true);
    programme.join();
    const std::string summary_line = phone.line();
    phone.finish();

    const json ended = session.ended.value_or(json::object());
    const json report = ended.value("report", json::object());
    const json emulator = json::parse(summary_line, nullptr, false);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    json summary = {
        {"durationSeconds", seconds},
        {"code", ended.value("code", -1)},
        {"error", report.value("error", "")},
        {"framesSent", report.value("framesSent", 0)},
        {"framesReceived", emulator.is_object() ? emulator.value("framesReceived", 0) : 0},
        {"gaps", emulator.is_object() ? emulator.value("gaps", 0) : 0},
        {"underruns", emulator.is_object() ? emulator.value("underruns", 0) : 0},
        {"impulseLatencyMs", nullptr},
        {"samples", json::array()},
    };
    for (size_t i = 0; i < samples.size(); ++i) {
        json entry = sample_json(samples[i]);
        entry["phone"] = statuses[i];
        summary["samples"].push_back(entry);
    }
    bool failed = summary["code"] != 0 || summary["gaps"] != 0 ||
                  summary["framesSent"] != summary["framesReceived"] || summary["framesSent"] == 0;
    if (samples.size() >= 2) {
        // The first sample after a minute is the memory baseline; all run-time counts are
        // taken with the session streaming.
        size_t minute = 0;
        while (minute + 1 < samples.size() && samples[minute].at < 60) {
            ++minute;
        }
        const Sample& first = samples.front();
        const Sample& last = samples.back();
        summary["rssAtOneMinute"] = samples[minute].rss;
        summary["rssAtEnd"] = last.rss;
        summary["fds"] = {{"start", first.fds}, {"end", last.fds}};
        summary["threads"] = {{"start", first.tasks}, {"end", last.tasks}};
        failed = failed || last.rss - samples[minute].rss > (1 << 20) || last.fds > first.fds ||
                 last.tasks > first.tasks;
    }
    summary["passed"] = !failed;
    summary.erase("samples");
    std::cout << summary.dump() << std::endl;
    return failed ? 1 : 0;
}
