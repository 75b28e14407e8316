#pragma once
// The desktop layer: GTK 3, WebKitGTK 4.1, X11 and the session bus behind the
// application, window, menu, web view, panel, dock and hot-key layers.

#include "platform/Application.hpp"
#include "platform/HotKeys.hpp"
#include "platform/WebView.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

namespace platform::gtk {

// Opens the display and installs the GTK application object, the modal
// panels, the dock and the X11 hot-key backend as the shared instances.
// False (with a message on stderr) when no display can be opened.
bool initialize(int* argc, char*** argv);

// Makes this process the running Vesko of the session: it holds the
// application's name on the session bus, and a later start that finds it
// there asks it to bring its first window forward. True in such a later
// start, which then ends without a window or hot keys of its own. Without a
// session bus every start runs on its own.
bool handOverToRunningInstance();


// A window of the application: the menu bar on top, the content below.
class DesktopWindow : public platform::Window {
public:
    // Puts `content` (a GTK widget) in the window's content area.
    virtual void setContentView(GtkWidget* content) = 0;
    virtual GtkWindow* gtkWindow() const = 0;
    // The menu bar widget (nullptr until the application has a main menu).
    virtual GtkWidget* menuBar() const = 0;
    // Shown by finishLaunching (the interface's "visible at launch").
    bool visibleAtLaunch = true;
};

// Creates a window of `size` (its first size, before the launch sequence
// sizes it) and adds it to the application's window list.
std::shared_ptr<DesktopWindow> makeWindow(Size initialSize, const std::string& title = {});

// The web view: a WebKitWebView behind the web view layer. It answers the
// editing actions of the responder chain ("copy:", "paste:", ...).
class DesktopWebView : public platform::WebView, public platform::Responder {
public:
    virtual GtkWidget* widget() const = 0;
    // Main-frame navigations may only reach files under `folder`; every
    // other address opens in the default browser instead. Defaults to the
    // read-access folder of the last loadFileURL.
    virtual void setAllowedNavigationFolder(const std::filesystem::path& folder) = 0;
    // The address the web view shows now.
    virtual std::string currentURI() const = 0;
    // Registers a further message handler whose messages are passed as they
    // come (tests use it to watch instrumented pages).
    virtual void addObserverMessageHandler(const std::string& name,
                                           std::function<void(const nlohmann::json&)> handler) = 0;
};

std::shared_ptr<DesktopWebView> makeWebView();

// The hot-key backend on the X display `displayName` ("" for $DISPLAY).
std::shared_ptr<platform::carbon::HotKeyBackend> makeX11HotKeyBackend(const std::string& displayName);


}  // namespace platform::gtk

namespace platform::gtk {

// Called when the application terminates, before the main loop stops (tests
// use it to see that closing the last window quits).
void setTerminationHandler(std::function<void()> handler);

// Brings every menu item's enabled state up to date with the responder chain.
void validateMenus();

}  // namespace platform::gtk
