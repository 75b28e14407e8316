#pragma once
// A web view replaced by a pipe: every script evaluated in it is written to
// an output stream, one line each, as a JSON string; a load shows nothing and
// finishes at once (on the main queue); messages are posted to it by name.

#include "platform/WebView.hpp"

#include <map>
#include <memory>
#include <ostream>

namespace platform {

class StdioWebView final : public WebView,
                           public UserContentController,
                           public std::enable_shared_from_this<StdioWebView> {
public:
    explicit StdioWebView(std::ostream& out) : out_(out) {}

    UserContentController& userContentController() override { return *this; }
    void addScriptMessageHandler(ScriptMessageHandler* handler, const std::string& name) override;

    void setAllowsBackForwardNavigationGestures(bool) override {}
    void setInspectable(bool) override {}
    void loadFileURL(const std::filesystem::path& fileURL,
                     const std::filesystem::path& readAccessFolder) override;
    void evaluateJavaScript(const std::string& script) override;

    // Hands `body` to the handler registered as `name`, as a page's postMessage would.
    void post(const std::string& name, const nlohmann::json& body);

private:
    std::ostream& out_;
    std::map<std::string, ScriptMessageHandler*> handlers_;
};

}  // namespace platform
