#include "tools/osascript/AnyBrowser.hpp"

#include "tools/osascript/Bidi.hpp"
#include "tools/osascript/ChromiumBrowser.hpp"
#include "tools/osascript/DevTools.hpp"
#include "tools/osascript/FirefoxBrowser.hpp"
#include "tools/osascript/ScriptError.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>

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

bool isPort(const std::string& text) {
    return !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
}

// Chromium writes the port it listens on as the first line of DevToolsActivePort.
std::string chromiumActivePort(const fs::path& profile) {
    std::ifstream in(profile / "DevToolsActivePort");
    std::string port;
    if (!in || !std::getline(in, port) || !isPort(port)) return "";
    return "127.0.0.1:" + port;
}

// Firefox writes {"ws_host": …, "ws_port": …} to WebDriverBiDiServer.json while it listens.
std::string firefoxActivePort(const fs::path& profile) {
    std::ifstream in(profile / "WebDriverBiDiServer.json");
    if (!in) return "";
    auto server = nlohmann::json::parse(in, nullptr, false);
    if (!server.is_object() || !server.contains("ws_port") || !server["ws_port"].is_number_unsigned()) return "";
    std::string host = server.value("ws_host", "127.0.0.1");
    if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
    return host + ":" + std::to_string(server["ws_port"].get<unsigned>());
}

std::vector<fs::path> firefoxProfiles(const fs::path& folder) {
    std::vector<fs::path> profiles;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.is_directory(error)) profiles.push_back(entry.path());
    std::sort(profiles.begin(), profiles.end());
    return profiles;
}

}  // namespace

std::vector<Endpoint> discoverEndpoints() {
    std::string configured = env("VESKO_DEVTOOLS_ENDPOINT");
    if (!configured.empty()) return {{normaliseEndpoint(configured), BrowserKind::Unknown}};

    const fs::path h = home();
    std::vector<Endpoint> chromium, firefox;
    for (const fs::path& profile : {h / ".local/share/vesko/chromium-profile", h / ".config/chromium",
                                    h / ".config/google-chrome"})
        chromium.push_back({chromiumActivePort(profile), BrowserKind::Chromium});
    firefox.push_back({firefoxActivePort(h / ".local/share/vesko/firefox-profile"), BrowserKind::Firefox});
    for (const fs::path& profile : firefoxProfiles(h / ".mozilla/firefox"))
        firefox.push_back({firefoxActivePort(profile), BrowserKind::Firefox});

    bool firefoxFirst = env("VESKO_BROWSER").find("firefox") != std::string::npos;
    std::vector<Endpoint> ordered = firefoxFirst ? firefox : chromium;
    const auto& second = firefoxFirst ? chromium : firefox;
    ordered.insert(ordered.end(), second.begin(), second.end());
    ordered.push_back({"127.0.0.1:9222", BrowserKind::Unknown});

    std::vector<Endpoint> endpoints;
    for (const auto& endpoint : ordered) {
        bool seen = std::any_of(endpoints.begin(), endpoints.end(),
                                [&](const Endpoint& e) { return e.address == endpoint.address; });
        if (!endpoint.address.empty() && !seen) endpoints.push_back(endpoint);
    }
    return endpoints;
}

std::chrono::milliseconds configuredTimeout() {
    std::string text = env("VESKO_OSASCRIPT_TIMEOUT_MS");
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos && text.size() < 10)
        return std::chrono::milliseconds(std::stol(text));
    return std::chrono::milliseconds(60000);
}

AnyBrowser::AnyBrowser(BrowserOptions options) : options_(std::move(options)) {}

AnyBrowser::~AnyBrowser() = default;

Browser& AnyBrowser::browser() {
    if (browser_) return *browser_;
    for (const auto& endpoint : options_.endpoints) {
        browser_ = connect(endpoint);
        if (browser_) return *browser_;
    }
    throw BrowserError(errnum::kNotRunning, "Application isn\u2019t running.");
}

std::unique_ptr<Browser> AnyBrowser::connect(const Endpoint& endpoint) {
    auto firefox = [&]() -> std::unique_ptr<Browser> {
        try {
            return std::make_unique<FirefoxBrowser>(
                bidi::Client::connect(endpoint.address, options_.relayProgram, options_.timeout));
        } catch (const bidi::UnavailableError&) {
            return nullptr;
        } catch (const bidi::BusyError&) {
            throw BrowserError(-609, "Another program is controlling the browser; try again when it has finished.");
        }
    };
    if (endpoint.kind == BrowserKind::Firefox) return firefox();
    // A relay already serving the endpoint means Firefox, without asking the browser.
    if (endpoint.kind == BrowserKind::Unknown) {
        if (auto relay = bidi::Client::connectToRunningRelay(endpoint.address, options_.timeout))
            return std::make_unique<FirefoxBrowser>(std::move(relay));
    }
    try {
        // A little longer than the page's own limit, so that a page script that
        // runs too long is ended by the browser and reported as a time-out.
        auto client = devtools::Client::connect(endpoint.address, options_.timeout + std::chrono::milliseconds(2000),
                                                ChromiumBrowser::rememberedSocket(options_.stateFolder, endpoint.address));
        return std::make_unique<ChromiumBrowser>(std::move(client), ChromiumOptions{options_.timeout, options_.stateFolder});
    } catch (const devtools::UnavailableError& error) {
        // Something answered, but not as Chromium does: it may be Firefox.
        if (endpoint.kind == BrowserKind::Unknown && error.answered) return firefox();
    } catch (const devtools::TimeoutError&) {
    }
    return nullptr;
}

}  // namespace vesko::osascript
