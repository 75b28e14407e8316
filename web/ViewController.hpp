#pragma once
// The window's content controller: host of the one web view, receiver of the
// page's bridge requests and owner of every operation they lead to.
//
// The operations are grouped by the folder that implements them:
//   web/ViewController.cpp       view set-up, page switching, page actions, panels
//   web/Dispatcher.cpp           userContentController: decoding and routing of requests
//   web/WindowActions.cpp        the completion notice (attention request and dock badge)
//   safari/SafariOperations.cpp  running extraction programs and the tab operations
//   net/ProxyOperation.cpp       the allow-listed proxy
//   files/FileOperations.cpp     saving files and fixtures
// The operations that answer a request are virtual so tests can record the
// routing without running them.

#include "platform/WebView.hpp"
#include "web/BridgeRequest.hpp"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace vesko {

class ViewController : public std::enable_shared_from_this<ViewController>,
                       public platform::NavigationDelegate,
                       public platform::UIDelegate,
                       public platform::ScriptMessageHandler {
public:
    // `resourceFolder` holds pages/ and is the folder every page may read.
    explicit ViewController(std::filesystem::path resourceFolder);
    ~ViewController() override;

    // The one web view; connected before viewDidLoad and kept for the controller's life.
    std::shared_ptr<platform::WebView> webView;
    // The page action to push when the next navigation finishes.
    std::optional<std::string> pendingAction;

    const std::filesystem::path& resourceFolder() const { return resourceFolder_; }

    // Makes the controller the web view's delegates and "vesko" handler, and loads pages/main.html.
    void viewDidLoad();

    // Loads pages/`page` afresh and makes `action` (or nothing) the pending page action.
    void navigateToPage(const std::string& page, const std::optional<std::string>& action);

    // Menu and hot-key commands.
    void fetchCurrentTab();
    void openBatch();
    void openVavadavu();
    void openSettings();
    void openSetup();
    void goHome();

    // Navigation delegate: pushes the pending page action, at most once.
    void webViewDidFinishNavigation(platform::WebView& webView) override;

    // UI delegate: new windows open in the default browser; alert and confirm panels.
    platform::WebView* webViewCreateWebView(platform::WebView& webView,
                                            const platform::NavigationAction& action) override;
    void webViewRunJavaScriptAlertPanel(platform::WebView& webView, const std::string& message,
                                        std::function<void()> completionHandler) override;
    void webViewRunJavaScriptConfirmPanel(platform::WebView& webView, const std::string& message,
                                          std::function<void(bool)> completionHandler) override;

    // Script-message handler "vesko": decodes the request and queues its work.
    void userContentController(platform::UserContentController& controller,
                               const platform::ScriptMessage& message) override;

    // ---- Operations behind the bridge actions ----

    // Runs an AppleScript program whose output is JSON and answers `callbackId`.
    // Background work item.
    virtual void runAppleScriptAndCallback(const std::string& script, const std::string& callbackId);
    // Answers `callbackId` with the front window's tabs. Background work item.
    virtual void getSafariTabUrls(const std::string& callbackId);
    // Answers `callbackId` with the extraction of every tab of the front window. Background.
    virtual void extractAllSafariTabs(const std::string& callbackId);
    // Makes the request for the page if its host is allowed; answers `callbackId`. Background.
    virtual void proxyFetch(const std::string& url, const std::string& method,
                            const bridge::TextMap& headers, const std::optional<std::string>& body,
                            const std::string& callbackId);
    // Writes decoded Base64 into the Downloads folder; answers `callbackId`. Background.
    virtual void saveFile(const std::string& base64, const std::string& filename,
                          const std::string& callbackId);
    // Writes a fixture into the fixtures folder; answers `callbackId`. Background.
    virtual void saveFixture(const std::string& json, const std::string& filename,
                             const std::string& callbackId);
    // The completion notice: attention request and a dock badge for five seconds. Main thread.
    virtual void notifyComplete(const std::string& badge);

    // ---- Reply channel ----

    // Queues `script` (a reply built with vesko::reply) for evaluation in the web view on
    // the main queue. Every request routed with a callback id gets exactly one. Any thread.
    void deliverReply(std::string script);

    // Requests routed with a reply owed that have not had it yet. Main thread.
    int requestsInFlight() const { return requestsInFlight_; }

private:
    void route(bridge::Request request);

    // A strong reference for work on other threads. However many copies it
    // makes and wherever the last of them goes, the controller itself is
    // released on the main queue: it owns the web view, whose toolkit
    // objects belong to the main thread.
    std::shared_ptr<ViewController> retainForWork();

    std::filesystem::path resourceFolder_;
    int requestsInFlight_ = 0;
};

}  // namespace vesko
