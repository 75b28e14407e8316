#include "platform/Updater.hpp"

#include "platform/Alert.hpp"

namespace platform {

StandardUpdaterController::StandardUpdaterController(bool startingUpdater) : started_(startingUpdater) {}

std::string StandardUpdaterController::updateMessage() {
    return "You are running Vesko " VESKO_VERSION
           ".\n\nUpdates come from the Vesko source repository: pull the latest changes and start "
           "scripts/run.sh, which builds and starts the new version, or install its newer package "
           "(see \"Install\" in the README).";
}

void StandardUpdaterController::checkForUpdates() {
    Alert alert;
    alert.messageText = updateMessage();
    alert.addButtonWithTitle("OK");
    alert.runModal();
}

bool StandardUpdaterController::respondsToSelector(const Selector& selector) const {
    return selector == "checkForUpdates:";
}

void StandardUpdaterController::performSelector(const Selector& selector) {
    if (selector == "checkForUpdates:") checkForUpdates();
}

}  // namespace platform
