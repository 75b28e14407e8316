#pragma once
// The shipped pages (the build's resources folder) in the test desktop's
// window, for tests that drive them as a user would: values read out of the
// shown page, waiting for a condition in it, loading a page, clicking; and
// the sample articles served to headless Chromium for the native side to read.

#include "tests/gui/GuiHarness.hpp"
#include "tests/support/Browser.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vesko::gui {

// Served paths of the sample articles, and of the hostile test article.
inline const char* const kSample = "/2026/11/24/night-trains-return.html";
inline const char* const kSampleTitle = "Night trains return to the northern line this winter";
inline const char* const kSecond = "/2026/11/18/river-bridge-reopens.html";
inline const char* const kThird = "/2026/12/02/community-orchard-harvest.html";
inline const char* const kHostile = "/2026/01/01/hostile.html";

// The desktop showing the built pages (launched on first use).
Desktop& window();

// The value of `expression` in the shown page, awaited when it is a promise
// ("error: ..." when it throws; null when the page does not answer).
nlohmann::json evaluate(const std::string& expression,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
// Waits until `condition` is true in the shown page.
bool waitFor(const std::string& condition, std::chrono::milliseconds timeout = std::chrono::seconds(15));
// Loads `page` afresh and waits until its script is ready (false if it never is).
bool show(const std::string& page);
// Clicks the element of `selector` in the shown page.
void click(const std::string& selector);

std::string readFile(const std::filesystem::path& path);

// The sample articles and the hostile one served from 127.0.0.1, and
// headless Chromium open on `paths` (in tabs of one window, the last the
// current one), which the application's runner then reads.
struct Browsing {
    testing::ArticleFixtures fixtures;
    std::unique_ptr<testing::FixtureServer> server;
    std::unique_ptr<testing::HeadlessChromium> chromium;
    explicit Browsing(const std::vector<std::string>& paths);
};

}  // namespace vesko::gui
