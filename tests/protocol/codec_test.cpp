#include "core/protocol/codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/transport/error.h"

namespace kova {
namespace {

Message make(Type type, size_t payload_size, uint64_t session = 7, uint64_t frame_index = 0) {
    Message message;
    message.type = type;
    message.session = session;
    message.frame_index = frame_index;
    message.payload.assign(payload_size, 0x5A);
    return message;
}

// The code a failing validation throws, or "" when the message is valid.
std::string validation_code(const Message& message) {
    try {
        validate(message, message.payload.size());
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

std::string encode_code(const Message& message) {
    try {
        encode(message);
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

TEST(Codec, StartHeaderBytesAreExact) {
    Message start = make(Type::Start, 0, 1);
    start.sequence = 2;
    const std::vector<uint8_t> expected = {
        'K',  'O',  'V',  'A',  0x01, 0x00, 0x04, 0x00, 0x28, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    };
    EXPECT_EQ(encode(start), expected);
}

TEST(Codec, MultiByteFieldsAreLittleEndian) {
    Message audio = make(Type::Audio, 8, 0x0102030405060708ULL, 0x1112131415161718ULL);
    audio.sequence = 0x2122232425262728ULL;
    audio.payload = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<uint8_t> frame = encode(audio);
    ASSERT_EQ(frame.size(), 48u);
    EXPECT_EQ(frame[6], 5);
    EXPECT_EQ(frame[7], 0);
    EXPECT_EQ(frame[12], 8);
    EXPECT_EQ(frame[15], 0);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(frame[16 + i], 0x08 - i) << "session byte " << i;
        EXPECT_EQ(frame[24 + i], 0x28 - i) << "sequence byte " << i;
        EXPECT_EQ(frame[32 + i], 0x18 - i) << "frame index byte " << i;
        EXPECT_EQ(frame[40 + i], i + 1) << "payload byte " << i;
    }
}

TEST(Codec, FrameSizeIsHeaderPlusPayload) {
    EXPECT_EQ(encode(make(Type::Audio, 768)).size(), 808u);
    EXPECT_EQ(encode(make(Type::Hello, 8192)).size(), 8232u);
    EXPECT_EQ(encode(make(Type::Ping, 8)).size(), 48u);
    EXPECT_EQ(encode(make(Type::Stop, 0)).size(), 40u);
}

TEST(Codec, AudioPayloadSizes) {
    EXPECT_EQ(validation_code(make(Type::Audio, 4)), "");
    EXPECT_EQ(validation_code(make(Type::Audio, 768)), "");
    EXPECT_EQ(validation_code(make(Type::Audio, 772)), "audio_size");
    EXPECT_EQ(validation_code(make(Type::Audio, 6)), "audio_size");
    EXPECT_EQ(validation_code(make(Type::Audio, 0)), "audio_size");
    EXPECT_EQ(validation_code(make(Type::Audio, 2)), "audio_size");
}

TEST(Codec, PayloadLimitComesBeforePerTypeRules) {
    EXPECT_EQ(validation_code(make(Type::Hello, 8192)), "");
    EXPECT_EQ(validation_code(make(Type::Hello, 8193)), "payload_limit");
    EXPECT_EQ(validation_code(make(Type::Audio, 8196)), "payload_limit");
    EXPECT_EQ(validation_code(make(Type::Start, 8193)), "payload_limit");
}

TEST(Codec, TypeIsCheckedFirst) {
    EXPECT_EQ(validation_code(make(static_cast<Type>(0), 0, 0)), "unknown_type");
    EXPECT_EQ(validation_code(make(static_cast<Type>(11), 9000, 0, 3)), "unknown_type");
    EXPECT_EQ(validation_code(make(static_cast<Type>(0xFFFF), 1)), "unknown_type");
}

TEST(Codec, RuleOrderAfterType) {
    // Size before session, session before frame index, frame index before the per-type rule.
    EXPECT_EQ(validation_code(make(Type::Status, 8193, 0, 5)), "payload_limit");
    EXPECT_EQ(validation_code(make(Type::Status, 0, 0, 5)), "zero_session");
    EXPECT_EQ(validation_code(make(Type::Stop, 3, 1, 5)), "control_frame_index");
}

TEST(Codec, FrameIndexOnlyForAudio) {
    EXPECT_EQ(validation_code(make(Type::Status, 2, 1, 5)), "control_frame_index");
    EXPECT_EQ(validation_code(make(Type::Audio, 4, 1, 0)), "");
    EXPECT_EQ(validation_code(make(Type::Audio, 4, 1, ~0ULL)), "");
}

TEST(Codec, PerTypeSizes) {
    EXPECT_EQ(validation_code(make(Type::Ping, 7)), "token_size");
    EXPECT_EQ(validation_code(make(Type::Pong, 9)), "token_size");
    EXPECT_EQ(validation_code(make(Type::Pong, 8)), "");
    EXPECT_EQ(validation_code(make(Type::Stop, 1)), "control_size");
    EXPECT_EQ(validation_code(make(Type::Start, 1)), "control_size");
    EXPECT_EQ(validation_code(make(Type::Start, 0)), "");
    for (Type json_type : {Type::Hello, Type::Config, Type::ConfigAck, Type::Status, Type::Error}) {
        EXPECT_EQ(validation_code(make(json_type, 0)), "empty_json");
        EXPECT_EQ(validation_code(make(json_type, 1)), "");
    }
}

TEST(Codec, ValidateUsesTheGivenLengthNotThePayload) {
    const Message header_only = make(Type::Audio, 0);
    EXPECT_NO_THROW(validate(header_only, 768));
    EXPECT_THROW(validate(make(Type::Audio, 768), 0), Error);
}

TEST(Codec, EncodeProducesNothingOnFailure) {
    EXPECT_EQ(encode_code(make(Type::Ping, 7)), "token_size");
    EXPECT_EQ(encode_code(make(Type::Hello, 1, 0)), "zero_session");
}

TEST(Codec, RandomIdIsNeverZeroAndVaries) {
    std::vector<uint64_t> ids;
    for (int i = 0; i < 64; ++i) {
        ids.push_back(random_id());
        EXPECT_NE(ids.back(), 0u);
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
}

TEST(Codec, LittleEndianHelpersRoundTrip) {
    uint8_t bytes[8];
    put_u64le(bytes, 0xA1B2C3D4E5F60718ULL);
    EXPECT_EQ(bytes[0], 0x18);
    EXPECT_EQ(bytes[7], 0xA1);
    EXPECT_EQ(get_u64le(bytes), 0xA1B2C3D4E5F60718ULL);
}

}  // namespace
}  // namespace kova
