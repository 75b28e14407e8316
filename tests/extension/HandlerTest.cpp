// SafariWebExtensionHandler against the platform's extension context: what
// each request is answered with, and the one log line it leaves.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extension/SafariWebExtensionHandler.hpp"
#include "extension/platform/Log.hpp"
#include "extension/platform/SystemVersion.hpp"

namespace {

using namespace extension::platform;
using Vesko_Extension::SafariWebExtensionHandler;

const std::string kPrefix = "Received message from browser.runtime.sendNativeMessage: ";
const Uuid kProfile = *Uuid::fromString("6f1b9a2e-3c4d-4e5f-8a9b-0c1d2e3f4a5b");
const Uuid kLegacyProfile = *Uuid::fromString("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        log::setSink([this](const std::string& line) { lines.push_back(line); });
    }
    void TearDown() override {
        log::setSink(nullptr);
        processInfo::setOperatingSystemVersionForTesting(std::nullopt);
    }

    // Runs one request; checks that it completed with exactly one item whose
    // user info holds only the message key, and returns the value under it.
    Value run(std::vector<InputItem> items) {
        ExtensionContext context(std::move(items));
        SafariWebExtensionHandler().beginRequestWithExtensionContext(context);
        EXPECT_TRUE(context.isCompleted());
        EXPECT_EQ(context.returnedItems().size(), 1u);
        if (context.returnedItems().size() != 1) return Value("<no reply>");
        const auto& info = context.returnedItems().front().userInfo();
        EXPECT_TRUE(info.has_value());
        if (!info) return Value("<no user info>");
        EXPECT_EQ(info->size(), 1u);
        auto found = info->find(SFExtensionMessageKey);
        EXPECT_NE(found, info->end());
        return found == info->end() ? Value("<no message key>") : found->second;
    }

    static Value echoOf(Value message) { return Value(Dictionary{{"echo", std::move(message)}}); }

    std::vector<std::string> lines;
};

ExtensionItem itemWith(Dictionary userInfo) { return ExtensionItem(std::move(userInfo)); }

TEST_F(HandlerTest, EchoesAMessageOfAnyKindUnchangedAndLogsItsDescription) {
    const Value object(Dictionary{
        {"text", "héllo \"world\""},
        {"list", Array{1, 2.5, true, nullptr, Array{}, Dictionary{}}},
        {"big", std::uint64_t{18446744073709551615ull}},
    });
    struct Case {
        Value message;
        std::string description;
    };
    const std::vector<Case> cases = {
        {object,
         R"({"big":18446744073709551615,"list":[1,2.5,true,null,[],{}],"text":"héllo \"world\""})"},
        {Value("plain text"), "plain text"},
        {Value(""), ""},
        {Value(42), "42"},
        {Value(-0.125), "-0.125"},
        {Value(false), "false"},
        {Value(nullptr), "<null>"},
        {Value(Array{"a", 1}), R"(["a",1])"},
    };
    for (const auto& c : cases) {
        lines.clear();
        Value reply = run({itemWith({{SFExtensionMessageKey, c.message}})});
        EXPECT_EQ(reply, echoOf(c.message)) << c.description;
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], kPrefix + c.description + " (profile: none)");
    }
}

TEST_F(HandlerTest, MalformedRequestsAreAnsweredWithANullEcho) {
    struct Case {
        const char* name;
        std::vector<InputItem> items;
    };
    std::vector<Case> cases;
    cases.push_back({"no input items", {}});
    cases.push_back({"first item of another kind", {ForeignItem{"attachment"}}});
    cases.push_back({"no user info", {ExtensionItem()}});
    cases.push_back({"no message", {itemWith({{SFExtensionProfileKey, kProfile}})}});
    // Only the first item counts, even when a later one carries a message.
    cases.push_back({"message only in a later item",
                     {ForeignItem{"attachment"}, itemWith({{SFExtensionMessageKey, "late"}})}});
    for (auto& c : cases) {
        lines.clear();
        EXPECT_EQ(run(std::move(c.items)), echoOf(Value())) << c.name;
        ASSERT_EQ(lines.size(), 1u) << c.name;
        const std::string profile = std::string(c.name) == "no message" ? kProfile.uuidString() : "none";
        EXPECT_EQ(lines[0], kPrefix + "nil (profile: " + profile + ")") << c.name;
    }
}

TEST_F(HandlerTest, OnlyTheFirstInputItemIsRead) {
    Value reply = run({itemWith({{SFExtensionMessageKey, "first"}}),
                       itemWith({{SFExtensionMessageKey, "second"}, {SFExtensionProfileKey, kProfile}})});
    EXPECT_EQ(reply, echoOf("first"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], kPrefix + "first (profile: none)");
}

TEST_F(HandlerTest, ProfileKeyDependsOnTheSystemVersion) {
    const Dictionary both{{SFExtensionMessageKey, "m"},
                          {SFExtensionProfileKey, kProfile},
                          {"profile", kLegacyProfile}};
    struct Case {
        OperatingSystemVersion version;
        Dictionary userInfo;
        std::string profile;
    };
    const std::vector<Case> cases = {
        {{14, 0, 0}, both, kProfile.uuidString()},
        {{15, 2, 1}, both, kProfile.uuidString()},
        {{13, 6, 9}, both, kLegacyProfile.uuidString()},
        {{11, 0, 0}, both, kLegacyProfile.uuidString()},
        // Each system reads only its own key.
        {{14, 0, 0}, {{SFExtensionMessageKey, "m"}, {"profile", kLegacyProfile}}, "none"},
        {{13, 0, 0}, {{SFExtensionMessageKey, "m"}, {SFExtensionProfileKey, kProfile}}, "none"},
        // A profile that is not a UUID, even one that reads like one, is none.
        {{14, 0, 0},
         {{SFExtensionMessageKey, "m"}, {SFExtensionProfileKey, kProfile.uuidString()}},
         "none"},
        {{13, 0, 0}, {{SFExtensionMessageKey, "m"}, {"profile", 7}}, "none"},
    };
    // The log shows a profile in the standard form.
    ASSERT_EQ(kProfile.uuidString(), "6F1B9A2E-3C4D-4E5F-8A9B-0C1D2E3F4A5B");
    for (const auto& c : cases) {
        lines.clear();
        processInfo::setOperatingSystemVersionForTesting(c.version);
        EXPECT_EQ(run({itemWith(c.userInfo)}), echoOf("m"));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], kPrefix + "m (profile: " + c.profile + ")")
            << c.version.majorVersion << "." << c.version.minorVersion;
    }
}

}  // namespace
