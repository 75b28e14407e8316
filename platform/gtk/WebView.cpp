// The web view on WebKitGTK 4.1.
//
// It only ever shows the application's own pages, served from the read-access
// folder through the page scheme (see PageScheme.hpp); pages have no access to
// file:// addresses. A main-frame navigation anywhere else is refused, and
// web and mail addresses go to the desktop's default handler instead. Script
// messages are taken only while one of the allowed pages is shown.
#include "platform/Workspace.hpp"
#include "platform/gtk/Desktop.hpp"
#include "platform/gtk/PageScheme.hpp"

#include <webkit2/webkit2.h>

#include <map>
#include <vector>

namespace platform::gtk {
namespace {

namespace fs = std::filesystem;

GQuark ownerQuark() {
    static const GQuark quark = g_quark_from_static_string("vesko-web-view");
    return quark;
}

class GtkDesktopWebView final : public DesktopWebView, public UserContentController {
public:
    GtkDesktopWebView() {
        installPageScheme([](WebKitWebView* view) -> std::optional<fs::path> {
            auto* owner = static_cast<GtkDesktopWebView*>(g_object_get_qdata(G_OBJECT(view), ownerQuark()));
            if (!owner || owner->readAccessFolder_.empty()) return std::nullopt;
            return owner->readAccessFolder_;
        });
        // Before the first page of the process loads.
        carryStoredDataFromFileOrigin();
        manager_ = webkit_user_content_manager_new();
        WebKitSettings* settings = webkit_settings_new();
        g_object_set(settings, "allow-file-access-from-file-urls", FALSE, "allow-universal-access-from-file-urls",
                     FALSE, "javascript-can-open-windows-automatically", FALSE, "enable-developer-extras", FALSE,
                     nullptr);
        view_ = WEBKIT_WEB_VIEW(
            g_object_new(WEBKIT_TYPE_WEB_VIEW, "user-content-manager", manager_, "settings", settings, nullptr));
        g_object_unref(settings);
        g_object_ref_sink(view_);
        g_object_set_qdata(G_OBJECT(view_), ownerQuark(), this);

        viewHandlers_ = {
            g_signal_connect(view_, "load-changed", G_CALLBACK(&GtkDesktopWebView::loadChanged), this),
            g_signal_connect(view_, "load-failed", G_CALLBACK(&GtkDesktopWebView::loadFailed), this),
            g_signal_connect(view_, "decide-policy", G_CALLBACK(&GtkDesktopWebView::decidePolicy), this),
            g_signal_connect(view_, "create", G_CALLBACK(&GtkDesktopWebView::createWebView), this),
            g_signal_connect(view_, "script-dialog", G_CALLBACK(&GtkDesktopWebView::scriptDialog), this),
        };
    }

    ~GtkDesktopWebView() override {
        if (flushSource_) {
            g_source_destroy(flushSource_);
            g_source_unref(flushSource_);
        }
        g_object_set_qdata(G_OBJECT(view_), ownerQuark(), nullptr);
        // The widget may outlive this object (a container still holds it), and
        // its pages may go on posting: nothing of ours stays connected.
        for (gulong id : viewHandlers_) g_signal_handler_disconnect(view_, id);
        for (const auto& [name, id] : channels_) {
            g_signal_handler_disconnect(manager_, id);
            webkit_user_content_manager_unregister_script_message_handler(manager_, name.c_str());
        }
        g_object_unref(view_);
        g_object_unref(manager_);
    }

    // ---- platform::WebView ----

    UserContentController& userContentController() override { return *this; }

    void setAllowsBackForwardNavigationGestures(bool allow) override {
        g_object_set(webkit_web_view_get_settings(view_), "enable-back-forward-navigation-gestures", allow, nullptr);
    }

    void setInspectable(bool inspectable) override {
        g_object_set(webkit_web_view_get_settings(view_), "enable-developer-extras", inspectable, nullptr);
    }

    void loadFileURL(const fs::path& fileURL, const fs::path& readAccessFolder) override {
        // A file outside the folder is never loaded: like a missing page, it
        // reports no finished navigation.
        const std::string uri = pageURI(fileURL, readAccessFolder);
        if (uri.empty()) return;
        readAccessFolder_ = readAccessFolder.lexically_normal();
        // Scripts evaluated before the load reach the page they were meant for.
        flushScripts();
        // Until this load starts, a finish reported is the previous load's.
        awaitingStart_ = true;
        webkit_web_view_load_uri(view_, uri.c_str());
    }

    // Scripts evaluated in one turn of the main loop (replies due together)
    // go to the page in one evaluation at the end of the turn: each its own
    // statement, in order, and one that throws does not stop the others.
    void evaluateJavaScript(const std::string& script) override {
        pendingScripts_.push_back(script);
        if (flushSource_) return;
        flushSource_ = g_idle_source_new();
        g_source_set_priority(flushSource_, G_PRIORITY_HIGH_IDLE + 10);
        g_source_set_callback(
            flushSource_,
            +[](gpointer data) -> gboolean {
                static_cast<GtkDesktopWebView*>(data)->flushScripts();
                return G_SOURCE_REMOVE;
            },
            this, nullptr);
        g_source_attach(flushSource_, nullptr);
    }

    // ---- UserContentController ----

    void addScriptMessageHandler(ScriptMessageHandler* handler, const std::string& name) override {
        if (channels_.count(name)) return;
        handlers_[name] = handler;
        connectChannel(name);
    }

    // ---- DesktopWebView ----

    GtkWidget* widget() const override { return GTK_WIDGET(view_); }
    void setAllowedNavigationFolder(const fs::path& folder) override { allowedFolder_ = folder.lexically_normal(); }
    std::string currentURI() const override {
        const char* uri = webkit_web_view_get_uri(view_);
        return uri ? uri : "";
    }
    void addObserverMessageHandler(const std::string& name,
                                   std::function<void(const nlohmann::json&)> handler) override {
        if (channels_.count(name)) return;
        observers_[name] = std::move(handler);
        connectChannel(name);
    }

    // ---- Responder: the editing actions ----

    bool respondsToSelector(const Selector& selector) const override { return editingCommand(selector) != nullptr; }
    void performSelector(const Selector& selector) override {
        if (const char* command = editingCommand(selector)) webkit_web_view_execute_editing_command(view_, command);
    }

private:
    struct Channel {
        GtkDesktopWebView* self;
        std::string name;
    };

    static const char* editingCommand(const Selector& selector) {
        static const std::map<Selector, const char*> commands = {
            {"undo:", WEBKIT_EDITING_COMMAND_UNDO}, {"redo:", WEBKIT_EDITING_COMMAND_REDO},
            {"cut:", WEBKIT_EDITING_COMMAND_CUT},   {"copy:", WEBKIT_EDITING_COMMAND_COPY},
            {"paste:", WEBKIT_EDITING_COMMAND_PASTE}, {"selectAll:", WEBKIT_EDITING_COMMAND_SELECT_ALL},
        };
        auto found = commands.find(selector);
        return found == commands.end() ? nullptr : found->second;
    }

    fs::path allowedFolder() const { return allowedFolder_.empty() ? readAccessFolder_ : allowedFolder_; }

    void flushScripts() {
        if (flushSource_) {
            g_source_destroy(flushSource_);
            g_source_unref(flushSource_);
            flushSource_ = nullptr;
        }
        if (pendingScripts_.empty()) return;
        std::string batch;
        if (pendingScripts_.size() == 1) {
            batch = std::move(pendingScripts_.front());
        } else {
            std::size_t size = 0;
            for (const auto& script : pendingScripts_) size += script.size() + 20;
            batch.reserve(size);
            // The line breaks keep a closing brace out of a script's last line comment.
            for (const auto& script : pendingScripts_) batch.append("try{").append(script).append("\n}catch(e){}\n");
        }
        pendingScripts_.clear();
        webkit_web_view_evaluate_javascript(view_, batch.data(), static_cast<gssize>(batch.size()), nullptr, nullptr,
                                            nullptr, nullptr, nullptr);
    }

    // True when `uri` is a page of the allowed folder.
    bool isAllowedPage(const char* uri) const {
        auto path = pagePath(uri, readAccessFolder_);
        return path && isInsideFolder(*path, allowedFolder());
    }

    bool showsOwnPage() const { return isAllowedPage(webkit_web_view_get_uri(view_)); }

    void connectChannel(const std::string& name) {
        auto* channel = new Channel{this, name};
        const std::string signal = "script-message-received::" + name;
        channels_[name] = g_signal_connect_data(
            manager_, signal.c_str(), G_CALLBACK(&GtkDesktopWebView::scriptMessage), channel,
            +[](gpointer data, GClosure*) { delete static_cast<Channel*>(data); }, GConnectFlags(0));
        webkit_user_content_manager_register_script_message_handler(manager_, name.c_str());
    }

    static void scriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer data) {
        auto* channel = static_cast<Channel*>(data);
        auto* self = channel->self;
        // Messages count only while one of our own pages is shown.
        if (!self->showsOwnPage()) return;
        JSCValue* value = webkit_javascript_result_get_js_value(result);
        nlohmann::json body;  // null for undefined and for what JSON cannot carry
        if (value && !jsc_value_is_undefined(value)) {
            if (gchar* json = jsc_value_to_json(value, 0)) {
                body = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
                if (body.is_discarded()) body = nullptr;
                g_free(json);
            }
        }
        if (auto observer = self->observers_.find(channel->name); observer != self->observers_.end()) {
            observer->second(body);
            return;
        }
        auto handler = self->handlers_.find(channel->name);
        if (handler == self->handlers_.end() || !handler->second) return;
        ScriptMessage message;
        message.name = channel->name;
        message.body = std::move(body);
        message.frameOrigin = kPageOrigin;
        message.isMainFrame = true;
        handler->second->userContentController(*self, message);
    }

    static void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<GtkDesktopWebView*>(data);
        if (event == WEBKIT_LOAD_STARTED) {
            self->loadFailed_ = false;
            self->awaitingStart_ = false;
        } else if (event == WEBKIT_LOAD_FINISHED) {
            // A failed load reports no finished navigation, and neither does
            // one that a newer load has already replaced.
            if (self->loadFailed_ || self->awaitingStart_) return;
            if (auto* delegate = self->navigationDelegate()) delegate->webViewDidFinishNavigation(*self);
        }
    }

    static gboolean loadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer data) {
        static_cast<GtkDesktopWebView*>(data)->loadFailed_ = true;
        // No error page: the window keeps showing what it showed.
        return TRUE;
    }

    static gboolean decidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer data) {
        auto* self = static_cast<GtkDesktopWebView*>(data);
        if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        WebKitURIRequest* request = webkit_navigation_action_get_request(action);
        const char* uri = request ? webkit_uri_request_get_uri(request) : nullptr;
        if (!uri) {
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        // Our pages, and the empty documents of new frames and srcdoc frames.
        if (self->isAllowedPage(uri) || g_str_equal(uri, "about:blank") || g_str_equal(uri, "about:srcdoc")) {
            webkit_policy_decision_use(decision);
            return TRUE;
        }
        // Anything else is not ours to show: web and mail addresses go to the
        // default handler, every other address nowhere.
        webkit_policy_decision_ignore(decision);
        if (opensInDefaultHandler(uri)) Workspace::shared().openURL(uri);
        return TRUE;
    }

    static GtkWidget* createWebView(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
        auto* self = static_cast<GtkDesktopWebView*>(data);
        NavigationAction request;
        WebKitURIRequest* uriRequest = action ? webkit_navigation_action_get_request(action) : nullptr;
        const char* uri = uriRequest ? webkit_uri_request_get_uri(uriRequest) : nullptr;
        if (uri && *uri && !g_str_equal(uri, "about:blank")) request.requestURL = std::string(uri);
        if (auto* delegate = self->uiDelegate()) delegate->webViewCreateWebView(*self, request);
        // No second web view is ever made.
        return nullptr;
    }

    static gboolean scriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) {
        auto* self = static_cast<GtkDesktopWebView*>(data);
        auto* delegate = self->uiDelegate();
        if (!delegate) return FALSE;
        const std::string message = webkit_script_dialog_get_message(dialog);
        switch (webkit_script_dialog_get_dialog_type(dialog)) {
        case WEBKIT_SCRIPT_DIALOG_ALERT:
            delegate->webViewRunJavaScriptAlertPanel(*self, message, [] {});
            return TRUE;
        case WEBKIT_SCRIPT_DIALOG_CONFIRM: {
            bool answer = false;
            delegate->webViewRunJavaScriptConfirmPanel(*self, message, [&answer](bool ok) { answer = ok; });
            webkit_script_dialog_confirm_set_confirmed(dialog, answer);
            return TRUE;
        }
        default:
            return FALSE;  // prompts and leave-page questions keep WebKit's own panels
        }
    }

    WebKitUserContentManager* manager_ = nullptr;
    WebKitWebView* view_ = nullptr;
    std::map<std::string, ScriptMessageHandler*> handlers_;
    std::map<std::string, std::function<void(const nlohmann::json&)>> observers_;
    std::vector<gulong> viewHandlers_;
    std::map<std::string, gulong> channels_;  // handler name -> its signal handler on the manager
    std::vector<std::string> pendingScripts_;  // evaluated this turn, not yet sent
    GSource* flushSource_ = nullptr;
    fs::path readAccessFolder_;
    fs::path allowedFolder_;
    bool loadFailed_ = false;
    bool awaitingStart_ = false;
};

}  // namespace

std::shared_ptr<DesktopWebView> makeWebView() { return std::make_shared<GtkDesktopWebView>(); }

}  // namespace platform::gtk
