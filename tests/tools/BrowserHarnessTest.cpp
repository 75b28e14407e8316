// The harness that other browser tests stand on: the fixture server, headless
// Chromium and Firefox with their tabs in order and loaded, and clean stopping.

#include "tests/support/Browser.hpp"
#include "tools/osascript/BidiRelay.hpp"

#include <gtest/gtest.h>

#include <signal.h>

#include <unistd.h>

#include <fstream>
#include <thread>

namespace vesko::testing {
namespace {

TEST(BrowserHarness, OpensFixtureTabsInOrderLoadedAndStopsCleanly) {
    ArticleFixtures fixtures;
    EXPECT_GT(std::filesystem::file_size(fixtures.root() / "2024/08/21/long-read.html"), 195u * 1024);
    EXPECT_LT(std::filesystem::file_size(fixtures.root() / "2024/08/21/long-read.html"), 205u * 1024);

    FixtureServer server(fixtures.root());
    std::filesystem::path profile;
    pid_t browserPid = -1;
    {
        HeadlessChromium browser({server.url(ArticleFixtures::kArticle), server.url(ArticleFixtures::kSecondArticle),
                                  server.url(ArticleFixtures::kAwkwardTitle)});
        profile = browser.profile();
        browserPid = browser.pid();
        EXPECT_EQ(browser.endpoint(), "127.0.0.1:" + std::to_string(browser.devToolsPort()));

        auto tabs = browser.tabs();
        ASSERT_EQ(tabs.size(), 3u);
        EXPECT_EQ(tabs[0].url, server.url(ArticleFixtures::kArticle));
        EXPECT_EQ(tabs[1].url, server.url(ArticleFixtures::kSecondArticle));
        EXPECT_EQ(tabs[2].url, server.url(ArticleFixtures::kAwkwardTitle));
        for (const auto& tab : tabs) EXPECT_EQ(browser.evaluate(tab.targetId, "document.readyState"), "\"complete\"");
        EXPECT_EQ(browser.evaluate(tabs[0].targetId, "document.body.dataset.ready"), "\"yes\"");
        EXPECT_EQ(browser.evaluate(tabs[0].targetId, "void 0"), "undefined");

        browser.closeAllTabs();
        EXPECT_TRUE(browser.tabs().empty());
        std::string again = browser.openTab(server.url(ArticleFixtures::kSecondArticle));
        EXPECT_EQ(browser.tabs().size(), 1u);
    }
    EXPECT_FALSE(std::filesystem::exists(profile));
    EXPECT_NE(kill(browserPid, 0), 0);
}

TEST(BrowserHarness, FirefoxTabsInStripOrderAndNothingLeftBehind) {
    ArticleFixtures fixtures;
    FixtureServer server(fixtures.root());
    std::filesystem::path profile;
    pid_t browserPid = -1;
    std::string endpoint;
    {
        HeadlessFirefox browser({server.url(ArticleFixtures::kArticle), server.url(ArticleFixtures::kSecondArticle)});
        profile = browser.profile();
        browserPid = browser.pid();
        endpoint = browser.endpoint();
        auto tabs = browser.tabs();
        ASSERT_EQ(tabs.size(), 2u);
        EXPECT_EQ(tabs[0].url, server.url(ArticleFixtures::kArticle));
        EXPECT_EQ(browser.evaluate(tabs[0].targetId, "document.body.dataset.ready"), "\"yes\"");
        EXPECT_EQ(browser.evaluate(tabs[1].targetId, "void 0"), "undefined");

        // A tab opened beside the first sits second in the strip.
        std::string beside = browser.openTab(server.url(ArticleFixtures::kAwkwardTitle), tabs[0].targetId);
        tabs = browser.tabs();
        ASSERT_EQ(tabs.size(), 3u);
        EXPECT_EQ(tabs[1].targetId, beside);
        EXPECT_EQ(browser.evaluate(beside, "document.visibilityState"), "\"hidden\"");
        browser.activateTab(beside);
        EXPECT_EQ(browser.evaluate(beside, "document.visibilityState"), "\"visible\"");
    }
    EXPECT_FALSE(std::filesystem::exists(profile));
    EXPECT_NE(kill(browserPid, 0), 0);
    // The session relay the harness used goes with its browser.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int relay = -1;
    while ((relay = bidi::connectToRelay(endpoint)) >= 0 && std::chrono::steady_clock::now() < deadline) {
        close(relay);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_LT(relay, 0);
}

}  // namespace
}  // namespace vesko::testing
