#pragma once
// The software-update controller: starts with the application and answers
// "checkForUpdates:".

#include "platform/Application.hpp"

#include <string>

namespace platform {

class StandardUpdaterController : public Responder {
public:
    // `startingUpdater`: start checking at once. The delegates of the
    // original controller are not needed here and not taken.
    explicit StandardUpdaterController(bool startingUpdater);

    bool started() const { return started_; }
    // Tells the user which version runs and where updates come from.
    void checkForUpdates();
    // The text checkForUpdates shows.
    static std::string updateMessage();

    bool respondsToSelector(const Selector& selector) const override;
    void performSelector(const Selector& selector) override;

private:
    bool started_ = false;
};

}  // namespace platform
