#pragma once
// A web view for tests: records what the controller asks of it and lets the
// test play the page (post messages, finish navigations).

#include "platform/WebView.hpp"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vesko::testing {

class RecordingWebView final : public platform::WebView, public platform::UserContentController {
public:
    struct Load {
        std::filesystem::path file;
        std::filesystem::path readAccess;
    };

    std::vector<Load> loads;
    std::vector<std::string> scripts;  // every evaluated script, in order
    std::map<std::string, platform::ScriptMessageHandler*> handlers;
    bool backForwardGestures = false;
    bool inspectable = false;

    platform::UserContentController& userContentController() override { return *this; }
    void addScriptMessageHandler(platform::ScriptMessageHandler* handler, const std::string& name) override {
        handlers[name] = handler;
    }
    void setAllowsBackForwardNavigationGestures(bool allow) override { backForwardGestures = allow; }
    void setInspectable(bool value) override { inspectable = value; }
    void loadFileURL(const std::filesystem::path& file, const std::filesystem::path& readAccess) override {
        loads.push_back({file, readAccess});
    }
    void evaluateJavaScript(const std::string& script) override { scripts.push_back(script); }

    // Plays the page: posts `body` to the handler named `name`.
    void post(const nlohmann::json& body, const std::string& name = "vesko");
    // Reports the current navigation as finished to the navigation delegate.
    void finishNavigation();
};

// Runs the main queue until `done` holds; fails the test after `timeout`.
bool runMainUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Runs the main queue until nothing is waiting on it.
void drainMainQueue();

}  // namespace vesko::testing
