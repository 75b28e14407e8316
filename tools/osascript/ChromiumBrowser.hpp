#pragma once
// The Browser model over a Chromium-family browser's DevTools protocol.
//
// Windows: page targets grouped by Browser.getWindowForTarget. Front window
// and current tab come from the browser's activity order (/json/list lists
// pages most recently activated first): window 1 is the window of the most
// recently activated tab, and a window's current tab is its most recently
// activated tab. Tab order: DevTools has no tab-strip position, so tabs are
// numbered in the order this program first saw them (a small state file keeps
// that order from run to run; tabs seen for the first time are
// appended least recently activated first, which for new tabs is the order in
// which they were opened).

#include "tools/osascript/Browser.hpp"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/osascript/DevTools.hpp"

namespace vesko::osascript {

struct ChromiumOptions {
    // Limit for each protocol command, page scripts included.
    std::chrono::milliseconds timeout{60000};
    // Folder of the tab-order state files; empty: keep no state.
    std::filesystem::path stateFolder;
};

// $VESKO_OSASCRIPT_STATE_DIR, else $XDG_RUNTIME_DIR/vesko, else ~/.cache/vesko.
std::filesystem::path defaultStateFolder();

class ChromiumBrowser final : public Browser {
public:
    // The browser socket a run at `endpoint` used last (kept in the state
    // file), for devtools::Client::connect; empty when none is known.
    static std::string rememberedSocket(const std::filesystem::path& stateFolder, const std::string& endpoint);

    // `client` is connected to the browser with a time limit a little longer
    // than `options.timeout`, so that a page script that runs too long is
    // ended by the browser and reported as a time-out.
    ChromiumBrowser(std::unique_ptr<devtools::Client> client, ChromiumOptions options);
    ~ChromiumBrowser() override;

    const std::vector<WindowInfo>& windows() override;
    JavaScriptResult doJavaScript(const TabInfo& tab, const std::string& code) override;
    std::size_t currentTab(std::size_t window) override;
    std::string name() const override { return "Chromium"; }

private:
    devtools::Client& client() { return *client_; }
    // Page target ids, most recently activated first (from /json/list).
    const std::vector<std::string>& activity();
    std::size_t activityRank(const std::string& id);
    std::filesystem::path stateFile();
    // This endpoint's entry in the state file: the tab order ("tabs") and the
    // pages' windows ("windows", kept for a few seconds); {} for none or
    // another browser session.
    nlohmann::json loadState();
    void saveState(nlohmann::json entry);
    // Each page's window from `remembered` if it is recent and names exactly
    // these pages; else empty.
    static std::vector<std::string> recentWindows(const nlohmann::json& remembered, const std::vector<TabInfo>& pages);

    ChromiumOptions options_;
    std::unique_ptr<devtools::Client> client_;
    std::optional<std::vector<WindowInfo>> windows_;
    std::optional<std::vector<std::string>> activity_;
};

}  // namespace vesko::osascript
