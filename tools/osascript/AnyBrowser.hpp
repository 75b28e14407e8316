#pragma once
// The browser a run talks to: the first endpoint that answers, Chromium-family
// over DevTools or Firefox over WebDriver BiDi, found when the program first
// needs the browser (programs that never touch it connect to nothing).

#include "tools/osascript/Browser.hpp"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vesko::osascript {

enum class BrowserKind { Unknown, Chromium, Firefox };

struct Endpoint {
    std::string address;  // "host:port"
    BrowserKind kind = BrowserKind::Unknown;  // Unknown: told apart by what answers
};

struct BrowserOptions {
    std::vector<Endpoint> endpoints;  // tried in order
    // Limit for connecting and for each command, page scripts included.
    std::chrono::milliseconds timeout{60000};
    // Folder of the Chromium tab-order state; empty: keep no state.
    std::filesystem::path stateFolder;
    // The program that runs the Firefox session relay (vesko-osascript).
    std::filesystem::path relayProgram;
};

// $VESKO_DEVTOOLS_ENDPOINT ("host:port") if set, whichever browser it is.
// Else where browsers announce themselves: the DevToolsActivePort files of
// Vesko's own Chromium profile (~/.local/share/vesko/chromium-profile),
// ~/.config/chromium and ~/.config/google-chrome, and the
// WebDriverBiDiServer.json files of Vesko's own Firefox profile
// (~/.local/share/vesko/firefox-profile) and of the profiles in
// ~/.mozilla/firefox (Firefox ones first when $VESKO_BROWSER names Firefox);
// then 127.0.0.1:9222.
std::vector<Endpoint> discoverEndpoints();

// $VESKO_OSASCRIPT_TIMEOUT_MS, else 60 s.
std::chrono::milliseconds configuredTimeout();

class AnyBrowser final : public Browser {
public:
    explicit AnyBrowser(BrowserOptions options);
    ~AnyBrowser() override;

    const std::vector<WindowInfo>& windows() override { return browser().windows(); }
    std::size_t currentTab(std::size_t window) override { return browser().currentTab(window); }
    std::string tabTitle(std::size_t window, std::size_t tab) override { return browser().tabTitle(window, tab); }
    JavaScriptResult doJavaScript(const TabInfo& tab, const std::string& code) override {
        return browser().doJavaScript(tab, code);
    }
    std::string name() const override { return browser_ ? browser_->name() : std::string(); }

private:
    // Connects on first use; throws BrowserError (-600) when no browser answers.
    Browser& browser();
    std::unique_ptr<Browser> connect(const Endpoint& endpoint);

    BrowserOptions options_;
    std::unique_ptr<Browser> browser_;
};

}  // namespace vesko::osascript
