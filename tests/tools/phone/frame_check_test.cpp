#include <gtest/gtest.h>

#include "core/protocol/codec.h"
#include "tests/tools/phone/scripted_desktop.h"
#include "tools/phone/frame_checker.h"

namespace kova::phone::test {
namespace {

using namespace std::chrono_literals;

TEST(PhoneFrameChecks, ASequenceGapIsTheFirstViolation) {
    ScriptedDesktop desktop;
    ASSERT_TRUE(desktop.open_stream());
    desktop.send_audio(test_samples(0, 192), 0);
    desktop.skip_sequence(1);
    desktop.send_audio(test_samples(192, 192), 192);
    desktop.send_json(Type::Config, {{"sampleRate", 1}});  // later faults do not replace it
    const PhoneSummary summary = desktop.finish();
    EXPECT_EQ(summary.first_violation, "sequence_discontinuity");
    EXPECT_EQ(summary.frames_received, 384u);
    EXPECT_EQ(summary.gaps, 0u);
}

TEST(PhoneFrameChecks, AnotherSessionIdIsReportedAndItsMessagesIgnored) {
    ScriptedDesktop desktop;
    ASSERT_TRUE(desktop.open_stream());
    desktop.send_audio(test_samples(0, 192), 0);
    const uint64_t own = desktop.session();
    desktop.override_session(own + 1);
    desktop.send_audio(test_samples(192, 192), 192);
    desktop.override_session(own);
    desktop.send_audio(test_samples(384, 192), 384);
    const PhoneSummary summary = desktop.finish();
    EXPECT_EQ(summary.first_violation, "stale_session");
    EXPECT_EQ(summary.frames_received, 384u);
}

TEST(PhoneFrameChecks, NonContiguousFrameIndexesCountAsGaps) {
    ScriptedDesktop desktop;
    ASSERT_TRUE(desktop.open_stream());
    desktop.send_audio(test_samples(0, 192), 0);
    desktop.send_audio(test_samples(192, 100), 192);
    desktop.send_audio(test_samples(292, 192), 292);
    desktop.send_audio(test_samples(600, 192), 600);  // skips ahead
    desktop.send_audio(test_samples(0, 192), 0);      // goes back
    desktop.send_audio(test_samples(192, 192), 192);
    const PhoneSummary summary = desktop.finish();
    EXPECT_EQ(summary.first_violation, "frame_index_discontinuity");
    EXPECT_EQ(summary.gaps, 2u);
}

TEST(PhoneFrameChecks, AudioThatDoesNotStartAtFrameZeroIsAGap) {
    ScriptedDesktop desktop;
    ASSERT_TRUE(desktop.open_stream());
    desktop.send_audio(test_samples(192, 192), 192);
    EXPECT_EQ(desktop.finish().gaps, 1u);
}

TEST(PhoneFrameChecks, ABadHeaderEndsTheSessionWithItsCode) {
    ScriptedDesktop desktop;
    ASSERT_TRUE(desktop.open_stream());
    std::vector<uint8_t> frame = encode(Message{Type::Stop, desktop.session(), 3, 0, {}});
    frame[10] = 1;  // flags
    desktop.send_raw(frame);
    EXPECT_TRUE(desktop.peer_closed(5s));
    EXPECT_EQ(desktop.finish().first_violation, "bad_flags");
}

TEST(PhoneFrameChecks, MessagesBeforeTheHelloAreRefused) {
    ScriptedDesktop desktop;
    desktop.send_json(Type::Config, {{"sampleRate", 48000}});
    EXPECT_FALSE(desktop.next(200ms));  // without a session id the phone cannot answer
    EXPECT_EQ(desktop.finish().first_violation, "hello_required");
}

TEST(PhoneFrameChecks, ASecondHelloAndAnUnreadablePayloadAreViolations) {
    ScriptedDesktop duplicate;
    ASSERT_TRUE(duplicate.greet());
    duplicate.send_hello();
    EXPECT_EQ(duplicate.finish().first_violation, "duplicate_hello");

    ScriptedDesktop unreadable;
    ASSERT_TRUE(unreadable.greet());
    unreadable.send(Type::Config, {'{', '"', 'a'});
    EXPECT_FALSE(unreadable.finish().first_violation.empty());
}

TEST(PhoneFrameChecks, APartialFrameAtTheEndIsATruncatedMessage) {
    ScriptedDesktop desktop;
    ASSERT_TRUE(desktop.greet());
    const std::vector<uint8_t> frame = encode(Message{Type::Stop, desktop.session(), 1, 0, {}});
    desktop.send_raw(std::vector<uint8_t>(frame.begin(), frame.begin() + 20));
    EXPECT_EQ(desktop.finish().first_violation, "truncated_message");
}

TEST(PhoneFrameChecks, MessagesThePhoneNeverReceivesAreViolations) {
    for (Type type : {Type::ConfigAck, Type::Status, Type::Error}) {
        ScriptedDesktop desktop;
        ASSERT_TRUE(desktop.greet());
        desktop.send_json(type, {{"state", "Streaming"}});
        EXPECT_EQ(desktop.finish().first_violation, "unexpected_message");
    }
    ScriptedDesktop early;
    ASSERT_TRUE(early.greet());
    early.send_audio(test_samples(0, 192), 0);
    EXPECT_EQ(early.finish().first_violation, "audio_not_streaming");
}

TEST(PhoneFrameChecker, ResynchronisesAfterEachFault) {
    FrameChecker checker;
    auto message = [](Type type, uint64_t sequence, uint64_t frame_index = 0, size_t bytes = 0) {
        return Message{type, 7, sequence, frame_index, std::vector<uint8_t>(bytes)};
    };
    EXPECT_EQ(checker.check(message(Type::Hello, 0)).violation, "");
    EXPECT_EQ(checker.session(), 7u);
    EXPECT_EQ(checker.check(message(Type::Audio, 1, 0, 768)).violation, "");
    EXPECT_EQ(checker.check(message(Type::Audio, 3, 192, 768)).violation, "sequence_discontinuity");
    EXPECT_EQ(checker.check(message(Type::Audio, 4, 384, 400)).violation, "");
    EXPECT_EQ(checker.check(message(Type::Audio, 5, 485, 768)).violation,
              "frame_index_discontinuity");
    EXPECT_EQ(checker.check(message(Type::Audio, 6, 677, 768)).violation, "");
    EXPECT_EQ(checker.gaps(), 1u);
}

TEST(PhoneFrameChecker, AHelloThatDoesNotStartAtZeroStillOpensTheSession) {
    FrameChecker checker;
    const FrameChecker::Verdict verdict = checker.check(Message{Type::Hello, 9, 4, 0, {1}});
    EXPECT_EQ(verdict.violation, "sequence_discontinuity");
    EXPECT_TRUE(verdict.usable);
    EXPECT_EQ(checker.check(Message{Type::Start, 9, 5, 0, {}}).violation, "");
}

}  // namespace
}  // namespace kova::phone::test
