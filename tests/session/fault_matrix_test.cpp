// Each fault a phone can cause, at each moment of a session, ends with its code within a bound
// and leaves no thread behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/session/session_options.h"
#include "tests/support/fake_phone.h"
#include "tests/support/process_counts.h"
#include "tests/support/pulse_server.h"
#include "tests/support/session_runner.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wav_builder.h"

namespace kova::test {
namespace {

enum class Fault { closes, stops_reading, goes_silent };
enum class Moment { negotiating, streaming, awaiting_stopped };

struct Case {
    Fault fault;
    Moment moment;
    std::set<std::string> codes;  // a full send buffer and a silent link race to end it
};

[[noreturn]] void apply(Fault fault, ScriptedPeer& peer, const std::atomic<bool>& ended) {
    switch (fault) {
        case Fault::closes:
            peer.close();
            break;
        case Fault::goes_silent:
            for (;;) {
                (void)peer.receive(100);  // throws once the desktop has closed
            }
        case Fault::stops_reading:
            for (int i = 0; i < 400 && !ended.load(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            break;
    }
    throw test::PeerClosed();
}

SessionSetup faulty_phone(const Case& c, std::shared_ptr<std::atomic<bool>> ended) {
    SessionSetup setup;
    setup.options = test::link_options();
    setup.options.signal = "sine";
    setup.options.seconds = c.moment == Moment::awaiting_stopped ? 1 : 3;
    setup.on_report = [ended](nlohmann::json& report) {
        if (report.contains("result")) {
            ended->store(true);
        }
    };
    PhoneBehaviour behaviour;
    Type trigger = Type::Audio;
    if (c.moment == Moment::negotiating) {
        behaviour.ack.reset();
        trigger = Type::Config;
    } else if (c.moment == Moment::awaiting_stopped) {
        behaviour.send_stopped = false;
        trigger = Type::Stop;
    }
    auto seen = std::make_shared<int>(0);
    // 50 audio messages: well into streaming, long before the end.
    const int after = trigger == Type::Audio ? 50 : 1;
    behaviour.on_message = [fault = c.fault, trigger, after, seen, ended](ScriptedPeer& peer,
                                                                          const Message& message) {
        if (message.type == trigger && ++*seen == after) {
            apply(fault, peer, *ended);
        }
    };
    setup.script = test::phone_script(behaviour);
    return setup;
}

TEST(FaultMatrixTest, EveryPhoneFaultAtEveryMomentEndsWithItsCode) {
    const std::vector<Case> cases = {
        {Fault::closes, Moment::negotiating, {"ios_connection_closed"}},
        {Fault::closes, Moment::streaming, {"ios_connection_closed"}},
        {Fault::closes, Moment::awaiting_stopped, {"ios_connection_closed"}},
        {Fault::goes_silent, Moment::negotiating, {"control_timeout_check_phone"}},
        {Fault::goes_silent, Moment::streaming, {"link_timeout"}},
        {Fault::goes_silent, Moment::awaiting_stopped, {"control_timeout_check_phone"}},
        {Fault::stops_reading, Moment::negotiating, {"control_timeout_check_phone"}},
        {Fault::stops_reading, Moment::streaming, {"write_timeout", "link_timeout"}},
        {Fault::stops_reading, Moment::awaiting_stopped, {"control_timeout_check_phone"}},
    };
    const int tasks_before = task_count_before();
    std::vector<std::future<SessionOutcome>> running;
    for (const Case& c : cases) {
        running.push_back(std::async(std::launch::async, [c] {
            return test::run_against_peer(faulty_phone(c, std::make_shared<std::atomic<bool>>()));
        }));
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        const SessionOutcome outcome = running[i].get();
        EXPECT_EQ(outcome.code, 1);
        EXPECT_EQ(cases[i].codes.count(outcome.error()), 1u) << outcome.error();
        // Five-second limits, plus a full send buffer's worth of blocked write.
        EXPECT_LT(outcome.seconds, 15.0);
        EXPECT_EQ(outcome.peer_error, "");
    }
    EXPECT_EQ(task_count(), tasks_before);
}

// The audio server dies or loses the KOVA sink while the session negotiates (the capture then
// cannot start), streams, or waits for the phone's "Stopped" (nothing is captured any more).
TEST(FaultMatrixTest, AudioServerFaultsEndCaptureSessionsWithTheirCodes) {
    struct AudioCase {
        bool kill;
        std::string state;
        int code;
        std::string error;
    };
    const std::vector<AudioCase> cases = {
        {true, "Negotiating", 1, "kova_device_start_failed"},
        {true, "Streaming", 1, "kova_device_lost"},
        {true, "Stopping", 0, ""},
        {false, "Negotiating", 1, "kova_device_start_failed"},
        {false, "Streaming", 1, "kova_device_lost"},
        {false, "Stopping", 0, ""},
    };
    for (const AudioCase& c : cases) {
        SCOPED_TRACE((c.kill ? "server killed at " : "sink unloaded at ") + c.state);
        test::PulseServer server(48000);
        ASSERT_TRUE(server.ready()) << server.log();
        const int tasks_before = task_count_before();
        SessionSetup setup = test::phone_setup();
        setup.options.capture_uid = kKovaDeviceUid;
        setup.options.seconds = 1;
        setup.on_state = [&](const std::string& state) {
            if (state == c.state) {
                c.kill ? server.kill_now() : (void)server.unload_kova_sink();
            }
        };
        const SessionOutcome outcome = test::run_against_peer(setup);
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.error(), c.error);
        EXPECT_LT(outcome.seconds, 10.0);
        EXPECT_EQ(task_count(), tasks_before);
    }
}

TEST(FaultMatrixTest, WavFileShrinkingWhileStreamedEndsTheSessionAsTruncated) {
    test::TempDir dir;
    const std::string path = dir.write("long.wav", test::simple_wav(48000 * 4 * 10));
    SessionSetup setup = test::phone_setup();
    setup.options.wav = path;
    setup.on_state = [&path](const std::string& state) {
        if (state == "Streaming") {
            std::filesystem::resize_file(path, 44 + 4 * 4800);
        }
    };
    const SessionOutcome outcome = test::run_against_peer(setup);
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.error(), "truncated_wav");
    EXPECT_LT(outcome.seconds, 5.0);
}

}  // namespace
}  // namespace kova::test
