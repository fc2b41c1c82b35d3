// Whole sessions over the fake bus: the phone is switched into accessory mode and the phone
// emulator serves the session on the accessory's bulk endpoints.

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "core/audio/signal_source.h"
#include "core/session/report.h"
#include "core/session/run_session.h"
#include "tests/android/fake_bus_fixture.h"
#include "tools/phone/phone_app.h"

namespace kova::test {
namespace {

using fakeusb::PhoneScript;

struct AndroidOutcome {
    int code = -1;
    nlohmann::json report;
    std::vector<std::string> states;
    phone::PhoneSummary phone;
};

class AoaSession : public FakeBusTest {
  protected:
    // Runs one session against a phone scripted as `script`, served by the emulator.
    AndroidOutcome run(const PhoneScript& script, SessionOptions options) {
        auto phone = bus().add(script);
        phone::PhoneOptions phone_options;
        phone_options.role = "android";
        phone::PhoneApp app(phone_options);
        const int phone_fd = phone.take_phone_end();
        auto served = std::async(std::launch::async, [&] { return app.serve(phone_fd); });

        AndroidOutcome outcome;
        SessionHooks hooks;
        hooks.on_state = [&](const std::string& state) { outcome.states.push_back(state); };
        outcome.report = default_report();
        outcome.code = run_session(options, outcome.report, hooks);
        app.stop();
        outcome.phone = served.get();
        return outcome;
    }

    static SessionOptions options_for(const std::string& path) {
        SessionOptions options;
        options.device = path;
        options.accessory_id = "acc-5d21";
        options.hello_timeout_ms = 5000;
        options.seconds = 1;
        return options;
    }
};

TEST_F(AoaSession, AudioStreamsEndToEndAfterTheSwitch) {
    SessionOptions options = options_for("1:1.4");
    options.signal = "sine";
    const auto outcome = run(PhoneScript{}, options);

    ASSERT_EQ(outcome.code, 0) << outcome.report.dump();
    const auto& report = outcome.report;
    EXPECT_EQ(report["platform"], "android");
    EXPECT_EQ(report["selectedUsbPath"], "1:1.4");
    EXPECT_EQ(report["interface"], 0);
    EXPECT_EQ(report["accessoryPid"], 0x2D00);
    EXPECT_EQ(report["debugDisabledVerified"], true);
    EXPECT_EQ(report["transport"].get<std::string>().rfind("AOA bulk / libusb ", 0), 0u);
    EXPECT_EQ(report["speakerVerified"], true);
    EXPECT_EQ(outcome.states, (std::vector<std::string>{"SwitchingToAccessory", "Negotiating",
                                                        "Ready", "Streaming", "Stopping"}));

    // The phone got every frame, in order and unchanged.
    EXPECT_EQ(outcome.phone.first_violation, "");
    EXPECT_TRUE(outcome.phone.stopped);
    ASSERT_EQ(outcome.phone.frames_received, report["framesSent"].get<uint64_t>());
    ASSERT_GT(outcome.phone.frames_received, 0u);
    EXPECT_EQ(outcome.phone.gaps, 0u);
    std::vector<int16_t> expected;
    for (uint64_t frame = 0; frame < outcome.phone.frames_received; frame += 192) {
        const auto block = signal_block("sine", frame);
        for (size_t i = 0; i + 1 < block.size(); i += 2) {
            expected.push_back(static_cast<int16_t>(block[i] | (block[i + 1] << 8)));
        }
    }
    EXPECT_EQ(outcome.phone.samples, expected);
}

TEST_F(AoaSession, LinkProbeOverAnAccessoryWithDebugging) {
    PhoneScript script;
    script.vendor = 0x18D1;
    script.product = 0x2D01;
    script.accessory_product = 0x2D01;
    const auto outcome = run(script, options_for("1:1.4"));

    ASSERT_EQ(outcome.code, 0) << outcome.report.dump();
    EXPECT_EQ(outcome.report["result"], "ping_passed");
    EXPECT_EQ(outcome.report["accessoryPid"], 0x2D01);
    EXPECT_EQ(outcome.report["debugDisabledVerified"], false);
    EXPECT_TRUE(bus().control_log().empty());
    EXPECT_EQ(outcome.states, (std::vector<std::string>{"SwitchingToAccessory", "Negotiating",
                                                        "Ready", "Stopping"}));
}

TEST_F(AoaSession, UnreachablePhoneEndsTheSessionWithTheLinkCode) {
    PhoneScript script;
    script.open_error = -3;  // LIBUSB_ERROR_ACCESS
    const auto outcome = run(script, options_for("1:1.4"));
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(outcome.report["error"], "open_selected_device: LIBUSB_ERROR_ACCESS");
    EXPECT_EQ(outcome.states, (std::vector<std::string>{"SwitchingToAccessory"}));
}

}  // namespace
}  // namespace kova::test
