#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/protocol/json_payload.h"
#include "core/session/report.h"
#include "core/session/run_session.h"
#include "core/session/session_options.h"
#include "core/transport/error.h"
#include "core/transport/interrupt.h"
#include "core/transport/socket_transport.h"

namespace kova {
namespace {

using nlohmann::json;

constexpr const char* kNeedDevice = "explicit_device_and_accessory_id_required_use_--list";

SessionOptions ios_options() {
    SessionOptions options;
    options.device = "ios:00112233aabb";
    return options;
}

std::string validation_code(const SessionOptions& options) {
    try {
        validate_options(options);
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

TEST(SessionOptionsDefaults, MatchTheOptionsDocument) {
    const SessionOptions options;
    EXPECT_EQ(options.seconds, 0);
    EXPECT_EQ(options.hello_timeout_ms, 60000);
    EXPECT_FALSE(options.loop);
    EXPECT_EQ(options.transport, nullptr);
    EXPECT_FALSE(options.has_audio());
}

TEST(SessionOptionsValidation, SecondsRange) {
    SessionOptions options = ios_options();
    options.seconds = 7200;
    EXPECT_EQ(validation_code(options), "");
    options.seconds = 7201;
    EXPECT_EQ(validation_code(options), "invalid_timeout");
    options.seconds = -1;
    EXPECT_EQ(validation_code(options), "invalid_timeout");
    options.seconds = INT32_MIN;
    EXPECT_EQ(validation_code(options), "invalid_timeout");
}

TEST(SessionOptionsValidation, HelloTimeoutRange) {
    SessionOptions options = ios_options();
    for (int32_t valid : {1000, 120000}) {
        options.hello_timeout_ms = valid;
        EXPECT_EQ(validation_code(options), "") << valid;
    }
    for (int32_t invalid : {999, 120001, 0, -1000}) {
        options.hello_timeout_ms = invalid;
        EXPECT_EQ(validation_code(options), "invalid_timeout") << invalid;
    }
}

TEST(SessionOptionsValidation, SourceRulesInOrder) {
    SessionOptions options = ios_options();
    options.wav = "a.wav";
    options.signal = "sine";
    options.capture_uid = kKovaDeviceUid;
    EXPECT_EQ(validation_code(options), "choose_wav_or_signal");

    options = ios_options();
    options.signal = "sine";
    options.loop = true;
    EXPECT_EQ(validation_code(options), "loop_requires_wav");

    options = ios_options();
    options.loop = true;
    EXPECT_EQ(validation_code(options), "loop_requires_wav");

    options = ios_options();
    options.wav = "a.wav";
    options.loop = true;
    EXPECT_EQ(validation_code(options), "");

    options = ios_options();
    options.capture_uid = kKovaDeviceUid;
    options.signal = "sine";
    EXPECT_EQ(validation_code(options), "choose_one_source");

    options = ios_options();
    options.capture_uid = kKovaDeviceUid;
    options.wav = "a.wav";
    options.loop = true;
    EXPECT_EQ(validation_code(options), "choose_one_source");
}

TEST(SessionOptionsValidation, TimeoutsComeBeforeSourcesAndDevice) {
    SessionOptions options;
    options.seconds = -1;
    options.wav = "a.wav";
    options.signal = "sine";
    EXPECT_EQ(validation_code(options), "invalid_timeout");
    options.seconds = 0;
    options.hello_timeout_ms = 1;
    EXPECT_EQ(validation_code(options), "invalid_timeout");
    options.hello_timeout_ms = 60000;
    EXPECT_EQ(validation_code(options), "choose_wav_or_signal");
}

TEST(SessionOptionsValidation, DeviceAndAccessoryId) {
    SessionOptions options;
    EXPECT_EQ(validation_code(options), kNeedDevice);
    options.accessory_id = "acc";
    EXPECT_EQ(validation_code(options), kNeedDevice);

    options = ios_options();
    EXPECT_TRUE(options.treated_as_ios());
    EXPECT_EQ(validation_code(options), "");

    options.device = "1-2.3";
    EXPECT_FALSE(options.treated_as_ios());
    EXPECT_EQ(validation_code(options), kNeedDevice);
    options.accessory_id = "acc";
    EXPECT_EQ(validation_code(options), "");
}

TEST(SessionOptionsValidation, IosPrefixOnlyCountsAtTheStart) {
    SessionOptions options;
    options.device = "xios:00112233aabb";
    EXPECT_FALSE(options.treated_as_ios());
    EXPECT_EQ(validation_code(options), kNeedDevice);
    options.device = "ios";
    EXPECT_FALSE(options.treated_as_ios());
    options.device = "IOS:00112233aabb";
    EXPECT_FALSE(options.treated_as_ios());
}

TEST(SessionOptionsValidation, SuppliedLinkCountsAsIos) {
    SocketTransport link;
    SessionOptions options;
    options.device = "1-2";
    options.transport = &link;
    EXPECT_TRUE(options.treated_as_ios());
    EXPECT_EQ(validation_code(options), "");
    options.device.clear();
    EXPECT_EQ(validation_code(options), kNeedDevice);
}

TEST(SessionOptionsDerived, HasAudio) {
    SessionOptions options = ios_options();
    EXPECT_FALSE(options.has_audio());
    options.signal = "sine";
    EXPECT_TRUE(options.has_audio());
    options = ios_options();
    options.wav = "a.wav";
    EXPECT_TRUE(options.has_audio());
    options = ios_options();
    options.capture_uid = kKovaDeviceUid;
    EXPECT_TRUE(options.has_audio());
}

// The skeleton's keys, each with its serialised initial value and its number kind.
struct Expected {
    const char* key;
    const char* text;
    json::value_t kind;
};

const std::vector<Expected> kSkeleton = {
    {"version", R"("1.0.0")", json::value_t::string},
    {"build", R"("v0.9.75-48-g6b58017-dirty")", json::value_t::string},
    {"phase", R"("gate1")", json::value_t::string},
    {"transport", R"("")", json::value_t::string},
    {"audioPlaybackImplemented", "true", json::value_t::boolean},
    {"controlTimeoutMs", "5000", json::value_t::number_integer},
    {"statusIntervalMs", "500", json::value_t::number_integer},
    {"reEnumerationTimeoutMs", "10000", json::value_t::number_integer},
    {"usbReadBytes", "16384", json::value_t::number_integer},
    {"usbQueueCapacity", "1", json::value_t::number_integer},
    {"pingCount", "0", json::value_t::number_integer},
    {"usbBytesSent", "0", json::value_t::number_unsigned},
    {"usbBytesReceived", "0", json::value_t::number_unsigned},
    {"transportProbePassed", "false", json::value_t::boolean},
    {"debugDisabledVerified", "false", json::value_t::boolean},
    {"hardwareGatePassed", "false", json::value_t::boolean},
    {"gate2Qualified", "false", json::value_t::boolean},
    {"framesSent", "0", json::value_t::number_unsigned},
    {"pacingMaxLateMs", "0.0", json::value_t::number_float},
    {"usbErrors", "0", json::value_t::number_integer},
    {"maxReadMs", "0.0", json::value_t::number_float},
    {"maxWriteMs", "0.0", json::value_t::number_float},
    {"maxReportMs", "0.0", json::value_t::number_float},
};

TEST(DefaultReport, HoldsEveryInitialKeyWithItsKind) {
    const json report = default_report();
    for (const Expected& expected : kSkeleton) {
        ASSERT_TRUE(report.contains(expected.key)) << expected.key;
        EXPECT_EQ(report.at(expected.key).type(), expected.kind) << expected.key;
        EXPECT_EQ(json_text(report.at(expected.key)), expected.text) << expected.key;
    }
    EXPECT_EQ(report.size(), kSkeleton.size() + 3);
}

TEST(DefaultReport, DescribesTheRunningSystem) {
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    const json report = default_report();
    EXPECT_EQ(report.at("osKernel"), names.release);
    EXPECT_EQ(report.at("architecture"), names.machine);
    EXPECT_EQ(report.at("runningAsRoot"), ::geteuid() == 0);
}

TEST(DefaultReport, SerialisesNumberKindsExactly) {
    const std::string text = json_text(default_report());
    EXPECT_NE(text.find(R"("pacingMaxLateMs":0.0,)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("pingCount":0,)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("maxReportMs":0.0,)"), std::string::npos) << text;
    EXPECT_EQ(text.find("speakerVerified"), std::string::npos);
    EXPECT_EQ(text.find("audioProbePassed"), std::string::npos);
    EXPECT_EQ(text.find(' '), std::string::npos);
    EXPECT_EQ(text.rfind(R"({"architecture":)", 0), 0u) << text;
}

// Records what a session publishes through its hooks.
struct Recorder {
    std::vector<json> reports;
    std::vector<std::string> states;
    int status_calls = 0;

    SessionHooks hooks() {
        SessionHooks hooks;
        hooks.on_report = [this](json& report) { reports.push_back(report); };
        hooks.on_state = [this](const std::string& state) { states.push_back(state); };
        hooks.on_status = [this](const json&) { ++status_calls; };
        return hooks;
    }
};

class RunSessionFrame : public ::testing::Test {
  protected:
    void SetUp() override { interrupted = 0; }
    void TearDown() override { interrupted = 0; }
};

TEST_F(RunSessionFrame, ValidationFailureEndsWithCodeOneAndTheSkeleton) {
    SessionOptions options = ios_options();
    options.seconds = 7201;
    json report = default_report();
    Recorder recorder;
    EXPECT_EQ(run_session(options, report, recorder.hooks()), 1);

    json expected = default_report();
    expected["result"] = "error";
    expected["error"] = "invalid_timeout";
    EXPECT_EQ(report, expected);
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(recorder.reports[0], expected);
    EXPECT_TRUE(recorder.states.empty());
    EXPECT_EQ(recorder.status_calls, 0);
}

TEST_F(RunSessionFrame, EmptyHooksAreNotCalled) {
    json report = default_report();
    EXPECT_EQ(run_session(SessionOptions{}, report, SessionHooks{}), 1);
    EXPECT_EQ(report.at("error"), kNeedDevice);
    EXPECT_EQ(report.at("phase"), "gate1");
    EXPECT_EQ(report.at("transport"), "");
}

TEST_F(RunSessionFrame, ThrowingReportHookIsSwallowed) {
    SessionHooks hooks;
    hooks.on_report = [](json&) { throw std::runtime_error("hook failed"); };
    json report = default_report();
    EXPECT_EQ(run_session(SessionOptions{}, report, hooks), 1);
    EXPECT_EQ(report.at("result"), "error");
}

TEST_F(RunSessionFrame, InterruptedSessionEndsCancelledWithoutErrorKey) {
    interrupted = 1;
    json report = default_report();
    Recorder recorder;
    EXPECT_EQ(run_session(ios_options(), report, recorder.hooks()), 130);
    EXPECT_EQ(report.at("result"), "cancelled");
    EXPECT_FALSE(report.contains("error"));
    EXPECT_EQ(recorder.reports.size(), 1u);
}

}  // namespace
}  // namespace kova
