#pragma once
// The Browser model over Firefox's WebDriver BiDi.
//
// Windows are BiDi client windows; a window's tabs are its top-level browsing
// contexts in tab-strip order, so `tab N` is the Nth tab the user sees.
// Front window (`window 1`): the active window, then the others, most
// recently opened first, minimised ones last (BiDi tells which window is
// active, not the order in which windows were used). A window's current tab
// is the one whose page is visible (document.visibilityState), found without
// activating or reloading anything. A tab's name is its page's title, asked
// of the page only when a program reads it.

#include "tools/osascript/Bidi.hpp"
#include "tools/osascript/Browser.hpp"

#include <map>
#include <memory>
#include <optional>

namespace vesko::osascript {

class FirefoxBrowser final : public Browser {
public:
    explicit FirefoxBrowser(std::unique_ptr<bidi::Client> client);

    const std::vector<WindowInfo>& windows() override;
    std::size_t currentTab(std::size_t window) override;
    std::string tabTitle(std::size_t window, std::size_t tab) override;
    JavaScriptResult doJavaScript(const TabInfo& tab, const std::string& code) override;
    std::string name() const override { return "Firefox"; }

private:
    // Evaluates `expression` in every tab of the window at once.
    std::vector<long long> evaluateInTabs(std::size_t window, const std::string& expression);

    std::unique_ptr<bidi::Client> client_;
    std::optional<std::vector<WindowInfo>> windows_;
    std::map<std::size_t, std::size_t> currentTabs_;  // by window
    std::map<std::size_t, bool> titlesRead_;          // by window
};

// A BiDi RemoteValue as the JSON value a script result is by value, the way
// the DevTools browser hands results on: undefined, null and numbers JSON
// cannot hold give no value; objects without JSON form become {}.
std::optional<nlohmann::json> remoteValueToJson(nlohmann::json remote);

}  // namespace vesko::osascript
