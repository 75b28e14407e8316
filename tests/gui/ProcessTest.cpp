// The built application as a user starts it: it comes up even when another
// program holds its hot key, and closing its window quits it.
#include <gtest/gtest.h>

#include "tests/gui/GuiHarness.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>


#include <csignal>
#include <cstdlib>
#include <thread>

namespace vesko::gui {
namespace {

using namespace std::chrono_literals;

// The viewable top-level window titled `title`, or 0. Windows come and go
// while the tree is read: errors about vanished windows are ignored.
::Window findWindow(Display* display, const std::string& title) {
    XSetErrorHandler(+[](Display*, XErrorEvent*) { return 0; });
    ::Window root = 0, parent = 0;
    ::Window* kids = nullptr;
    unsigned int count = 0;
    ::Window found = 0;
    if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &kids, &count)) return 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, kids[i], &attributes) || attributes.map_state != IsViewable) continue;
        char* name = nullptr;
        if (XFetchName(display, kids[i], &name) && name) {
            if (title == name) found = kids[i];
            XFree(name);
        }
    }
    if (kids) XFree(kids);
    return found;
}

TEST(Application, StartsWithItsHotKeyTakenAndQuitsWhenTheWindowCloses) {
    ChildProcess xvfb;
    const std::string display = startXvfb(xvfb);
    ASSERT_FALSE(display.empty());
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");

    Display* x = XOpenDisplay(display.c_str());
    ASSERT_NE(x, nullptr);
    // Another program already holds Ctrl+Shift+F.
    XGrabKey(x, XKeysymToKeycode(x, XK_f), ControlMask | ShiftMask, DefaultRootWindow(x), False, GrabModeAsync,
             GrabModeAsync);
    XSync(x, False);

    ChildProcess app;
    ASSERT_TRUE(app.start({VESKO_EXECUTABLE}));
    ::Window window = 0;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!window && std::chrono::steady_clock::now() < deadline) {
        window = findWindow(x, "Vesko");
        if (!window) std::this_thread::sleep_for(100ms);
    }
    ASSERT_NE(window, 0u) << "no window titled Vesko appeared";
    std::this_thread::sleep_for(500ms);

    // The close button of the window: WM_DELETE_WINDOW.
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, window, False, NoEventMask, &close);
    XSync(x, False);
    EXPECT_EQ(app.waitExit(15s), 0);
    XCloseDisplay(x);
}

TEST(Application, QuitsCleanlyOnSigterm) {
    ChildProcess xvfb;
    const std::string display = startXvfb(xvfb);
    ASSERT_FALSE(display.empty());
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    Display* x = XOpenDisplay(display.c_str());
    ASSERT_NE(x, nullptr);
    ChildProcess app;
    ASSERT_TRUE(app.start({VESKO_EXECUTABLE}));
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!findWindow(x, "Vesko") && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(100ms);
    ASSERT_NE(findWindow(x, "Vesko"), 0u);
    kill(app.pid(), SIGTERM);
    EXPECT_EQ(app.waitExit(15s), 0);
    XCloseDisplay(x);
}

TEST(Application, WithoutADisplayItSaysSoAndFails) {
    ChildProcess app;
    unsetenv("DISPLAY");
    ASSERT_TRUE(app.start({VESKO_EXECUTABLE}));
    EXPECT_EQ(app.waitExit(15s), 1);
}

}  // namespace
}  // namespace vesko::gui
