#pragma once
// Test harness for the browser side: a static HTTP server for fixture pages,
// headless Debian Chromium on a free DevTools port, headless Debian Firefox on
// a free WebDriver BiDi port, and the fixture article pages themselves. Everything listens on 127.0.0.1 only, and every process is
// stopped by its own pid (and its temp folder removed) in the destructor.
// Should the test process die first, its children get SIGTERM: create these
// objects on a thread that outlives them (the test's main thread), since the
// signal follows the creating thread's end.

#include "tests/support/ChildProcess.hpp"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vesko::bidi {
class Client;
}

namespace vesko::testing {

// Serves `root` over HTTP on 127.0.0.1 and a free port
// (python3 -m http.server in a child process).
class FixtureServer {
public:
    explicit FixtureServer(std::filesystem::path root);
    ~FixtureServer();
    FixtureServer(const FixtureServer&) = delete;
    FixtureServer& operator=(const FixtureServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" + path
    std::string url(const std::string& path) const;
    pid_t pid() const { return server_.pid(); }

private:
    std::filesystem::path root_;
    int port_ = 0;
    ChildProcess server_;
};

// One tab as the browser reports it.
struct BrowserTab {
    std::string targetId;
    std::string url;
    std::string title;
};

// Headless Chromium with a fresh temp profile and a free DevTools port, opened
// on `urls`: each url its own tab in one window, in order (first url first
// tab). The constructor returns once /json/version answers and every tab's
// document.readyState is "complete". With no urls the window holds one
// about:blank tab. After the constructor the last opened tab is the most
// recently activated one (the current tab); `activateTab` changes that.
class HeadlessChromium {
public:
    explicit HeadlessChromium(const std::vector<std::string>& urls);
    ~HeadlessChromium();
    HeadlessChromium(const HeadlessChromium&) = delete;
    HeadlessChromium& operator=(const HeadlessChromium&) = delete;

    int devToolsPort() const { return port_; }
    std::string endpoint() const;  // "127.0.0.1:PORT"
    pid_t pid() const { return browser_.pid(); }
    const std::filesystem::path& profile() const { return profile_; }

    // Opens `url` in a new tab of the window (or a new window) and waits until
    // it has loaded. Returns the tab's target id.
    std::string openTab(const std::string& url, bool newWindow = false);
    // Makes the tab the current one (most recently activated).
    void activateTab(const std::string& targetId);
    // Closes the tab without waiting for it to go.
    void closeTab(const std::string& targetId);
    // Closes every page tab, leaving the browser running with no window.
    void closeAllTabs();
    // The page tabs in the order they were opened (by the constructor or openTab;
    // tabs opened otherwise follow).
    std::vector<BrowserTab> tabs() const;
    // Evaluates `expression` in the tab and returns the value's JSON text
    // ("undefined" when there is none).
    std::string evaluate(const std::string& targetId, const std::string& expression) const;

private:
    std::vector<BrowserTab> pageTargets() const;
    void waitUntilLoaded(const std::string& targetId, std::chrono::milliseconds limit) const;
    void stop();

    int port_ = 0;
    ChildProcess browser_;
    std::filesystem::path profile_;
    std::vector<std::string> opened_;  // target ids in the order the tabs were opened
};

// Headless Firefox (firefox-esr) with a fresh temp profile and a free remote
// debugging port, opened on `urls`: each url its own tab in one window, in
// order (first url first tab). The constructor returns once every tab's
// document has loaded; the first tab is the current one. The harness talks
// to Firefox through the same session relay as vesko-osascript, so tests and
// runners share Firefox's one BiDi session.
class HeadlessFirefox {
public:
    explicit HeadlessFirefox(const std::vector<std::string>& urls);
    ~HeadlessFirefox();
    HeadlessFirefox(const HeadlessFirefox&) = delete;
    HeadlessFirefox& operator=(const HeadlessFirefox&) = delete;

    int port() const { return port_; }
    std::string endpoint() const;  // "127.0.0.1:PORT"
    pid_t pid() const { return browser_.pid(); }
    const std::filesystem::path& profile() const { return profile_; }

    // Opens `url` in a new background tab at the end of the window's strip
    // (right after tab `after` when given), or in a new window, and waits
    // until it has loaded. Returns the tab's context id.
    std::string openTab(const std::string& url, const std::string& after = {}, bool newWindow = false);
    // Makes the tab the selected one of its window (and the window the active one).
    void activateTab(const std::string& context);
    // Closes the tab without waiting for it to go.
    void closeTab(const std::string& context);
    // Every tab of every window, window by window, in tab-strip order.
    std::vector<BrowserTab> tabs() const;
    // Evaluates `expression` in the tab and returns the value's JSON text
    // ("undefined" when there is none).
    std::string evaluate(const std::string& context, const std::string& expression) const;

private:
    bidi::Client& client() const;
    void waitUntilLoaded(const std::string& context, std::chrono::milliseconds limit) const;

    int port_ = 0;
    ChildProcess browser_;
    std::filesystem::path profile_;
    mutable std::unique_ptr<bidi::Client> client_;
};

// A temp folder holding the fixture article pages (removed in the destructor),
// to be served by a FixtureServer. Pages live under dated paths.
class ArticleFixtures {
public:
    // A complete article: head metadata (og:title, og:site_name, author,
    // description, JSON-LD), headline, byline, standfirst, paragraphs, plus
    // style, script and svg elements.
    static constexpr const char* kArticle = "/2024/05/17/harbour-lights-return.html";
    // A second ordinary article, for tab lists and address searches.
    static constexpr const char* kSecondArticle = "/2024/05/18/night-ferry-timetable.html";
    // A page whose title holds a tab, double and single quotes, a backslash and
    // line breaks (set from script, so the tab's name carries them as far as
    // the browser keeps them).
    static constexpr const char* kAwkwardTitle = "/2024/06/02/quotes-tabs-and-breaks.html";
    // A page whose JSON.stringify throws, so the extraction script throws.
    static constexpr const char* kThrowingPage = "/2024/07/09/stringify-throws.html";
    // A page whose JSON.stringify returns text that is not JSON and tries to
    // break out of a JavaScript literal.
    static constexpr const char* kHostileStringify = "/2024/07/10/stringify-hostile.html";
    // A long article of about 200 kB (largeArticleHtml).
    static constexpr const char* kLargeArticle = "/2024/08/21/long-read.html";

    // The text that kHostileStringify's JSON.stringify returns.
    static const char* hostileStringifyOutput();

    ArticleFixtures();
    ~ArticleFixtures();
    ArticleFixtures(const ArticleFixtures&) = delete;
    ArticleFixtures& operator=(const ArticleFixtures&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // Writes `html` at `path` (e.g. "/2024/01/02/x.html") below the root.
    void write(const std::string& path, const std::string& html) const;

    // A realistic article of roughly `bytes` bytes of HTML.
    static std::string largeArticleHtml(std::size_t bytes = 200 * 1024);

private:
    std::filesystem::path root_;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int freeLoopbackPort();

}  // namespace vesko::testing
