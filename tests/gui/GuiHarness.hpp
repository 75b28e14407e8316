#pragma once
// What the window tests need around them: a private X server (Xvfb) and
// session bus started on free numbers and stopped by their process ids, fake
// input through XTest, and the application's real main interface loaded with
// instrumented pages that report their loads and page actions.

#include "app/MainInterface.hpp"
#include "platform/Workspace.hpp"
#include "tests/support/ChildProcess.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vesko::gui {

using testing::ChildProcess;

// Starts Xvfb on a free display (-displayfd); returns ":N" or "" on failure.
std::string startXvfb(ChildProcess& server, int width = 1600, int height = 1000);
// Starts a private session bus; returns its address or "".
std::string startSessionBus(ChildProcess& bus);

// The test's stand-in for the desktop portal (FakePortal.cpp) on the session
// bus of $DBUS_SESSION_BUS_ADDRESS; see there for the modes.
class FakePortal {
public:
    ~FakePortal() { stop(); }
    // Starts it and waits until it owns the portal's name.
    bool start(const std::string& mode);
    void stop();
    // The shortcuts of its last BindShortcuts ([] before one).
    nlohmann::json bound();
    // Emits Activated for the shortcut `id` of its last session.
    void activate(const std::string& id);

private:
    ChildProcess process_;
};

// X windows of other programs, on the display in $DISPLAY: the viewable
// top-level window titled `title` (0 when none), and whether window `upper`
// is stacked above window `lower`.
unsigned long findTopLevelWindow(void* display, const std::string& title);
bool stackedAbove(void* display, unsigned long upper, unsigned long lower);

// Fake keyboard and pointer input on the display in $DISPLAY.
class FakeInput {
public:
    FakeInput();
    ~FakeInput();
    bool ok() const { return display_ != nullptr; }
    // Presses `modifiers` (keysyms), taps `key`, releases the modifiers.
    void chord(const std::vector<unsigned long>& modifiers, unsigned long key);
    void tap(unsigned long key) { chord({}, key); }
    void moveTo(int x, int y);
    void click(int x, int y);

private:
    void* display_ = nullptr;
};

// A fresh home folder with its Downloads folder, made the process's HOME
// (and XDG data, config and cache homes), so the web view's stored data and
// saved files stay inside it; removed afterwards.
struct TemporaryHome {
    std::filesystem::path path;
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;
};

// Runs the main loop until `done` holds or `timeout` passes.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs the main loop for `duration`.
void pump(std::chrono::milliseconds duration);

// A workspace that records the addresses it is asked to open.
class RecordingWorkspace final : public platform::Workspace {
public:
    void openURL(const std::string& url) override {
        std::lock_guard lock(mutex);
        opened.push_back(url);
    }
    std::vector<std::string> urls() {
        std::lock_guard lock(mutex);
        return opened;
    }

private:
    std::mutex mutex;
    std::vector<std::string> opened;
};

// The instrumented pages' reports (see resources/pages/probe.js).
struct Probe {
    std::vector<nlohmann::json> events;
    std::vector<nlohmann::json> of(const std::string& event, const std::string& page = {}) const;
    std::size_t count(const std::string& event, const std::string& page = {}) const { return of(event, page).size(); }
    void clear() { events.clear(); }
};

// Everything one test process shares: the X server, the bus, and the
// launched application with its window.
struct Desktop {
    ChildProcess xvfb;
    ChildProcess bus;
    std::string display;
    std::string busAddress;
    std::shared_ptr<RecordingWorkspace> workspace;
    MainInterface ui;
    Probe probe;

    // Starts the servers, initialises the desktop layer, loads the main
    // interface on the pages of `resources` and finishes launching. False on failure.
    bool launch(const std::filesystem::path& resources);
    // The screen position of a point of the web view's content.
    void webViewPointOnScreen(int x, int y, int* screenX, int* screenY) const;
};

// The one desktop of this test process (launched on first use), showing the
// instrumented test pages...
Desktop& desktop();
// ...or the pages of another resources folder (the built one, for one).
Desktop& desktopWithPages(const std::filesystem::path& resources);
// Stops the servers of the desktop, if one was launched.
void shutdownDesktop();

}  // namespace vesko::gui
