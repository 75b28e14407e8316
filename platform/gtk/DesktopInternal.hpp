#pragma once
// Constructors of the desktop layer's shared instances.

#include "platform/Alert.hpp"
#include "platform/Application.hpp"
#include "platform/Dock.hpp"
#include "platform/HotKeys.hpp"
#include "platform/Workspace.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
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
// `desktopEntry`: the desktop file the badge belongs to, e.g. "app.vesko.vesko.desktop".
std::shared_ptr<platform::Dock> makeDock(const std::string& desktopEntry);

// Global hot keys (all or one) cannot be used here: `reason` is a sentence
// saying which and why. Each reason is logged once and shown in the About
// panel. Main thread.
void reportHotKeysUnavailable(const std::string& reason);

// The keysym a virtual key code (an ANSI key position) carries on a US
// layout, 0 when unknown; and a key combination as the user reads it
// ("Ctrl+Shift+F": Command is Ctrl, Option is Alt, Control is Super).
unsigned long keySymForVirtualKey(carbon::UInt32 keyCode);
std::string keyCombinationText(carbon::UInt32 keyCode, carbon::UInt32 modifiers);

// Hot keys bound through the desktop portal's GlobalShortcuts interface on
// the session bus (Wayland desktops). Presses go to `deliver`, failures to
// `report`; a portal that has not answered the session request after
// `answerDeadline` is reported as not answering.
std::shared_ptr<carbon::HotKeyBackend> makePortalHotKeyBackend(
    std::function<void(carbon::EventHotKeyID)> deliver = carbon::deliverHotKeyPress,
    std::function<void(const std::string&)> report = reportHotKeysUnavailable,
    std::chrono::milliseconds answerDeadline = std::chrono::seconds(10));

}  // namespace platform::gtk
