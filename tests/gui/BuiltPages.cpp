#include "tests/gui/BuiltPages.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vesko::gui {

namespace fs = std::filesystem;
using nlohmann::json;

Desktop& window() { return desktopWithPages(VESKO_BUILT_RESOURCES); }

json evaluate(const std::string& expression, std::chrono::milliseconds timeout) {
    static int counter = 0;
    const int id = ++counter;
    auto& d = window();
    const std::string post = "window.webkit.messageHandlers.probe.postMessage";
    d.ui.webView->evaluateJavaScript("Promise.resolve().then(() => (" + expression + ")).then(v => " + post +
                                     "({event: 'value', id: " + std::to_string(id) +
                                     ", value: v === undefined ? null : v}), e => " + post +
                                     "({event: 'value', id: " + std::to_string(id) + ", error: String(e)}))");
    json answer;
    waitUntil([&] {
        for (const auto& e : d.probe.of("value"))
            if (e.value("id", 0) == id) {
                answer = e.contains("error") ? json("error: " + e["error"].get<std::string>()) : e["value"];
                return true;
            }
        return false;
    }, timeout);
    return answer;
}

bool waitFor(const std::string& condition, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return evaluate(condition) == true; }, timeout);
}

bool show(const std::string& page) {
    evaluate("document.documentElement.dataset.left = 'true'");
    window().ui.controller->navigateToPage(page, std::nullopt);
    return waitFor("!document.documentElement.dataset.left && location.pathname.endsWith('/" + page +
                   "') && document.documentElement.dataset.ready === 'true'");
}

void click(const std::string& selector) {
    window().ui.webView->evaluateJavaScript("document.querySelector(" + json(selector).dump() + ").click()");
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Browsing::Browsing(const std::vector<std::string>& paths) {
    for (const char* page : {kSample, kSecond, kThird})
        fixtures.write(page, readFile(fs::path(VESKO_SAMPLES) / fs::path(page).relative_path()));
    fixtures.write(kHostile, readFile(fs::path(VESKO_TEST_ARTICLES) / "hostile.html"));
    server = std::make_unique<testing::FixtureServer>(fixtures.root());
    std::vector<std::string> urls;
    for (const auto& p : paths) urls.push_back(server->url(p));
    chromium = std::make_unique<testing::HeadlessChromium>(urls);
    setenv("VESKO_DEVTOOLS_ENDPOINT", chromium->endpoint().c_str(), 1);
    setenv("VESKO_OSASCRIPT", (fs::path(VESKO_EXECUTABLE).parent_path() / "vesko-osascript").c_str(), 1);
}

}  // namespace vesko::gui
