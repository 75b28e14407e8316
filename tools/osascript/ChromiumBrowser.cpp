#include "tools/osascript/ChromiumBrowser.hpp"

#include "tools/osascript/DevTools.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>

namespace vesko::osascript {

namespace fs = std::filesystem;

namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

fs::path home() {
    std::string h = env("HOME");
    return h.empty() ? fs::path("/") : fs::path(h);
}

std::string firstLine(const std::string& text) {
    auto end = text.find('\n');
    return end == std::string::npos ? text : text.substr(0, end);
}

// How long the pages' windows asked by one run serve the runs that follow
// (extract-all-tabs runs once per tab, so that N runs ask about N tabs once
// every few seconds rather than N times): a tab dragged to another window is
// seen in its new window from this long after the last asking on; a tab
// opened or closed makes the next run ask at once.
constexpr long long kWindowsKeptMs = 5000;

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

fs::path defaultStateFolder() {
    std::string configured = env("VESKO_OSASCRIPT_STATE_DIR");
    if (!configured.empty()) return configured;
    std::string runtime = env("XDG_RUNTIME_DIR");
    if (!runtime.empty()) return fs::path(runtime) / "vesko";
    std::string cache = env("XDG_CACHE_HOME");
    return (cache.empty() ? home() / ".cache" : fs::path(cache)) / "vesko";
}

ChromiumBrowser::ChromiumBrowser(std::unique_ptr<devtools::Client> client, ChromiumOptions options)
    : options_(std::move(options)), client_(std::move(client)) {}

ChromiumBrowser::~ChromiumBrowser() = default;

const std::vector<WindowInfo>& ChromiumBrowser::windows() {
    if (windows_) return *windows_;
    devtools::Client& c = client();
    try {
        auto targets = c.call("Target.getTargets");
        std::vector<TabInfo> pages;
        for (const auto& info : targets.value("targetInfos", nlohmann::json::array())) {
            if (info.value("type", "") != "page") continue;
            if (!info.value("subtype", "").empty()) continue;  // prerendered pages are no tabs
            std::string url = info.value("url", "");
            if (url.rfind("devtools://", 0) == 0) continue;
            pages.push_back({info.value("targetId", ""), url, info.value("title", "")});
        }

        // Each page's window ("" when it is in none): one lookup per page,
        // unless a run moments ago asked them of the same pages.
        nlohmann::json remembered = loadState();
        std::vector<std::string> windowOf = recentWindows(remembered, pages);
        const bool asked = windowOf.size() != pages.size();
        if (asked) {
            std::vector<devtools::Command> lookups;
            for (const auto& page : pages)
                lookups.push_back({"Browser.getWindowForTarget", {{"targetId", page.id}}, ""});
            std::vector<nlohmann::json> answers;
            if (!lookups.empty()) answers = c.callAll(lookups);
            windowOf.clear();
            for (const auto& answer : answers)
                windowOf.push_back(answer.contains("error") || !answer.contains("windowId") ? std::string()
                                                                                           : answer["windowId"].dump());
        }

        std::vector<std::string> windowIds;                    // first appearance
        std::map<std::string, std::vector<std::size_t>> members;  // window id -> pages
        std::vector<std::string> pageIds;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            const std::string& windowId = windowOf[i];
            if (windowId.empty()) continue;  // not in a window
            if (!members.count(windowId)) windowIds.push_back(windowId);
            members[windowId].push_back(i);
            pageIds.push_back(pages[i].id);
        }

        std::vector<std::string> known;
        if (auto tabs = remembered.find("tabs"); tabs != remembered.end() && tabs->is_array())
            for (const auto& id : *tabs)
                if (id.is_string()) known.push_back(id.get<std::string>());
        bool allKnown = std::all_of(pageIds.begin(), pageIds.end(), [&](const std::string& id) {
            return std::find(known.begin(), known.end(), id) != known.end();
        });
        if (windowIds.size() > 1 || !allKnown) activity();

        // Tab order: the known order, then new tabs least recently activated first.
        std::vector<std::string> order;
        for (const auto& id : known)
            if (std::find(pageIds.begin(), pageIds.end(), id) != pageIds.end()) order.push_back(id);
        std::vector<std::string> fresh;
        for (const auto& id : pageIds)
            if (std::find(order.begin(), order.end(), id) == order.end()) fresh.push_back(id);
        std::stable_sort(fresh.begin(), fresh.end(),
                         [&](const std::string& a, const std::string& b) { return activityRank(a) > activityRank(b); });
        order.insert(order.end(), fresh.begin(), fresh.end());
        if (asked || order != known) {
            nlohmann::json windowsOfPages = nlohmann::json::object();
            for (std::size_t i = 0; i < pages.size(); ++i) windowsOfPages[pages[i].id] = windowOf[i];
            // When the windows were asked: what they are good for runs out from there.
            const auto askedAt = remembered.find("used");
            saveState({{"tabs", order},
                       {"windows", std::move(windowsOfPages)},
                       {"used", asked || askedAt == remembered.end() ? nlohmann::json(nowMs()) : *askedAt}});
        }

        // Window order: front (most recently activated tab) first.
        if (windowIds.size() > 1) {
            auto windowRank = [&](const std::string& windowId) {
                std::size_t best = SIZE_MAX;
                for (std::size_t i : members[windowId]) best = std::min(best, activityRank(pages[i].id));
                return best;
            };
            std::stable_sort(windowIds.begin(), windowIds.end(),
                             [&](const std::string& a, const std::string& b) { return windowRank(a) < windowRank(b); });
        }

        auto rank = [&](const std::string& id) { return std::find(order.begin(), order.end(), id) - order.begin(); };
        std::vector<WindowInfo> result;
        for (const auto& windowId : windowIds) {
            WindowInfo window;
            window.id = windowId;
            std::vector<std::size_t> tabs = members[windowId];
            std::stable_sort(tabs.begin(), tabs.end(),
                             [&](std::size_t a, std::size_t b) { return rank(pages[a].id) < rank(pages[b].id); });
            for (std::size_t index : tabs) window.tabs.push_back(pages[index]);
            result.push_back(std::move(window));
        }
        windows_ = std::move(result);
    } catch (const devtools::UnavailableError&) {
        throw BrowserError(-600, "Application isn\u2019t running.");
    } catch (const devtools::TimeoutError&) {
        throw BrowserError(-1712, "AppleEvent timed out.");
    } catch (const devtools::ProtocolError&) {
        throw BrowserError(-609, "Connection is invalid.");
    }
    return *windows_;
}

const std::vector<std::string>& ChromiumBrowser::activity() {
    if (activity_) return *activity_;
    // Asked only when the windows' order, a current tab or a new tab's place
    // needs it: Chromium's answer grows with the tabs, and most runs of
    // extract-all-tabs need none.
    std::vector<std::string> ids;
    for (const auto& target : client().getJson("/json/list"))
        if (target.value("type", "") == "page") ids.push_back(target.value("id", ""));
    activity_ = std::move(ids);
    return *activity_;
}

std::size_t ChromiumBrowser::activityRank(const std::string& id) {
    const auto& ids = activity();
    return static_cast<std::size_t>(std::find(ids.begin(), ids.end(), id) - ids.begin());
}

std::size_t ChromiumBrowser::currentTab(std::size_t window) {
    const auto& all = windows();
    if (window >= all.size()) return 0;
    try {
        const auto& tabs = all[window].tabs;
        std::size_t best = 0;
        for (std::size_t i = 1; i < tabs.size(); ++i)
            if (activityRank(tabs[i].id) < activityRank(tabs[best].id)) best = i;
        return best;
    } catch (const devtools::UnavailableError&) {
        throw BrowserError(-600, "Application isn\u2019t running.");
    } catch (const devtools::TimeoutError&) {
        throw BrowserError(-1712, "AppleEvent timed out.");
    }
}

namespace {

constexpr std::size_t kRememberedEndpoints = 8;
constexpr const char* kStateFileName = "tab-order.json";

nlohmann::json readState(const fs::path& file) {
    std::ifstream in(file);
    if (!in) return nlohmann::json::object();
    auto state = nlohmann::json::parse(in, nullptr, false);
    if (state.is_discarded() || !state.is_object() || !state.contains("endpoints") || !state["endpoints"].is_object())
        return nlohmann::json::object();
    return state;
}

}  // namespace

fs::path ChromiumBrowser::stateFile() {
    if (options_.stateFolder.empty()) return {};
    return options_.stateFolder / kStateFileName;
}

std::string ChromiumBrowser::rememberedSocket(const fs::path& stateFolder, const std::string& endpoint) {
    if (stateFolder.empty()) return {};
    nlohmann::json state = readState(stateFolder / kStateFileName);
    if (!state.contains("endpoints")) return {};
    auto entry = state["endpoints"].find(endpoint);
    if (entry == state["endpoints"].end() || !entry->is_object()) return {};
    auto browser = entry->find("browser");
    return browser != entry->end() && browser->is_string() ? browser->get<std::string>() : std::string();
}

nlohmann::json ChromiumBrowser::loadState() {
    fs::path file = stateFile();
    if (file.empty()) return nlohmann::json::object();
    nlohmann::json state = readState(file);
    if (!state.contains("endpoints")) return nlohmann::json::object();
    auto entry = state["endpoints"].find(client().endpoint());
    std::string browserId = client().version().value("webSocketDebuggerUrl", "");
    if (entry == state["endpoints"].end() || !entry->is_object() || entry->value("browser", "") != browserId)
        return nlohmann::json::object();
    return std::move(*entry);
}

std::vector<std::string> ChromiumBrowser::recentWindows(const nlohmann::json& remembered,
                                                        const std::vector<TabInfo>& pages) {
    auto used = remembered.find("used");
    if (used == remembered.end() || !used->is_number_integer()) return {};
    const long long age = nowMs() - used->get<long long>();
    auto windows = remembered.find("windows");
    if (age < 0 || age > kWindowsKeptMs || windows == remembered.end() || !windows->is_object() ||
        windows->size() != pages.size())
        return {};
    std::vector<std::string> windowOf;
    for (const auto& page : pages) {
        auto window = windows->find(page.id);
        if (window == windows->end() || !window->is_string()) return {};  // a tab opened since
        windowOf.push_back(window->get<std::string>());
    }
    return windowOf;
}

void ChromiumBrowser::saveState(nlohmann::json entry) {
    fs::path file = stateFile();
    if (file.empty()) return;
    // One small file for every endpoint, remembering the few used last.
    nlohmann::json state = readState(file);
    nlohmann::json& endpoints = state["endpoints"];
    if (!endpoints.is_object()) endpoints = nlohmann::json::object();
    entry["browser"] = client().version().value("webSocketDebuggerUrl", "");
    endpoints[client().endpoint()] = std::move(entry);
    for (auto it = endpoints.begin(); it != endpoints.end();)
        it = it->is_object() ? std::next(it) : endpoints.erase(it);
    while (endpoints.size() > kRememberedEndpoints) {
        auto oldest = endpoints.begin();
        for (auto it = endpoints.begin(); it != endpoints.end(); ++it)
            if (it->value("used", 0LL) < oldest->value("used", 0LL)) oldest = it;
        endpoints.erase(oldest);
    }

    std::error_code ignored;
    fs::create_directories(options_.stateFolder, ignored);
    fs::path temp = file;
    temp += "." + std::to_string(getpid()) + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << state.dump();
        if (!out) {
            fs::remove(temp, ignored);
            return;
        }
    }
    // Written whole and renamed, so a concurrent run reads the old or the new order.
    fs::rename(temp, file, ignored);
    if (ignored) fs::remove(temp, ignored);
}

JavaScriptResult ChromiumBrowser::doJavaScript(const TabInfo& tab, const std::string& code) {
    devtools::Client& c = client();
    JavaScriptResult result;
    try {
        std::string session;
        try {
            auto attached = c.call("Target.attachToTarget", {{"targetId", tab.id}, {"flatten", true}});
            session = attached.value("sessionId", "");
        } catch (const devtools::ProtocolError&) {
            throw BrowserError(-1728, kTabClosedMessage);
        }
        nlohmann::json params = {{"expression", code}, {"returnByValue", true}, {"awaitPromise", false}};
        // The page's own time limit ends a script that never returns; ours covers a hung renderer.
        if (options_.timeout.count() > 0) params["timeout"] = options_.timeout.count();
        auto evaluation = c.call("Runtime.evaluate", params, session);
        if (evaluation.contains("exceptionDetails")) {
            const auto& details = evaluation["exceptionDetails"];
            std::string text;
            if (details.contains("exception") && details["exception"].contains("description"))
                text = details["exception"]["description"].get<std::string>();
            else
                text = details.value("text", "exception");
            result.threw = true;
            result.exception = firstLine(text);
            if (result.exception.find("Execution was terminated") != std::string::npos)
                throw BrowserError(-1712, "AppleEvent timed out.");
            return result;
        }
        // Moved out, not copied: the value can be a page of text.
        auto value = evaluation.find("result");
        if (value != evaluation.end() && value->contains("value") && !(*value)["value"].is_null()) {
            result.hasValue = true;
            result.value = std::move((*value)["value"]);
        }
    } catch (const devtools::TimeoutError&) {
        throw BrowserError(-1712, "AppleEvent timed out.");
    } catch (const devtools::ProtocolError& error) {
        std::string message = error.what();
        if (message.find("Execution was terminated") != std::string::npos)
            throw BrowserError(-1712, "AppleEvent timed out.");
        if (error.code == 0) throw BrowserError(-609, "Connection is invalid.");
        if (error.code == devtools::kTargetClosed) throw BrowserError(-1728, kTabClosedMessage);
        throw BrowserError(-2700, "A JavaScript error occurred: " + message);
    }
    return result;
}

}  // namespace vesko::osascript
