// Capture-to-wire latency: clicks played into the KOVA sink of a private sound server, timed
// from the moment they sound to their arrival at the emulated phone of a real capture
// session, beside the same clicks read by the system's own recorder (parec at its lowest
// latency) from the sink's monitor. Usage: bench_capture_latency [RATE [CLICKS]]
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/impulse.h"
#include "bench/support/spawn.h"
#include "core/session/report.h"
#include "core/session/run_session.h"
#include "core/session/session_options.h"
#include "core/transport/socket_transport.h"
#include "tests/support/pulse_server.h"
#include "tests/support/session_runner.h"
#include "tests/support/socket_pair.h"
#include "tools/phone/phone_app.h"

namespace {

using kova::bench::Clock;
using kova::bench::ImpulseDetector;
using namespace std::chrono_literals;

constexpr unsigned kWireRate = 48000;
// Pairs must not reach the next click: the shortest gap is 80 ms.
constexpr double kMatchWindowMs = 70.0;

void wait_for_frames(const std::atomic<uint64_t>& frames, uint64_t wanted) {
    const auto deadline = Clock::now() + 15s;
    while (frames.load() < wanted && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
}

// A capture session against the phone emulator over a socket pair; the emulator's arrivals
// feed a detector.
class KovaPath {
  public:
    KovaPath() : detector_(kWireRate) {
        kova::test::SocketPair pair;
        // A recorder spawned later must not hold the link open.
        ::fcntl(pair.near(), F_SETFD, FD_CLOEXEC);
        ::fcntl(pair.far(), F_SETFD, FD_CLOEXEC);
        link_ = std::make_unique<kova::SocketTransport>();
        link_->adopt(pair.release_near());
        const int phone_fd = ::fcntl(pair.far(), F_DUPFD_CLOEXEC, 0);
        pair.close_far();
        kova::phone::PhoneOptions phone_options;
        phone_options.keep_samples = false;
        phone_options.on_audio = [this](Clock::time_point at, const int16_t* samples,
                                        size_t count) {
            detector_.feed(samples, count / 2, at);
            frames_.fetch_add(count / 2);
        };
        phone_ = std::make_unique<kova::phone::PhoneApp>(phone_options);
        phone_done_ =
            std::async(std::launch::async, [this, phone_fd] { return phone_->serve(phone_fd); });
        // A thread of its own: the session makes its thread realtime.
        session_ = std::thread([this] {
            kova::SessionOptions options = kova::test::link_options();
            options.capture_uid = kova::kKovaDeviceUid;
            options.transport = link_.get();
            report_ = kova::default_report();
            kova::SessionHooks hooks;
            hooks.stop_requested = [this] { return stop_.load(); };
            code_ = kova::run_session(options, report_, hooks);
        });
    }

    void warm_up() { wait_for_frames(frames_, 2 * kWireRate); }

    void finish() {
        stop_.store(true);
        session_.join();
        link_.reset();
        phone_done_.get();
    }

    const ImpulseDetector& detector() const { return detector_; }
    const nlohmann::json& report() const { return report_; }
    int code() const { return code_; }

  private:
    ImpulseDetector detector_;
    std::atomic<uint64_t> frames_{0};
    std::unique_ptr<kova::SocketTransport> link_;
    std::unique_ptr<kova::phone::PhoneApp> phone_;
    std::future<kova::phone::PhoneSummary> phone_done_;
    std::atomic<bool> stop_{false};
    std::thread session_;
    nlohmann::json report_;
    int code_ = -1;
};

// parec on the sink's monitor with the lowest latency it can ask for; its output pipe feeds a
// detector.
class ParecPath {
  public:
    explicit ParecPath(unsigned rate) : detector_(rate) {
        int pipe_fds[2];
        if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
            return;
        }
        const std::string device =
            std::string("--device=") + kova::test::PulseServer::kSinkName + ".monitor";
        const std::string rate_arg = "--rate=" + std::to_string(rate);
        std::vector<std::string> arguments = {
            "parec",  device,         "--raw",           "--format=float32le",
            rate_arg, "--channels=2", "--latency-msec=1"};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
        pid_ = kova::bench::spawn_child(std::move(arguments), actions, true);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe_fds[1]);
        fd_ = pipe_fds[0];
        reader_ = std::thread([this] { read_all(); });
    }

    ~ParecPath() { finish(); }

    void warm_up(unsigned rate) { wait_for_frames(frames_, 2 * rate); }

    void finish() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (reader_.joinable()) {
            reader_.join();
        }
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    const ImpulseDetector& detector() const { return detector_; }
    bool started() const { return pid_ > 0; }

  private:
    void read_all() {
        std::vector<uint8_t> bytes(1 << 16);
        size_t held = 0;
        constexpr size_t kFrameBytes = 2 * sizeof(float);
        for (;;) {
            const ssize_t n = ::read(fd_, bytes.data() + held, bytes.size() - held);
            const Clock::time_point at = Clock::now();
            if (n <= 0) {
                return;
            }
            held += static_cast<size_t>(n);
            const size_t frames = held / kFrameBytes;
            std::vector<float> samples(2 * frames);
            std::memcpy(samples.data(), bytes.data(), frames * kFrameBytes);
            detector_.feed(samples.data(), frames, at);
            frames_.fetch_add(frames);
            std::memmove(bytes.data(), bytes.data() + frames * kFrameBytes,
                         held - frames * kFrameBytes);
            held -= frames * kFrameBytes;
        }
    }

    ImpulseDetector detector_;
    std::atomic<uint64_t> frames_{0};
    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
};

kova::bench::LatencyStats stats_of(const kova::bench::ImpulsePlayer& player,
                                   const ImpulseDetector& detector) {
    size_t spurious = 0;
    auto latencies = kova::bench::match_latencies(player.sounded(), detector.arrivals(),
                                                  kMatchWindowMs, 10.0, &spurious);
    return kova::bench::summarize(std::move(latencies), player.sounded().size(), spurious);
}

void print(const char* phase, const char* path, const kova::bench::LatencyStats& stats) {
    std::printf("%-10s %-22s %s\n", phase, path, kova::bench::describe(stats).c_str());
}

void print_report(const KovaPath& kova_path) {
    const auto& report = kova_path.report();
    std::printf(
        "%-10s %-22s exit %d %s, srcActive %s, steady backlog max %s frames, dropped %s, "
        "overflow %s\n",
        "", "  session report", kova_path.code(), report.value("error", std::string()).c_str(),
        report.value("srcActive", nlohmann::json()).dump().c_str(),
        report.value("captureBacklogSteadyMaxFrames", nlohmann::json()).dump().c_str(),
        report.value("captureDroppedFrames", nlohmann::json()).dump().c_str(),
        report.value("captureOverflowFrames", nlohmann::json()).dump().c_str());
}

kova::bench::ImpulseSchedule schedule(unsigned rate, unsigned clicks, uint32_t seed) {
    kova::bench::ImpulseSchedule result;
    result.rate = rate;
    result.count = clicks;
    result.lead_in_s = 1.0;
    result.seed = seed;
    return result;
}

bool play(kova::bench::ImpulsePlayer& player) {
    player.start();
    player.wait();
    if (!player.error().empty()) {
        std::fprintf(stderr, "impulses: %s\n", player.error().c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const unsigned rate = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 48000;
    const unsigned clicks = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 200;
    kova::test::PulseServer server(rate);
    if (!server.ready()) {
        std::fprintf(stderr, "no private sound server:\n%s\n", server.log().c_str());
        return 1;
    }
    std::printf(
        "KOVA sink at %u Hz, %u clicks a phase; latency from the moment a click sounds "
        "on the sink's clock\n",
        rate, clicks);

    {
        KovaPath kova_path;
        kova_path.warm_up();
        kova::bench::ImpulsePlayer player(schedule(rate, clicks, 1));
        if (!play(player)) {
            return 1;
        }
        std::this_thread::sleep_for(200ms);
        kova_path.finish();
        print("alone", "kova session -> phone", stats_of(player, kova_path.detector()));
        print_report(kova_path);
    }
    {
        ParecPath parec(rate);
        if (!parec.started()) {
            std::fprintf(stderr, "parec did not start\n");
            return 1;
        }
        parec.warm_up(rate);
        kova::bench::ImpulsePlayer player(schedule(rate, clicks, 2));
        if (!play(player)) {
            return 1;
        }
        std::this_thread::sleep_for(200ms);
        parec.finish();
        print("alone", "parec --latency-msec=1", stats_of(player, parec.detector()));
    }
    {
        // Both readers on the same clicks: the sink renders for the more demanding one.
        KovaPath kova_path;
        ParecPath parec(rate);
        kova_path.warm_up();
        parec.warm_up(rate);
        kova::bench::ImpulsePlayer player(schedule(rate, clicks, 3));
        if (!play(player)) {
            return 1;
        }
        std::this_thread::sleep_for(200ms);
        kova_path.finish();
        parec.finish();
        print("together", "kova session -> phone", stats_of(player, kova_path.detector()));
        print("together", "parec --latency-msec=1", stats_of(player, parec.detector()));
        print_report(kova_path);
    }
    return 0;
}
