// kova-soak: one long capture session through the C interface, with a generated programme
// played into a private KOVA sink at 44100 Hz and an impulse every 5 s. The phone is kova-phone
// as an iPhone behind a private usbmux socket, or with --android the phone emulator on the fake
// USB bus. Samples the process every 10 s and prints one JSON summary; exits 1 on a gap, a lost
// frame, memory growth after the first minute or any descriptor or thread growth.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "bench/soak/soak_phone.h"
#include "bench/soak/soak_programme.h"
#include "core/api/kova.h"
#include "tests/support/process_counts.h"
#include "tests/support/pulse_server.h"

namespace {

using kova::bench::Clock;
using nlohmann::json;

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

struct Sample {
    double at = 0;
    long rss = 0;
    int fds = 0;
    int tasks = 0;
};

struct Session {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<json> ended;

    static void on_event(void* context, const char* text) {
        auto* self = static_cast<Session*>(context);
        json event = json::parse(text);
        if (event["event"] != "ended") {
            return;
        }
        std::lock_guard lock(self->mutex);
        self->ended = std::move(event);
        self->changed.notify_all();
    }
    // Waits until the session ends or `until`; true when it has ended.
    bool wait_until(Clock::time_point until) {
        std::unique_lock lock(mutex);
        return changed.wait_until(lock, until, [&] { return ended.has_value(); });
    }
};

// Samples every 10 s while the session streams, until `length` has passed or it ends.
std::vector<Sample> sample_session(Session& session, Clock::time_point started,
                                   Clock::duration length) {
    std::vector<Sample> samples;
    for (;;) {
        const auto next = started + std::chrono::seconds(10 * (samples.size() + 1));
        if (session.wait_until(std::min(next, started + length))) {
            return samples;
        }
        const double at = std::chrono::duration<double>(Clock::now() - started).count();
        samples.push_back(
            {at, resident_bytes(), kova::test::descriptor_count(), kova::test::task_count()});
        if (Clock::now() >= started + length) {
            return samples;
        }
    }
}

json latency_json(const std::vector<Clock::time_point>& sounded,
                  const std::vector<Clock::time_point>& clicks) {
    size_t spurious = 0;
    auto latencies = kova::bench::match_latencies(sounded, clicks, 500.0, 10.0, &spurious);
    const auto stats = kova::bench::summarize(std::move(latencies), sounded.size(), spurious);
    if (stats.matched == 0) {
        return nullptr;
    }
    return {{"p50", stats.p50_ms},      {"p99", stats.p99_ms},    {"max", stats.max_ms},
            {"impulses", stats.played}, {"found", stats.matched}, {"spurious", stats.spurious}};
}

// Adds the process figures and returns whether they show growth.
bool add_process_figures(json& summary, const std::vector<Sample>& samples) {
    if (samples.size() < 2) {
        return false;
    }
    // The first sample after a minute is the memory baseline; all counts are taken while the
    // session streams.
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
    return last.rss - samples[minute].rss > (1 << 20) || last.fds > first.fds ||
           last.tasks > first.tasks;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App cli("Streams a generated programme from the KOVA sink to an emulated phone");
    double minutes = 60;
    bool android = false;
    cli.add_option("--minutes", minutes, "length of the session (fractions allowed)")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    cli.add_flag("--android", android, "an Android phone on the fake USB bus instead of an iPhone");
    CLI11_PARSE(cli, argc, argv);

    kova::test::PulseServer pulse(kova::bench::kSoakRate);
    if (!pulse.ready()) {
        std::cerr << "kova-soak: the audio server did not start\n" << pulse.log();
        return 2;
    }
    auto phone = android ? kova::bench::make_fake_bus_android() : kova::bench::make_usbmux_iphone();
    std::string error;
    if (!phone->start(error)) {
        std::cerr << "kova-soak: " << error << "\n";
        return 2;
    }
    kova::bench::ImpulsePlayer programme(kova::bench::soak_schedule(minutes), 20.0,
                                         kova::bench::programme_bed);
    programme.start();

    Session session;
    json options = phone->target();
    options.update({{"kovaDevice", true}, {"helloTimeoutMs", 5000}});
    const auto started = Clock::now();
    KovaSession* handle = kova_session_start(options.dump().c_str(), &Session::on_event, &session);
    if (handle == nullptr) {
        std::cerr << "kova-soak: options refused\n";
        return 2;
    }
    const auto length =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(minutes * 60));
    const std::vector<Sample> samples = sample_session(session, started, length);
    const auto stopping = Clock::now();
    kova_session_stop(handle);
    session.wait_until(Clock::now() + std::chrono::seconds(15));
    kova_session_free(handle);
    programme.stop();
    const kova::bench::PhoneFigures figures = phone->finish();

    // Impulses that sounded after the stop could not arrive; they are not counted as lost.
    std::vector<Clock::time_point> sounded;
    for (const auto at : programme.sounded()) {
        if (at < stopping - std::chrono::milliseconds(500)) {
            sounded.push_back(at);
        }
    }
    const json ended = session.ended.value_or(json::object());
    const json report = ended.value("report", json::object());
    json summary = {
        {"phone", android ? "android" : "iphone"},
        {"durationSeconds", std::chrono::duration<double>(Clock::now() - started).count()},
        {"code", ended.value("code", -1)},
        {"error", report.value("error", "")},
        {"framesSent", report.value("framesSent", uint64_t{0})},
        {"framesReceived", figures.frames_received},
        {"gaps", figures.gaps},
        {"underruns", figures.underruns},
        {"impulseLatencyMs", latency_json(sounded, figures.clicks)},
    };
    bool failed = !figures.summarised || summary["code"] != 0 || figures.gaps != 0 ||
                  summary["framesSent"] != figures.frames_received || figures.frames_received == 0;
    failed = add_process_figures(summary, samples) || failed;
    summary["passed"] = !failed;
    std::cout << summary.dump() << std::endl;
    return failed ? 1 : 0;
}
