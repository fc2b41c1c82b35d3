#include "core/protocol/json_payload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/transport/error.h"

namespace kova {
namespace {

using nlohmann::json;

std::vector<uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string text(const std::vector<uint8_t>& payload) {
    return {payload.begin(), payload.end()};
}

// The kova::Error code parse_json throws, "" on success, or "json_library" when one of the
// JSON library's own errors comes through.
std::string parse_code(const std::string& payload) {
    try {
        parse_json(bytes(payload));
    } catch (const Error& error) {
        return error.what();
    } catch (const json::exception&) {
        return "json_library";
    }
    return "";
}

// `levels` objects nested in one another, the innermost holding one member.
std::string nested_objects(int levels) {
    std::string result;
    for (int i = 1; i < levels; ++i) {
        result += R"({"k":)";
    }
    result += R"({"leaf":1})";
    result.append(levels - 1, '}');
    return result;
}

// One object holding `levels` arrays nested in one another around a single number.
std::string nested_arrays(int levels) {
    return R"({"a":)" + std::string(levels, '[') + "1" + std::string(levels, ']') + "}";
}

TEST(ParseJson, ReturnsEveryParsedValue) {
    const json value = parse_json(bytes(R"({"s":"x","n":-3,"f":1.5,"b":true,"z":null,)"
                                        R"("a":[1,{"k":"v"}],"o":{"p":{}}})"));
    EXPECT_EQ(value, json::parse(R"({"s":"x","n":-3,"f":1.5,"b":true,"z":null,)"
                                 R"("a":[1,{"k":"v"}],"o":{"p":{}}})"));
}

TEST(ParseJson, DepthLimit) {
    EXPECT_EQ(parse_code(nested_objects(32)), "");
    EXPECT_EQ(parse_code(nested_objects(33)), "json_depth");
    EXPECT_EQ(parse_code(nested_objects(200)), "json_depth");
    EXPECT_EQ(parse_code(nested_arrays(31)), "");
    EXPECT_EQ(parse_code(nested_arrays(32)), "json_depth");
}

TEST(ParseJson, DepthCountsEventsNotBrackets) {
    // The 33rd object opens and closes at depth 32; nothing inside it reaches depth 33.
    std::string empty_innermost = nested_objects(33);
    empty_innermost.replace(empty_innermost.find(R"({"leaf":1})"), 10, "{}");
    EXPECT_EQ(parse_code(empty_innermost), "");
}

TEST(ParseJson, DuplicateKeysAreTrackedPerObject) {
    EXPECT_EQ(parse_code(R"({"a":1,"a":2})"), "duplicate_json_key");
    EXPECT_EQ(parse_code(R"({"a":{"b":1,"b":2}})"), "duplicate_json_key");
    EXPECT_EQ(parse_code(R"({"a":{"b":1},"a":2})"), "duplicate_json_key");
    EXPECT_EQ(parse_code(R"({"a":{"b":1},"b":2})"), "");
    EXPECT_EQ(parse_code(R"({"x":{"k":1},"y":{"k":2}})"), "");
    EXPECT_EQ(parse_code(R"({"l":[{"k":1},{"k":1}]})"), "");
    EXPECT_EQ(parse_code(R"({"l":[{"k":1,"k":1}]})"), "duplicate_json_key");
}

TEST(ParseJson, DuplicateKeysCompareExactBytes) {
    EXPECT_EQ(parse_code(R"({"a":1,"A":2})"), "");
    EXPECT_EQ(parse_code(R"({"\u0061":1,"a":2})"), "duplicate_json_key");
}

TEST(ParseJson, OnlyObjectsAreAccepted) {
    EXPECT_EQ(parse_code("[]"), "json_object_required");
    EXPECT_EQ(parse_code("1"), "json_object_required");
    EXPECT_EQ(parse_code(R"("text")"), "json_object_required");
    EXPECT_EQ(parse_code("null"), "json_object_required");
    EXPECT_EQ(parse_code("{}"), "");
}

TEST(ParseJson, SizeLimits) {
    EXPECT_EQ(parse_code(""), "json_size");
    std::string largest = R"({"a":")" + std::string(8192 - 8, 'x') + R"("})";
    ASSERT_EQ(largest.size(), 8192u);
    EXPECT_EQ(parse_code(largest), "");
    EXPECT_EQ(parse_code("{}" + std::string(8191, ' ')), "json_size");
}

TEST(ParseJson, SyntaxErrorsComeFromTheJsonLibrary) {
    EXPECT_EQ(parse_code(R"({"a":1}/* note */)"), "json_library");
    EXPECT_EQ(parse_code(R"({/* note */"a":1})"), "json_library");
    EXPECT_EQ(parse_code("{\"a\":1} // note"), "json_library");
    EXPECT_EQ(parse_code(R"({"a":1} x)"), "json_library");
    EXPECT_EQ(parse_code(R"({"a":1}{})"), "json_library");
    EXPECT_EQ(parse_code(R"({"a":1,})"), "json_library");
    EXPECT_EQ(parse_code("{\"a\":1} \n\t"), "");
}

TEST(ParseJson, NumberOverflowIsTheLibrarysError) {
    EXPECT_EQ(parse_code(R"({"a":1e400})"), "json_library");
    EXPECT_EQ(parse_code(R"({"a":1e308})"), "");
}

TEST(ParseJson, StringsMustBeValidUtf8) {
    EXPECT_EQ(parse_code("{\"a\":\"\xff\"}"), "json_library");
    EXPECT_EQ(parse_code("{\"a\":\"\xc0\xaf\"}"), "json_library");
    EXPECT_EQ(parse_code("{\"a\":\"\xe2\x82\"}"), "json_library");
    EXPECT_EQ(parse_code(R"({"a":"\ud800"})"), "json_library");
    EXPECT_EQ(parse_code("{\"a\":\"\xc3\xa9\"}"), "");
}

TEST(JsonBytes, KeysSortedNoWhitespace) {
    const json value = {{"b", 1}, {"a", {{"d", true}, {"c", nullptr}}}, {"B", "x"}};
    EXPECT_EQ(text(json_bytes(value)), R"({"B":"x","a":{"c":null,"d":true},"b":1})");
}

TEST(JsonBytes, NumberKinds) {
    const json value = {{"zero", 0.0}, {"rate", 48000.0},    {"tenth", 0.1}, {"int", -5},
                        {"count", 7u}, {"third", 1.0 / 3.0}, {"big", 1e300}};
    EXPECT_EQ(text(json_bytes(value)),
              R"({"big":1e+300,"count":7,"int":-5,"rate":48000.0,"tenth":0.1,)"
              R"("third":0.3333333333333333,"zero":0.0})");
}

TEST(JsonBytes, RawUtf8AndRequiredEscapes) {
    const json value = {{"name", "caf\xc3\xa9 \xe2\x99\xab"}, {"q", "a\"b\\c\n\x01"}};
    EXPECT_EQ(text(json_bytes(value)),
              "{\"name\":\"caf\xc3\xa9 \xe2\x99\xab\",\"q\":\"a\\\"b\\\\c\\n\\u0001\"}");
}

TEST(JsonBytes, KeysInByteOrderIncludingNonAscii) {
    const json value = {{"\xc3\xa9", 1}, {"z", 2}, {"Z", 3}};
    EXPECT_EQ(text(json_bytes(value)), "{\"Z\":3,\"z\":2,\"\xc3\xa9\":1}");
}

TEST(JsonBytes, InvalidUtf8FailsWithTheLibraryError) {
    const json value = {{"bad", "\xff"}};
    EXPECT_THROW(json_bytes(value), json::type_error);
}

TEST(JsonBytes, RoundTripsThroughParseJson) {
    const json value = parse_json(bytes(R"({"role":"ios","protocolMinor":0,"x":[0.5,{"y":2}]})"));
    EXPECT_EQ(parse_json(json_bytes(value)), value);
    EXPECT_EQ(text(json_bytes(value)), R"({"protocolMinor":0,"role":"ios","x":[0.5,{"y":2}]})");
}

}  // namespace
}  // namespace kova
