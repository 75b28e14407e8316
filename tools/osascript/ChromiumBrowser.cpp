#include "tools/osascript/ChromiumBrowser.hpp"

#include "tools/osascript/DevTools.hpp"

#include <unistd.h>

#include <algorithm>
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

// "http://host:port/" -> "host:port"
std::string normaliseEndpoint(std::string endpoint) {
    for (const char* scheme : {"http://", "ws://"})
        if (endpoint.rfind(scheme, 0) == 0) endpoint.erase(0, std::char_traits<char>::length(scheme));
    auto slash = endpoint.find('/');
    if (slash != std::string::npos) endpoint.erase(slash);
    return endpoint;
}

std::string readActivePort(const fs::path& profile) {
    std::ifstream in(profile / "DevToolsActivePort");
    std::string port;
    if (!in || !std::getline(in, port)) return "";
    if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos) return "";
    return "127.0.0.1:" + port;
}

std::string firstLine(const std::string& text) {
    auto end = text.find('\n');
    return end == std::string::npos ? text : text.substr(0, end);
}

}  // namespace

std::vector<std::string> discoverEndpoints() {
    std::string configured = env("VESKO_DEVTOOLS_ENDPOINT");
    if (!configured.empty()) return {normaliseEndpoint(configured)};
    std::vector<std::string> endpoints;
    fs::path h = home();
    for (const fs::path& profile : {h / ".local/share/vesko/chromium-profile", h / ".config/chromium",
                                    h / ".config/google-chrome"}) {
        std::string endpoint = readActivePort(profile);
        if (!endpoint.empty() && std::find(endpoints.begin(), endpoints.end(), endpoint) == endpoints.end())
            endpoints.push_back(endpoint);
    }
    if (std::find(endpoints.begin(), endpoints.end(), "127.0.0.1:9222") == endpoints.end())
        endpoints.push_back("127.0.0.1:9222");
    return endpoints;
}

std::chrono::milliseconds configuredTimeout() {
    std::string text = env("VESKO_OSASCRIPT_TIMEOUT_MS");
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() < 10)
        return std::chrono::milliseconds(std::stol(text));
    return std::chrono::milliseconds(60000);
}

fs::path defaultStateFolder() {
    std::string configured = env("VESKO_OSASCRIPT_STATE_DIR");
    if (!configured.empty()) return configured;
    std::string runtime = env("XDG_RUNTIME_DIR");
    if (!runtime.empty()) return fs::path(runtime) / "vesko";
    std::string cache = env("XDG_CACHE_HOME");
    return (cache.empty() ? home() / ".cache" : fs::path(cache)) / "vesko";
}

ChromiumBrowser::ChromiumBrowser(ChromiumOptions options) : options_(std::move(options)) {}

ChromiumBrowser::~ChromiumBrowser() = default;

devtools::Client& ChromiumBrowser::client() {
    if (client_) return *client_;
    for (const auto& endpoint : options_.endpoints) {
        try {
            // A little longer than the page's own limit, so that a page script that
            // runs too long is ended by the browser and reported as a time-out.
            client_ = devtools::Client::connect(endpoint, options_.timeout + std::chrono::milliseconds(2000));
            return *client_;
        } catch (const devtools::UnavailableError&) {
        } catch (const devtools::TimeoutError&) {
        }
    }
    throw BrowserError(-600, "Application isn\u2019t running.");
}

const std::vector<WindowInfo>& ChromiumBrowser::windows() {
    if (windows_) return *windows_;
    devtools::Client& c = client();

    struct Page {
        std::string id, url, title;
    };
    std::vector<Page> pages;  // most recently activated first
    std::vector<devtools::Command> lookups;
    try {
        for (const auto& target : c.getJson("/json/list")) {
            if (target.value("type", "") != "page") continue;
            std::string url = target.value("url", "");
            if (url.rfind("devtools://", 0) == 0) continue;
            pages.push_back({target.value("id", ""), url, target.value("title", "")});
            lookups.push_back({"Browser.getWindowForTarget", {{"targetId", pages.back().id}}, ""});
        }
        // /json/list escapes titles for HTML: take titles and addresses from the protocol.
        lookups.push_back({"Target.getTargets", nlohmann::json::object(), ""});
        std::vector<nlohmann::json> answers = c.callAll(lookups);
        std::map<std::string, const nlohmann::json*> infos;
        const nlohmann::json targetInfos = answers.back().value("targetInfos", nlohmann::json::array());
        for (const auto& info : targetInfos)
            if (info.contains("targetId") && info["targetId"].is_string())
                infos[info["targetId"].get<std::string>()] = &info;
        for (auto& page : pages) {
            auto it = infos.find(page.id);
            if (it == infos.end()) continue;
            page.url = it->second->value("url", page.url);
            page.title = it->second->value("title", page.title);
        }

        std::vector<std::string> byActivity;
        std::vector<std::string> windowOrder;                    // window ids, front first
        std::map<std::string, std::vector<std::size_t>> members;  // window id -> pages, by activity
        for (std::size_t i = 0; i < pages.size(); ++i) {
            const auto& answer = answers[i];
            if (answer.contains("error") || !answer.contains("windowId")) continue;  // not in a window
            std::string windowId = answer["windowId"].dump();
            if (!members.count(windowId)) windowOrder.push_back(windowId);
            members[windowId].push_back(i);
            byActivity.push_back(pages[i].id);
        }

        auto order = tabOrder(byActivity);
        auto rank = [&](const std::string& id) {
            return std::find(order.begin(), order.end(), id) - order.begin();
        };
        std::vector<WindowInfo> result;
        for (const auto& windowId : windowOrder) {
            WindowInfo window;
            window.id = windowId;
            std::vector<std::size_t> tabs = members[windowId];
            std::string current = pages[tabs.front()].id;
            std::stable_sort(tabs.begin(), tabs.end(),
                             [&](std::size_t a, std::size_t b) { return rank(pages[a].id) < rank(pages[b].id); });
            for (std::size_t index : tabs) {
                window.tabs.push_back({pages[index].id, pages[index].url, pages[index].title});
                if (pages[index].id == current) window.currentTab = window.tabs.size() - 1;
            }
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

std::vector<std::string> ChromiumBrowser::tabOrder(const std::vector<std::string>& byActivity) {
    // Known order first (tabs still open), then new tabs, least recently activated first.
    std::vector<std::string> known;
    std::string browserId = client().version().value("webSocketDebuggerUrl", "");
    fs::path file;
    if (!options_.stateFolder.empty()) {
        std::string name = client().endpoint();
        std::replace(name.begin(), name.end(), ':', '-');
        std::replace(name.begin(), name.end(), '/', '-');
        file = options_.stateFolder / ("tab-order-" + name + ".json");
        std::ifstream in(file);
        auto saved = nlohmann::json::parse(in, nullptr, false);
        if (!saved.is_discarded() && saved.is_object() && saved.value("browser", "") == browserId &&
            saved.contains("tabs") && saved["tabs"].is_array())
            for (const auto& id : saved["tabs"])
                if (id.is_string()) known.push_back(id.get<std::string>());
    }
    std::vector<std::string> order;
    for (const auto& id : known)
        if (std::find(byActivity.begin(), byActivity.end(), id) != byActivity.end()) order.push_back(id);
    for (auto it = byActivity.rbegin(); it != byActivity.rend(); ++it)
        if (std::find(order.begin(), order.end(), *it) == order.end()) order.push_back(*it);

    if (!file.empty() && order != known) {
        std::error_code ignored;
        fs::create_directories(options_.stateFolder, ignored);
        fs::path temp = file;
        temp += "." + std::to_string(getpid()) + ".tmp";
        {
            std::ofstream out(temp, std::ios::trunc);
            out << nlohmann::json{{"browser", browserId}, {"tabs", order}}.dump();
        }
        fs::rename(temp, file, ignored);
        if (ignored) fs::remove(temp, ignored);
    }
    return order;
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
            throw BrowserError(-1728, "Can\u2019t get the tab: it was closed.");
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
        const auto& value = evaluation.value("result", nlohmann::json::object());
        if (value.contains("value") && !value["value"].is_null()) {
            result.hasValue = true;
            result.value = value["value"];
        }
    } catch (const devtools::TimeoutError&) {
        throw BrowserError(-1712, "AppleEvent timed out.");
    } catch (const devtools::ProtocolError& error) {
        std::string message = error.what();
        if (message.find("Execution was terminated") != std::string::npos)
            throw BrowserError(-1712, "AppleEvent timed out.");
        if (error.code == 0) throw BrowserError(-609, "Connection is invalid.");
        throw BrowserError(-2700, "A JavaScript error occurred: " + message);
    }
    return result;
}

}  // namespace vesko::osascript
