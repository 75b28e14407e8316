// Extraction against headless Chromium on fixture articles served from
// 127.0.0.1: the in-page script on its own, then every tab action end to end
// through `vesko --stdio` and the vesko-osascript runner, against Chromium and
// Firefox.

#include "safari/ExtractionScript.hpp"
#include "tests/support/Browser.hpp"
#include "tests/support/PageScripts.hpp"
#include "tests/support/VeskoStdio.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

namespace vesko::safari {
namespace {

using nlohmann::json;
using testing::ArticleFixtures;
using testing::FixtureServer;
using testing::HeadlessChromium;
using testing::HeadlessFirefox;

const std::string kGeneric =
    "Failed to extract content from your browser. Make sure your browser is open with an article tab.";
const std::string kNotRunning = "Your browser doesn't appear to be running. Open your browser first, then try again.";
const std::string kFallback = "Failed to extract content from your browser: ";
// The runner names the browser it drove in its errors, and the messages follow.
const std::string kChromiumFallback = "Failed to extract content from Chromium: ";

std::string oneLineScript() {
    std::string script(kExtractionScript);
    std::replace(script.begin(), script.end(), '\n', ' ');
    return script;
}

std::filesystem::path runnerPath() {
    return std::filesystem::path(VESKO_EXECUTABLE).parent_path() / "vesko-osascript";
}

std::size_t utf16Length(const std::string& utf8) {
    std::size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) ++units;   // one per code point...
        if (c >= 0xF0) ++units;             // ...two beyond the BMP
    }
    return units;
}

const char* const kEdgePage = "/2024/05/17/edge-cases.html";
const std::string kEdgeHtml = R"HTML(<!DOCTYPE html>
<html lang="en"><head>
<title>Edge   cases</title>
<meta name="description" content="A page of edge cases">
<style>body { color: red; }</style>
<script>var inlineCounter = 1;</script>
<script type="application/ld+json">{"@type":"NewsArticle","headline":"Edge"}</script>
<script type='application/ld+json'>{"second":true}</script>
<SCRIPT src="data:text/javascript,0"></SCRIPT>
</head><body>
<h1>   </h1>
<h1>Second headline</h1>
<div class="byline">By Ann Writer</div>
<span class="author-name">  By Ann Writer </span>
<div class="Byline">Bo</div>
<p class="author">)HTML" + std::string(200, 'L') + R"HTML(</p>
<p class="author summary">The author summary line here</p>
<p class="standfirst">A standfirst that is long enough to count.</p>
<header><p>A standfirst that is long enough to count.</p></header>
<svg width="10" height="10"><circle cx="5" cy="5" r="4"/></svg>
</body></html>)HTML";

class ExtractionScriptInChromium : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fixtures_ = new ArticleFixtures();
        fixtures_->write(kEdgePage, kEdgeHtml);
        std::string big = ArticleFixtures::largeArticleHtml(300 * 1024);
        fixtures_->write("/2024/08/22/very-long-read.html", big);
        server_ = new FixtureServer(fixtures_->root());
        browser_ = new HeadlessChromium({server_->url(std::string(kEdgePage) + "?utm_source=x&b=2#section-3"),
                                         server_->url("/2024/08/22/very-long-read.html")});
    }
    static void TearDownTestSuite() {
        delete browser_;
        delete server_;
        delete fixtures_;
    }

    // Runs the one-line script in tab `tab` (0-based); `prelude` may shadow `window`.
    static json extract(std::size_t tab, const std::string& expression) {
        const auto tabs = browser_->tabs();
        EXPECT_GT(tabs.size(), tab);
        const std::string result = browser_->evaluate(tabs.at(tab).targetId, expression);
        const json text = json::parse(result);  // the script's value: a JSON text
        EXPECT_TRUE(text.is_string()) << result.substr(0, 300);
        return json::parse(text.get<std::string>());
    }

    static ArticleFixtures* fixtures_;
    static FixtureServer* server_;
    static HeadlessChromium* browser_;
};
ArticleFixtures* ExtractionScriptInChromium::fixtures_ = nullptr;
FixtureServer* ExtractionScriptInChromium::server_ = nullptr;
HeadlessChromium* ExtractionScriptInChromium::browser_ = nullptr;

TEST_F(ExtractionScriptInChromium, GathersTheArticleMaterial) {
    const std::string raw = browser_->evaluate(browser_->tabs().at(0).targetId, oneLineScript());
    const auto result = nlohmann::ordered_json::parse(json::parse(raw).get<std::string>());
    std::vector<std::string> keys;
    for (const auto& item : result.items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"raw_text", "raw_html", "title", "publication", "url", "head_html",
                                              "header_html", "url_date"}));

    EXPECT_EQ(result["raw_text"], "");
    EXPECT_EQ(result["title"], "Edge cases");  // as the document reports it
    EXPECT_EQ(result["url"], server_->url(kEdgePage));
    EXPECT_EQ(result["publication"], "127.0.0.1");
    EXPECT_EQ(result["url_date"], "2024-05-17");

    // Empty first headline, bylines without the duplicate, the too-short and
    // too-long ones, then standfirsts; a text in both groups appears twice.
    EXPECT_EQ(result["header_html"],
              "\nBy Ann Writer\nThe author summary line here\nA standfirst that is long enough to count.\n"
              "The author summary line here");

    const std::string head = result["head_html"];
    EXPECT_NE(head.find("{\"@type\":\"NewsArticle\",\"headline\":\"Edge\"}"), std::string::npos) << head;
    EXPECT_NE(head.find("{\"second\":true}"), std::string::npos) << head;
    EXPECT_EQ(head.find("inlineCounter"), std::string::npos) << head;
    EXPECT_EQ(head.find("data:text/javascript"), std::string::npos) << head;
    EXPECT_EQ(head.find("color: red"), std::string::npos) << head;
    EXPECT_EQ(head.find("  "), std::string::npos) << head;
    EXPECT_NE(head.find("A page of edge cases"), std::string::npos) << head;

    const std::string html = result["raw_html"];
    EXPECT_EQ(html.rfind("<html", 0), 0u) << html.substr(0, 80);
    for (const char* gone : {"<script", "<SCRIPT", "NewsArticle", "<style", "<svg", "circle"})
        EXPECT_EQ(html.find(gone), std::string::npos) << gone;
    EXPECT_NE(html.find("By Ann Writer"), std::string::npos);
}

TEST_F(ExtractionScriptInChromium, AddressRules) {
    struct Case {
        const char* href;
        const char* url;
        const char* publication;
        const char* date;
    };
    const Case cases[] = {
        {"https://www.example.com/2024/05/17/story?x=1#y", "https://www.example.com/2024/05/17/story", "example.com",
         "2024-05-17"},
        {"https://www2.example.com/2024/5/17/story", "https://www2.example.com/2024/5/17/story",
         "www2.example.com", ""},
        {"https://WWW.Example.com/2024/05/17", "https://www.example.com/2024/05/17", "example.com", ""},
        {"https://news.test/a/2024/13/45/b/2023/01/02/", "https://news.test/a/2024/13/45/b/2023/01/02/",
         "news.test", "2024-13-45"},
        {"not an address?q#f", "not an address?q#f", "", ""},
    };
    for (const auto& c : cases) {
        // The script reads window.location; a parameter named window stands in for it.
        const std::string expression = "(function (window) { return " + oneLineScript() +
                                       "; })({location: {href: " + json(c.href).dump() + "}})";
        const json result = extract(0, expression);
        EXPECT_EQ(result["url"], c.url) << c.href;
        EXPECT_EQ(result["publication"], c.publication) << c.href;
        EXPECT_EQ(result["url_date"], c.date) << c.href;
    }
}

TEST_F(ExtractionScriptInChromium, DocumentHtmlIsCutAt200000Characters) {
    const json result = extract(1, oneLineScript());
    EXPECT_EQ(utf16Length(result["raw_html"].get<std::string>()), 200000u);
    EXPECT_LE(utf16Length(result["head_html"].get<std::string>()), 15000u);
    EXPECT_LE(utf16Length(result["header_html"].get<std::string>()), 2000u);
}

// ---- End to end: vesko --stdio, vesko-osascript, Chromium ----

// Runs the requests through vesko --stdio against `endpoint` and returns the
// page's view of every reply, by callback id.
// The runner keeps the tab order it has seen in a state folder: a private
// one for this test program, removed when it ends.
const std::string& runnerStateFolder() {
    struct Folder {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("vesko-runner-state-" + std::to_string(::getpid()));
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    static const std::string text = folder.path.string();
    return text;
}

std::map<std::string, json> runActions(const std::vector<json>& requests, const std::string& endpoint,
                                       const std::string& runner = runnerPath().string(),
                                       const std::string& configuredBrowser = "") {
    const auto scripts = testing::runVeskoStdio(requests, {{"VESKO_OSASCRIPT", runner},
                                                           {"VESKO_DEVTOOLS_ENDPOINT", endpoint},
                                                           {"VESKO_OSASCRIPT_STATE_DIR", runnerStateFolder()},
                                                           {"VESKO_BROWSER", configuredBrowser}});
    const json calls = testing::evaluateInPage(scripts);
    std::map<std::string, json> byId;
    for (const auto& call : calls) {
        EXPECT_NE(call["call"], "error") << call.dump();
        if (call.contains("id")) {
            EXPECT_FALSE(byId.count(call["id"])) << "second reply for " << call["id"];
            byId[call["id"]] = call;
        }
    }
    EXPECT_EQ(byId.size(), requests.size()) << calls.dump().substr(0, 2000);
    return byId;
}

class TabActionsEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(runnerPath())) GTEST_SKIP() << "vesko-osascript is not built";
        server_ = std::make_unique<FixtureServer>(fixtures_.root());
    }
    std::string url(const char* path) const { return server_->url(path); }

    ArticleFixtures fixtures_;
    std::unique_ptr<FixtureServer> server_;
};

TEST_F(TabActionsEndToEnd, AllFiveActionsOnAWindowOfFiveTabs) {
    HeadlessChromium browser({url(ArticleFixtures::kArticle), url(ArticleFixtures::kSecondArticle),
                              url(ArticleFixtures::kThrowingPage), url(ArticleFixtures::kHostileStringify),
                              url(ArticleFixtures::kAwkwardTitle)});
    auto replies = runActions(
        {
            {{"action", "extract-tab"}, {"callbackId", "current"}},
            {{"action", "extract-tab-by-index"}, {"tabIndex", 2}, {"callbackId", "second"}},
            {{"action", "extract-tab-by-url"}, {"url", url("/2024/05/")}, {"callbackId", "prefix"}},
            {{"action", "extract-tab-by-url"}, {"url", ""}, {"callbackId", "empty-url"}},
            {{"action", "extract-tab-by-url"}, {"url", url("/1999/")}, {"callbackId", "no-match"}},
            {{"action", "extract-tab-by-url"}, {"url", url("/2024/\"q\\\n")}, {"callbackId", "quoted"}},
            {{"action", "extract-tab-by-index"}, {"tabIndex", 0}, {"callbackId", "zero"}},
            {{"action", "extract-tab-by-index"}, {"tabIndex", 99}, {"callbackId", "beyond"}},
            {{"action", "extract-tab-by-index"}, {"tabIndex", -1}, {"callbackId", "last"}},
            {{"action", "extract-tab-by-index"}, {"tabIndex", -99}, {"callbackId", "negative"}},
            {{"action", "extract-tab-by-index"}, {"tabIndex", 3}, {"callbackId", "throws"}},
            {{"action", "extract-tab-by-index"}, {"tabIndex", 4}, {"callbackId", "hostile"}},
            {{"action", "get-tab-urls"}, {"callbackId", "tabs"}},
            {{"action", "extract-all-tabs"}, {"callbackId", "all"}},
        },
        browser.endpoint());

    auto resolvedUrl = [&](const char* id) -> std::string {
        const json& call = replies[id];
        EXPECT_EQ(call["call"], "resolve") << id << ": " << call.dump().substr(0, 500);
        return call.value("value", json::object()).value("url", "");
    };
    EXPECT_EQ(resolvedUrl("current"), url(ArticleFixtures::kAwkwardTitle));
    EXPECT_EQ(resolvedUrl("second"), url(ArticleFixtures::kSecondArticle));
    EXPECT_EQ(resolvedUrl("prefix"), url(ArticleFixtures::kArticle));  // first of two matches
    EXPECT_EQ(resolvedUrl("empty-url"), url(ArticleFixtures::kAwkwardTitle));
    EXPECT_EQ(resolvedUrl("last"), url(ArticleFixtures::kAwkwardTitle));  // AppleScript counts -1 from the end

    const json& article = replies["prefix"]["value"];
    EXPECT_EQ(article["url_date"], "2024-05-17");
    EXPECT_EQ(article["raw_text"], "");
    EXPECT_NE(article["header_html"].get<std::string>().find("Harbour lights"), std::string::npos);
    EXPECT_NE(article["title"].get<std::string>().find("Harbour lights"), std::string::npos);

    for (const char* id : {"no-match", "quoted", "hostile"}) {
        EXPECT_EQ(replies[id]["call"], "reject") << id;
        EXPECT_EQ(replies[id]["message"], kGeneric) << id;
    }
    for (const char* id : {"zero", "beyond", "negative", "throws"}) {
        EXPECT_EQ(replies[id]["call"], "reject") << id;
        EXPECT_EQ(replies[id]["message"].get<std::string>().rfind(kChromiumFallback, 0), 0u) << replies[id].dump();
    }

    const json& tabs = replies["tabs"];
    ASSERT_EQ(tabs["call"], "resolve") << tabs.dump();
    ASSERT_EQ(tabs["value"].size(), 5u) << tabs.dump();
    EXPECT_EQ(tabs["value"][0]["url"], url(ArticleFixtures::kArticle));
    EXPECT_NE(tabs["value"][0]["title"].get<std::string>().find("Harbour lights"), std::string::npos);
    EXPECT_EQ(tabs["value"][4]["url"], url(ArticleFixtures::kAwkwardTitle));
    EXPECT_NE(tabs["value"][4]["title"].get<std::string>().find("\"double\" and 'single'"), std::string::npos)
        << tabs["value"][4].dump();

    // The throwing and the hostile tab are left out; the rest keep tab order.
    const json& all = replies["all"];
    ASSERT_EQ(all["call"], "resolve") << all.dump().substr(0, 500);
    std::vector<std::string> urls;
    for (const auto& result : all["value"]) urls.push_back(result["url"]);
    EXPECT_EQ(urls, (std::vector<std::string>{url(ArticleFixtures::kArticle), url(ArticleFixtures::kSecondArticle),
                                              url(ArticleFixtures::kAwkwardTitle)}));
}

TEST_F(TabActionsEndToEnd, NoWindowOpen) {
    HeadlessChromium browser({url(ArticleFixtures::kArticle)});
    browser.closeAllTabs();
    auto replies = runActions({{{"action", "get-tab-urls"}, {"callbackId", "tabs"}},
                               {{"action", "extract-all-tabs"}, {"callbackId", "all"}},
                               {{"action", "extract-tab"}, {"callbackId", "current"}}},
                              browser.endpoint());
    EXPECT_EQ(replies["tabs"]["call"], "resolve");
    EXPECT_EQ(replies["tabs"]["value"], json::array());
    EXPECT_EQ(replies["all"]["call"], "reject");
    EXPECT_EQ(replies["current"]["call"], "reject");
}

TEST_F(TabActionsEndToEnd, BrowserNotRunningOrRunnerMissing) {
    const std::string nobody = "127.0.0.1:" + std::to_string(testing::freeLoopbackPort());
    const std::vector<json> requests = {{{"action", "extract-tab"}, {"callbackId", "current"}},
                                        {{"action", "extract-tab-by-index"}, {"tabIndex", 1}, {"callbackId", "index"}},
                                        {{"action", "get-tab-urls"}, {"callbackId", "tabs"}},
                                        {{"action", "extract-all-tabs"}, {"callbackId", "all"}}};
    for (auto& [id, call] : runActions(requests, nobody)) {
        EXPECT_EQ(call["call"], "reject") << id;
        EXPECT_EQ(call["message"], kNotRunning) << id << ": " << call.dump();
    }

    const std::string missing = (fixtures_.root() / "no-such-runner").string();
    for (auto& [id, call] : runActions(requests, nobody, missing)) {
        EXPECT_EQ(call["call"], "reject") << id;
        const std::string message = call["message"];
        EXPECT_EQ(message.rfind(kFallback, 0), 0u) << message;
        EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;
    }
}

TEST_F(TabActionsEndToEnd, FirefoxAllFiveActionsInFlightTogetherInStripOrder) {
    HeadlessFirefox browser({url(ArticleFixtures::kArticle), url(ArticleFixtures::kSecondArticle),
                             url(ArticleFixtures::kThrowingPage), url(ArticleFixtures::kAwkwardTitle)});
    // Opened last, placed second: the strip reads article, hostile, second, throwing, awkward.
    browser.openTab(url(ArticleFixtures::kHostileStringify), browser.tabs()[0].targetId);
    browser.activateTab(browser.tabs()[2].targetId);
    // Every request goes out at once, so runners work side by side on Firefox's one session.
    auto replies = runActions(
        {
            {{"action", "extract-all-tabs"}, {"callbackId", "all"}},
            {{"action", "extract-tab"}, {"callbackId", "current"}},
            {{"action", "extract-tab-by-index"}, {"tabIndex", 2}, {"callbackId", "hostile"}},
            {{"action", "extract-tab-by-index"}, {"tabIndex", 4}, {"callbackId", "throws"}},
            {{"action", "extract-tab-by-index"}, {"tabIndex", 9}, {"callbackId", "beyond"}},
            {{"action", "extract-tab-by-url"}, {"url", url("/2024/05/")}, {"callbackId", "prefix"}},
            {{"action", "get-tab-urls"}, {"callbackId", "tabs"}},
            {{"action", "extract-all-tabs"}, {"callbackId", "all-again"}},
        },
        browser.endpoint(), runnerPath().string(), "firefox");

    EXPECT_EQ(replies["current"]["value"]["url"], url(ArticleFixtures::kSecondArticle)) << replies["current"].dump();
    EXPECT_EQ(replies["prefix"]["value"]["url"], url(ArticleFixtures::kArticle));
    EXPECT_EQ(replies["hostile"]["message"],
              "Failed to extract content from Firefox. Make sure Firefox is open with an article tab.");
    for (const char* id : {"throws", "beyond"})
        EXPECT_EQ(replies[id]["message"].get<std::string>().rfind("Failed to extract content from Firefox: ", 0), 0u)
            << replies[id].dump();

    std::vector<std::string> listed;
    for (const auto& entry : replies["tabs"]["value"]) listed.push_back(entry["url"]);
    EXPECT_EQ(listed, (std::vector<std::string>{url(ArticleFixtures::kArticle), url(ArticleFixtures::kHostileStringify),
                                                url(ArticleFixtures::kSecondArticle), url(ArticleFixtures::kThrowingPage),
                                                url(ArticleFixtures::kAwkwardTitle)}));
    for (const char* id : {"all", "all-again"}) {
        std::vector<std::string> urls;
        for (const auto& result : replies[id]["value"]) urls.push_back(result["url"]);
        EXPECT_EQ(urls, (std::vector<std::string>{url(ArticleFixtures::kArticle), url(ArticleFixtures::kSecondArticle),
                                                  url(ArticleFixtures::kAwkwardTitle)}))
            << id;
    }

    // With Firefox configured and nothing answering, the message names Firefox.
    const std::string nobody = "127.0.0.1:" + std::to_string(testing::freeLoopbackPort());
    auto absent = runActions({{{"action", "extract-tab"}, {"callbackId", "current"}}}, nobody, runnerPath().string(),
                             "firefox");
    EXPECT_EQ(absent["current"]["message"], "Firefox doesn't appear to be running. Open Firefox first, then try again.");
}

}  // namespace
}  // namespace vesko::safari
