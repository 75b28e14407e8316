#pragma once
// The application delegate: at launch it builds the menu bar, registers the
// two global hot keys and sizes, titles and centres the main window; closing
// that window quits.

#include "platform/Application.hpp"
#include "platform/HotKeys.hpp"
#include "platform/Updater.hpp"

#include <memory>

namespace vesko {

class AppDelegate : public platform::ApplicationDelegate {
public:
    AppDelegate();

    // Registration of the "Fetch Current Tab" hot key; empty until registered.
    platform::carbon::EventHotKeyRef fetchHotKeyRef = nullptr;
    // Registration of the "Batch Process" hot key; empty until registered.
    platform::carbon::EventHotKeyRef batchHotKeyRef = nullptr;
    // The software-update controller, started at once.
    const std::shared_ptr<platform::StandardUpdaterController> updaterController;

    void applicationDidFinishLaunching() override;
    bool applicationShouldTerminateAfterLastWindowClosed() override { return true; }

    // The four menus of the menu bar.
    void setupMenuItems();
    // Installs the hot-key handler and registers Shift+Command+F and Shift+Command+B.
    void registerGlobalHotkeys();
    // Queues on the main queue: activate, bring the first window forward as
    // key window, and perform `action` on its view controller.
    void activateAndPerform(const platform::Selector& action);
};

// The hot-key event handler installed by registerGlobalHotkeys.
platform::carbon::OSStatus hotKeyHandler(platform::carbon::EventHandlerCallRef nextHandler,
                                         platform::carbon::EventRef event, void* userData);

}  // namespace vesko
