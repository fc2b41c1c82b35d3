#include "core/protocol/parser.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/protocol/codec.h"
#include "core/transport/error.h"

namespace kova {
namespace {

Message make(Type type, uint64_t sequence, std::vector<uint8_t> payload, uint64_t frame_index = 0) {
    Message message;
    message.type = type;
    message.session = 0x1234;
    message.sequence = sequence;
    message.frame_index = frame_index;
    message.payload = std::move(payload);
    return message;
}

std::vector<uint8_t> status_payload() {
    const std::string text = R"({"state":"Streaming"})";
    return {text.begin(), text.end()};
}

std::vector<uint8_t> concat(const std::vector<std::vector<uint8_t>>& parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

void expect_same(const Message& actual, const Message& expected) {
    EXPECT_EQ(actual.type, expected.type);
    EXPECT_EQ(actual.session, expected.session);
    EXPECT_EQ(actual.sequence, expected.sequence);
    EXPECT_EQ(actual.frame_index, expected.frame_index);
    EXPECT_EQ(actual.payload, expected.payload);
}

// Feeds bytes to one parser and records what it delivers and after which feed call.
class ParserTest : public ::testing::Test {
  protected:
    void feed(const uint8_t* data, size_t length) {
        ++feeds_;
        parser_.feed(data, length, [this](Message message) {
            delivered_.push_back(std::move(message));
            delivered_at_feed_.push_back(feeds_);
        });
    }
    void feed(const std::vector<uint8_t>& bytes) { feed(bytes.data(), bytes.size()); }

    // The code the next feed of `bytes` throws, or "" when it does not throw.
    std::string feed_code(const std::vector<uint8_t>& bytes) {
        try {
            feed(bytes);
        } catch (const Error& error) {
            return error.what();
        }
        return "";
    }

    std::string end_code() {
        try {
            parser_.end_of_input();
        } catch (const Error& error) {
            return error.what();
        }
        return "";
    }

    Parser parser_;
    int feeds_ = 0;
    std::vector<Message> delivered_;
    std::vector<int> delivered_at_feed_;
};

TEST_F(ParserTest, OneByteChunksDeliverOnceAfterTheLastByte) {
    const Message status = make(Type::Status, 3, status_payload());
    const std::vector<uint8_t> frame = encode(status);
    for (size_t i = 0; i < frame.size(); ++i) {
        feed(&frame[i], 1);
        EXPECT_EQ(delivered_.size(), i + 1 == frame.size() ? 1u : 0u) << "after byte " << i;
    }
    ASSERT_EQ(delivered_.size(), 1u);
    expect_same(delivered_[0], status);
    EXPECT_EQ(end_code(), "");
}

TEST_F(ParserTest, SeveralFramesInOneChunkArriveInOrderWithinOneFeed) {
    const std::vector<Message> sent = {
        make(Type::Hello, 0, status_payload()),
        make(Type::Audio, 1, std::vector<uint8_t>(768, 0x11), 192),
        make(Type::Ping, 2, {1, 2, 3, 4, 5, 6, 7, 8}),
        make(Type::Stop, 3, {}),
    };
    feed(concat({encode(sent[0]), encode(sent[1]), encode(sent[2]), encode(sent[3])}));
    ASSERT_EQ(delivered_.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        expect_same(delivered_[i], sent[i]);
        EXPECT_EQ(delivered_at_feed_[i], 1);
    }
}

TEST_F(ParserTest, FramePlusPartialFrameKeepsTheRest) {
    const Message first = make(Type::Status, 0, status_payload());
    const Message second = make(Type::Audio, 1, std::vector<uint8_t>(16, 0x22), 0);
    const std::vector<uint8_t> second_bytes = encode(second);
    std::vector<uint8_t> chunk = encode(first);
    chunk.insert(chunk.end(), second_bytes.begin(), second_bytes.begin() + 10);
    feed(chunk);
    ASSERT_EQ(delivered_.size(), 1u);
    expect_same(delivered_[0], first);
    EXPECT_EQ(end_code(), "truncated_message");

    feed(std::vector<uint8_t>(second_bytes.begin() + 10, second_bytes.end()));
    ASSERT_EQ(delivered_.size(), 2u);
    expect_same(delivered_[1], second);
    EXPECT_EQ(end_code(), "");
}

TEST_F(ParserTest, ArbitraryChunkingGivesTheSameMessages) {
    std::vector<Message> sent;
    std::vector<uint8_t> stream;
    for (uint64_t i = 0; i < 20; ++i) {
        sent.push_back(i % 3 == 0 ? make(Type::Status, i, status_payload())
                                  : make(Type::Audio, i, std::vector<uint8_t>(4 * (i + 1), i), i));
        const auto bytes = encode(sent.back());
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    size_t offset = 0;
    for (size_t step = 1; offset < stream.size(); step = step * 7 % 97 + 1) {
        const size_t take = std::min(step, stream.size() - offset);
        feed(stream.data() + offset, take);
        offset += take;
    }
    ASSERT_EQ(delivered_.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        expect_same(delivered_[i], sent[i]);
    }
}

TEST_F(ParserTest, EmptyPayloadFrameIsDeliveredOnItsFortiethByte) {
    const std::vector<uint8_t> start = encode(make(Type::Start, 4, {}));
    feed(start.data(), 39);
    EXPECT_TRUE(delivered_.empty());
    feed(start.data() + 39, 1);
    ASSERT_EQ(delivered_.size(), 1u);
    EXPECT_EQ(delivered_[0].type, Type::Start);
    EXPECT_TRUE(delivered_[0].payload.empty());
}

TEST_F(ParserTest, LargestFrameIsReassembled) {
    const Message hello = make(Type::Hello, 0, std::vector<uint8_t>(8192, '7'));
    feed(encode(hello));
    ASSERT_EQ(delivered_.size(), 1u);
    expect_same(delivered_[0], hello);
}

TEST_F(ParserTest, EmptyFeedDoesNothing) {
    feed(nullptr, 0);
    EXPECT_TRUE(delivered_.empty());
    EXPECT_EQ(end_code(), "");
}

// A header is checked as soon as its 40th byte arrives, before its payload is waited for.
class BadHeaderTest : public ParserTest {
  protected:
    std::vector<uint8_t> header_with(size_t offset, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> frame = encode(make(Type::Status, 0, status_payload()));
        std::copy(bytes.begin(), bytes.end(), frame.begin() + offset);
        frame.resize(40);
        return frame;
    }

    void expect_rejected_on_byte_40(const std::vector<uint8_t>& header, const std::string& code) {
        feed(header.data(), 39);
        EXPECT_FALSE(parser_.closed());
        EXPECT_EQ(feed_code({header[39]}), code);
        EXPECT_TRUE(parser_.closed());
        EXPECT_EQ(feed_code(status_payload()), "parser_closed");
        EXPECT_EQ(end_code(), "truncated_message");
        EXPECT_TRUE(delivered_.empty());
    }
};

TEST_F(BadHeaderTest, Flags) {
    expect_rejected_on_byte_40(header_with(10, {1, 0}), "bad_flags");
}
TEST_F(BadHeaderTest, Magic) {
    expect_rejected_on_byte_40(header_with(0, {'K', 'O', 'V', 'B'}), "bad_magic");
}
TEST_F(BadHeaderTest, Major) {
    expect_rejected_on_byte_40(header_with(4, {2, 0}), "bad_major");
}
TEST_F(BadHeaderTest, HeaderLength) {
    expect_rejected_on_byte_40(header_with(8, {48, 0}), "bad_header");
}
TEST_F(BadHeaderTest, UnknownType) {
    expect_rejected_on_byte_40(header_with(6, {11, 0}), "unknown_type");
}
TEST_F(BadHeaderTest, PayloadLimit) {
    expect_rejected_on_byte_40(header_with(12, {0x01, 0x20, 0, 0}), "payload_limit");
}
TEST_F(BadHeaderTest, HugePayloadLength) {
    expect_rejected_on_byte_40(header_with(12, {0xFF, 0xFF, 0xFF, 0xFF}), "payload_limit");
}
TEST_F(BadHeaderTest, ZeroSession) {
    expect_rejected_on_byte_40(header_with(16, std::vector<uint8_t>(8, 0)), "zero_session");
}
TEST_F(BadHeaderTest, ControlFrameIndex) {
    expect_rejected_on_byte_40(header_with(32, {1}), "control_frame_index");
}
TEST_F(BadHeaderTest, EmptyJson) {
    expect_rejected_on_byte_40(header_with(12, {0, 0, 0, 0}), "empty_json");
}

TEST_F(BadHeaderTest, MagicIsCheckedBeforeTheOtherFields) {
    std::vector<uint8_t> header = header_with(0, {'X'});
    header[4] = 9;
    header[10] = 1;
    EXPECT_EQ(feed_code(header), "bad_magic");
}

TEST_F(ParserTest, BytesAfterAFailureInTheSameChunkAreNotExamined) {
    std::vector<uint8_t> bad = encode(make(Type::Stop, 0, {}));
    bad[10] = 1;
    const std::vector<uint8_t> chunk =
        concat({encode(make(Type::Stop, 0, {})), bad, encode(make(Type::Stop, 1, {}))});
    EXPECT_EQ(feed_code(chunk), "bad_flags");
    EXPECT_EQ(delivered_.size(), 1u);
}

TEST_F(ParserTest, ThrowingCallbackClosesTheParserAndItsExceptionPassesUnchanged) {
    struct Custom : std::runtime_error {
        Custom() : std::runtime_error("from the callback") {}
    };
    const std::vector<uint8_t> two =
        concat({encode(make(Type::Stop, 0, {})), encode(make(Type::Stop, 1, {}))});
    int calls = 0;
    EXPECT_THROW(parser_.feed(two.data(), two.size(),
                              [&calls](Message) {
                                  ++calls;
                                  throw Custom();
                              }),
                 Custom);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(parser_.closed());
    EXPECT_EQ(feed_code(encode(make(Type::Stop, 2, {}))), "parser_closed");
    EXPECT_EQ(end_code(), "truncated_message");
}

TEST_F(ParserTest, ClosedParserConsumesNothingEvenWhenEmpty) {
    EXPECT_EQ(feed_code({'X', 'X', 'X', 'X'}), "");
    EXPECT_EQ(feed_code(std::vector<uint8_t>(36, 0)), "bad_magic");
    EXPECT_EQ(feed_code({}), "parser_closed");
}

TEST_F(ParserTest, EndOfInputOnFreshParserAndAfterCompleteFrame) {
    EXPECT_EQ(end_code(), "");
    feed(encode(make(Type::Stop, 0, {})));
    EXPECT_EQ(end_code(), "");
    EXPECT_EQ(end_code(), "");
}

TEST_F(ParserTest, EndOfInputInsideAHeaderOrPayload) {
    const std::vector<uint8_t> frame = encode(make(Type::Status, 0, status_payload()));
    feed(frame.data(), 1);
    EXPECT_EQ(end_code(), "truncated_message");
    feed(frame.data() + 1, 40);
    EXPECT_EQ(end_code(), "truncated_message");
    feed(frame.data() + 41, frame.size() - 41);
    EXPECT_EQ(end_code(), "");
    EXPECT_EQ(delivered_.size(), 1u);
}

}  // namespace
}  // namespace kova
