#include "tests/support/Browser.hpp"

#include "tools/osascript/Bidi.hpp"
#include "tools/osascript/DevTools.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <thread>

namespace vesko::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

bool portAnswers(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

fs::path makeTempDir(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temp folder");
    return pattern;
}

std::string pythonExecutable() { return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

std::string chromiumExecutable() {
    if (const char* env = std::getenv("VESKO_TEST_CHROMIUM"); env && *env) return env;
    return "/usr/bin/chromium";
}

std::string firefoxExecutable() {
    if (const char* env = std::getenv("VESKO_TEST_FIREFOX"); env && *env) return env;
    return "/usr/bin/firefox-esr";
}

std::string stringResult(const nlohmann::json& evaluation) {
    const auto& result = evaluation.value("result", nlohmann::json::object());
    if (!result.contains("value")) return "undefined";
    return result["value"].dump();
}

}  // namespace

int freeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("cannot find a free port");
    }
    close(fd);
    return ntohs(address.sin_port);
}

namespace {

// Starts a server on a free loopback port: `launch(child, port)` starts it
// and `answers(port)` tells whether it is up. A port can be taken between
// choosing and binding it, so three ports are tried. Returns the port of the
// running server, or 0.
int startOnFreePort(ChildProcess& child, const std::function<void(ChildProcess&, int)>& launch,
                    const std::function<bool(int)>& answers, Clock::duration patience) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int port = freeLoopbackPort();
        launch(child, port);
        for (auto deadline = Clock::now() + patience; Clock::now() < deadline && !child.exited();) {
            if (answers(port)) return port;
            std::this_thread::sleep_for(20ms);
        }
        child.stop(1000ms);
    }
    return 0;
}

// Starts `argv` in `child`, or throws why it cannot.
void startOrThrow(ChildProcess& child, const std::vector<std::string>& argv, const ChildOptions& options = {}) {
    std::string error;
    if (!child.start(argv, options, &error)) throw std::runtime_error(error);
}

}  // namespace

// ---------------------------------------------------------------- FixtureServer

FixtureServer::FixtureServer(fs::path root) : root_(std::move(root)) {
    port_ = startOnFreePort(
        server_,
        [&](ChildProcess& child, int port) {
            startOrThrow(child, {pythonExecutable(), "-m", "http.server", std::to_string(port), "--bind",
                                 "127.0.0.1", "--directory", root_.string()});
        },
        portAnswers, 15s);
    if (port_ == 0) throw std::runtime_error("the fixture HTTP server did not start");
}

FixtureServer::~FixtureServer() = default;

std::string FixtureServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

// ------------------------------------------------------------- HeadlessChromium

HeadlessChromium::HeadlessChromium(const std::vector<std::string>& urls) {
    profile_ = makeTempDir("vesko-chromium-");
    // Chromium's own temporary files stay in the profile and go with it.
    fs::create_directories(profile_ / "tmp");
    std::string first = urls.empty() ? std::string("about:blank") : urls.front();
    try {
        ChildOptions options;
        options.errorLog = profile_ / "chromium.log";
        options.tempFolder = profile_ / "tmp";
        port_ = startOnFreePort(
            browser_,
            [&](ChildProcess& child, int port) {
                startOrThrow(child,
                    {chromiumExecutable(), "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--disable-dev-shm-usage", "--mute-audio",
                     "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE localhost, EXCLUDE 127.0.0.1",
                     "--user-data-dir=" + profile_.string(), "--remote-debugging-address=127.0.0.1",
                     "--remote-debugging-port=" + std::to_string(port), first},
                    options);
            },
            [](int port) {
                try {
                    devtools::Client::getJson("127.0.0.1:" + std::to_string(port), "/json/version", 2000ms);
                    return true;
                } catch (const devtools::UnavailableError&) {
                    return false;
                }
            },
            30s);
        if (port_ == 0) throw std::runtime_error("headless Chromium did not start");

        auto pages = pageTargets();
        if (pages.empty()) throw std::runtime_error("headless Chromium opened no tab");
        for (const auto& page : pages) opened_.push_back(page.targetId);
        waitUntilLoaded(pages.front().targetId, 30s);
        for (std::size_t i = 1; i < urls.size(); ++i) openTab(urls[i]);
    } catch (...) {
        stop();
        throw;
    }
}

HeadlessChromium::~HeadlessChromium() { stop(); }

void HeadlessChromium::stop() {
    browser_.stop();
    if (!profile_.empty()) {
        std::error_code ignored;
        fs::remove_all(profile_, ignored);
    }
}

std::string HeadlessChromium::endpoint() const { return "127.0.0.1:" + std::to_string(port_); }

std::string HeadlessChromium::openTab(const std::string& url, bool newWindow) {
    auto client = devtools::Client::connect(endpoint(), 10s);
    nlohmann::json created;
    try {
        created = client->call("Target.createTarget", {{"url", url}, {"newWindow", newWindow}});
    } catch (const devtools::ProtocolError&) {
        if (newWindow) throw;
        // With every window closed a tab needs a new window.
        created = client->call("Target.createTarget", {{"url", url}, {"newWindow", true}});
    }
    std::string targetId = created.at("targetId");
    client.reset();
    opened_.push_back(targetId);
    waitUntilLoaded(targetId, 30s);
    return targetId;
}

void HeadlessChromium::activateTab(const std::string& targetId) {
    auto client = devtools::Client::connect(endpoint(), 10s);
    client->call("Target.activateTarget", {{"targetId", targetId}});
}

void HeadlessChromium::closeTab(const std::string& targetId) {
    auto client = devtools::Client::connect(endpoint(), 10s);
    client->call("Target.closeTarget", {{"targetId", targetId}});
}

void HeadlessChromium::closeAllTabs() {
    auto client = devtools::Client::connect(endpoint(), 10s);
    for (const auto& tab : tabs()) client->call("Target.closeTarget", {{"targetId", tab.targetId}});
    auto deadline = Clock::now() + 10s;
    while (!tabs().empty()) {
        if (Clock::now() > deadline) throw std::runtime_error("tabs did not close");
        std::this_thread::sleep_for(20ms);
    }
}

std::vector<BrowserTab> HeadlessChromium::tabs() const {
    // The browser lists its targets in no stable order: keep the order of opening.
    auto pages = pageTargets();
    std::vector<BrowserTab> result;
    for (const auto& id : opened_)
        for (const auto& page : pages)
            if (page.targetId == id) result.push_back(page);
    for (const auto& page : pages)
        if (std::find(opened_.begin(), opened_.end(), page.targetId) == opened_.end()) result.push_back(page);
    return result;
}

std::vector<BrowserTab> HeadlessChromium::pageTargets() const {
    auto client = devtools::Client::connect(endpoint(), 10s);
    auto targets = client->call("Target.getTargets");
    std::vector<BrowserTab> result;
    for (const auto& info : targets.value("targetInfos", nlohmann::json::array())) {
        if (info.value("type", "") != "page") continue;
        result.push_back({info.value("targetId", ""), info.value("url", ""), info.value("title", "")});
    }
    return result;
}

std::string HeadlessChromium::evaluate(const std::string& targetId, const std::string& expression) const {
    auto client = devtools::Client::connect(endpoint(), 30s);
    auto attached = client->call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}});
    std::string session = attached.at("sessionId");
    auto evaluation = client->call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}}, session);
    client->call("Target.detachFromTarget", {{"sessionId", session}});
    if (evaluation.contains("exceptionDetails"))
        throw std::runtime_error("page script threw: " + evaluation["exceptionDetails"].dump());
    return stringResult(evaluation);
}

void HeadlessChromium::waitUntilLoaded(const std::string& targetId, std::chrono::milliseconds limit) const {
    auto client = devtools::Client::connect(endpoint(), 10s);
    auto attached = client->call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}});
    std::string session = attached.at("sessionId");
    auto deadline = Clock::now() + limit;
    for (;;) {
        try {
            auto evaluation = client->call(
                "Runtime.evaluate",
                {{"expression", "document.readyState + ' ' + location.href"}, {"returnByValue", true}}, session);
            std::string state = evaluation.value("result", nlohmann::json::object()).value("value", "");
            // A new tab starts on about:blank, already complete: wait for its real page.
            if (state.rfind("complete ", 0) == 0 && state != "complete about:blank") break;
            if (state == "complete about:blank") {
                auto tabList = pageTargets();
                bool blankWanted = false;
                for (const auto& tab : tabList)  // opened on purpose
                    if (tab.targetId == targetId && tab.url == "about:blank") blankWanted = true;
                if (blankWanted) break;
            }
        } catch (const devtools::ProtocolError&) {
            // The context is being replaced by the navigation: ask again.
        }
        if (Clock::now() > deadline) throw std::runtime_error("a tab did not finish loading");
        std::this_thread::sleep_for(25ms);
    }
    client->call("Target.detachFromTarget", {{"sessionId", session}});
}

// -------------------------------------------------------------- HeadlessFirefox

HeadlessFirefox::HeadlessFirefox(const std::vector<std::string>& urls) {
    profile_ = makeTempDir("vesko-firefox-");
    fs::create_directories(profile_ / "tmp");
    // Quiet start: no first-run pages or default-browser questions, no restored session.
    std::ofstream(profile_ / "user.js") << "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                                           "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
                                           "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
                                           "user_pref(\"browser.sessionstore.resume_from_crash\", false);\n"
                                           "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n";
    try {
        ChildOptions options;
        options.errorLog = profile_ / "firefox.log";
        options.tempFolder = profile_ / "tmp";
        port_ = startOnFreePort(
            browser_,
            [&](ChildProcess& child, int port) {
                std::vector<std::string> argv = {firefoxExecutable(), "--headless", "--no-remote", "--profile",
                                                 profile_.string(), "--remote-debugging-port", std::to_string(port)};
                argv.insert(argv.end(), urls.begin(), urls.end());
                startOrThrow(child, argv, options);
            },
            portAnswers, 60s);
        if (port_ == 0) throw std::runtime_error("headless Firefox did not start");

        auto deadline = Clock::now() + 60s;
        std::size_t expected = std::max<std::size_t>(urls.size(), 1);
        for (;;) {
            auto current = tabs();
            if (current.size() >= expected) {
                for (const auto& tab : current) waitUntilLoaded(tab.targetId, 60s);
                break;
            }
            if (Clock::now() > deadline) throw std::runtime_error("headless Firefox did not open its tabs");
            std::this_thread::sleep_for(50ms);
        }
    } catch (...) {
        client_.reset();
        browser_.stop();
        std::error_code ignored;
        fs::remove_all(profile_, ignored);
        throw;
    }
}

HeadlessFirefox::~HeadlessFirefox() {
    client_.reset();
    browser_.stop();
    std::error_code ignored;
    fs::remove_all(profile_, ignored);
}

std::string HeadlessFirefox::endpoint() const { return "127.0.0.1:" + std::to_string(port_); }

bidi::Client& HeadlessFirefox::client() const {
    if (!client_) client_ = bidi::Client::connect(endpoint(), VESKO_OSASCRIPT_EXECUTABLE, 60s);
    return *client_;
}

std::string HeadlessFirefox::openTab(const std::string& url, const std::string& after, bool newWindow) {
    nlohmann::json params = {{"type", newWindow ? "window" : "tab"}, {"background", !newWindow}};
    if (!after.empty()) params["referenceContext"] = after;
    std::string context = client().call("browsingContext.create", params).at("context");
    client().call("browsingContext.navigate", {{"context", context}, {"url", url}, {"wait", "complete"}});
    waitUntilLoaded(context, 30s);
    return context;
}

void HeadlessFirefox::activateTab(const std::string& context) {
    client().call("browsingContext.activate", {{"context", context}});
}

void HeadlessFirefox::closeTab(const std::string& context) {
    client().send({"browsingContext.close", {{"context", context}, {"promptUnload", false}}});
}

std::vector<BrowserTab> HeadlessFirefox::tabs() const {
    std::vector<BrowserTab> result;
    auto tree = client().call("browsingContext.getTree", {{"maxDepth", 0}});
    for (const auto& context : tree.value("contexts", nlohmann::json::array()))
        result.push_back({context.value("context", ""), context.value("url", ""), ""});
    return result;
}

std::string HeadlessFirefox::evaluate(const std::string& context, const std::string& expression) const {
    auto evaluation = client().call("script.evaluate", {{"expression", expression},
                                                        {"target", {{"context", context}}},
                                                        {"awaitPromise", false},
                                                        {"resultOwnership", "none"}});
    if (evaluation.value("type", "") == "exception")
        throw std::runtime_error("page script threw: " + evaluation["exceptionDetails"].dump());
    const auto& value = evaluation.value("result", nlohmann::json::object());
    const std::string type = value.value("type", "");
    if (type == "undefined") return "undefined";
    if (type == "null") return "null";
    if (!value.contains("value")) throw std::runtime_error("not a plain value: " + value.dump());
    return value["value"].dump();
}

void HeadlessFirefox::waitUntilLoaded(const std::string& context, std::chrono::milliseconds limit) const {
    auto deadline = Clock::now() + limit;
    for (;;) {
        std::string state = nlohmann::json::parse(evaluate(context, "document.readyState + ' ' + location.href"));
        // A tab opened on an address starts on about:blank, already complete: wait for its page.
        if (state.rfind("complete ", 0) == 0 && state != "complete about:blank") return;
        if (Clock::now() > deadline) throw std::runtime_error("a Firefox tab did not finish loading: " + state);
        std::this_thread::sleep_for(25ms);
    }
}

// --------------------------------------------------------------- ArticleFixtures

namespace {

const char* const kArticleHtml = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Harbour lights return to the old quay after forty years | The Coastal Ledger</title>
<meta name="description" content="The lamps that once guided fishing boats home are lit again, thanks to a volunteer crew.">
<meta name="author" content="Marta Ilves">
<meta property="og:title" content="Harbour lights return to the old quay after forty years">
<meta property="og:site_name" content="The Coastal Ledger">
<meta property="og:type" content="article">
<meta property="article:published_time" content="2024-05-17T07:30:00Z">
<style>
  body { font-family: Georgia, serif; margin: 2em auto; max-width: 42em; }
  .byline { color: #555; }
</style>
<script type="application/ld+json">{"@context":"https://schema.org","@type":"NewsArticle","headline":"Harbour lights return to the old quay after forty years","author":{"@type":"Person","name":"Marta Ilves"},"datePublished":"2024-05-17"}</script>
<script>window.analyticsQueue = [];</script>
</head>
<body>
<header class="site-header"><a href="/">The Coastal Ledger</a>
<svg width="10" height="10"><circle cx="5" cy="5" r="4"/></svg></header>
<article>
  <header class="article-header">
    <h1>Harbour lights return to the old quay after forty years</h1>
    <h2>Volunteers spent two winters restoring the cast-iron lamps that guided the fishing fleet home.</h2>
    <p class="byline">By <a rel="author" href="/authors/marta-ilves">Marta Ilves</a></p>
    <p class="article-standfirst">The lamps were switched off in 1984 when the fleet moved to the new harbour; on Friday night they shone again.</p>
  </header>
  <p>For four decades the iron posts along the old quay stood dark, their glass long since broken and their brass fittings sold for scrap.</p>
  <p>"We thought it would take a summer," said Jaan Kask, who leads the volunteer crew. "It took two winters and most of our evenings."</p>
  <p>The restoration was paid for by a small grant from the town council and by a collection taken at the harbour festival.</p>
  <p>Each lamp now carries an LED light in an original-style lantern, and a plaque names the boat that the family of each donor once worked on.</p>
  <p>The lights will stay on from dusk until midnight every day of the year.</p>
</article>
<script>document.body.dataset.ready = "yes";</script>
</body>
</html>
)HTML";

const char* const kSecondArticleHtml = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Night ferry timetable changes from June | The Coastal Ledger</title>
<meta name="description" content="The overnight crossing moves half an hour earlier and adds a Sunday sailing.">
<meta name="author" content="Peeter Rand">
<meta property="og:title" content="Night ferry timetable changes from June">
<meta property="og:site_name" content="The Coastal Ledger">
</head>
<body>
<main>
  <h1>Night ferry timetable changes from June</h1>
  <div class="author-name">Peeter Rand</div>
  <p class="summary">The overnight crossing moves half an hour earlier and adds a Sunday sailing for the summer season.</p>
  <p>The operator said the earlier departure lets the ship reach the islands before the morning fog that often closes the channel.</p>
  <p>Tickets bought for the old times remain valid on the new sailings.</p>
</main>
</body>
</html>
)HTML";

const char* const kAwkwardTitleHtml = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Awkward title</title>
<meta property="og:title" content="Quotes, tabs and breaks">
<script>document.title = "Tab\there, \"double\" and 'single' quotes, back\\slash\nand a line break";</script>
</head>
<body>
<h1>Quotes, "tabs" and 'breaks'</h1>
<p class="byline">By O'Neill "Ned" Backslash\Smith</p>
<p>A page whose title carries the characters that travel badly.</p>
</body>
</html>
)HTML";

const char* const kThrowingPageHtml = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>A page that refuses to be serialised</title>
<script>JSON.stringify = function () { throw new Error("stringify refused on this page"); };</script>
</head>
<body>
<h1>A page that refuses to be serialised</h1>
<p>Its script replaces JSON.stringify with a function that throws.</p>
</body>
</html>
)HTML";

const char* const kHostileOutput = R"JS({"title":"owned"}]),(window.__hostile='ran'),([)JS";

const char* const kHostileStringifyHtml = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>A page that answers with script</title>
<script>JSON.stringify = function () { return "{\"title\":\"owned\"}]),(window.__hostile='ran'),(["; };</script>
</head>
<body>
<h1>A page that answers with script</h1>
<p>Its JSON.stringify returns text that is not JSON.</p>
</body>
</html>
)HTML";

void writeFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

const char* ArticleFixtures::hostileStringifyOutput() { return kHostileOutput; }

ArticleFixtures::ArticleFixtures() : root_(makeTempDir("vesko-articles-")) {
    try {
        write(kArticle, kArticleHtml);
        write(kSecondArticle, kSecondArticleHtml);
        write(kAwkwardTitle, kAwkwardTitleHtml);
        write(kThrowingPage, kThrowingPageHtml);
        write(kHostileStringify, kHostileStringifyHtml);
        write(kLargeArticle, largeArticleHtml());
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        throw;
    }
}

ArticleFixtures::~ArticleFixtures() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

void ArticleFixtures::write(const std::string& path, const std::string& html) const {
    writeFile(root_ / fs::path(path).relative_path(), html);
}

std::string ArticleFixtures::largeArticleHtml(std::size_t bytes) {
    static const char* const words[] = {
        "harbour", "council", "winter",  "ferry",    "island", "volunteers", "restoration", "lantern",
        "morning", "channel", "fishing", "festival", "quay",   "families",   "timetable",   "weather",
        "budget",  "museum",  "crossing", "season",  "storm",  "records",    "lighthouse",  "village"};
    constexpr std::size_t wordCount = sizeof words / sizeof words[0];
    std::string html = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>The long read: a year on the island ferries | The Coastal Ledger</title>
<meta name="description" content="Twelve months, four ships and the people who keep the islands connected.">
<meta name="author" content="Liis Tamm">
<meta property="og:title" content="The long read: a year on the island ferries">
<meta property="og:site_name" content="The Coastal Ledger">
<style>p { line-height: 1.5; }</style>
</head>
<body>
<article>
<h1>The long read: a year on the island ferries</h1>
<p class="byline">By Liis Tamm</p>
<p class="standfirst">Twelve months, four ships and the people who keep the islands connected through every season.</p>
)HTML";
    const std::string tail = "</article>\n</body>\n</html>\n";
    unsigned seed = 12345;
    int paragraph = 0;
    while (html.size() + tail.size() < bytes) {
        if (++paragraph % 12 == 0) html += "<h2>Part " + std::to_string(paragraph / 12) + "</h2>\n";
        html += "<p>";
        int sentences = 3 + static_cast<int>(seed % 4);
        for (int s = 0; s < sentences; ++s) {
            int length = 8 + static_cast<int>((seed >> 3) % 10);
            for (int w = 0; w < length; ++w) {
                seed = seed * 1103515245u + 12345u;
                std::string word = words[(seed >> 8) % wordCount];
                if (w == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
                html += word;
                html += (w + 1 == length) ? ". " : " ";
            }
        }
        html += "</p>\n";
    }
    html += tail;
    return html;
}

}  // namespace vesko::testing
