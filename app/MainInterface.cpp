#include "app/MainInterface.hpp"

#include "app/ViewControllerResponder.hpp"
#include "platform/Bundle.hpp"

#include <cstdio>
#include <cstdlib>

namespace vesko {

MainInterface loadMainInterface(const std::filesystem::path& resourceFolder) {
    MainInterface ui;
    ui.delegate = std::make_shared<AppDelegate>();
    platform::Application::shared().setDelegate(ui.delegate.get());

    // The window's first size; the launch sequence gives it its real one.
    ui.window = platform::gtk::makeWindow({800, 600});
    ui.webView = platform::gtk::makeWebView();
    ui.webView->setAllowedNavigationFolder(resourceFolder / "pages");
    ui.window->setContentView(ui.webView->widget());
    ui.window->firstResponder = ui.webView;

    ui.controller = std::make_shared<ViewController>(resourceFolder);
    ui.controller->webView = ui.webView;
    ui.window->contentViewController = std::make_shared<ViewControllerResponder>(ui.controller);
    ui.controller->viewDidLoad();
    return ui;
}

int applicationMain(int argc, char** argv) {
    if (!platform::gtk::initialize(&argc, &argv)) return 1;
    // One Vesko per session: a second start brings the first window forward and ends.
    if (platform::gtk::handOverToRunningInstance()) return 0;
    MainInterface ui = loadMainInterface(platform::bundle::resourceFolder());
    const int status = platform::Application::shared().run();
    // Like the platform's terminate: the process ends here, without tearing
    // down the window, the web view and the queues' threads piece by piece.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

}  // namespace vesko

// The window plug-in's entry point, looked up by name by the executable.
extern "C" int vesko_application_main(int argc, char** argv) { return vesko::applicationMain(argc, argv); }
