#include "tests/gui/GuiHarness.hpp"

#include "platform/Dispatch.hpp"
#include "platform/gtk/Desktop.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <gio/gio.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vesko::gui {

namespace {

// Reads one line from `fd` within `timeout`.
std::string readLine(int fd, std::chrono::milliseconds timeout) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    while (std::chrono::steady_clock::now() < deadline) {
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n == 1) {
            if (c == '\n') return line;
            line += c;
        } else if (n == 0) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return line;
}

}  // namespace

std::string startXvfb(ChildProcess& server, int width, int height) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "";
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    testing::ChildOptions options;
    options.passFd = fds[1];
    bool started = server.start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen,
                                 "-nolisten", "tcp", "-noreset"},
                                options);
    close(fds[1]);
    std::string number = started ? readLine(fds[0], std::chrono::seconds(15)) : "";
    close(fds[0]);
    return number.empty() ? "" : ":" + number;
}

std::string startSessionBus(ChildProcess& bus) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return "";
    testing::ChildOptions options;
    options.passFd = fds[1];
    bool started = bus.start({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                              "--print-address=" + std::to_string(fds[1])},
                             options);
    close(fds[1]);
    std::string address = started ? readLine(fds[0], std::chrono::seconds(10)) : "";
    close(fds[0]);
    return address;
}

namespace {

GVariant* callFakePortal(const char* interface, const char* method, GVariant* parameters) {
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                                  interface, method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
                                                  nullptr, nullptr);
    g_object_unref(bus);
    return reply;
}

}  // namespace

bool FakePortal::start(const std::string& mode) {
    if (!process_.start({VESKO_FAKE_PORTAL, mode})) return false;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return false;
    bool owned = false;
    for (int attempt = 0; attempt < 250 && !owned && !process_.exited(); ++attempt) {
        GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "NameHasOwner",
                                                      g_variant_new("(s)", "org.freedesktop.portal.Desktop"),
                                                      G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, nullptr);
        if (reply) {
            gboolean has = FALSE;
            g_variant_get(reply, "(b)", &has);
            g_variant_unref(reply);
            owned = has;
        }
        if (!owned) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    g_object_unref(bus);
    return owned;
}

void FakePortal::stop() { process_.stop(); }

nlohmann::json FakePortal::bound() {
    GVariant* reply = callFakePortal("app.vesko.test.FakePortal", "Bound", nullptr);
    if (!reply) return nlohmann::json::array();
    const char* text = nullptr;
    g_variant_get(reply, "(&s)", &text);
    auto shortcuts = nlohmann::json::parse(text);
    g_variant_unref(reply);
    return shortcuts;
}

void FakePortal::activate(const std::string& id) {
    if (GVariant* reply = callFakePortal("app.vesko.test.FakePortal", "Activate", g_variant_new("(s)", id.c_str())))
        g_variant_unref(reply);
}

unsigned long findTopLevelWindow(void* display, const std::string& title) {
    auto* x = static_cast<Display*>(display);
    // Windows come and go while the tree is read: errors about vanished
    // windows are ignored.
    XSetErrorHandler(+[](Display*, XErrorEvent*) { return 0; });
    ::Window root = 0, parent = 0;
    ::Window* kids = nullptr;
    unsigned int count = 0;
    ::Window found = 0;
    if (!XQueryTree(x, DefaultRootWindow(x), &root, &parent, &kids, &count)) return 0;
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(x, kids[i], &attributes) || attributes.map_state != IsViewable) continue;
        char* name = nullptr;
        if (XFetchName(x, kids[i], &name) && name) {
            if (title == name) found = kids[i];
            XFree(name);
        }
    }
    if (kids) XFree(kids);
    return found;
}

bool stackedAbove(void* display, unsigned long upper, unsigned long lower) {
    auto* x = static_cast<Display*>(display);
    ::Window root = 0, parent = 0;
    ::Window* kids = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(x, DefaultRootWindow(x), &root, &parent, &kids, &count)) return false;
    // Children come bottom first.
    int upperAt = -1, lowerAt = -1;
    for (unsigned int i = 0; i < count; ++i) {
        if (kids[i] == upper) upperAt = static_cast<int>(i);
        if (kids[i] == lower) lowerAt = static_cast<int>(i);
    }
    if (kids) XFree(kids);
    return upperAt >= 0 && lowerAt >= 0 && upperAt > lowerAt;
}

FakeInput::FakeInput() { display_ = XOpenDisplay(nullptr); }
FakeInput::~FakeInput() {
    if (display_) XCloseDisplay(static_cast<Display*>(display_));
}

void FakeInput::chord(const std::vector<unsigned long>& modifiers, unsigned long key) {
    auto* d = static_cast<Display*>(display_);
    for (auto m : modifiers) XTestFakeKeyEvent(d, XKeysymToKeycode(d, m), True, CurrentTime);
    XTestFakeKeyEvent(d, XKeysymToKeycode(d, key), True, CurrentTime);
    XTestFakeKeyEvent(d, XKeysymToKeycode(d, key), False, CurrentTime);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        XTestFakeKeyEvent(d, XKeysymToKeycode(d, *it), False, CurrentTime);
    XSync(d, False);
}

void FakeInput::moveTo(int x, int y) {
    auto* d = static_cast<Display*>(display_);
    XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
    XSync(d, False);
}

void FakeInput::click(int x, int y) {
    auto* d = static_cast<Display*>(display_);
    XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XSync(d, False);
}

TemporaryHome::TemporaryHome() {
    char pattern[] = "/tmp/vesko-home-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    path = pattern;
    std::filesystem::create_directories(path / "Downloads");
    setenv("HOME", path.c_str(), 1);
    setenv("XDG_DATA_HOME", (path / ".local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (path / ".config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (path / ".cache").c_str(), 1);
}

TemporaryHome::~TemporaryHome() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return platform::dispatch::runMainUntil(done, timeout);
}

void pump(std::chrono::milliseconds duration) {
    platform::dispatch::runMainUntil([] { return false; }, duration);
}

std::vector<nlohmann::json> Probe::of(const std::string& event, const std::string& page) const {
    std::vector<nlohmann::json> found;
    for (const auto& e : events)
        if (e.value("event", "") == event && (page.empty() || e.value("page", "") == page)) found.push_back(e);
    return found;
}

bool Desktop::launch(const std::filesystem::path& resources) {
    display = startXvfb(xvfb);
    if (display.empty()) return false;
    setenv("DISPLAY", display.c_str(), 1);
    busAddress = startSessionBus(bus);
    if (!busAddress.empty()) setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);
    setenv("GTK_THEME", "Adwaita", 1);

    int argc = 1;
    static char name[] = "gui_tests";
    static char* args[] = {name, nullptr};
    char** argv = args;
    if (!platform::gtk::initialize(&argc, &argv)) return false;
    workspace = std::make_shared<RecordingWorkspace>();
    platform::Workspace::setShared(workspace);

    ui = loadMainInterface(resources);
    ui.webView->addObserverMessageHandler("probe", [this](const nlohmann::json& event) { probe.events.push_back(event); });
    platform::Application::shared().finishLaunching();
    return true;
}

void Desktop::webViewPointOnScreen(int x, int y, int* screenX, int* screenY) const {
    GtkWidget* view = ui.webView->widget();
    GtkWidget* top = gtk_widget_get_toplevel(view);
    int inTop = 0, inTopY = 0;
    gtk_widget_translate_coordinates(view, top, x, y, &inTop, &inTopY);
    int originX = 0, originY = 0;
    gdk_window_get_origin(gtk_widget_get_window(top), &originX, &originY);
    *screenX = originX + inTop;
    *screenY = originY + inTopY;
}

namespace {
Desktop* launched = nullptr;
}

Desktop& desktop() { return desktopWithPages(VESKO_GUI_TEST_RESOURCES); }

Desktop& desktopWithPages(const std::filesystem::path& resources) {
    if (!launched) {
        launched = new Desktop;
        if (!launched->launch(resources)) {
            std::fprintf(stderr, "could not start the test desktop (Xvfb, GTK)\n");
            launched->bus.stop();
            launched->xvfb.stop();
            std::exit(1);
        }
    }
    return *launched;
}

void shutdownDesktop() {
    // The application objects stay: GTK is not torn down before exit. Only
    // the servers go, by their process ids.
    if (!launched) return;
    launched->bus.stop();
    launched->xvfb.stop();
}

}  // namespace vesko::gui
