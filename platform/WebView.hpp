#pragma once
// The web view as the application sees it: evaluate a script, load a file with
// read access to a folder, report finished navigations and new-window and
// panel requests to its delegates, and hand posted script messages to the
// handlers registered by name.
//
// Delegates and handlers are not owned: whoever registers them outlives the
// web view's use of them (the view controller owns its web view).

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class WebView;

// True for the addresses that may leave the window for the desktop's default
// handler: http:, https: and mailto: (scheme letters in any case). Every
// other address (file:, data:, javascript:, other handlers' schemes) is
// refused, whoever asks.
inline bool opensInDefaultHandler(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos) return false;
    std::string scheme(url.substr(0, colon));
    for (char& c : scheme) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return scheme == "http" || scheme == "https" || scheme == "mailto";
}

// A message a page posted with window.webkit.messageHandlers.NAME.postMessage(obj).
struct ScriptMessage {
    std::string name;            // the handler name
    nlohmann::json body;         // the posted value, converted as JSON
    std::string frameOrigin;     // origin of the posting frame
    bool isMainFrame = true;
};

// What a page asked for when it requested a new window.
struct NavigationAction {
    std::optional<std::string> requestURL;  // absent when the request has no URL
};

class NavigationDelegate {
public:
    virtual ~NavigationDelegate() = default;
    // A navigation of `webView` finished loading.
    virtual void webViewDidFinishNavigation(WebView& webView) = 0;
};

class UIDelegate {
public:
    virtual ~UIDelegate() = default;
    // The page asked for a new window. Return the new web view, or nullptr for none.
    virtual WebView* webViewCreateWebView(WebView& webView, const NavigationAction& action) = 0;
    // JavaScript alert(); call `completionHandler` when the panel is dismissed.
    virtual void webViewRunJavaScriptAlertPanel(WebView& webView, const std::string& message,
                                                std::function<void()> completionHandler) = 0;
    // JavaScript confirm(); call `completionHandler` with the answer.
    virtual void webViewRunJavaScriptConfirmPanel(WebView& webView, const std::string& message,
                                                  std::function<void(bool)> completionHandler) = 0;
};

class UserContentController;

class ScriptMessageHandler {
public:
    virtual ~ScriptMessageHandler() = default;
    virtual void userContentController(UserContentController& controller,
                                       const ScriptMessage& message) = 0;
};

class UserContentController {
public:
    virtual ~UserContentController() = default;
    virtual void addScriptMessageHandler(ScriptMessageHandler* handler, const std::string& name) = 0;
};

class WebView {
public:
    virtual ~WebView() = default;

    void setNavigationDelegate(NavigationDelegate* delegate) { navigationDelegate_ = delegate; }
    NavigationDelegate* navigationDelegate() const { return navigationDelegate_; }
    void setUIDelegate(UIDelegate* delegate) { uiDelegate_ = delegate; }
    UIDelegate* uiDelegate() const { return uiDelegate_; }

    // The configuration's user content controller.
    virtual UserContentController& userContentController() = 0;

    virtual void setAllowsBackForwardNavigationGestures(bool allow) = 0;
    // Makes the page inspectable where the platform offers an inspector; no-op elsewhere.
    virtual void setInspectable(bool inspectable) = 0;

    // Loads the local file `fileURL` (an absolute path) and lets the page read
    // everything under `readAccessFolder` and nothing else of the disk. A file
    // outside that folder is not loaded.
    virtual void loadFileURL(const std::filesystem::path& fileURL,
                             const std::filesystem::path& readAccessFolder) = 0;

    // Evaluates `script` in the loaded page; its result and any error are ignored.
    virtual void evaluateJavaScript(const std::string& script) = 0;

private:
    NavigationDelegate* navigationDelegate_ = nullptr;
    UIDelegate* uiDelegate_ = nullptr;
};

}  // namespace platform
