// The harness that other browser tests stand on: the fixture server, headless
// Chromium with its tabs in order and loaded, and clean stopping.

#include "tests/support/Browser.hpp"

#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>

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

}  // namespace
}  // namespace vesko::testing
