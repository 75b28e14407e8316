// The application object, windows and the menu bar on GTK 3.
//
// Each window is a vertical box: the menu bar, built from the application's
// main menu model, then the content view. Menu items send their actions
// through the responder chain; their enabled state follows it (checked when
// a menu opens, when a window changes state, and before an accelerator fires).
#include "platform/Alert.hpp"
#include "platform/Bundle.hpp"
#include "platform/Dock.hpp"
#include "platform/Log.hpp"
#include "platform/Menu.hpp"
#include "platform/gtk/Desktop.hpp"
#include "platform/gtk/DesktopInternal.hpp"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <iostream>

namespace platform::gtk {
namespace {

class GtkDesktopWindow;

class GtkApplicationLayer final : public Application {
public:
    std::vector<Window*> windows() const override;
    Window* keyWindow() const override;
    Window* mainWindow() const override;

    std::shared_ptr<Menu> mainMenu() const override { return mainMenu_; }
    void setMainMenu(std::shared_ptr<Menu> menu) override {
        mainMenu_ = std::move(menu);
        syncMenuBars();
    }
    std::shared_ptr<Menu> windowsMenu() const override { return windowsMenu_; }
    void setWindowsMenu(std::shared_ptr<Menu> menu) override {
        windowsMenu_ = std::move(menu);
        syncMenuBars();
    }

    void activateIgnoringOtherApps(bool) override;
    void finishLaunching() override;
    int run() override {
        finishLaunching();
        if (!terminated_) {
            running_ = true;
            gtk_main();
            running_ = false;
        }
        return 0;
    }
    void terminate() override {
        terminated_ = true;
        if (terminationHandler_) terminationHandler_();
        if (running_) gtk_main_quit();
    }

    bool respondsToSelector(const Selector& selector) const override {
        return selector == "terminate:" || selector == "hide:" || selector == "unhideAllApplications:" ||
               selector == "orderFrontStandardAboutPanel:";
    }
    void performSelector(const Selector& selector) override;

    void addWindow(std::shared_ptr<GtkDesktopWindow> window);
    void windowClosed(GtkDesktopWindow* window);
    void windowBecameActive(GtkDesktopWindow* window) { lastActive_ = window; }
    void syncMenuBars();
    void validateMenus();
    void setTerminationHandler(std::function<void()> handler) { terminationHandler_ = std::move(handler); }

private:
    std::vector<std::shared_ptr<GtkDesktopWindow>> windows_;
    GtkDesktopWindow* lastActive_ = nullptr;
    std::shared_ptr<Menu> mainMenu_;
    std::shared_ptr<Menu> windowsMenu_;
    bool running_ = false;
    bool terminated_ = false;
    std::function<void()> terminationHandler_;
};

GtkApplicationLayer& app() { return static_cast<GtkApplicationLayer&>(Application::shared()); }

guint32 lastUserInputTime = 0;

// Why global hot keys do not work here, each reason once.
std::vector<std::string> hotKeyNotes;

// ---- Menu bar ----

struct ItemBinding {
    std::shared_ptr<MenuItem> item;
};

void bindItem(GtkWidget* widget, const std::shared_ptr<MenuItem>& item) {
    g_object_set_data_full(G_OBJECT(widget), "vesko-menu-item", new ItemBinding{item},
                           [](gpointer data) { delete static_cast<ItemBinding*>(data); });
}

MenuItem* boundItem(GtkWidget* widget) {
    auto* binding = static_cast<ItemBinding*>(g_object_get_data(G_OBJECT(widget), "vesko-menu-item"));
    return binding ? binding->item.get() : nullptr;
}

// The key equivalent as a GTK accelerator: Command is Control, Option is
// Alt, and an upper-case letter adds Shift.
bool acceleratorFor(const MenuItem& item, guint* key, GdkModifierType* mods) {
    if (item.keyEquivalent.size() != 1) return false;
    char c = item.keyEquivalent[0];
    unsigned int m = 0;
    if (std::isupper(static_cast<unsigned char>(c))) {
        m |= GDK_SHIFT_MASK;
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const ModifierFlags flags = item.keyEquivalentModifierMask;
    if (flags & kEventModifierFlagCommand) m |= GDK_CONTROL_MASK;
    if (flags & kEventModifierFlagShift) m |= GDK_SHIFT_MASK;
    if (flags & kEventModifierFlagOption) m |= GDK_MOD1_MASK;
    if (flags & kEventModifierFlagControl) m |= GDK_SUPER_MASK;
    *key = gdk_unicode_to_keyval(static_cast<guint32>(static_cast<unsigned char>(c)));
    *mods = static_cast<GdkModifierType>(m);
    return true;
}

void validateMenuShell(GtkWidget* shell) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(shell));
    for (GList* l = children; l; l = l->next) {
        auto* widget = GTK_WIDGET(l->data);
        if (MenuItem* item = boundItem(widget)) gtk_widget_set_sensitive(widget, item->isEnabled());
        if (GTK_IS_MENU_ITEM(widget))
            if (GtkWidget* sub = gtk_menu_item_get_submenu(GTK_MENU_ITEM(widget))) validateMenuShell(sub);
    }
    g_list_free(children);
}

void refreshWindowEntries(GtkWidget* menu);

GtkWidget* buildMenu(const Menu& model, GtkAccelGroup* accelGroup, bool isWindowsMenu) {
    GtkWidget* menu = gtk_menu_new();
    gtk_menu_set_accel_group(GTK_MENU(menu), accelGroup);
    for (const auto& item : model.items) {
        if (item->isSeparator) {
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
            continue;
        }
        GtkWidget* widget = gtk_menu_item_new_with_label(item->title.c_str());
        bindItem(widget, item);
        guint key = 0;
        GdkModifierType mods{};
        if (acceleratorFor(*item, &key, &mods))
            gtk_widget_add_accelerator(widget, "activate", accelGroup, key, mods, GTK_ACCEL_VISIBLE);
        // Accelerators fire only while someone performs the action.
        g_signal_connect(widget, "can-activate-accel", G_CALLBACK(+[](GtkWidget* w, guint, gpointer) -> gboolean {
                             MenuItem* bound = boundItem(w);
                             return bound && bound->isEnabled();
                         }),
                         nullptr);
        g_signal_connect(widget, "activate", G_CALLBACK(+[](GtkWidget* w, gpointer) {
                             if (MenuItem* bound = boundItem(w)) bound->activate();
                         }),
                         nullptr);
        if (item->submenu)
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), buildMenu(*item->submenu, accelGroup, false));
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), widget);
    }
    if (isWindowsMenu) g_object_set_data(G_OBJECT(menu), "vesko-windows-menu", GINT_TO_POINTER(1));
    g_signal_connect(menu, "show", G_CALLBACK(+[](GtkWidget* m, gpointer) {
                         if (g_object_get_data(G_OBJECT(m), "vesko-windows-menu")) refreshWindowEntries(m);
                         validateMenuShell(m);
                     }),
                     nullptr);
    if (isWindowsMenu) refreshWindowEntries(menu);
    return menu;
}

// ---- Windows ----

class GtkDesktopWindow final : public DesktopWindow {
public:
    GtkDesktopWindow(Size initialSize, const std::string& windowTitle) {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        g_object_ref_sink(window_);
        gtk_window_set_default_size(GTK_WINDOW(window_), initialSize.width, initialSize.height);
        size_ = initialSize;
        if (!windowTitle.empty()) gtk_window_set_title(GTK_WINDOW(window_), windowTitle.c_str());
        accelGroup_ = gtk_accel_group_new();
        gtk_window_add_accel_group(GTK_WINDOW(window_), accelGroup_);
        box_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
        gtk_container_add(GTK_CONTAINER(window_), box_);

        g_signal_connect(window_, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer self) {
                             static_cast<GtkDesktopWindow*>(self)->destroyed();
                         }),
                         this);
        g_signal_connect(window_, "window-state-event",
                         G_CALLBACK(+[](GtkWidget*, GdkEventWindowState* event, gpointer self) -> gboolean {
                             static_cast<GtkDesktopWindow*>(self)->state_ = event->new_window_state;
                             app().validateMenus();
                             return FALSE;
                         }),
                         this);
        g_signal_connect(window_, "notify::is-active", G_CALLBACK(+[](GObject*, GParamSpec*, gpointer self) {
                             auto* window = static_cast<GtkDesktopWindow*>(self);
                             if (gtk_window_is_active(GTK_WINDOW(window->window_))) {
                                 app().windowBecameActive(window);
                                 gtk_window_set_urgency_hint(GTK_WINDOW(window->window_), FALSE);
                             }
                             app().validateMenus();
                         }),
                         this);
        g_signal_connect(window_, "configure-event",
                         G_CALLBACK(+[](GtkWidget* w, GdkEventConfigure*, gpointer self) -> gboolean {
                             int width = 0;
                             int height = 0;
                             gtk_window_get_size(GTK_WINDOW(w), &width, &height);
                             auto* window = static_cast<GtkDesktopWindow*>(self);
                             window->size_.width = width;
                             window->size_.height = height;
                             return FALSE;
                         }),
                         this);
        for (const char* signal : {"show", "hide"})
            g_signal_connect_after(window_, signal, G_CALLBACK(+[](GtkWidget*, gpointer) { app().validateMenus(); }),
                                   nullptr);
    }

    ~GtkDesktopWindow() override {
        if (window_) {
            g_signal_handlers_disconnect_by_data(window_, this);
            if (!destroyed_) gtk_widget_destroy(window_);
            g_object_unref(window_);
        }
        if (accelGroup_) g_object_unref(accelGroup_);
    }

    // ---- platform::Window ----

    void setContentSize(Size size) override {
        pendingContentSize_ = size;
        const int bar = menuBarHeight();
        resize({size.width, size.height + bar});
    }

    Size contentSize() const override {
        if (content_ && gtk_widget_get_realized(content_))
            return {gtk_widget_get_allocated_width(content_), gtk_widget_get_allocated_height(content_)};
        if (pendingContentSize_) return *pendingContentSize_;
        return {size_.width, size_.height - menuBarHeight()};
    }

    void setMinSize(Size size) override {
        minSize_ = size;
        GdkGeometry geometry{};
        geometry.min_width = size.width;
        geometry.min_height = size.height;
        gtk_window_set_geometry_hints(GTK_WINDOW(window_), nullptr, &geometry, GDK_HINT_MIN_SIZE);
    }
    Size minSize() const override { return minSize_; }

    void setTitle(const std::string& text) override { gtk_window_set_title(GTK_WINDOW(window_), text.c_str()); }
    std::string title() const override {
        const char* text = gtk_window_get_title(GTK_WINDOW(window_));
        return text ? text : "";
    }

    void center() override {
        gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
        GdkDisplay* display = gtk_widget_get_display(window_);
        GdkMonitor* monitor = nullptr;
        if (GdkWindow* gdkWindow = gtk_widget_get_window(window_))
            monitor = gdk_display_get_monitor_at_window(display, gdkWindow);
        if (!monitor) monitor = gdk_display_get_primary_monitor(display);
        if (!monitor) monitor = gdk_display_get_monitor(display, 0);
        if (!monitor) return;
        GdkRectangle area;
        gdk_monitor_get_workarea(monitor, &area);
        gtk_window_move(GTK_WINDOW(window_), area.x + std::max(0, (area.width - size_.width) / 2),
                        area.y + std::max(0, (area.height - size_.height) / 2));
    }

    void makeKeyAndOrderFront() override {
        gtk_widget_show_all(window_);
        gtk_window_deiconify(GTK_WINDOW(window_));
        // A hot-key press just before counts as the user's request to raise.
        const guint32 time = lastUserInputTime;
        lastUserInputTime = 0;
        if (time != 0) gtk_window_present_with_time(GTK_WINDOW(window_), time);
        else gtk_window_present(GTK_WINDOW(window_));
    }

    void performClose() override { gtk_window_close(GTK_WINDOW(window_)); }
    void performMiniaturize() override { gtk_window_iconify(GTK_WINDOW(window_)); }
    bool isVisible() const override { return !destroyed_ && gtk_widget_get_visible(window_); }
    bool isMiniaturized() const override { return (state_ & GDK_WINDOW_STATE_ICONIFIED) != 0; }
    bool isKeyWindow() const override { return isVisible() && gtk_window_is_active(GTK_WINDOW(window_)); }

    Rect frame() const override {
        if (GdkWindow* gdkWindow = gtk_widget_get_window(window_); gdkWindow && gtk_widget_get_mapped(window_)) {
            GdkRectangle extents;
            gdk_window_get_frame_extents(gdkWindow, &extents);
            return {extents.x, extents.y, extents.width, extents.height};
        }
        int x = 0, y = 0;
        gtk_window_get_position(GTK_WINDOW(window_), &x, &y);
        return {x, y, size_.width, size_.height};
    }

    bool respondsToSelector(const Selector& selector) const override {
        return selector == "performClose:" || selector == "performMiniaturize:";
    }
    void performSelector(const Selector& selector) override {
        if (selector == "performClose:") performClose();
        else if (selector == "performMiniaturize:") performMiniaturize();
    }

    // ---- DesktopWindow ----

    void setContentView(GtkWidget* content) override {
        if (content_) gtk_container_remove(GTK_CONTAINER(box_), content_);
        content_ = content;
        gtk_widget_set_hexpand(content_, TRUE);
        gtk_widget_set_vexpand(content_, TRUE);
        gtk_box_pack_end(GTK_BOX(box_), content_, TRUE, TRUE, 0);
        // The content area reaches its requested size once laid out; the menu
        // bar's real height is known only then.
        g_signal_connect(content_, "size-allocate", G_CALLBACK(+[](GtkWidget*, GdkRectangle* allocation, gpointer self) {
                             static_cast<GtkDesktopWindow*>(self)->contentAllocated(*allocation);
                         }),
                         this);
    }
    GtkWindow* gtkWindow() const override { return GTK_WINDOW(window_); }
    GtkWidget* menuBar() const override { return menuBar_; }

    void installMenuBar(const std::shared_ptr<Menu>& mainMenu, const std::shared_ptr<Menu>& windowsMenu) {
        if (menuBar_) gtk_widget_destroy(menuBar_);
        menuBar_ = gtk_menu_bar_new();
        if (mainMenu) {
            for (const auto& top : mainMenu->items) {
                if (top->isSeparator) continue;
                GtkWidget* widget = gtk_menu_item_new_with_label(top->title.c_str());
                bindItem(widget, top);
                if (top->submenu)
                    gtk_menu_item_set_submenu(
                        GTK_MENU_ITEM(widget), buildMenu(*top->submenu, accelGroup_, top->submenu == windowsMenu));
                gtk_menu_shell_append(GTK_MENU_SHELL(menuBar_), widget);
            }
        }
        gtk_box_pack_start(GTK_BOX(box_), menuBar_, FALSE, FALSE, 0);
        gtk_widget_show_all(menuBar_);
        validateMenuShell(menuBar_);
    }

    void destroyed() {
        if (destroyed_) return;
        destroyed_ = true;
        app().windowClosed(this);
    }

    bool hasBeenDestroyed() const { return destroyed_; }
    GtkWidget* widget() const { return window_; }

private:
    int menuBarHeight() const {
        if (!menuBar_) return 0;
        int minimum = 0, natural = 0;
        gtk_widget_get_preferred_height(menuBar_, &minimum, &natural);
        return natural;
    }

    void resize(Size size) {
        size_ = size;
        gtk_window_set_default_size(GTK_WINDOW(window_), size.width, size.height);
        gtk_window_resize(GTK_WINDOW(window_), size.width, size.height);
    }

    void contentAllocated(const GdkRectangle& allocation) {
        if (!pendingContentSize_) return;
        const Size want = *pendingContentSize_;
        pendingContentSize_.reset();
        const int dw = want.width - allocation.width;
        const int dh = want.height - allocation.height;
        if (dw != 0 || dh != 0) resize({size_.width + dw, size_.height + dh});
    }

    GtkWidget* window_ = nullptr;
    GtkWidget* box_ = nullptr;
    GtkWidget* content_ = nullptr;
    GtkWidget* menuBar_ = nullptr;
    GtkAccelGroup* accelGroup_ = nullptr;
    Size size_;
    Size minSize_;
    std::optional<Size> pendingContentSize_;
    GdkWindowState state_{};
    bool destroyed_ = false;
};

void refreshWindowEntries(GtkWidget* menu) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* l = children; l; l = l->next)
        if (g_object_get_data(G_OBJECT(l->data), "vesko-window-entry")) gtk_widget_destroy(GTK_WIDGET(l->data));
    g_list_free(children);
    bool first = true;
    for (Window* window : app().windows()) {
        auto* desktop = static_cast<GtkDesktopWindow*>(window);
        if (!desktop->isVisible() && !desktop->isMiniaturized()) continue;
        if (first) {
            GtkWidget* separator = gtk_separator_menu_item_new();
            g_object_set_data(G_OBJECT(separator), "vesko-window-entry", GINT_TO_POINTER(1));
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), separator);
            gtk_widget_show(separator);
            first = false;
        }
        GtkWidget* entry = gtk_check_menu_item_new_with_label(window->title().c_str());
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(entry), window->isKeyWindow());
        g_object_set_data(G_OBJECT(entry), "vesko-window-entry", GINT_TO_POINTER(1));
        g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkWidget*, gpointer target) {
                             // The window may have closed since the menu was built.
                             for (Window* open : app().windows())
                                 if (open == target) open->makeKeyAndOrderFront();
                         }),
                         window);
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
        gtk_widget_show(entry);
    }
}

std::vector<Window*> GtkApplicationLayer::windows() const {
    std::vector<Window*> list;
    for (const auto& window : windows_) list.push_back(window.get());
    return list;
}

Window* GtkApplicationLayer::keyWindow() const {
    for (const auto& window : windows_)
        if (window->isKeyWindow()) return window.get();
    return nullptr;
}

Window* GtkApplicationLayer::mainWindow() const {
    auto usable = [](const GtkDesktopWindow* w) { return w->isVisible() && !w->isMiniaturized(); };
    for (const auto& window : windows_)
        if (window.get() == lastActive_ && usable(window.get())) return window.get();
    for (const auto& window : windows_)
        if (usable(window.get())) return window.get();
    return nullptr;
}

void GtkApplicationLayer::activateIgnoringOtherApps(bool) {
    for (const auto& window : windows_)
        if (window->isMiniaturized()) gtk_window_deiconify(window->gtkWindow());
}

void GtkApplicationLayer::finishLaunching() {
    if (delegate()) delegate()->applicationDidFinishLaunching();
    syncMenuBars();
    for (const auto& window : windows_)
        if (window->visibleAtLaunch && !window->hasBeenDestroyed()) window->makeKeyAndOrderFront();
    validateMenus();
}

void GtkApplicationLayer::performSelector(const Selector& selector) {
    if (selector == "terminate:") {
        terminate();
    } else if (selector == "hide:") {
        for (const auto& window : windows_) window->performMiniaturize();
    } else if (selector == "unhideAllApplications:") {
        for (const auto& window : windows_) gtk_window_deiconify(window->gtkWindow());
    } else if (selector == "orderFrontStandardAboutPanel:") {
        Window* parent = mainWindow();
        std::string comments = "Pulls articles out of browser tabs into a local web interface.";
        for (const auto& note : hotKeyNotes) comments += "\n\n" + note;
        gtk_show_about_dialog(parent ? static_cast<GtkDesktopWindow*>(parent)->gtkWindow() : nullptr,
                              "program-name", "Vesko", "version", VESKO_VERSION, "logo-icon-name", VESKO_APP_ID,
                              "comments", comments.c_str(), nullptr);
    }
}

void GtkApplicationLayer::addWindow(std::shared_ptr<GtkDesktopWindow> window) {
    windows_.push_back(window);
    window->installMenuBar(mainMenu_, windowsMenu_);
}

void GtkApplicationLayer::windowClosed(GtkDesktopWindow* window) {
    // Keep the object alive until this signal emission has returned.
    auto found = std::find_if(windows_.begin(), windows_.end(), [&](const auto& w) { return w.get() == window; });
    if (found == windows_.end()) return;
    auto keep = *found;
    windows_.erase(found);
    if (lastActive_ == window) lastActive_ = nullptr;
    g_idle_add(+[](gpointer data) -> gboolean {
                   delete static_cast<std::shared_ptr<GtkDesktopWindow>*>(data);
                   return G_SOURCE_REMOVE;
               },
               new std::shared_ptr<GtkDesktopWindow>(std::move(keep)));
    if (windows_.empty() && delegate() && delegate()->applicationShouldTerminateAfterLastWindowClosed())
        terminate();
}

void GtkApplicationLayer::syncMenuBars() {
    for (const auto& window : windows_) window->installMenuBar(mainMenu_, windowsMenu_);
}

void GtkApplicationLayer::validateMenus() {
    for (const auto& window : windows_)
        if (GtkWidget* bar = window->menuBar()) validateMenuShell(bar);
}

}  // namespace

std::shared_ptr<DesktopWindow> makeWindow(Size initialSize, const std::string& title) {
    auto window = std::make_shared<GtkDesktopWindow>(initialSize, title);
    app().addWindow(window);
    return window;
}

void noteUserInputTime(std::uint32_t serverTime) { lastUserInputTime = serverTime; }

void reportHotKeysUnavailable(const std::string& reason) {
    const std::string note = reason + " The Actions menu has the same commands.";
    if (std::find(hotKeyNotes.begin(), hotKeyNotes.end(), note) != hotKeyNotes.end()) return;
    hotKeyNotes.push_back(note);
    platform::log::write("Vesko: " + note);
}

void setTerminationHandler(std::function<void()> handler) { app().setTerminationHandler(std::move(handler)); }

void validateMenus() { app().validateMenus(); }

std::shared_ptr<Application> makeApplication() { return std::make_shared<GtkApplicationLayer>(); }

bool initialize(int* argc, char*** argv) {
    gdk_set_allowed_backends("x11");
    if (!gtk_init_check(argc, argv)) {
        std::cerr << "vesko: cannot open the display" << (g_getenv("DISPLAY") ? "" : " (DISPLAY is not set)")
                  << "; use --stdio to run without a window\n";
        return false;
    }
    g_set_prgname("vesko");
    g_set_application_name("Vesko");
    // The icon theme beside the resources (share/icons of an installed tree,
    // build/icons of the build folder) holds the application's icon.
    gtk_icon_theme_append_search_path(gtk_icon_theme_get_default(),
                                      (bundle::resourceFolder().parent_path() / "icons").c_str());
    gtk_window_set_default_icon_name(VESKO_APP_ID);
    if (!Application::hasShared()) Application::setShared(makeApplication());
    AlertPresenter::setShared(makeAlertPresenter());
    platform::Dock::setShared(makeDock(VESKO_APP_ID ".desktop"));
    platform::Workspace::setShared(makeWorkspace());
    // X11 key grabs reach no other program on a Wayland desktop: there the
    // desktop portal binds the keys.
    const char* session = g_getenv("XDG_SESSION_TYPE");
    const bool wayland = (session && std::string(session) == "wayland") || g_getenv("WAYLAND_DISPLAY");
    carbon::setHotKeyBackend(wayland ? makePortalHotKeyBackend()
                                     : makeX11HotKeyBackend(gdk_display_get_name(gdk_display_get_default())));
    // Ctrl+C in the terminal or a polite kill quits like "Quit Vesko".
    for (int signal : {SIGINT, SIGTERM})
        g_unix_signal_add(signal, +[](gpointer) -> gboolean {
            Application::shared().terminate();
            return G_SOURCE_CONTINUE;
        }, nullptr);
    return true;
}

bool handOverToRunningInstance() {
    // Lives for the whole process: it holds the application's name on the bus.
    static GtkApplication* application = [] {
        auto* created = gtk_application_new(VESKO_APP_ID, G_APPLICATION_DEFAULT_FLAGS);
        // A later start asks this one to come forward.
        g_signal_connect(created, "activate", G_CALLBACK(+[](GApplication*, gpointer) {
                             auto& shared = Application::shared();
                             shared.activateIgnoringOtherApps(true);
                             auto windows = shared.windows();
                             if (!windows.empty()) windows.front()->makeKeyAndOrderFront();
                         }),
                         nullptr);
        return created;
    }();
    GError* error = nullptr;
    // Without a session bus the registration succeeds too, as a process on its own.
    if (!g_application_register(G_APPLICATION(application), nullptr, &error)) {
        std::cerr << "vesko: " << error->message << "\n";
        g_clear_error(&error);
        return false;
    }
    if (!g_application_get_is_remote(G_APPLICATION(application))) return false;
    g_application_activate(G_APPLICATION(application));
    if (GDBusConnection* bus = g_application_get_dbus_connection(G_APPLICATION(application)))
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    return true;
}

}  // namespace platform::gtk
