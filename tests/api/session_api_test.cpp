// The session interface seen only through the public C header and libkova.so.
#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "core/api/kova.h"
#include "tests/support/event_log.h"

namespace {

using nlohmann::json;
using std::chrono::milliseconds;

constexpr milliseconds kEndBound{10000};

constexpr const char* kNeedDevice = "explicit_device_and_accessory_id_required_use_--list";

using kova::test::EventLog;

// Runs a session to its end and frees it; returns the "ended" document.
json run_to_end(const std::string& options, EventLog& log) {
    KovaSession* session = log.start(options);
    if (session == nullptr) {
        ADD_FAILURE() << "refused: " << options;
        return json();
    }
    const bool ended = log.wait_for_ended();
    kova_session_free(session);
    EXPECT_TRUE(ended) << options;
    return log.last();
}

std::string error_of(const std::string& options) {
    EventLog log;
    const json ended = run_to_end(options, log);
    return ended.at("report").value("error", "");
}

TEST(SessionStart, InvalidOptionsGiveNullAndNoEvent) {
    const std::vector<std::string> refused = {
        "",
        "not json",
        "{}",
        "[]",
        "\"device\"",
        "null",
        R"({"device":1})",
        R"({"device":null})",
        R"({"device":["x"]})",
        R"({"device":"x","accessoryId":5})",
        R"({"device":"x","signal":true})",
        R"({"device":"x","wav":[]})",
        R"({"device":"x","loop":"yes"})",
        R"({"device":"x","loop":1})",
        R"({"device":"x","kovaDevice":1})",
        R"({"device":"x","kovaDevice":"true"})",
        R"({"device":"x","seconds":"3"})",
        R"({"device":"x","seconds":null})",
        R"({"device":"x","helloTimeoutMs":{}})",
        R"({"device":"x"/* note */})",
        R"({"device":"x"} trailing)",
        R"({"device":"x")",
    };
    EventLog log;
    for (const std::string& options : refused) {
        EXPECT_EQ(log.start(options), nullptr) << options;
    }
    EXPECT_EQ(kova_session_start(nullptr, &EventLog::on_event, &log), nullptr);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_TRUE(log.texts().empty());
}

TEST(SessionStart, UnknownKeysAreIgnored) {
    EXPECT_EQ(error_of(R"({"device":"x","colour":"blue","seconds":1})"), kNeedDevice);
}

TEST(SessionStart, IntegerKeysTakeNumbersAndBooleans) {
    // The device rule is checked last, so reaching it means the timeouts were accepted.
    EXPECT_EQ(error_of(R"({"device":"x","seconds":7200.9})"), kNeedDevice);
    EXPECT_EQ(error_of(R"({"device":"x","seconds":-0.9})"), kNeedDevice);
    EXPECT_EQ(error_of(R"({"device":"x","seconds":7201.5})"), "invalid_timeout");
    EXPECT_EQ(error_of(R"({"device":"x","seconds":true})"), kNeedDevice);
    EXPECT_EQ(error_of(R"({"device":"x","seconds":-1})"), "invalid_timeout");
    EXPECT_EQ(error_of(R"({"device":"x","helloTimeoutMs":1000.99})"), kNeedDevice);
    EXPECT_EQ(error_of(R"({"device":"x","helloTimeoutMs":999.99})"), "invalid_timeout");
    EXPECT_EQ(error_of(R"({"device":"x","helloTimeoutMs":true})"), "invalid_timeout");
    EXPECT_EQ(error_of(R"({"device":"x","helloTimeoutMs":false})"), "invalid_timeout");
}

TEST(SessionStart, NumbersBeyond32BitsAreRefusedNotWrapped) {
    // 2^32 + 1 would wrap to 1 and 2^32 + 60000 to a valid hello window.
    EXPECT_EQ(error_of(R"({"device":"x","seconds":4294967297})"), "invalid_timeout");
    EXPECT_EQ(error_of(R"({"device":"x","helloTimeoutMs":4295027296})"), "invalid_timeout");
    EXPECT_EQ(error_of(R"({"device":"x","seconds":1e300})"), "invalid_timeout");
    EXPECT_EQ(error_of(R"({"device":"x","seconds":-4294967295})"), "invalid_timeout");
}

TEST(SessionStart, HostileDocumentsAreRefusedOrEndWithACode) {
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_EQ(error_of(R"({"device":"x","extra":)" + deep + "}"), kNeedDevice);
    EventLog log;
    EXPECT_EQ(log.start(R"({"device":"x","extra":)" + std::string(200000, '[')), nullptr);
    EXPECT_EQ(log.start(R"({"device":)" + deep + "}"), nullptr);
    const std::string mebibyte(1 << 20, 'a');
    EXPECT_EQ(error_of(R"({"device":"ios:00008030001a","signal":")" + mebibyte + R"("})"),
              "unknown_signal");
    EXPECT_EQ(error_of(R"({"device":"ios:)" + mebibyte + R"(","seconds":1})"),
              "ios_device_not_found");
}

TEST(SessionStart, KeysReachTheirOptions) {
    EXPECT_EQ(error_of(R"({"device":"x","kovaDevice":true,"signal":"sine"})"), "choose_one_source");
    EXPECT_EQ(error_of(R"({"device":"x","kovaDevice":false,"signal":"sine"})"), kNeedDevice);
    EXPECT_EQ(error_of(R"({"device":"x","wav":"a.wav","signal":"sine"})"), "choose_wav_or_signal");
    EXPECT_EQ(error_of(R"({"device":"x","loop":true})"), "loop_requires_wav");
    EXPECT_EQ(error_of(R"({"device":"x","loop":true,"wav":"a.wav"})"), kNeedDevice);
    EXPECT_EQ(error_of(R"({"device":"x","accessoryId":"","signal":"sine"})"), kNeedDevice);
}

class EndedEvent : public ::testing::Test {
  protected:
    void SetUp() override {
        ended_ = run_to_end(R"({"device":"x"})", log_);
        texts_ = log_.texts();
        ASSERT_FALSE(texts_.empty());
    }

    EventLog log_;
    json ended_;
    std::vector<std::string> texts_;
};

TEST_F(EndedEvent, CarriesCodeOneAndTheValidationCode) {
    EXPECT_EQ(ended_.at("event"), "ended");
    EXPECT_EQ(ended_.at("code"), 1);
    EXPECT_EQ(ended_.at("report").at("result"), "error");
    EXPECT_EQ(ended_.at("report").at("error"), kNeedDevice);
    EXPECT_EQ(ended_.at("report").at("phase"), "gate1");
    EXPECT_EQ(ended_.at("report").at("transport"), "");
}

TEST_F(EndedEvent, IsDeliveredOnceAndLast) {
    int ended_count = 0;
    for (const std::string& text : texts_) {
        const std::string kind = json::parse(text).at("event");
        EXPECT_TRUE(kind == "report" || kind == "state" || kind == "ended") << text;
        ended_count += kind == "ended";
    }
    EXPECT_EQ(ended_count, 1);
    EXPECT_EQ(json::parse(texts_.back()).at("event"), "ended");
}

TEST_F(EndedEvent, FinalReportEventMatchesTheEndedReport) {
    ASSERT_GE(texts_.size(), 2u);
    const json report_event = json::parse(texts_[texts_.size() - 2]);
    EXPECT_EQ(report_event.at("event"), "report");
    EXPECT_EQ(report_event.at("report"), ended_.at("report"));
}

TEST_F(EndedEvent, TextIsCompactWithSortedKeys) {
    const std::string& text = texts_.back();
    EXPECT_EQ(text.rfind(R"({"code":1,"event":"ended","report":{)", 0), 0u) << text;
    EXPECT_NE(text.find(R"("pacingMaxLateMs":0.0)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("maxReadMs":0.0)"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("pingCount":0,)"), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find(": "), std::string::npos);
    EXPECT_EQ(text.find(", "), std::string::npos);
    // Every event reads back to a value whose compact, sorted form is the text itself.
    for (const std::string& event : texts_) {
        EXPECT_EQ(json::parse(event).dump(), event);
    }
}

TEST_F(EndedEvent, ReportCountersAreUnsigned) {
    const json& report = ended_.at("report");
    for (const char* key : {"usbBytesSent", "usbBytesReceived", "framesSent"}) {
        EXPECT_TRUE(report.at(key).is_number_unsigned()) << key;
    }
    EXPECT_TRUE(report.at("pacingMaxLateMs").is_number_float());
}

TEST(SessionFree, EndedSessionReturnsPromptlyAndDeliversNothingMore) {
    EventLog log;
    KovaSession* session = log.start(R"({"device":"x"})");
    ASSERT_NE(session, nullptr);
    ASSERT_TRUE(log.wait_for_ended());
    const size_t delivered = log.texts().size();
    const auto start = std::chrono::steady_clock::now();
    kova_session_free(session);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kEndBound);
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(log.texts().size(), delivered);
}

TEST(SessionFree, FreeRightAfterStartHasDeliveredEndedOnReturn) {
    EventLog log;
    KovaSession* session = log.start(R"({"device":"x"})");
    ASSERT_NE(session, nullptr);
    kova_session_free(session);
    const std::vector<std::string> texts = log.texts();
    ASSERT_FALSE(texts.empty());
    const json ended = json::parse(texts.back());
    ASSERT_EQ(ended.at("event"), "ended");
    // Either the session ended by itself or the free interrupted it.
    const int code = ended.at("code");
    EXPECT_TRUE(code == 1 || code == 130) << code;
    EXPECT_EQ(ended.at("report").at("result"), code == 130 ? "cancelled" : "error");
}

TEST(SessionFree, NullIsANoOp) {
    kova_session_free(nullptr);
}

TEST(SessionStop, NullHandleIsHarmlessAndLeavesNoStopForTheNextSession) {
    kova_session_stop(nullptr);
    kova_session_stop(nullptr);
    EventLog log;
    const json ended = run_to_end(R"({"device":"x"})", log);
    EXPECT_EQ(ended.at("code"), 1);
    EXPECT_EQ(ended.at("report").at("error"), kNeedDevice);
}

TEST(SessionRun, SessionsRunOneAfterAnother) {
    for (int i = 0; i < 3; ++i) {
        EventLog log;
        const json ended = run_to_end(R"({"device":"x","seconds":)" + std::to_string(i) + "}", log);
        EXPECT_EQ(ended.at("code"), 1);
        EXPECT_EQ(ended.at("report").at("error"), kNeedDevice);
    }
}

TEST(SessionRun, IosDeviceWithoutAPhoneEndsWithAnError) {
    EventLog log;
    const json ended = run_to_end(R"({"device":"ios:00112233aabb","helloTimeoutMs":1000})", log);
    const json& report = ended.at("report");
    EXPECT_EQ(report.at("result"), "error");
    const std::string error = report.value("error", "");
    EXPECT_FALSE(error.empty());
    EXPECT_NE(error, kNeedDevice);
    EXPECT_NE(error, "invalid_timeout");
}

}  // namespace
