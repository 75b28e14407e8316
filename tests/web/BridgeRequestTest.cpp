// Decoding of posted requests: what is dropped, and how each argument falls
// back to its default.

#include "web/BridgeRequest.hpp"

#include <gtest/gtest.h>

using nlohmann::json;
namespace bridge = vesko::bridge;

namespace {

template <typename A>
A decodeAs(const json& body) {
    auto request = bridge::decodeRequest(body);
    EXPECT_TRUE(request.has_value()) << body.dump();
    if (!request) return A{};
    EXPECT_TRUE(std::holds_alternative<A>(request->action)) << body.dump();
    auto* action = std::get_if<A>(&request->action);
    return action ? *action : A{};
}

}  // namespace

TEST(BridgeRequest, MalformedBodiesAndUnknownActionsAreDropped) {
    const json dropped[] = {
        json("{\"action\":\"get-tab-urls\"}"),  // the text of an object, not an object
        json(42), json::array({"get-tab-urls"}), json(nullptr), json::object(),
        json{{"callbackId", "c"}},                 // no action
        json{{"action", 7}},                       // action not a string
        json{{"action", "Get-Tab-Urls"}},          // other letter case
        json{{"action", "get-tab-urls "}},         // trailing space
        json{{"action", "get-tab"}},               // a prefix
        json{{"action", "navigate"}},              // navigate without page
        json{{"action", "navigate"}, {"page", 3}}, // page not a string
    };
    for (const auto& body : dropped) EXPECT_FALSE(bridge::decodeRequest(body)) << body.dump();
}

TEST(BridgeRequest, CallbackIdIsTextOrEmpty) {
    EXPECT_EQ(bridge::decodeRequest({{"action", "get-tab-urls"}, {"callbackId", "cb-9"}})->callbackId, "cb-9");
    EXPECT_EQ(bridge::decodeRequest({{"action", "get-tab-urls"}})->callbackId, "");
    EXPECT_EQ(bridge::decodeRequest({{"action", "get-tab-urls"}, {"callbackId", 7}})->callbackId, "");
    EXPECT_EQ(bridge::decodeRequest({{"action", "get-tab-urls"}, {"callbackId", "Az09_-"}})->callbackId, "Az09_-");
    // The id goes into the reply script as it is: anything that could break
    // out of its quotes, or any other character, drops the request.
    for (const char* id : {"a'b", "a\\b", "a\nb", "a b", "\u00e9t\u00e9", "x');alert(1);('", "a.b", "a\u2028b"})
        for (const char* action : {"get-tab-urls", "notify-complete"})
            EXPECT_FALSE(bridge::decodeRequest({{"action", action}, {"callbackId", id}})) << id;
}

TEST(BridgeRequest, ExtractionArgumentsSelectTheTab) {
    auto current = decodeAs<bridge::ExtractTab>({{"action", "extract-tab"}, {"tabIndex", 3}, {"url", "x"}});
    EXPECT_FALSE(current.tabIndex);
    EXPECT_FALSE(current.targetUrl);

    auto byUrl = decodeAs<bridge::ExtractTab>({{"action", "extract-tab-by-url"}, {"url", "https://a.b/"}});
    EXPECT_EQ(byUrl.targetUrl, "https://a.b/");
    EXPECT_FALSE(byUrl.tabIndex);
    // A missing url is still a present, empty target.
    EXPECT_EQ(decodeAs<bridge::ExtractTab>({{"action", "extract-tab-by-url"}}).targetUrl, "");

    auto index = [](const json& value) {
        return decodeAs<bridge::ExtractTab>({{"action", "extract-tab-by-index"}, {"tabIndex", value}}).tabIndex;
    };
    EXPECT_EQ(index(3), 3);
    EXPECT_EQ(index(-2), -2);
    EXPECT_EQ(index(3.0), 3);
    EXPECT_EQ(index(2.5), 0);
    EXPECT_EQ(index("2"), 0);
    EXPECT_EQ(index(true), 0);
    EXPECT_EQ(index(1e300), 0);
    EXPECT_EQ(index(9223372036854775807LL), INT64_MAX);
    EXPECT_EQ(index(9223372036854775808ULL), 0);
    EXPECT_EQ(index(-9223372036854775808.0), INT64_MIN);
    EXPECT_EQ(index(9223372036854775808.0), 0);
    EXPECT_EQ(decodeAs<bridge::ExtractTab>({{"action", "extract-tab-by-index"}}).tabIndex, 0);
}

TEST(BridgeRequest, ProxyFetchDefaults) {
    auto bare = decodeAs<bridge::ProxyFetch>({{"action", "proxy-fetch"}});
    EXPECT_EQ(bare.url, "");
    EXPECT_EQ(bare.method, "GET");
    EXPECT_TRUE(bare.headers.empty());
    EXPECT_FALSE(bare.body);

    auto full = decodeAs<bridge::ProxyFetch>({{"action", "proxy-fetch"},
                                              {"url", "https://h/p"},
                                              {"method", "POST"},
                                              {"headers", {{"a", "1"}, {"b", "2"}}},
                                              {"body", "{}"}});
    EXPECT_EQ(full.method, "POST");
    EXPECT_EQ(full.headers, (bridge::TextMap{{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(full.body, "{}");

    // One non-string value empties the whole map; an object body is no body.
    auto odd = decodeAs<bridge::ProxyFetch>({{"action", "proxy-fetch"},
                                             {"method", 5},
                                             {"headers", {{"a", "1"}, {"n", 2}}},
                                             {"body", {{"k", "v"}}}});
    EXPECT_EQ(odd.method, "GET");
    EXPECT_TRUE(odd.headers.empty());
    EXPECT_FALSE(odd.body);
}

TEST(BridgeRequest, FileAndNoticeDefaults) {
    auto file = decodeAs<bridge::SaveFile>({{"action", "save-file"}});
    EXPECT_EQ(file.base64, "");
    EXPECT_EQ(file.filename, "download");
    auto fixture = decodeAs<bridge::SaveFixture>({{"action", "save-fixture"}, {"json", {{"a", 1}}}});
    EXPECT_EQ(fixture.json, "");  // an object is not JSON text
    EXPECT_EQ(fixture.filename, "fixture.json.gz");
    EXPECT_EQ(decodeAs<bridge::NotifyComplete>({{"action", "notify-complete"}}).badge, "");
    EXPECT_EQ(decodeAs<bridge::NotifyComplete>({{"action", "notify-complete"}, {"badge", "3"}}).badge, "3");

    auto navigate = decodeAs<bridge::Navigate>({{"action", "navigate"}, {"page", "batch.html"}, {"navAction", 1}});
    EXPECT_EQ(navigate.page, "batch.html");
    EXPECT_FALSE(navigate.navAction);
    // Text is taken as is: no trimming.
    EXPECT_EQ(decodeAs<bridge::SaveFile>({{"action", "save-file"}, {"filename", " a "}}).filename, " a ");
}
