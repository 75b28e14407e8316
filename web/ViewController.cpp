#include "web/ViewController.hpp"

#include "platform/Alert.hpp"
#include "platform/Workspace.hpp"
#include "web/Reply.hpp"

namespace vesko {

ViewController::ViewController(std::filesystem::path resourceFolder)
    : resourceFolder_(std::move(resourceFolder)) {}

ViewController::~ViewController() = default;

void ViewController::viewDidLoad() {
    webView->setNavigationDelegate(this);
    webView->setUIDelegate(this);
    webView->userContentController().addScriptMessageHandler(this, "vesko");
    webView->setAllowsBackForwardNavigationGestures(true);
    webView->setInspectable(true);
    webView->loadFileURL(resourceFolder_ / "pages/main.html", resourceFolder_);
}

void ViewController::navigateToPage(const std::string& page, const std::optional<std::string>& action) {
    // One path component "pages/<page>": the page name is appended as given.
    const std::filesystem::path pageURL = resourceFolder_ / ("pages/" + page);
    pendingAction = action;
    webView->loadFileURL(pageURL, resourceFolder_);
}

void ViewController::fetchCurrentTab() { navigateToPage("index.html", "fetch"); }
void ViewController::openBatch() { navigateToPage("batch.html", std::nullopt); }
void ViewController::openVavadavu() { navigateToPage("export.html", std::nullopt); }
void ViewController::openSettings() { navigateToPage("settings.html", std::nullopt); }
void ViewController::openSetup() { navigateToPage("setup.html", std::nullopt); }
void ViewController::goHome() { navigateToPage("main.html", std::nullopt); }

void ViewController::webViewDidFinishNavigation(platform::WebView& finished) {
    if (!pendingAction) return;
    const std::string action = std::move(*pendingAction);
    pendingAction.reset();  // cleared before the push: delivered at most once
    finished.evaluateJavaScript(reply::pushAction(action));
}

platform::WebView* ViewController::webViewCreateWebView(platform::WebView&,
                                                        const platform::NavigationAction& action) {
    if (action.requestURL && platform::opensInDefaultHandler(*action.requestURL))
        platform::Workspace::shared().openURL(*action.requestURL);
    return nullptr;
}

void ViewController::webViewRunJavaScriptAlertPanel(platform::WebView&, const std::string& message,
                                                    std::function<void()> completionHandler) {
    platform::Alert alert;
    alert.messageText = message;
    alert.addButtonWithTitle("OK");
    alert.runModal();
    completionHandler();
}

void ViewController::webViewRunJavaScriptConfirmPanel(platform::WebView&, const std::string& message,
                                                      std::function<void(bool)> completionHandler) {
    platform::Alert alert;
    alert.messageText = message;
    alert.addButtonWithTitle("OK");
    alert.addButtonWithTitle("Cancel");
    completionHandler(alert.runModal() == platform::kAlertFirstButtonReturn);
}

}  // namespace vesko
