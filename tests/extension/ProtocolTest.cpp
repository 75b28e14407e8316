// The pieces of the native-messaging host that decide what is sound input
// and what goes back out: UTF-8 and nesting checks, the reply size limit,
// JSON conversion, and the form of a line in the system log.

#include <gtest/gtest.h>

#include <string>

#include "extension/platform/JsonValue.hpp"
#include "extension/platform/Log.hpp"
#include "extension/platform/NativeMessaging.hpp"

namespace {

using namespace extension::platform;
namespace nm = extension::platform::nativeMessaging;

TEST(NativeMessagingInput, Utf8IsCheckedStrictly) {
    for (const char* good : {"", "plain", "h\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"}) {
        EXPECT_TRUE(nm::isValidUtf8(good)) << good;
    }
    for (const char* bad : {
             "\xFF",              // never a UTF-8 byte
             "\x80",              // continuation without a lead
             "\xC3",              // sequence cut at the end
             "\xC3(",             // lead followed by a non-continuation
             "\xC0\xAF",          // overlong '/'
             "\xE0\x80\xAF",      // overlong '/'
             "\xED\xA0\x80",      // surrogate half
             "\xF4\x90\x80\x80",  // past U+10FFFF
             "\xF8\x88\x80\x80\x80",
         }) {
        EXPECT_FALSE(nm::isValidUtf8(bad)) << testing::PrintToString(std::string(bad));
    }
}

TEST(NativeMessagingInput, NestingIsCountedOutsideStringsOnly) {
    EXPECT_EQ(nm::nestingDepth("42"), 0u);
    EXPECT_EQ(nm::nestingDepth(R"({"a":[1,{"b":[]}],"c":{}})"), 4u);
    EXPECT_EQ(nm::nestingDepth(R"(["[[[{{{", "\"[[[", "\\"])"), 1u);
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    EXPECT_GT(nm::nestingDepth(deep), nm::kMaxNestingDepth);
    const std::string atLimit = std::string(nm::kMaxNestingDepth, '[') + std::string(nm::kMaxNestingDepth, ']');
    EXPECT_EQ(nm::nestingDepth(atLimit), nm::kMaxNestingDepth);
}

TEST(NativeMessagingOutput, RepliesOverTheBrowserLimitBecomeAnErrorObject) {
    // {"echo":"xxx..."} is 11 bytes around the string.
    const std::size_t fits = nm::kMaxOutgoingMessage - 11;
    bool tooLarge = true;
    std::string body = nm::replyBody({{"echo", std::string(fits, 'x')}}, &tooLarge);
    EXPECT_FALSE(tooLarge);
    EXPECT_EQ(body.size(), nm::kMaxOutgoingMessage);

    body = nm::replyBody({{"echo", std::string(fits + 1, 'x')}}, &tooLarge);
    EXPECT_TRUE(tooLarge);
    EXPECT_EQ(nlohmann::json::parse(body),
              (nlohmann::json{{"error", "Reply too large"}, {"limit", nm::kMaxOutgoingMessage}}));
}

TEST(NativeMessagingOutput, CompactSizeIsNeverOverestimated) {
    // The bound decides which messages are answered without being decoded,
    // so it must never exceed what the reply really takes.
    for (const char* text : {
             "42", "  [ 1 , 2 ,\n 3 ]  ", R"({ "a" : "b\"c\\d\u0041\ud83d\ude00é" , "n" : [ true, null, -1.5e10 ] })",
             R"("\/\/\/")", "1.000000000000000000000", "[1e5, 0.10000, -0]", R"({"":{}})",
         }) {
        const std::string compact = nlohmann::json::parse(text).dump();
        EXPECT_LE(nm::minimumCompactSize(text), compact.size()) << text;
    }
    EXPECT_EQ(nm::minimumCompactSize(R"( { "ab" : [ 1 , true ] } )"), std::string(R"({"ab":[1,t]})").size());
    // Large messages of small values are bounded by their count.
    std::string many = "[";
    for (int i = 0; i < 1000; ++i) many += "0,";
    many += "0]";
    EXPECT_EQ(nm::minimumCompactSize(many), many.size());
}

TEST(NativeMessagingOutput, JsonSurvivesTheRoundTripThroughUserInfoValues) {
    const auto original = nlohmann::json::parse(R"({
        "s": "é \u0000 \ud83d\ude00", "i": -9223372036854775808, "u": 18446744073709551615,
        "f": 0.1, "e": 1e300, "t": true, "n": null, "a": [[], {}, [1, [2, [3]]]],
        "o": {"": "", "nested": {"k": [null]}}
    })");
    nlohmann::json copy = original;
    Value value = valueFromJson(std::move(copy));
    EXPECT_EQ(jsonFromValue(value), original);
    EXPECT_EQ(jsonFromValue(value).dump(), original.dump());
    EXPECT_EQ(jsonFromValue(Value(*Uuid::fromString("00000000-0000-0000-0000-0000000000ff"))),
              "00000000-0000-0000-0000-0000000000FF");
}

TEST(SystemLogForm, OneCallStaysOneLineAndLongLinesAreCut) {
    EXPECT_EQ(log::systemLogForm("a\nb\rc\td"), "a\\nb\\rc\\td");
    EXPECT_EQ(log::systemLogForm(std::string("x\0y\x1B", 4)), "x\\x00y\\x1B");
    EXPECT_EQ(log::systemLogForm("héllo"), "héllo");

    EXPECT_EQ(log::systemLogForm("abcdefgh", 5), "abcde… (3 more bytes)");
    // A cut never splits a UTF-8 sequence: "é" is two bytes.
    EXPECT_EQ(log::systemLogForm("abcdé", 5), "abcd… (2 more bytes)");
    EXPECT_EQ(log::systemLogForm("abcdéf", 6), "abcdé… (1 more byte)");
    EXPECT_EQ(log::systemLogForm("ab\xF0\x9F\x98\x80", 5), "ab… (4 more bytes)");
}

}  // namespace
