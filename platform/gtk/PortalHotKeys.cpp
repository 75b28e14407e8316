// Hot keys on Wayland desktops, through the desktop portal's GlobalShortcuts
// interface on the session bus: a session is created, the keys are bound
// with their combinations as preferred triggers (the desktop may ask the
// user), and each Activated signal of the session is a press.
//
// Everything is asynchronous: registering a key only queues it, and the
// bind is sent from the main loop, so a portal that errs or never answers
// cannot hold up the start. Failures are reported once, in words.
#include "platform/Application.hpp"
#include "platform/Menu.hpp"
#include "platform/gtk/DesktopInternal.hpp"

#include <X11/Xlib.h>
#include <gio/gio.h>

#include <cctype>
#include <string>
#include <vector>

namespace platform::gtk {
namespace {

using namespace platform::carbon;

constexpr const char* kPortalName = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";

// The combination in the XDG shortcuts notation: "CTRL+SHIFT+f".
std::string preferredTrigger(UInt32 keyCode, UInt32 modifiers) {
    const char* name = XKeysymToString(keySymForVirtualKey(keyCode));
    if (!name) return "";
    std::string trigger;
    if (modifiers & cmdKey) trigger += "CTRL+";
    if (modifiers & optionKey) trigger += "ALT+";
    if (modifiers & shiftKey) trigger += "SHIFT+";
    if (modifiers & controlKey) trigger += "LOGO+";
    return trigger + name;
}

// What the desktop shows for a shortcut: the title of the menu item with the
// same keys ("Fetch Current Tab"), else the keys themselves.
std::string describe(UInt32 keyCode, UInt32 modifiers) {
    const char* name = XKeysymToString(keySymForVirtualKey(keyCode));
    std::string fallback = keyCombinationText(keyCode, modifiers);
    if (!name || !Application::hasShared() || !Application::shared().mainMenu()) return fallback;
    std::vector<const Menu*> menus{Application::shared().mainMenu().get()};
    while (!menus.empty()) {
        const Menu* menu = menus.back();
        menus.pop_back();
        for (const auto& item : menu->items) {
            if (item->submenu) menus.push_back(item->submenu.get());
            if (item->keyEquivalent.size() != 1) continue;
            const char key = item->keyEquivalent[0];
            const ModifierFlags flags = item->keyEquivalentModifierMask;
            UInt32 itemModifiers = 0;
            if (flags & kEventModifierFlagCommand) itemModifiers |= cmdKey;
            if ((flags & kEventModifierFlagShift) || std::isupper(static_cast<unsigned char>(key)))
                itemModifiers |= shiftKey;
            if (flags & kEventModifierFlagOption) itemModifiers |= optionKey;
            if (flags & kEventModifierFlagControl) itemModifiers |= controlKey;
            if (std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(key)))) == name &&
                itemModifiers == modifiers)
                return item->title;
        }
    }
    return fallback;
}

class PortalHotKeyBackend final : public HotKeyBackend {
public:
    PortalHotKeyBackend(std::function<void(EventHotKeyID)> deliver, std::function<void(const std::string&)> report,
                        std::chrono::milliseconds answerDeadline)
        : deliver_(std::move(deliver)), report_(std::move(report)), answerDeadline_(answerDeadline) {}

    ~PortalHotKeyBackend() override {
        if (bindSource_) g_source_remove(bindSource_);
        if (deadlineSource_) g_source_remove(deadlineSource_);
        g_cancellable_cancel(cancellable_);
        if (bus_) {
            for (guint subscription : {responseSubscription_, activatedSubscription_})
                if (subscription) g_dbus_connection_signal_unsubscribe(bus_, subscription);
            g_object_unref(bus_);
        }
        g_object_unref(cancellable_);
    }

    OSStatus grab(UInt32 keyCode, UInt32 modifiers, EventHotKeyID hotKeyID) override {
        const std::string trigger = preferredTrigger(keyCode, modifiers);
        if (trigger.empty()) return eventHotKeyInvalidErr;
        for (const auto& held : shortcuts_)
            if (held.keyCode == keyCode && held.modifiers == modifiers) return eventHotKeyExistsErr;
        shortcuts_.push_back({"hot-key-" + std::to_string(hotKeyID.id), describe(keyCode, modifiers), trigger,
                              hotKeyID, keyCode, modifiers});
        // Keys registered together are bound together, in a later turn of the loop.
        if (!bindSource_) bindSource_ = g_idle_add(&PortalHotKeyBackend::bindLater, this);
        return noErr;
    }

    void ungrab(UInt32 keyCode, UInt32 modifiers) override {
        // The desktop keeps the binding; presses of it are no longer delivered.
        std::erase_if(shortcuts_, [&](const Shortcut& s) { return s.keyCode == keyCode && s.modifiers == modifiers; });
    }

private:
    struct Shortcut {
        std::string id;
        std::string description;
        std::string trigger;
        EventHotKeyID hotKeyID;
        UInt32 keyCode;
        UInt32 modifiers;
    };

    static gboolean bindLater(gpointer data) {
        auto* self = static_cast<PortalHotKeyBackend*>(data);
        self->bindSource_ = 0;
        self->bind();
        return G_SOURCE_REMOVE;
    }

    void bind() {
        if (!bus_) {
            if (!connecting_) connect();
        } else if (!sessionHandle_.empty()) {
            bindShortcuts();
        }
    }

    void fail(const std::string& why) {
        if (deadlineSource_) g_source_remove(deadlineSource_);
        deadlineSource_ = 0;
        if (failed_) return;
        failed_ = true;
        report_("Global hot keys are not available: " + why + ".");
    }

    void connect() {
        connecting_ = true;
        deadlineSource_ = g_timeout_add(static_cast<guint>(answerDeadline_.count()), [](gpointer data) -> gboolean {
            auto* self = static_cast<PortalHotKeyBackend*>(data);
            self->deadlineSource_ = 0;
            self->fail("the desktop portal did not answer");
            return G_SOURCE_REMOVE;
        }, this);
        g_bus_get(G_BUS_TYPE_SESSION, cancellable_, [](GObject*, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            GDBusConnection* bus = g_bus_get_finish(result, &error);
            if (g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
                g_error_free(error);
                return;
            }
            auto* self = static_cast<PortalHotKeyBackend*>(data);
            if (!bus) {
                self->fail(std::string("there is no session bus (") + error->message + ")");
                g_error_free(error);
                return;
            }
            self->bus_ = bus;
            self->createSession();
        }, this);
    }

    // The path of the Request object the portal makes for a call with
    // `token`, known before the call so that no answer is missed.
    std::string requestPath(const std::string& token) const {
        std::string sender = g_dbus_connection_get_unique_name(bus_) + 1;  // without ':'
        for (char& c : sender)
            if (c == '.') c = '_';
        return std::string(kPortalPath) + "/request/" + sender + "/" + token;
    }

    // Calls `method` with `parameters` (whose options carry `token`) and
    // hands the Response of its request to `answered`.
    void callWithResponse(const char* method, GVariant* parameters, const std::string& token,
                          void (PortalHotKeyBackend::*answered)(guint32, GVariant*)) {
        if (responseSubscription_) g_dbus_connection_signal_unsubscribe(bus_, responseSubscription_);
        pendingAnswer_ = answered;
        responseSubscription_ = g_dbus_connection_signal_subscribe(
            bus_, kPortalName, kRequestInterface, "Response", requestPath(token).c_str(), nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, &PortalHotKeyBackend::response, this, nullptr);
        g_dbus_connection_call(bus_, kPortalName, kPortalPath, kShortcutsInterface, method, parameters,
                               G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, cancellable_,
                               &PortalHotKeyBackend::called, this);
    }

    static void called(GObject* source, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (reply) {
            g_variant_unref(reply);
            return;
        }
        if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            auto* self = static_cast<PortalHotKeyBackend*>(data);
            const bool absent = g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                                g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD) ||
                                g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_INTERFACE) ||
                                g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT);
            if (absent) {
                self->fail("the desktop offers no global shortcuts portal");
            } else {
                g_dbus_error_strip_remote_error(error);
                self->fail(std::string("the desktop portal refused (") + error->message + ")");
            }
        }
        g_error_free(error);
    }

    static void response(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant* parameters, gpointer data) {
        auto* self = static_cast<PortalHotKeyBackend*>(data);
        guint32 code = 2;
        GVariant* results = nullptr;
        g_variant_get(parameters, "(u@a{sv})", &code, &results);
        if (auto answered = self->pendingAnswer_) {
            self->pendingAnswer_ = nullptr;
            (self->*answered)(code, results);
        }
        g_variant_unref(results);
    }

    void createSession() {
        const std::string token = "vesko_session_" + std::to_string(++calls_);
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        g_variant_builder_add(&options, "{sv}", "session_handle_token", g_variant_new_string("vesko"));
        callWithResponse("CreateSession", g_variant_new("(a{sv})", &options), token,
                         &PortalHotKeyBackend::sessionCreated);
    }

    void sessionCreated(guint32 code, GVariant* results) {
        if (deadlineSource_) g_source_remove(deadlineSource_);
        deadlineSource_ = 0;
        const char* handle = nullptr;
        // The handle comes as a string; some portals send an object path.
        if (code != 0 || (!g_variant_lookup(results, "session_handle", "&s", &handle) &&
                          !g_variant_lookup(results, "session_handle", "&o", &handle))) {
            fail(code == 1 ? "the request was declined" : "the desktop portal could not make a session");
            return;
        }
        sessionHandle_ = handle;
        activatedSubscription_ = g_dbus_connection_signal_subscribe(
            bus_, kPortalName, kShortcutsInterface, "Activated", kPortalPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            &PortalHotKeyBackend::activated, this, nullptr);
        bindShortcuts();
    }

    void bindShortcuts() {
        const std::string token = "vesko_bind_" + std::to_string(++calls_);
        GVariantBuilder shortcuts;
        g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
        for (const auto& shortcut : shortcuts_) {
            GVariantBuilder properties;
            g_variant_builder_init(&properties, G_VARIANT_TYPE_VARDICT);
            g_variant_builder_add(&properties, "{sv}", "description",
                                  g_variant_new_string(shortcut.description.c_str()));
            g_variant_builder_add(&properties, "{sv}", "preferred_trigger",
                                  g_variant_new_string(shortcut.trigger.c_str()));
            g_variant_builder_add(&shortcuts, "(sa{sv})", shortcut.id.c_str(), &properties);
        }
        GVariantBuilder options;
        g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
        g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
        callWithResponse("BindShortcuts",
                         g_variant_new("(oa(sa{sv})sa{sv})", sessionHandle_.c_str(), &shortcuts, "", &options), token,
                         &PortalHotKeyBackend::shortcutsBound);
    }

    void shortcutsBound(guint32 code, GVariant*) {
        if (code == 1) fail("the request to bind them was declined");
        else if (code != 0) fail("the desktop portal could not bind them");
    }

    static void activated(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                          GVariant* parameters, gpointer data) {
        auto* self = static_cast<PortalHotKeyBackend*>(data);
        const char* session = nullptr;
        const char* id = nullptr;
        g_variant_get(parameters, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
        if (self->sessionHandle_ != session) return;
        for (const auto& shortcut : self->shortcuts_)
            if (shortcut.id == id) self->deliver_(shortcut.hotKeyID);
    }

    std::function<void(EventHotKeyID)> deliver_;
    std::function<void(const std::string&)> report_;
    std::chrono::milliseconds answerDeadline_;
    std::vector<Shortcut> shortcuts_;
    GCancellable* cancellable_ = g_cancellable_new();
    GDBusConnection* bus_ = nullptr;
    bool connecting_ = false;
    bool failed_ = false;
    int calls_ = 0;
    std::string sessionHandle_;
    guint bindSource_ = 0;
    guint deadlineSource_ = 0;
    guint responseSubscription_ = 0;
    guint activatedSubscription_ = 0;
    void (PortalHotKeyBackend::*pendingAnswer_)(guint32, GVariant*) = nullptr;
};

}  // namespace

std::shared_ptr<HotKeyBackend> makePortalHotKeyBackend(std::function<void(EventHotKeyID)> deliver,
                                                       std::function<void(const std::string&)> report,
                                                       std::chrono::milliseconds answerDeadline) {
    return std::make_shared<PortalHotKeyBackend>(std::move(deliver), std::move(report), answerDeadline);
}

}  // namespace platform::gtk
