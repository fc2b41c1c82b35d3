#include "core/protocol/sequence_guard.h"

#include <gtest/gtest.h>

#include <string>

#include "core/transport/error.h"

namespace kova {
namespace {

constexpr uint64_t kSession = 0xABCDEF;

Message message(Type type, uint64_t sequence, uint64_t session = kSession) {
    Message result;
    result.type = type;
    result.session = session;
    result.sequence = sequence;
    return result;
}

class SequenceGuardTest : public ::testing::Test {
  protected:
    std::string accept_code(const Message& next) {
        try {
            guard_.accept(next);
        } catch (const Error& error) {
            return error.what();
        }
        return "";
    }

    SequenceGuard guard_;
};

TEST_F(SequenceGuardTest, HelloThenConsecutiveMessagesAreAccepted) {
    EXPECT_EQ(accept_code(message(Type::Hello, 0)), "");
    EXPECT_EQ(accept_code(message(Type::ConfigAck, 1)), "");
    EXPECT_EQ(accept_code(message(Type::Status, 2)), "");
    EXPECT_EQ(accept_code(message(Type::Pong, 3)), "");
}

TEST_F(SequenceGuardTest, FirstMessageMustBeAHello) {
    EXPECT_EQ(accept_code(message(Type::Status, 0)), "hello_required");
}

TEST_F(SequenceGuardTest, HelloMustStartAtZero) {
    EXPECT_EQ(accept_code(message(Type::Hello, 1)), "sequence_discontinuity");
}

TEST_F(SequenceGuardTest, SequenceIsCheckedBeforeTheHelloRule) {
    EXPECT_EQ(accept_code(message(Type::Status, 5)), "sequence_discontinuity");
}

TEST_F(SequenceGuardTest, GapFails) {
    ASSERT_EQ(accept_code(message(Type::Hello, 0)), "");
    EXPECT_EQ(accept_code(message(Type::Status, 2)), "sequence_discontinuity");
}

TEST_F(SequenceGuardTest, RepeatFails) {
    ASSERT_EQ(accept_code(message(Type::Hello, 0)), "");
    ASSERT_EQ(accept_code(message(Type::Status, 1)), "");
    EXPECT_EQ(accept_code(message(Type::Status, 1)), "sequence_discontinuity");
}

TEST_F(SequenceGuardTest, SecondHelloFails) {
    ASSERT_EQ(accept_code(message(Type::Hello, 0)), "");
    EXPECT_EQ(accept_code(message(Type::Hello, 1)), "duplicate_hello");
}

TEST_F(SequenceGuardTest, OtherSessionFails) {
    ASSERT_EQ(accept_code(message(Type::Hello, 0)), "");
    EXPECT_EQ(accept_code(message(Type::Status, 1, kSession + 1)), "stale_session");
}

TEST_F(SequenceGuardTest, RejectedMessageDoesNotAdvance) {
    ASSERT_EQ(accept_code(message(Type::Hello, 0)), "");
    ASSERT_EQ(accept_code(message(Type::Status, 1, kSession + 1)), "stale_session");
    EXPECT_EQ(accept_code(message(Type::Status, 1)), "");
}

}  // namespace
}  // namespace kova
