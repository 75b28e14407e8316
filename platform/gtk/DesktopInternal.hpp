#pragma once
// Constructors of the desktop layer's shared instances.

#include "platform/Alert.hpp"
#include "platform/Application.hpp"
#include "platform/Dock.hpp"

#include <memory>
#include <string>

namespace platform::gtk {

std::shared_ptr<Application> makeApplication();
std::shared_ptr<AlertPresenter> makeAlertPresenter();
// `desktopEntry`: the desktop file the badge belongs to, e.g. "vesko.desktop".
std::shared_ptr<platform::Dock> makeDock(const std::string& desktopEntry);

}  // namespace platform::gtk
