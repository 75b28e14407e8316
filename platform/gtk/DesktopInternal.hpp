#pragma once
// Constructors of the desktop layer's shared instances.

#include "platform/Alert.hpp"
#include "platform/Application.hpp"
#include "platform/Dock.hpp"
#include "platform/Workspace.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace platform::gtk {

std::shared_ptr<Application> makeApplication();

// The server time of the latest hot-key press, so the window it brings
// forward counts as the user's doing (window managers refuse to raise
// windows for requests without a recent user time). Main thread.
void noteUserInputTime(std::uint32_t serverTime);
std::shared_ptr<AlertPresenter> makeAlertPresenter();
// Opens addresses in the desktop's default handlers (GIO).
std::shared_ptr<Workspace> makeWorkspace();
// `desktopEntry`: the desktop file the badge belongs to, e.g. "vesko.desktop".
std::shared_ptr<platform::Dock> makeDock(const std::string& desktopEntry);

}  // namespace platform::gtk
