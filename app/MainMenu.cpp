#include "app/AppDelegate.hpp"
#include "platform/Menu.hpp"

namespace vesko {
namespace {

using platform::Menu;
using platform::MenuItem;

constexpr platform::ModifierFlags kCommand = platform::kEventModifierFlagCommand;
constexpr platform::ModifierFlags kShiftCommand = platform::kEventModifierFlagShift | kCommand;
constexpr platform::ModifierFlags kOptionCommand = platform::kEventModifierFlagOption | kCommand;

void appendTopLevel(Menu& mainMenu, const std::shared_ptr<Menu>& menu) {
    auto top = std::make_shared<MenuItem>(menu->title, "", "");
    top->submenu = menu;
    mainMenu.addItem(top);
}

}  // namespace

void AppDelegate::setupMenuItems() {
    auto& application = platform::Application::shared();
    auto mainMenu = application.mainMenu();
    if (!mainMenu) mainMenu = std::make_shared<Menu>();
    application.setMainMenu(mainMenu);

    auto appMenu = std::make_shared<Menu>("Vesko");
    appMenu->addItemWithTitle("About Vesko", "orderFrontStandardAboutPanel:", "");
    appMenu->addItemWithTitle("Check for Updates\u2026", "checkForUpdates:", "").setTarget(updaterController);
    appMenu->addItem(MenuItem::separatorItem());
    appMenu->addItemWithTitle("Hide Vesko", "hide:", "h");
    appMenu->addItemWithTitle("Hide Others", "hideOtherApplications:", "h").keyEquivalentModifierMask =
        kOptionCommand;
    appMenu->addItemWithTitle("Show All", "unhideAllApplications:", "");
    appMenu->addItem(MenuItem::separatorItem());
    appMenu->addItemWithTitle("Quit Vesko", "terminate:", "q");
    appendTopLevel(*mainMenu, appMenu);

    auto editMenu = std::make_shared<Menu>("Edit");
    editMenu->addItemWithTitle("Undo", "undo:", "z");
    editMenu->addItemWithTitle("Redo", "redo:", "Z");
    editMenu->addItem(MenuItem::separatorItem());
    editMenu->addItemWithTitle("Cut", "cut:", "x");
    editMenu->addItemWithTitle("Copy", "copy:", "c");
    editMenu->addItemWithTitle("Paste", "paste:", "v");
    editMenu->addItemWithTitle("Select All", "selectAll:", "a");
    appendTopLevel(*mainMenu, editMenu);

    auto actionsMenu = std::make_shared<Menu>("Actions");
    actionsMenu->addItemWithTitle("Fetch Current Tab", "fetchCurrentTab", "f").keyEquivalentModifierMask =
        kShiftCommand;
    actionsMenu->addItemWithTitle("Batch Process", "openBatch", "b").keyEquivalentModifierMask = kShiftCommand;
    actionsMenu->addItem(MenuItem::separatorItem());
    actionsMenu->addItemWithTitle("Vavadavu", "openVavadavu", "");
    actionsMenu->addItemWithTitle("Settings", "openSettings", "");
    actionsMenu->addItemWithTitle("Setup Guide", "openSetup", "");
    actionsMenu->addItem(MenuItem::separatorItem());
    actionsMenu->addItemWithTitle("Home", "goHome", "h").keyEquivalentModifierMask = kShiftCommand;
    appendTopLevel(*mainMenu, actionsMenu);

    auto windowMenu = std::make_shared<Menu>("Window");
    windowMenu->addItemWithTitle("Minimize", "performMiniaturize:", "m");
    windowMenu->addItemWithTitle("Close", "performClose:", "w");
    appendTopLevel(*mainMenu, windowMenu);

    application.setWindowsMenu(windowMenu);
}

}  // namespace vesko
