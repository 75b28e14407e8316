// The real window and web view under Xvfb: launch geometry, the menu bar,
// page commands from the menu and from global hot keys, page actions,
// new-window requests, panels, the dock badge, and the web view staying on
// the application's own pages.
#include <gtest/gtest.h>

#include "tests/gui/GuiHarness.hpp"

#include "platform/Alert.hpp"
#include "platform/Dock.hpp"
#include "platform/HotKeys.hpp"
#include "platform/Menu.hpp"
#include "platform/gtk/Desktop.hpp"
#include "platform/gtk/DesktopInternal.hpp"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>


#include <thread>

namespace vesko::gui {
namespace {

using namespace std::chrono_literals;

std::string pageOf(const std::string& uri) { return uri.substr(uri.find_last_of('/') + 1); }

// Loads `page` with no action and waits for it to report its load.
void showPage(const std::string& page) {
    auto& d = desktop();
    const auto loadsBefore = d.probe.count("load", page);
    d.ui.controller->navigateToPage(page, std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", page) > loadsBefore; })) << page;
}

// The window has the keyboard: keys sent with XTest reach it.
void focusWindow() {
    auto& d = desktop();
    int x = 0, y = 0;
    d.ui.webView->widget();
    d.webViewPointOnScreen(200, 200, &x, &y);
    FakeInput input;
    input.moveTo(x, y);
    d.ui.window->makeKeyAndOrderFront();
    waitUntil([&] { return d.ui.window->isKeyWindow(); }, 3s);
}

struct MenuEntry {
    std::string title;
    guint key = 0;
    GdkModifierType mods{};
    bool separator = false;
    bool sensitive = false;
};

std::vector<GtkWidget*> children(GtkWidget* container) {
    std::vector<GtkWidget*> list;
    GList* items = gtk_container_get_children(GTK_CONTAINER(container));
    for (GList* l = items; l; l = l->next) list.push_back(GTK_WIDGET(l->data));
    g_list_free(items);
    return list;
}

GtkWidget* topLevelItem(const std::string& title) {
    for (GtkWidget* item : children(desktop().ui.window->menuBar()))
        if (title == gtk_menu_item_get_label(GTK_MENU_ITEM(item))) return item;
    return nullptr;
}

std::vector<MenuEntry> entriesOf(const std::string& menuTitle) {
    std::vector<MenuEntry> entries;
    GtkWidget* top = topLevelItem(menuTitle);
    if (!top) return entries;
    for (GtkWidget* item : children(gtk_menu_item_get_submenu(GTK_MENU_ITEM(top)))) {
        MenuEntry entry;
        if (GTK_IS_SEPARATOR_MENU_ITEM(item)) {
            entry.separator = true;
        } else {
            entry.title = gtk_menu_item_get_label(GTK_MENU_ITEM(item));
            entry.sensitive = gtk_widget_get_sensitive(item);
            // The accelerator as the window's accel group holds it.
            GList* closures = gtk_widget_list_accel_closures(item);
            for (GList* c = closures; c; c = c->next) {
                auto* closure = static_cast<GClosure*>(c->data);
                GtkAccelGroup* group = gtk_accel_group_from_accel_closure(closure);
                GtkAccelKey* key = group ? gtk_accel_group_find(
                                               group,
                                               +[](GtkAccelKey*, GClosure* candidate, gpointer wanted) -> gboolean {
                                                   return candidate == wanted;
                                               },
                                               closure)
                                         : nullptr;
                if (key) {
                    entry.key = key->accel_key;
                    entry.mods = key->accel_mods;
                }
            }
            g_list_free(closures);
        }
        entries.push_back(entry);
    }
    return entries;
}

GtkWidget* menuItemWidget(const std::string& menuTitle, const std::string& itemTitle) {
    GtkWidget* top = topLevelItem(menuTitle);
    if (!top) return nullptr;
    for (GtkWidget* item : children(gtk_menu_item_get_submenu(GTK_MENU_ITEM(top))))
        if (GTK_IS_MENU_ITEM(item) && !GTK_IS_SEPARATOR_MENU_ITEM(item) &&
            itemTitle == gtk_menu_item_get_label(GTK_MENU_ITEM(item)))
            return item;
    return nullptr;
}

TEST(Launch, WindowIsSizedTitledCentredAndShowsTheStartPage) {
    auto& d = desktop();
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "main.html") == 1; }));
    platform::Window* window = d.ui.window.get();
    ASSERT_EQ(platform::Application::shared().windows().size(), 1u);
    EXPECT_EQ(window->title(), "Vesko");
    EXPECT_EQ(gtk_window_get_title(d.ui.window->gtkWindow()), std::string("Vesko"));

    // The web view's area is the content: 1100 x 800, whatever the first size was.
    GtkWidget* view = d.ui.webView->widget();
    ASSERT_TRUE(waitUntil([&] {
        return gtk_widget_get_allocated_width(view) == 1100 && gtk_widget_get_allocated_height(view) == 800;
    })) << gtk_widget_get_allocated_width(view) << "x" << gtk_widget_get_allocated_height(view);
    EXPECT_EQ(window->contentSize(), (platform::Size{1100, 800}));

    // The X server holds the minimum size the window manager must respect.
    Display* x = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(x, GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(d.ui.window->gtkWindow()))),
                                  &hints, &supplied));
    ASSERT_TRUE(hints.flags & PMinSize);
    EXPECT_EQ(hints.min_width, 600);
    EXPECT_EQ(hints.min_height, 400);

    // Centred on the 1600 x 1000 screen.
    platform::Rect frame = window->frame();
    EXPECT_NEAR(frame.x, (1600 - frame.width) / 2, 1);
    EXPECT_NEAR(frame.y, (1000 - frame.height) / 2, 1);

    // The start page pushes no action; both hot keys are registered.
    pump(300ms);
    EXPECT_EQ(d.probe.count("action"), 0u);
    EXPECT_NE(d.ui.delegate->fetchHotKeyRef, nullptr);
    EXPECT_NE(d.ui.delegate->batchHotKeyRef, nullptr);
}

TEST(Menu, FourMenusWithTheirItemsAndAccelerators) {
    auto& d = desktop();
    focusWindow();
    platform::gtk::validateMenus();

    std::vector<std::string> tops;
    for (GtkWidget* item : children(d.ui.window->menuBar())) tops.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(item)));
    EXPECT_EQ(tops, (std::vector<std::string>{"Vesko", "Edit", "Actions", "Window"}));

    const auto C = GDK_CONTROL_MASK;
    const auto CS = static_cast<GdkModifierType>(GDK_CONTROL_MASK | GDK_SHIFT_MASK);
    const auto CA = static_cast<GdkModifierType>(GDK_CONTROL_MASK | GDK_MOD1_MASK);
    struct Expected {
        std::string title;
        guint key;
        GdkModifierType mods;
    };
    auto check = [&](const std::string& menu, const std::vector<Expected>& expected) {
        auto entries = entriesOf(menu);
        ASSERT_GE(entries.size(), expected.size()) << menu;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(menu + " #" + std::to_string(i + 1));
            if (expected[i].title.empty()) {
                EXPECT_TRUE(entries[i].separator);
                continue;
            }
            EXPECT_EQ(entries[i].title, expected[i].title);
            EXPECT_EQ(entries[i].key, expected[i].key);
            EXPECT_EQ(entries[i].mods, expected[i].mods);
        }
    };
    const GdkModifierType none{};
    check("Vesko", {{"About Vesko", 0, none},
                    {"Check for Updates\u2026", 0, none},
                    {"", 0, none},
                    {"Hide Vesko", GDK_KEY_h, C},
                    {"Hide Others", GDK_KEY_h, CA},
                    {"Show All", 0, none},
                    {"", 0, none},
                    {"Quit Vesko", GDK_KEY_q, C}});
    check("Edit", {{"Undo", GDK_KEY_z, C},
                   {"Redo", GDK_KEY_z, CS},
                   {"", 0, none},
                   {"Cut", GDK_KEY_x, C},
                   {"Copy", GDK_KEY_c, C},
                   {"Paste", GDK_KEY_v, C},
                   {"Select All", GDK_KEY_a, C}});
    check("Actions", {{"Fetch Current Tab", GDK_KEY_f, CS},
                      {"Batch Process", GDK_KEY_b, CS},
                      {"", 0, none},
                      {"Vavadavu", 0, none},
                      {"Settings", 0, none},
                      {"Setup Guide", 0, none},
                      {"", 0, none},
                      {"Home", GDK_KEY_h, CS}});
    check("Window", {{"Minimize", GDK_KEY_m, C}, {"Close", GDK_KEY_w, C}});
    EXPECT_EQ(entriesOf("Window").size(), 2u);

    // Opening the Window menu lists the open windows below "Close".
    GtkWidget* windowMenu = gtk_menu_item_get_submenu(GTK_MENU_ITEM(topLevelItem("Window")));
    g_signal_emit_by_name(windowMenu, "show");
    auto listed = entriesOf("Window");
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_TRUE(listed[2].separator);
    EXPECT_EQ(listed[3].title, "Vesko");
    g_signal_emit_by_name(windowMenu, "hide");
}

TEST(Menu, ItemsFollowTheResponderChain) {
    auto& d = desktop();
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "main.html") == 1; }));
    focusWindow();
    platform::gtk::validateMenus();
    auto enabled = [](const std::string& menu, const std::string& item) {
        GtkWidget* widget = menuItemWidget(menu, item);
        return widget && gtk_widget_get_sensitive(widget);
    };
    for (const char* item : {"Fetch Current Tab", "Batch Process", "Vavadavu", "Settings", "Setup Guide", "Home"})
        EXPECT_TRUE(enabled("Actions", item)) << item;
    for (const char* item : {"Undo", "Redo", "Cut", "Copy", "Paste", "Select All"}) EXPECT_TRUE(enabled("Edit", item)) << item;
    EXPECT_TRUE(enabled("Window", "Minimize"));
    EXPECT_TRUE(enabled("Window", "Close"));
    EXPECT_TRUE(enabled("Vesko", "Check for Updates\u2026"));
    EXPECT_TRUE(enabled("Vesko", "Quit Vesko"));
    EXPECT_TRUE(enabled("Vesko", "About Vesko"));
    // Nobody here can hide other programs' windows.
    EXPECT_FALSE(enabled("Vesko", "Hide Others"));

    // With no window to answer, the window's own commands turn off; the
    // updater keeps its own target and the application its commands.
    gtk_widget_hide(GTK_WIDGET(d.ui.window->gtkWindow()));
    platform::gtk::validateMenus();
    for (const char* item : {"Fetch Current Tab", "Batch Process", "Vavadavu", "Settings", "Setup Guide", "Home"})
        EXPECT_FALSE(enabled("Actions", item)) << item;
    EXPECT_FALSE(enabled("Edit", "Copy"));
    EXPECT_FALSE(enabled("Window", "Close"));
    EXPECT_TRUE(enabled("Vesko", "Check for Updates\u2026"));
    EXPECT_TRUE(enabled("Vesko", "Quit Vesko"));
    // A disabled item does nothing when activated anyway.
    const auto loads = d.probe.count("load");
    gtk_menu_item_activate(GTK_MENU_ITEM(menuItemWidget("Actions", "Batch Process")));
    pump(500ms);
    EXPECT_EQ(d.probe.count("load"), loads);

    d.ui.window->makeKeyAndOrderFront();
    platform::gtk::validateMenus();
    EXPECT_TRUE(enabled("Actions", "Fetch Current Tab"));
}

TEST(Commands, FetchCurrentTabFromTheMenuDeliversOneFetch) {
    auto& d = desktop();
    showPage("main.html");
    d.probe.clear();
    gtk_menu_item_activate(GTK_MENU_ITEM(menuItemWidget("Actions", "Fetch Current Tab")));
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("action", "index.html") >= 1; }));
    pump(700ms);
    ASSERT_EQ(d.probe.count("load", "index.html"), 1u);
    auto actions = d.probe.of("action");
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0]["action"], "fetch");
    EXPECT_EQ(pageOf(d.ui.webView->currentURI()), "index.html");
    EXPECT_FALSE(d.ui.controller->pendingAction.has_value());

    // Reloading the page delivers nothing further.
    d.ui.webView->evaluateJavaScript("location.reload()");
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "index.html") == 2; }));
    pump(500ms);
    EXPECT_EQ(d.probe.count("action"), 1u);

    // The other items load their pages without an action.
    d.probe.clear();
    gtk_menu_item_activate(GTK_MENU_ITEM(menuItemWidget("Actions", "Vavadavu")));
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "export.html") == 1; }));
    gtk_menu_item_activate(GTK_MENU_ITEM(menuItemWidget("Actions", "Setup Guide")));
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "setup.html") == 1; }));
    pump(300ms);
    EXPECT_EQ(d.probe.count("action"), 0u);
}

TEST(Commands, EditItemsWorkInThePageTextFields) {
    auto& d = desktop();
    showPage("edit.html");
    focusWindow();
    d.ui.webView->evaluateJavaScript("document.getElementById('from').focus()");
    pump(300ms);
    gtk_menu_item_activate(GTK_MENU_ITEM(menuItemWidget("Edit", "Select All")));
    gtk_menu_item_activate(GTK_MENU_ITEM(menuItemWidget("Edit", "Copy")));
    pump(300ms);
    d.ui.webView->evaluateJavaScript("document.getElementById('to').focus()");
    pump(300ms);
    // Ctrl+V is the Paste item's accelerator.
    FakeInput input;
    input.chord({XK_Control_L}, XK_v);
    d.probe.clear();
    ASSERT_TRUE(waitUntil([&] {
        d.ui.webView->evaluateJavaScript(
            "probeReport({event: 'value', value: document.getElementById('to').value})");
        pump(100ms);
        auto values = d.probe.of("value");
        return !values.empty() && values.back()["value"] == "copied through the Edit menu";
    }, 5s));
}

TEST(Commands, CheckForUpdatesNamesTheVersion) {
    auto& d = desktop();
    focusWindow();
    struct Recorder final : platform::AlertPresenter {
        std::vector<platform::Alert> shown;
        int runModal(const platform::Alert& alert) override {
            shown.push_back(alert);
            return platform::kAlertFirstButtonReturn;
        }
    };
    auto recorder = std::make_shared<Recorder>();
    platform::AlertPresenter::setShared(recorder);
    gtk_menu_item_activate(GTK_MENU_ITEM(menuItemWidget("Vesko", "Check for Updates…")));
    platform::AlertPresenter::setShared(platform::gtk::makeAlertPresenter());
    ASSERT_EQ(recorder->shown.size(), 1u);
    EXPECT_NE(recorder->shown[0].messageText.find("Vesko " VESKO_TEST_VERSION), std::string::npos)
        << recorder->shown[0].messageText;
    EXPECT_TRUE(d.ui.delegate->updaterController->started());
}

TEST(Commands, MenuAcceleratorsReachTheWindow) {
    auto& d = desktop();
    showPage("batch.html");
    focusWindow();
    d.probe.clear();
    FakeInput input;
    ASSERT_TRUE(input.ok());
    // Shift+Ctrl+H is "Home"; Ctrl+H alone would hide the application.
    input.chord({XK_Control_L, XK_Shift_L}, XK_h);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "main.html") == 1; }));
    pump(300ms);
    EXPECT_EQ(d.probe.count("action"), 0u);
}

TEST(HotKeys, CtrlShiftFFromAnywhereFetchesOnce) {
    auto& d = desktop();
    showPage("settings.html");
    d.probe.clear();
    FakeInput input;
    ASSERT_TRUE(input.ok());
    // The pointer outside the window: the key is global, not the window's.
    input.moveTo(5, 5);
    input.chord({XK_Control_L, XK_Shift_L}, XK_f);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("action", "index.html") >= 1; }))
        << nlohmann::json(d.probe.events).dump();
    pump(700ms);
    EXPECT_EQ(d.probe.count("load", "index.html"), 1u);
    ASSERT_EQ(d.probe.count("action"), 1u);
    EXPECT_EQ(d.probe.of("action")[0]["action"], "fetch");
    EXPECT_TRUE(d.ui.window->isVisible());

    // Ctrl+Shift+B opens the batch page, also with Caps Lock on.
    d.probe.clear();
    input.tap(XK_Caps_Lock);
    input.chord({XK_Control_L, XK_Shift_L}, XK_b);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "batch.html") == 1; }));
    input.tap(XK_Caps_Lock);
    pump(300ms);
    EXPECT_EQ(d.probe.count("action"), 0u);

    // Two presses in quick succession perform the action twice, in order.
    d.probe.clear();
    input.chord({XK_Control_L, XK_Shift_L}, XK_f);
    input.chord({XK_Control_L, XK_Shift_L}, XK_f);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("action", "index.html") >= 1; }));
    pump(700ms);
    // The second load replaces the first before it finishes or after it; either
    // way no press is lost and the page gets at most one fetch per load.
    EXPECT_GE(d.probe.count("action"), 1u);
    EXPECT_LE(d.probe.count("action"), 2u);
    EXPECT_LE(d.probe.count("action"), d.probe.count("load", "index.html"));
}

TEST(HotKeys, PressesAreHandledTheCarbonWay) {
    using namespace platform::carbon;
    auto& d = desktop();
    showPage("main.html");
    d.probe.clear();

    // An event without a hot-key identifier is not handled and performs nothing.
    EventRef bare = CreateEvent(kEventClassKeyboard, kEventHotKeyPressed);
    EXPECT_EQ(hotKeyHandler(nullptr, bare, d.ui.delegate.get()), eventParameterNotFoundErr);
    EXPECT_EQ(hotKeyHandler(nullptr, bare, nullptr), eventNotHandledErr);
    ReleaseEvent(bare);
    EXPECT_EQ(hotKeyHandler(nullptr, nullptr, d.ui.delegate.get()), eventNotHandledErr);

    // An unknown id is consumed without an action.
    EventRef other = CreateHotKeyPressedEvent({fourCharCode("VSKO"), 7});
    EXPECT_EQ(SendEventToEventTarget(other, GetApplicationEventTarget()), noErr);
    ReleaseEvent(other);
    pump(400ms);
    EXPECT_EQ(d.probe.count("load"), 0u);

    // The handler only queues: the page changes in a later turn of the loop.
    EventRef batch = CreateHotKeyPressedEvent({fourCharCode("VSKO"), 2});
    EXPECT_EQ(SendEventToEventTarget(batch, GetApplicationEventTarget()), noErr);
    ReleaseEvent(batch);
    EXPECT_EQ(d.probe.count("load"), 0u);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "batch.html") == 1; }));

    // A combination another program holds is refused, and nothing else changes.
    Display* other_client = XOpenDisplay(nullptr);
    ASSERT_NE(other_client, nullptr);
    const KeyCode k = XKeysymToKeycode(other_client, XK_k);
    XGrabKey(other_client, k, ControlMask | ShiftMask, DefaultRootWindow(other_client), False, GrabModeAsync,
             GrabModeAsync);
    XSync(other_client, False);
    EventHotKeyRef taken = nullptr;
    EXPECT_EQ(RegisterEventHotKey(40 /* K */, cmdKey | shiftKey, {fourCharCode("VSKO"), 9}, GetApplicationEventTarget(),
                                  0, &taken),
              eventHotKeyExistsErr);
    EXPECT_EQ(taken, nullptr);
    XCloseDisplay(other_client);
    // Our own keys still work.
    d.probe.clear();
    FakeInput input;
    input.chord({XK_Control_L, XK_Shift_L}, XK_f);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("action", "index.html") == 1; }));
}

TEST(PageActions, ActionsArriveOnceAndOnlyForTheirLoad) {
    auto& d = desktop();
    showPage("main.html");

    // Two navigations, the second before the first has finished: nothing arrives.
    d.probe.clear();
    d.ui.controller->navigateToPage("index.html", std::string("fetch"));
    d.ui.controller->navigateToPage("batch.html", std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "batch.html") == 1; }));
    pump(700ms);
    EXPECT_EQ(d.probe.count("action"), 0u);
    EXPECT_FALSE(d.ui.controller->pendingAction.has_value());

    // A single quote reaches the page unchanged.
    d.probe.clear();
    d.ui.controller->navigateToPage("index.html", std::string("it's 'quoted'"));
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("action") == 1; }));
    EXPECT_EQ(d.probe.of("action")[0]["action"], "it's 'quoted'");

    // So do a backslash, double quotes and a line break.
    d.probe.clear();
    d.ui.controller->navigateToPage("index.html", std::string("a\\u\"b\"\nc"));
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("action") == 1; }));
    EXPECT_EQ(d.probe.of("action")[0]["action"], "a\\u\"b\"\nc");

    // A page without handleBridgeAction loads without a script error.
    d.probe.clear();
    d.ui.controller->navigateToPage("plain.html", std::string("fetch"));
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "plain.html") == 1; }));
    pump(500ms);
    EXPECT_EQ(d.probe.count("error"), 0u);
    EXPECT_EQ(d.probe.count("action"), 0u);

    // A page that does not exist: nothing loads, and its action stays pending
    // until a later navigation replaces it.
    d.probe.clear();
    d.ui.controller->navigateToPage("no-such-page.html", std::string("fetch"));
    pump(1000ms);
    EXPECT_EQ(d.probe.count("load"), 0u);
    EXPECT_EQ(d.ui.controller->pendingAction, std::optional<std::string>("fetch"));
    EXPECT_EQ(pageOf(d.ui.webView->currentURI()), "plain.html");
    d.ui.controller->goHome();
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("load", "main.html") == 1; }));
    pump(400ms);
    EXPECT_EQ(d.probe.count("action"), 0u);

    // "navigate" from the page goes through the bridge the same way.
    d.probe.clear();
    d.ui.webView->evaluateJavaScript(
        "window.webkit.messageHandlers.vesko.postMessage({action:'navigate', page:'batch.html', navAction:'fetch'})");
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("action", "batch.html") == 1; }));
    EXPECT_EQ(d.probe.of("action")[0]["action"], "fetch");
}

TEST(Links, NewWindowsAndRemoteAddressesGoToTheDefaultBrowser) {
    auto& d = desktop();
    focusWindow();
    d.probe.clear();
    d.ui.controller->navigateToPage("links.html", std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return d.probe.count("rects", "links.html") == 1; }));
    const auto rects = d.probe.of("rects")[0];
    FakeInput input;

    // A blank-target link: the default browser opens it, the page stays.
    int x = 0, y = 0;
    d.webViewPointOnScreen(rects["blank"]["x"], rects["blank"]["y"], &x, &y);
    input.click(x, y);
    ASSERT_TRUE(waitUntil([&] { return !d.workspace->urls().empty(); }));
    EXPECT_EQ(d.workspace->urls(), (std::vector<std::string>{"https://example.com/article"}));
    pump(500ms);
    EXPECT_EQ(pageOf(d.ui.webView->currentURI()), "links.html");
    EXPECT_EQ(d.probe.count("load"), 1u);
    EXPECT_EQ(platform::Application::shared().windows().size(), 1u);

    // A new-window request without an address does nothing.
    d.webViewPointOnScreen(rects["nourl"]["x"], rects["nourl"]["y"], &x, &y);
    input.click(x, y);
    pump(800ms);
    EXPECT_EQ(d.workspace->urls().size(), 1u);
    EXPECT_EQ(pageOf(d.ui.webView->currentURI()), "links.html");

    // A link in the same window to a remote address never loads there.
    d.webViewPointOnScreen(rects["remote"]["x"], rects["remote"]["y"], &x, &y);
    input.click(x, y);
    ASSERT_TRUE(waitUntil([&] { return d.workspace->urls().size() == 2; }));
    EXPECT_EQ(d.workspace->urls()[1], "https://example.com/remote");

    // Nor does a script's main-frame navigation, nor a file outside the pages.
    d.ui.webView->evaluateJavaScript("location.href = 'http://example.org/elsewhere'");
    ASSERT_TRUE(waitUntil([&] { return d.workspace->urls().size() == 3; })) << ::testing::PrintToString(d.workspace->urls());
    d.ui.webView->evaluateJavaScript("location.href = 'file:///etc/hostname'");
    pump(800ms);
    EXPECT_EQ(d.workspace->urls().size(), 3u);
    EXPECT_EQ(pageOf(d.ui.webView->currentURI()), "links.html");
    EXPECT_EQ(d.probe.count("load"), 1u);
}

TEST(Links, MessagesFromAnyOtherPageAreIgnored) {
    auto& d = desktop();
    showPage("main.html");
    pump(300ms);
    const auto badge = platform::Dock::shared().badgeLabel();
    const std::string post =
        "<script>window.webkit.messageHandlers.vesko.postMessage({action:'notify-complete', badge:'9'});"
        "window.webkit.messageHandlers.probe.postMessage({event:'load', page:'foreign'});</script>";
    auto* view = WEBKIT_WEB_VIEW(d.ui.webView->widget());
    // Content that is not one of our pages: a blank page, and one claiming a web address.
    webkit_web_view_load_html(view, post.c_str(), nullptr);
    pump(1000ms);
    webkit_web_view_load_html(view, post.c_str(), "https://example.com/");
    pump(1000ms);
    EXPECT_EQ(d.probe.count("load", "foreign"), 0u);
    EXPECT_EQ(platform::Dock::shared().badgeLabel(), badge);
    // Our own pages are still heard afterwards.
    showPage("batch.html");
}

// Answers panels from a script and records what they showed.
class ScriptedPresenter final : public platform::AlertPresenter {
public:
    std::vector<int> answers;
    std::vector<platform::Alert> shown;
    int runModal(const platform::Alert& alert) override {
        shown.push_back(alert);
        int answer = answers.empty() ? platform::kModalResponseCancel : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        return answer;
    }
};

TEST(Panels, AlertAndConfirmAnswerThePage) {
    auto& d = desktop();
    showPage("dialogs.html");
    auto presenter = std::make_shared<ScriptedPresenter>();
    // alert: OK; confirms: OK, Cancel, closed without a button.
    presenter->answers = {platform::kAlertFirstButtonReturn, platform::kAlertFirstButtonReturn,
                          platform::kAlertFirstButtonReturn + 1, platform::kModalResponseCancel};
    platform::AlertPresenter::setShared(presenter);
    d.ui.webView->evaluateJavaScript("runDialogs()");
    const bool answered = waitUntil([&] { return d.probe.count("dialogs") == 1; });
    platform::AlertPresenter::setShared(platform::gtk::makeAlertPresenter());
    ASSERT_TRUE(answered);
    EXPECT_EQ(d.probe.of("dialogs")[0]["answers"], nlohmann::json({true, false, false}));
    ASSERT_EQ(presenter->shown.size(), 4u);
    EXPECT_EQ(presenter->shown[0].messageText, "Hello from the page");
    EXPECT_EQ(presenter->shown[0].buttons, (std::vector<std::string>{"OK"}));
    EXPECT_EQ(presenter->shown[1].messageText, "Proceed?");
    EXPECT_EQ(presenter->shown[1].buttons, (std::vector<std::string>{"OK", "Cancel"}));
}

// Finds the open message dialog, checks its buttons and answers it.
struct DialogAnswer {
    int response;
    std::vector<std::string> labels;
    std::string text;
    bool seen = false;
};

gboolean answerDialog(gpointer data) {
    auto* answer = static_cast<DialogAnswer*>(data);
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* l = toplevels; l; l = l->next) {
        if (!GTK_IS_MESSAGE_DIALOG(l->data) || !gtk_widget_get_visible(GTK_WIDGET(l->data))) continue;
        GtkDialog* dialog = GTK_DIALOG(l->data);
        for (int response : {platform::kAlertFirstButtonReturn, platform::kAlertFirstButtonReturn + 1}) {
            GtkWidget* button = gtk_dialog_get_widget_for_response(dialog, response);
            answer->labels.push_back(button ? gtk_button_get_label(GTK_BUTTON(button)) : "");
        }
        gchar* text = nullptr;
        g_object_get(dialog, "text", &text, nullptr);
        answer->text = text ? text : "";
        g_free(text);
        answer->seen = true;
        gtk_dialog_response(dialog, answer->response);
        g_list_free(toplevels);
        return G_SOURCE_REMOVE;
    }
    g_list_free(toplevels);
    return G_SOURCE_CONTINUE;
}

TEST(Panels, TheAboutPanelSaysWhyHotKeysDoNotWork) {
    desktop();
    const std::string why = "Global hot keys are not available: the desktop portal did not answer.";
    platform::gtk::reportHotKeysUnavailable(why);
    platform::gtk::reportHotKeysUnavailable(why);
    ASSERT_TRUE(platform::Application::shared().sendAction("orderFrontStandardAboutPanel:"));
    GtkAboutDialog* about = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        GList* toplevels = gtk_window_list_toplevels();
        for (GList* l = toplevels; l; l = l->next)
            if (GTK_IS_ABOUT_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data))) about = GTK_ABOUT_DIALOG(l->data);
        g_list_free(toplevels);
        return about != nullptr;
    }));
    // Said once, after what the application does.
    EXPECT_EQ(std::string(gtk_about_dialog_get_comments(about)),
              "Pulls articles out of browser tabs into a local web interface.\n\n" + why +
                  " The Actions menu has the same commands.");
    gtk_widget_destroy(GTK_WIDGET(about));
}

TEST(Panels, TheRealConfirmPanelHasOkThenCancel) {
    desktop();
    platform::Alert confirm;
    confirm.messageText = "Proceed?";
    confirm.addButtonWithTitle("OK");
    confirm.addButtonWithTitle("Cancel");

    DialogAnswer cancel{platform::kAlertFirstButtonReturn + 1, {}, {}};
    g_timeout_add(50, &answerDialog, &cancel);
    EXPECT_EQ(confirm.runModal(), platform::kAlertFirstButtonReturn + 1);
    ASSERT_TRUE(cancel.seen);
    EXPECT_EQ(cancel.labels, (std::vector<std::string>{"OK", "Cancel"}));
    EXPECT_EQ(cancel.text, "Proceed?");

    DialogAnswer ok{platform::kAlertFirstButtonReturn, {}, {}};
    g_timeout_add(50, &answerDialog, &ok);
    EXPECT_EQ(confirm.runModal(), platform::kAlertFirstButtonReturn);

    // Escape or the window's close button: no button chose.
    DialogAnswer closed{GTK_RESPONSE_DELETE_EVENT, {}, {}};
    g_timeout_add(50, &answerDialog, &closed);
    EXPECT_EQ(confirm.runModal(), platform::kModalResponseCancel);
}

// Collects the LauncherEntry signals on the private session bus.
struct LauncherSignals {
    struct Update {
        std::chrono::steady_clock::time_point at;
        std::string app;
        std::optional<std::int64_t> count;
        bool visible = false;
    };
    std::vector<Update> updates;
    GDBusConnection* connection = nullptr;
    guint subscription = 0;

    explicit LauncherSignals(const std::string& address) {
        connection = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
        if (!connection) return;
        subscription = g_dbus_connection_signal_subscribe(
            connection, nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                gpointer self) {
                Update update;
                update.at = std::chrono::steady_clock::now();
                const gchar* app = nullptr;
                GVariant* properties = nullptr;
                g_variant_get(parameters, "(&s@a{sv})", &app, &properties);
                update.app = app;
                gint64 count = 0;
                gboolean visible = FALSE;
                if (g_variant_lookup(properties, "count", "x", &count)) update.count = count;
                if (g_variant_lookup(properties, "count-visible", "b", &visible)) update.visible = visible;
                g_variant_unref(properties);
                static_cast<LauncherSignals*>(self)->updates.push_back(update);
            },
            this, nullptr);
    }
    ~LauncherSignals() {
        if (subscription) g_dbus_connection_signal_unsubscribe(connection, subscription);
        if (connection) g_object_unref(connection);
    }
};

TEST(Dock, BadgeShowsAndGoesFiveSecondsAfterEachNotice) {
    auto& d = desktop();
    ASSERT_FALSE(d.busAddress.empty()) << "no private session bus";
    showPage("main.html");
    LauncherSignals signals(d.busAddress);
    ASSERT_NE(signals.connection, nullptr);
    pump(200ms);
    auto notify = [&](const std::string& badge) {
        d.ui.webView->evaluateJavaScript("window.webkit.messageHandlers.vesko.postMessage({action:'notify-complete', "
                                         "callbackId:'x', badge:'" + badge + "'})");
    };

    const auto start = std::chrono::steady_clock::now();
    notify("1");
    ASSERT_TRUE(waitUntil([&] { return signals.updates.size() == 1; }, 3s));
    EXPECT_EQ(signals.updates[0].app, "application://app.vesko.vesko.desktop");
    EXPECT_EQ(signals.updates[0].count, std::optional<std::int64_t>(1));
    EXPECT_TRUE(signals.updates[0].visible);
    EXPECT_EQ(platform::Dock::shared().badgeLabel(), std::optional<std::string>("1"));

    // A second notice two seconds later shows its text; the first notice's
    // removal still comes five seconds after the first.
    waitUntil([&] { return std::chrono::steady_clock::now() - start >= 2s; }, 3s);
    notify("2");
    ASSERT_TRUE(waitUntil([&] { return signals.updates.size() == 2; }, 3s));
    EXPECT_EQ(signals.updates[1].count, std::optional<std::int64_t>(2));
    EXPECT_EQ(platform::Dock::shared().badgeLabel(), std::optional<std::string>("2"));

    ASSERT_TRUE(waitUntil([&] { return signals.updates.size() == 3; }, 5s));
    const auto firstRemoval = signals.updates[2].at - start;
    EXPECT_FALSE(signals.updates[2].visible);
    EXPECT_GE(firstRemoval, 4900ms);
    EXPECT_LE(firstRemoval, 6000ms);
    EXPECT_EQ(platform::Dock::shared().badgeLabel(), std::nullopt);

    ASSERT_TRUE(waitUntil([&] { return signals.updates.size() == 4; }, 4s));
    const auto secondRemoval = signals.updates[3].at - start;
    EXPECT_FALSE(signals.updates[3].visible);
    EXPECT_GE(secondRemoval, 6900ms);
    EXPECT_LE(secondRemoval, 8000ms);

    // A text that is not a number is kept as the label but shows no count;
    // the notice never answers the page.
    notify("done");
    ASSERT_TRUE(waitUntil([&] { return signals.updates.size() == 5; }, 3s));
    EXPECT_FALSE(signals.updates[4].visible);
    EXPECT_FALSE(signals.updates[4].count.has_value());
    EXPECT_EQ(platform::Dock::shared().badgeLabel(), std::optional<std::string>("done"));
}

}  // namespace
}  // namespace vesko::gui
