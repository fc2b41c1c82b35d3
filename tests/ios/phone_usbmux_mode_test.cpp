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
#include "tests/ios/phone_child.h"
#include "tests/support/usbmux_socket_dir.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using kova::test::PhoneChild;

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
