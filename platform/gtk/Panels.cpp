// Modal alert panels as GtkMessageDialog, and the dock: the badge as the
// LauncherEntry signal on the session bus, attention as the urgency hint.
#include "platform/Application.hpp"
#include "platform/gtk/Desktop.hpp"
#include "platform/gtk/DesktopInternal.hpp"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <charconv>
#include <cstdint>
#include <filesystem>

namespace platform::gtk {
namespace {

GtkWindow* panelParent() {
    if (!Application::hasShared()) return nullptr;
    auto& application = Application::shared();
    Window* window = application.keyWindow();
    if (!window) window = application.mainWindow();
    auto* desktop = dynamic_cast<DesktopWindow*>(window);
    return desktop ? desktop->gtkWindow() : nullptr;
}

class MessageDialogPresenter final : public AlertPresenter {
public:
    int runModal(const Alert& alert) override {
        GtkWidget* dialog = gtk_message_dialog_new(panelParent(), GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                                   GTK_BUTTONS_NONE, "%s", alert.messageText.c_str());
        gtk_window_set_title(GTK_WINDOW(dialog), "Vesko");
        std::vector<std::string> buttons = alert.buttons;
        if (buttons.empty()) buttons.push_back("OK");  // a panel always has a way out
        for (std::size_t i = 0; i < buttons.size(); ++i)
            gtk_dialog_add_button(GTK_DIALOG(dialog), buttons[i].c_str(),
                                  kAlertFirstButtonReturn + static_cast<int>(i));
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), kAlertFirstButtonReturn);
        const int response = gtk_dialog_run(GTK_DIALOG(dialog));
        gtk_widget_destroy(dialog);
        // Escape, the close button or a destroyed parent: no button chose.
        if (response >= kAlertFirstButtonReturn &&
            response < kAlertFirstButtonReturn + static_cast<int>(buttons.size()))
            return response;
        return kModalResponseCancel;
    }
};

// Some text is a badge count when it is a whole decimal number.
std::optional<std::int64_t> badgeCount(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || ptr != end) return std::nullopt;
    return value;
}

class DesktopDock final : public platform::Dock {
public:
    explicit DesktopDock(std::string desktopEntry) : appURI_("application://" + std::move(desktopEntry)) {}
    ~DesktopDock() override {
        if (bus_) g_object_unref(bus_);
    }

    void requestUserAttention(AttentionRequest) override {
        if (!Application::hasShared()) return;
        auto windows = Application::shared().windows();
        if (windows.empty()) return;
        auto* desktop = dynamic_cast<DesktopWindow*>(windows.front());
        // Only a window the user is not looking at needs to call for attention;
        // the hint is cleared when the window becomes active.
        if (desktop && !desktop->isKeyWindow()) gtk_window_set_urgency_hint(desktop->gtkWindow(), TRUE);
    }

    void setBadgeLabel(const std::optional<std::string>& label) override {
        label_ = label;
        GDBusConnection* bus = sessionBus();
        if (!bus) return;
        GVariantBuilder properties;
        g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
        const auto count = label ? badgeCount(*label) : std::nullopt;
        if (count) g_variant_builder_add(&properties, "{sv}", "count", g_variant_new_int64(*count));
        g_variant_builder_add(&properties, "{sv}", "count-visible", g_variant_new_boolean(count.has_value()));
        g_dbus_connection_emit_signal(bus, nullptr, "/app/vesko/LauncherEntry", "com.canonical.Unity.LauncherEntry",
                                      "Update", g_variant_new("(sa{sv})", appURI_.c_str(), &properties), nullptr);
        g_dbus_connection_flush(bus, nullptr, nullptr, nullptr);
    }

    std::optional<std::string> badgeLabel() const override { return label_; }

private:
    // The session bus, when there is one to talk to. Without an address or
    // the user's bus socket, no bus is started just for a badge.
    GDBusConnection* sessionBus() {
        if (triedBus_) return bus_;
        triedBus_ = true;
        const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
        const char* runtime = g_getenv("XDG_RUNTIME_DIR");
        std::error_code error;
        const bool userBus = runtime && std::filesystem::exists(std::filesystem::path(runtime) / "bus", error);
        if (!(address && *address) && !userBus) return nullptr;
        bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        return bus_;
    }

    std::string appURI_;
    std::optional<std::string> label_;
    GDBusConnection* bus_ = nullptr;
    bool triedBus_ = false;
};

}  // namespace

std::shared_ptr<AlertPresenter> makeAlertPresenter() { return std::make_shared<MessageDialogPresenter>(); }

std::shared_ptr<platform::Dock> makeDock(const std::string& desktopEntry) {
    return std::make_shared<DesktopDock>(desktopEntry);
}

}  // namespace platform::gtk
