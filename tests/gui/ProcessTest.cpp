// The built application as a user starts it: it comes up even when another
// program holds its hot key, closing its window quits it, a second start
// hands over to the first, and on Wayland the desktop portal binds its keys.
#include <gtest/gtest.h>

#include "tests/gui/GuiHarness.hpp"
#include "tests/support/Subprocess.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>


#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <thread>

namespace vesko::gui {
namespace {

using namespace std::chrono_literals;

::Window findWindow(Display* display, const std::string& title) { return findTopLevelWindow(display, title); }

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// An X server and a session bus of the test's own, in this process's
// environment, so the programs it starts use them.
struct Session {
    ChildProcess xvfb;
    ChildProcess bus;
    Display* x = nullptr;

    bool start() {
        const std::string display = startXvfb(xvfb);
        const std::string address = startSessionBus(bus);
        if (display.empty() || address.empty()) return false;
        setenv("DISPLAY", display.c_str(), 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        x = XOpenDisplay(display.c_str());
        return x != nullptr;
    }
    ~Session() {
        if (x) XCloseDisplay(x);
    }

    ::Window waitForVesko() {
        ::Window window = 0;
        eventually([&] { return (window = findWindow(x, "Vesko")) != 0; }, 30s);
        return window;
    }

    // A window of the test's own over the whole screen, on top, and staying
    // there: raises the application asked for before are over.
    ::Window cover(::Window application) {
        ::Window window = XCreateSimpleWindow(x, DefaultRootWindow(x), 0, 0, 1600, 1000, 0, 0, 0);
        XMapRaised(x, window);
        XSync(x, False);
        const bool settled = eventually([&] {
            XRaiseWindow(x, window);
            XSync(x, False);
            std::this_thread::sleep_for(300ms);
            return stackedAbove(x, window, application);
        }, 10s);
        return settled ? window : 0;
    }
};

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

TEST(Application, ASecondStartBringsTheFirstWindowForwardAndEnds) {
    Session session;
    ASSERT_TRUE(session.start());
    // The second start comes while the first is still starting: one of them
    // ends, the other shows the window.
    ChildProcess first, second;
    ASSERT_TRUE(first.start({VESKO_EXECUTABLE}));
    ASSERT_TRUE(second.start({VESKO_EXECUTABLE}));
    const ::Window window = session.waitForVesko();
    ASSERT_NE(window, 0u);
    int firstStatus = -1, secondStatus = -1;
    ASSERT_TRUE(eventually([&] {
        firstStatus = first.waitExit(10ms);
        secondStatus = second.waitExit(10ms);
        return firstStatus >= 0 || secondStatus >= 0;
    }, 15s));
    EXPECT_EQ(std::max(firstStatus, secondStatus), 0);
    EXPECT_EQ(std::min(firstStatus, secondStatus), -1) << "both ended";

    // Under a window of another program, a third start brings it forward.
    const ::Window cover = session.cover(window);
    ASSERT_NE(cover, 0u);
    ChildProcess third;
    ASSERT_TRUE(third.start({VESKO_EXECUTABLE}));
    EXPECT_EQ(third.waitExit(15s), 0);
    EXPECT_TRUE(eventually([&] { return stackedAbove(session.x, window, cover); }, 10s));

    // The windowless run has nothing to do with the running window.
    auto stdio = testing::runProgram({VESKO_EXECUTABLE, "--stdio"},
                                     "{\"action\":\"navigate\",\"page\":\"index.html\",\"navAction\":\"fetch\"}\n");
    EXPECT_EQ(stdio.exitStatus, 0);
    EXPECT_NE(stdio.out.find("handleBridgeAction('fetch')"), std::string::npos);
}

TEST(Application, OnWaylandTheDesktopPortalBindsTheHotKeys) {
    Session session;
    ASSERT_TRUE(session.start());
    FakePortal portal;
    ASSERT_TRUE(portal.start("answer"));
    setenv("XDG_SESSION_TYPE", "wayland", 1);
    ChildProcess app;
    ASSERT_TRUE(app.start({VESKO_EXECUTABLE}));
    const ::Window window = session.waitForVesko();
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(eventually([&] { return portal.bound().size() == 2; }, 15s)) << portal.bound().dump();
    EXPECT_EQ(portal.bound(), nlohmann::json::parse(R"([
        {"id": "hot-key-1", "description": "Fetch Current Tab", "preferred_trigger": "CTRL+SHIFT+f"},
        {"id": "hot-key-2", "description": "Batch Process", "preferred_trigger": "CTRL+SHIFT+b"}])"));

    // A press the desktop reports brings the window forward, like an X11 press.
    const ::Window cover = session.cover(window);
    ASSERT_NE(cover, 0u);
    portal.activate("hot-key-2");
    EXPECT_TRUE(eventually([&] { return stackedAbove(session.x, window, cover); }, 10s));
}

TEST(Application, WithoutADisplayItSaysSoAndFails) {
    ChildProcess app;
    unsetenv("DISPLAY");
    ASSERT_TRUE(app.start({VESKO_EXECUTABLE}));
    EXPECT_EQ(app.waitExit(15s), 1);
}

}  // namespace
}  // namespace vesko::gui
