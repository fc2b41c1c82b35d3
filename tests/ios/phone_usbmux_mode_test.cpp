// kova-phone --usbmux as a separate process: the emulated iPhone a person runs for the demo.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "core/api/kova.h"
#include "core/transport/ios_id.h"
#include "tests/support/usbmux_socket_dir.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// kova-phone as a child whose standard output is read line by line.
class PhoneChild {
  public:
    explicit PhoneChild(std::vector<std::string> arguments) {
        int out[2];
        if (::pipe(out) != 0) {
            throw std::runtime_error("pipe failed");
        }
        arguments.insert(arguments.begin(), KOVA_PHONE_EXE);
        std::vector<char*> argv;  // built before fork: the child of a threaded process only execs
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~PhoneChild() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
    }
    // The next output line, or "" when none comes within a bound that stops a hung test.
    std::string line() {
        while (pending_.find('\n') == std::string::npos) {
            pollfd entry{out_, POLLIN, 0};
            char buffer[4096];
            ssize_t n = 0;
            if (::poll(&entry, 1, 20000) <= 0 || (n = ::read(out_, buffer, sizeof buffer)) <= 0) {
                return "";
            }
            pending_.append(buffer, static_cast<size_t>(n));
        }
        const size_t end = pending_.find('\n');
        std::string text = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return text;
    }
    // The exit status, or -1 when the child is still running after the bound.
    int exit_status() {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

struct Ended {
    std::mutex mutex;
    std::condition_variable changed;
    json document;
    static void on_event(void* context, const char* text) {
        auto* ended = static_cast<Ended*>(context);
        json event = json::parse(text);
        if (event["event"] == "ended") {
            std::lock_guard lock(ended->mutex);
            ended->document = std::move(event);
            ended->changed.notify_all();
        }
    }
    json wait() {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 30s, [this] { return !document.is_null(); });
        return document;
    }
};

TEST(PhoneUsbmuxMode, PresentsAnIphoneThatProbesAndStreams) {
    kova::test::UsbmuxSocketDir socket;
    PhoneChild phone({"--usbmux", socket.path(), "--serial", "demo-serial", "--sessions", "2",
                      "--status-interval-ms", "100"});
    const std::string path = phone.line();
    ASSERT_EQ(path, kova::ios_id("demo-serial"));

    EXPECT_EQ(kova_ios_probe(path.c_str()), 1);  // the probe's connection is a session too
    Ended ended;
    const json options = {
        {"device", path}, {"signal", "sine"}, {"seconds", 1}, {"helloTimeoutMs", 5000}};
    KovaSession* session = kova_session_start(options.dump().c_str(), &Ended::on_event, &ended);
    ASSERT_NE(session, nullptr);
    const json report = ended.wait()["report"];
    kova_session_free(session);
    EXPECT_EQ(report["result"], "audio_probe_completed") << report.dump();
    EXPECT_EQ(report["transport"], "usbmux / usbmuxd");

    phone.line();  // the probe's summary
    const json summary = json::parse(phone.line());
    EXPECT_EQ(summary["framesReceived"], report["framesSent"]) << summary.dump();
    EXPECT_EQ(phone.exit_status(), 0);
}

TEST(PhoneUsbmuxMode, ClosedAppAnswersTheProbeWithZero) {
    kova::test::UsbmuxSocketDir socket;
    PhoneChild phone({"--usbmux", socket.path(), "--serial", "closed", "--app-closed"});
    const std::string path = phone.line();
    ASSERT_EQ(path, kova::ios_id("closed"));
    EXPECT_EQ(kova_ios_probe(path.c_str()), 0);
    EXPECT_EQ(kova_ios_probe(kova::ios_id("other").c_str()), -1);
}

}  // namespace
