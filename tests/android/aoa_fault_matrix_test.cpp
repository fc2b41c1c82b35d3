// Unplugging an Android phone at each moment of a session ends it with its code within a bound,
// leaves no thread behind and releases every USB object.

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/session/report.h"
#include "core/session/run_session.h"
#include "tests/android/fake_bus_fixture.h"
#include "tests/support/process_counts.h"
#include "tools/phone/phone_app.h"

namespace kova::test {
namespace {

using namespace std::chrono_literals;
using fakeusb::PhoneScript;

struct Case {
    std::string name;
    std::string state;         // the phone is unplugged a little after this announcement
    std::string misbehaviour;  // holds the session in a wait on the phone
    bool between_transfers;    // unplugged by the announcement itself, before the next transfer
    int return_after_ms;       // time the phone takes to come back as an accessory
    std::string code;
};

struct Outcome {
    int code = -1;
    std::string error;
    std::vector<std::string> states;
    double seconds = 0;
    bool detached = false;
};

// One session against a phone on its own port, unplugged once `c.state` has been announced.
Outcome unplug_during(const Case& c, uint8_t port) {
    PhoneScript script;
    script.ports = {1, port};
    script.return_after_ms = c.return_after_ms;
    auto phone = fakeusb::Bus::instance().add(script);
    phone::PhoneOptions phone_options;
    phone_options.role = "android";
    phone_options.misbehaviour = c.misbehaviour;
    phone::PhoneApp app(phone_options);
    const int phone_fd = phone.take_phone_end();
    auto served = std::async(std::launch::async, [&] { return app.serve(phone_fd); });

    SessionOptions options;
    options.device = "1:1." + std::to_string(port);
    options.accessory_id = "acc-" + c.name;
    options.hello_timeout_ms = 5000;
    options.signal = "sine";
    options.seconds = c.state == "Stopping" ? 1 : 3;

    Outcome outcome;
    std::promise<void> reached;
    SessionHooks hooks;
    hooks.on_state = [&](const std::string& state) {
        outcome.states.push_back(state);
        if (state == c.state && c.between_transfers) {
            phone.detach();
        } else if (state == c.state) {
            reached.set_value();
        }
    };
    auto reached_future = reached.get_future();
    auto unplug = std::async(std::launch::async, [&] {
        if (c.between_transfers) {
            return true;
        }
        // The session goes on into its wait (or its next transfers) before the phone leaves.
        if (reached_future.wait_for(20s) == std::future_status::ready) {
            std::this_thread::sleep_for(300ms);
            phone.detach();
            return true;
        }
        return false;
    });

    const auto start = std::chrono::steady_clock::now();
    nlohmann::json report = default_report();
    outcome.code = run_session(options, report, hooks);
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.error = report.value("error", "");
    outcome.detached = unplug.get();
    app.stop();
    served.get();
    return outcome;
}

class AoaFaultMatrix : public FakeBusTest {};

TEST_F(AoaFaultMatrix, UnpluggingThePhoneAtEveryMomentEndsWithItsCode) {
    const std::vector<Case> cases = {
        {"switching", "SwitchingToAccessory", "", false, 1500, "accessory_reenumeration_timeout"},
        {"negotiating", "Ready", "no_config_ack", false, 50, "usb_detached"},
        {"streaming", "Streaming", "", false, 50, "usb_detached"},
        {"awaiting_stopped", "Stopping", "no_stopped", false, 50, "usb_detached"},
        {"negotiating_idle", "Negotiating", "", true, 50, "usb_detached"},
        {"streaming_idle", "Streaming", "", true, 50, "usb_detached"},
        {"stopping_idle", "Stopping", "", true, 50, "usb_detached"},
    };
    const int tasks_before = task_count_before();
    std::vector<std::future<Outcome>> running;
    for (size_t i = 0; i < cases.size(); ++i) {
        running.push_back(std::async(std::launch::async, [&cases, i] {
            return unplug_during(cases[i], static_cast<uint8_t>(i + 1));
        }));
    }
    bool all_ended = true;
    for (auto& session : running) {
        // A hung session fails here instead of blocking: an interruption ends every wait.
        if (session.wait_for(30s) != std::future_status::ready) {
            ADD_FAILURE() << "a session did not end within 30 s";
            all_ended = false;
            kova::interrupted = 1;
        }
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const Outcome outcome = running[i].get();
        EXPECT_TRUE(outcome.detached);
        EXPECT_EQ(outcome.code, 1);
        EXPECT_EQ(outcome.error, cases[i].code) << "after " << outcome.seconds << " s";
        // The last announcement tells the phone left at the intended moment.
        EXPECT_EQ(outcome.states.empty() ? "" : outcome.states.back(), cases[i].state);
        // The re-enumeration wait gives up after 10 s; every other case ends at the unplug.
        EXPECT_LT(outcome.seconds, 15.0);
    }
    ASSERT_TRUE(all_ended);
    EXPECT_EQ(task_count(), tasks_before);
    EXPECT_EQ(bus().outstanding(), fakeusb::Outstanding{});
}

}  // namespace
}  // namespace kova::test
