// CPU of a capture session: the kova tool streams the KOVA sink of a private sound server to
// kova-phone posing as an iPhone, while a sine plays into the sink; the tool's whole process
// (session thread, the sound client's thread, start and end included) is measured with
// wait4. Usage: bench_capture_cpu [SECONDS [RATE]]
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/spawn.h"
#include "core/transport/ios_id.h"
#include "tests/support/pulse_server.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kSerial = "KOVA-BENCH-00008030";

pid_t spawn(std::vector<std::string> arguments, const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = kova::bench::spawn_child(std::move(arguments), actions);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// "name user+system" for every thread of `pid`, from /proc.
std::string thread_times(pid_t pid) {
    std::string result;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ignored;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ignored)) {
        std::ifstream stat(task.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const size_t open = line.find('(');
        const size_t close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 2));
        std::string field;
        unsigned long long user = 0;
        unsigned long long system = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) {
                user = std::stoull(field);
            } else if (i == 15) {
                system = std::stoull(field);
            }
        }
        char entry[128];
        std::snprintf(
            entry, sizeof entry, "%s%s %.2f", result.empty() ? "" : ", ",
            line.substr(open + 1, close - open - 1).c_str(),
            static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK)));
        result += entry;
    }
    return result;
}

double seconds_of(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const unsigned rate = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 44100;
    kova::test::PulseServer server(rate);
    if (!server.ready()) {
        std::fprintf(stderr, "no private sound server:\n%s\n", server.log().c_str());
        return 1;
    }
    kova::test::TempDir directory;
    const std::string socket = directory.path() + "/usbmuxd";
    setenv("USBMUXD_SOCKET_ADDRESS", ("UNIX:" + socket).c_str(), 1);

    auto player = std::make_unique<kova::test::SinePlayer>(rate);

    const pid_t phone =
        spawn({KOVA_PHONE_EXE, "--usbmux", socket, "--serial", kSerial, "--sessions", "1"},
              directory.path() + "/phone.json");
    for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    const auto started = std::chrono::steady_clock::now();
    const pid_t kova = spawn({KOVA_CLI_EXE, "--device", kova::ios_id(kSerial), "--kova-device",
                              "--seconds", std::to_string(seconds)},
                             directory.path() + "/report.json");
    // Per-thread figures shortly before the end, while the process still exists.
    std::this_thread::sleep_for(std::chrono::milliseconds(seconds * 1000 - 500));
    const std::string threads = thread_times(kova);
    int status = 0;
    rusage usage{};
    const bool waited = kova > 0 && wait4(kova, &status, 0, &usage) == kova;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    player.reset();
    if (phone > 0) {
        ::kill(phone, SIGTERM);
        ::waitpid(phone, nullptr, 0);
    }
    if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the session failed (status %d); report:\n", status);
        std::system(("cat " + directory.path() + "/report.json").c_str());
        return 1;
    }
    const double user = seconds_of(usage.ru_utime);
    const double system = seconds_of(usage.ru_stime);
    const double share = (user + system) / wall;
    std::printf("KOVA sink at %u Hz, %d s session (%.2f s wall with start and stop)\n", rate,
                seconds, wall);
    std::printf(
        "kova process: user %.3f s, system %.3f s, %.3f%% of one core, %.2f s CPU per "
        "minute of streaming (extrapolated from %d s)\n",
        user, system, 100.0 * share, 60.0 * share, seconds);
    std::printf("threads (CPU s, taken 0.5 s before the end): %s\n", threads.c_str());
    std::printf("voluntary context switches %ld, involuntary %ld\n", usage.ru_nvcsw,
                usage.ru_nivcsw);
    std::system(("tail -c 600 " + directory.path() + "/report.json; echo").c_str());
    return 0;
}
