#pragma once
// What the interpreter needs of the application it tells: a snapshot of the
// windows and their tabs, and running JavaScript in one tab. ChromiumBrowser
// speaks DevTools, FirefoxBrowser WebDriver BiDi, AnyBrowser finds which one
// answers; tests use an in-memory fake.

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <string>
#include <vector>

namespace vesko::osascript {

struct TabInfo {
    std::string id;  // stable for the tab's lifetime
    std::string url;
    std::string title;
};

struct WindowInfo {
    std::string id;
    std::vector<TabInfo> tabs;  // in tab order; never empty
    std::size_t currentTab = 0;  // index into tabs (see Browser::currentTab)
};

struct JavaScriptResult {
    bool threw = false;
    std::string exception;  // the exception's description when threw
    bool hasValue = false;  // false for undefined and null
    nlohmann::json value;   // the result, returned by value
};

// A failure of the application itself; `number` is the AppleScript error number
// (-600 not running, -1712 timed out, -609 connection lost, -1728 no such object).
struct BrowserError : std::runtime_error {
    BrowserError(int number, const std::string& message) : std::runtime_error(message), number(number) {}
    int number;
};

// The error for a tab that closed before its script could answer.
inline constexpr const char* kTabClosedMessage = "Can\u2019t get the tab: it was closed.";

class Browser {
public:
    virtual ~Browser() = default;
    // Windows from front to back. Taken once per run; throws BrowserError.
    virtual const std::vector<WindowInfo>& windows() = 0;
    // The index of the window's current tab. The default reads WindowInfo; a
    // browser may work it out only when it is asked for.
    virtual std::size_t currentTab(std::size_t window) { return windows().at(window).currentTab; }
    // The tab's name as the browser shows it. The default reads TabInfo; a
    // browser may ask for names only when they are read.
    virtual std::string tabTitle(std::size_t window, std::size_t tab) {
        return windows().at(window).tabs.at(tab).title;
    }
    // Evaluates `code` in the tab; throws BrowserError when the tab cannot be reached.
    virtual JavaScriptResult doJavaScript(const TabInfo& tab, const std::string& code) = 0;
    // The name of the browser that errors are reported for ("Firefox"); empty
    // when none has answered: errors then name the application the program tells.
    virtual std::string name() const { return {}; }
};

}  // namespace vesko::osascript
