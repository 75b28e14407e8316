// The hot-key backends on their own: the desktop portal's (against the
// test's fake portal on a private session bus) and the X11 one's lifetime.
#include "platform/gtk/Desktop.hpp"
#include "platform/gtk/DesktopInternal.hpp"
#include "tests/gui/GuiHarness.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace vesko::gui {
namespace {

using namespace platform::carbon;
using namespace std::chrono_literals;

constexpr OSType kSignature = fourCharCode("VSKO");

struct PortalBus {
    ChildProcess bus;
    FakePortal portal;
    bool start() {
        const std::string address = startSessionBus(bus);
        if (address.empty()) return false;
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        return true;
    }
};

struct Recorder {
    std::vector<EventHotKeyID> presses;
    std::vector<std::string> reports;
    std::shared_ptr<HotKeyBackend> backend(std::chrono::milliseconds deadline = 10s) {
        return platform::gtk::makePortalHotKeyBackend([this](EventHotKeyID id) { presses.push_back(id); },
                                                      [this](const std::string& why) { reports.push_back(why); },
                                                      deadline);
    }
};

TEST(PortalHotKeys, BindsTheKeysWithTheirTriggersAndDeliversActivations) {
    PortalBus session;
    ASSERT_TRUE(session.start());
    ASSERT_TRUE(session.portal.start("answer"));
    Recorder recorder;
    auto backend = recorder.backend();
    EXPECT_EQ(backend->grab(kVK_ANSI_F, cmdKey | shiftKey, {kSignature, 1}), noErr);
    EXPECT_EQ(backend->grab(kVK_ANSI_B, cmdKey | shiftKey | optionKey, {kSignature, 2}), noErr);
    EXPECT_EQ(backend->grab(kVK_ANSI_F, cmdKey | shiftKey, {kSignature, 3}), eventHotKeyExistsErr);
    ASSERT_TRUE(waitUntil([&] { return session.portal.bound().size() == 2; }));
    // Without a menu bar to name them, the keys describe themselves.
    EXPECT_EQ(session.portal.bound(), nlohmann::json::parse(R"([
        {"id": "hot-key-1", "description": "Ctrl+Shift+F", "preferred_trigger": "CTRL+SHIFT+f"},
        {"id": "hot-key-2", "description": "Ctrl+Alt+Shift+B", "preferred_trigger": "CTRL+ALT+SHIFT+b"}])"));

    session.portal.activate("hot-key-2");
    session.portal.activate("no-such-key");
    session.portal.activate("hot-key-1");
    ASSERT_TRUE(waitUntil([&] { return recorder.presses.size() == 2; }));
    pump(100ms);
    ASSERT_EQ(recorder.presses.size(), 2u);
    EXPECT_EQ(recorder.presses[0].signature, kSignature);
    EXPECT_EQ(recorder.presses[0].id, 2u);
    EXPECT_EQ(recorder.presses[1].id, 1u);
    EXPECT_TRUE(recorder.reports.empty());
}

TEST(PortalHotKeys, AFailingOrSilentPortalIsReportedOnceAndHoldsNothingUp) {
    PortalBus session;
    ASSERT_TRUE(session.start());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "Global hot keys are not available: the desktop offers no global shortcuts portal."},
        {"error", "Global hot keys are not available: the desktop portal refused (Global shortcuts are switched off)."},
        {"decline", "Global hot keys are not available: the request to bind them was declined."},
        {"silent", "Global hot keys are not available: the desktop portal did not answer."},
    };
    for (const auto& [mode, report] : cases) {
        SCOPED_TRACE(mode.empty() ? "no portal" : mode);
        session.portal.stop();
        if (!mode.empty()) {
            ASSERT_TRUE(session.portal.start(mode));
        }
        Recorder recorder;
        auto backend = recorder.backend(300ms);
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(backend->grab(kVK_ANSI_F, cmdKey | shiftKey, {kSignature, 1}), noErr);
        EXPECT_EQ(backend->grab(kVK_ANSI_B, cmdKey | shiftKey, {kSignature, 2}), noErr);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms);
        ASSERT_TRUE(waitUntil([&] { return !recorder.reports.empty(); }, 5s));
        pump(400ms);
        EXPECT_EQ(recorder.reports, std::vector<std::string>{report});
        // Going away with a call still unanswered leaves nothing behind.
        backend.reset();
        pump(50ms);
    }
}

TEST(X11HotKeys, ABackendGoneRightAfterAGrabLeavesNothingBehind) {
    ChildProcess xvfb;
    const std::string display = startXvfb(xvfb);
    ASSERT_FALSE(display.empty());
    auto backend = platform::gtk::makeX11HotKeyBackend(display);
    ASSERT_EQ(backend->grab(kVK_ANSI_F, cmdKey | shiftKey, {kSignature, 1}), noErr);
    // The grab left work for the main loop; the backend and its display go first.
    backend.reset();
    pump(100ms);
}

}  // namespace
}  // namespace vesko::gui
