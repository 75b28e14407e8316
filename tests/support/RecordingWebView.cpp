#include "tests/support/RecordingWebView.hpp"

#include "platform/Dispatch.hpp"

namespace vesko::testing {

void RecordingWebView::post(const nlohmann::json& body, const std::string& name) {
    auto it = handlers.find(name);
    if (it == handlers.end()) return;
    platform::ScriptMessage message{name, body, "file://", true};
    it->second->userContentController(*this, message);
}

void RecordingWebView::finishNavigation() {
    if (navigationDelegate()) navigationDelegate()->webViewDidFinishNavigation(*this);
}

bool runMainUntil(const std::function<bool()>& done, int timeoutMs) {
    return platform::dispatch::runMainUntil(done, std::chrono::milliseconds(timeoutMs));
}

void drainMainQueue() {
    platform::dispatch::runMainUntil([] { return platform::dispatch::mainQueueIdle(); },
                                     std::chrono::milliseconds(5000));
}

}  // namespace vesko::testing
