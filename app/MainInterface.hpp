#pragma once
// What the main interface provides: the application delegate and the main
// window, whose content is a ViewController hosting the web view.

#include "app/AppDelegate.hpp"
#include "platform/gtk/Desktop.hpp"
#include "web/ViewController.hpp"

#include <filesystem>
#include <memory>

namespace vesko {

struct MainInterface {
    std::shared_ptr<AppDelegate> delegate;
    std::shared_ptr<platform::gtk::DesktopWindow> window;
    std::shared_ptr<platform::gtk::DesktopWebView> webView;
    std::shared_ptr<ViewController> controller;
};

// Builds the interface on the desktop layer (initialised before): the
// delegate connected to the application, the window with its web view, and
// the view controller loaded (its viewDidLoad has run). The pages come from
// `resourceFolder`/pages, and the web view never leaves that folder.
MainInterface loadMainInterface(const std::filesystem::path& resourceFolder);

// The process entry of the desktop application: initialises the desktop
// layer, hands over to an instance already running in the session (and ends
// at once) or loads the main interface and runs the application.
int applicationMain(int argc, char** argv);

}  // namespace vesko
