#include "app/AppDelegate.hpp"

namespace vesko {

AppDelegate::AppDelegate()
    : updaterController(std::make_shared<platform::StandardUpdaterController>(/*startingUpdater=*/true)) {}

void AppDelegate::applicationDidFinishLaunching() {
    setupMenuItems();
    registerGlobalHotkeys();
    auto windows = platform::Application::shared().windows();
    if (windows.empty()) return;
    platform::Window* window = windows.front();
    window->setContentSize({1100, 800});
    window->setMinSize({600, 400});
    window->setTitle("Vesko");
    window->center();
}

}  // namespace vesko
