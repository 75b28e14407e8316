#pragma once
// The window's content view controller as the responder chain sees it: the
// six page commands of ViewController, by selector.

#include "platform/Application.hpp"
#include "web/ViewController.hpp"

#include <memory>

namespace vesko {

class ViewControllerResponder final : public platform::Responder {
public:
    explicit ViewControllerResponder(std::shared_ptr<ViewController> controller)
        : controller_(std::move(controller)) {}

    ViewController& controller() const { return *controller_; }

    bool respondsToSelector(const platform::Selector& selector) const override {
        return command(selector) != nullptr;
    }
    void performSelector(const platform::Selector& selector) override {
        if (auto method = command(selector)) (controller_.get()->*method)();
    }

private:
    using Command = void (ViewController::*)();
    static Command command(const platform::Selector& selector) {
        if (selector == "fetchCurrentTab") return &ViewController::fetchCurrentTab;
        if (selector == "openBatch") return &ViewController::openBatch;
        if (selector == "openVavadavu") return &ViewController::openVavadavu;
        if (selector == "openSettings") return &ViewController::openSettings;
        if (selector == "openSetup") return &ViewController::openSetup;
        if (selector == "goHome") return &ViewController::goHome;
        return nullptr;
    }

    std::shared_ptr<ViewController> controller_;
};

}  // namespace vesko
