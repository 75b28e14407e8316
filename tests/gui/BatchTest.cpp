// The batch and setup screens against headless Chromium through the real
// native side: setup's live check counts the front window's tabs, and the
// ticked tabs of a batch land in the library.
#include "tests/gui/BuiltPages.hpp"

#include <gtest/gtest.h>

namespace vesko::gui {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

TEST(Batch, SetupFindsTheBrowserAndTheTickedTabsLandInTheLibrary) {
    TemporaryHome home;
    Browsing browsing({kSample, kSecond, kThird});

    // Setup's live check names the browser that answered, not the one
    // picked, and counts its tabs.
    ASSERT_TRUE(show("setup.html"));
    click("input[name=browser][value=firefox]");
    click("#check");
    EXPECT_TRUE(waitFor("document.getElementById('status').textContent === 'Found Chromium, 3 tabs in the front window.'", 30s))
        << evaluate("document.getElementById('status').textContent");
    click("input[name=browser][value=chromium]");
    EXPECT_EQ(evaluate("document.getElementById('command').textContent.includes('--remote-debugging-port=9222 --user-data-dir=')"),
              true);

    ASSERT_TRUE(show("batch.html"));
    ASSERT_TRUE(waitFor("document.querySelectorAll('#tabs input[type=checkbox]').length === 3", 30s));
    evaluate("document.querySelectorAll('#tabs input[type=checkbox]')[1].click()");
    EXPECT_EQ(evaluate("document.getElementById('extract').textContent"), "Extract selected (2)");
    click("#extract");
    ASSERT_TRUE(waitFor("document.getElementById('status').className === 'status ok'", 60s))
        << evaluate("document.getElementById('status').textContent");
    EXPECT_EQ(evaluate("document.getElementById('status').textContent"), "2 of 2 articles.");
    EXPECT_EQ(evaluate("document.getElementById('progress-text').textContent"), "2 of 2");
    EXPECT_EQ(evaluate("[...document.querySelectorAll('#tabs td.state')].map(n => n.className)"),
              json({"state done", "state", "state done"}));

    ASSERT_TRUE(show("main.html"));
    EXPECT_TRUE(waitFor("document.getElementById('count').textContent === '2 articles'"))
        << evaluate("document.getElementById('count').textContent");
    EXPECT_EQ(evaluate("[...document.querySelectorAll('.entry-title')].map(n => n.textContent).sort()"),
              json({"Community orchard gives away a record harvest", kSampleTitle}));
}

}  // namespace
}  // namespace vesko::gui
