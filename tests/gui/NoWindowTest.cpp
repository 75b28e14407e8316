// A launch whose interface brings no window: the menu bar and both hot keys
// are still installed, and the window step is skipped without a fault.
#include <gtest/gtest.h>

#include "app/AppDelegate.hpp"
#include "platform/Menu.hpp"
#include "platform/gtk/Desktop.hpp"
#include "tests/gui/GuiHarness.hpp"

#include <cstdlib>

namespace vesko::gui {
namespace {

TEST(LaunchWithoutWindow, MenuBarAndHotKeysAreStillInstalled) {
    ChildProcess xvfb;
    const std::string display = startXvfb(xvfb);
    ASSERT_FALSE(display.empty());
    setenv("DISPLAY", display.c_str(), 1);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    int argc = 1;
    static char name[] = "gui_tests";
    static char* args[] = {name, nullptr};
    char** argv = args;
    ASSERT_TRUE(platform::gtk::initialize(&argc, &argv));

    AppDelegate delegate;
    auto& application = platform::Application::shared();
    application.setDelegate(&delegate);
    application.finishLaunching();

    EXPECT_TRUE(application.windows().empty());
    auto menu = application.mainMenu();
    ASSERT_NE(menu, nullptr);
    std::vector<std::string> titles;
    for (const auto& item : menu->items) titles.push_back(item->title);
    EXPECT_EQ(titles, (std::vector<std::string>{"Vesko", "Edit", "Actions", "Window"}));
    EXPECT_EQ(application.windowsMenu(), menu->items[3]->submenu);
    EXPECT_NE(delegate.fetchHotKeyRef, nullptr);
    EXPECT_NE(delegate.batchHotKeyRef, nullptr);

    // Nothing answers the page commands now; the updater keeps its own target.
    EXPECT_FALSE(menu->items[2]->submenu->itemWithTitle("Fetch Current Tab")->isEnabled());
    EXPECT_TRUE(menu->items[0]->submenu->itemWithTitle("Check for Updates\u2026")->isEnabled());
    EXPECT_TRUE(menu->items[0]->submenu->itemWithTitle("Quit Vesko")->isEnabled());

    // A hot key with no window activates and performs nothing.
    platform::carbon::deliverHotKeyPress({platform::carbon::fourCharCode("VSKO"), 1});
    pump(std::chrono::milliseconds(200));
    application.setDelegate(nullptr);
}

}  // namespace
}  // namespace vesko::gui
