// The shared application object, the responder chain and menu item state.
#include "platform/Application.hpp"
#include "platform/Menu.hpp"

#include <mutex>

namespace platform {
namespace {

std::mutex mutex;
std::shared_ptr<Application>& slot() {
    static std::shared_ptr<Application> application;
    return application;
}

Responder* answering(Responder* responder, const Selector& action) {
    return responder && responder->respondsToSelector(action) ? responder : nullptr;
}

Responder* alongWindow(Window* window, const Selector& action) {
    if (!window) return nullptr;
    if (auto* r = answering(window->firstResponder.get(), action)) return r;
    if (auto* r = answering(window->contentViewController.get(), action)) return r;
    return answering(window, action);
}

}  // namespace

Application& Application::shared() {
    std::lock_guard lock(mutex);
    return *slot();
}

bool Application::hasShared() {
    std::lock_guard lock(mutex);
    return slot() != nullptr;
}

void Application::setShared(std::shared_ptr<Application> application) {
    std::lock_guard lock(mutex);
    slot() = std::move(application);
}

Responder* Application::targetForAction(const Selector& action, Responder* target) const {
    if (action.empty()) return nullptr;
    if (target) return answering(target, action);
    Window* key = keyWindow();
    if (auto* r = alongWindow(key, action)) return r;
    Window* main = mainWindow();
    if (main != key)
        if (auto* r = alongWindow(main, action)) return r;
    if (auto* r = answering(const_cast<Application*>(this), action)) return r;
    return answering(dynamic_cast<Responder*>(delegate_), action);
}

bool Application::sendAction(const Selector& action, Responder* target) {
    Responder* responder = targetForAction(action, target);
    if (!responder) return false;
    responder->performSelector(action);
    return true;
}

std::shared_ptr<MenuItem> MenuItem::separatorItem() {
    auto item = std::make_shared<MenuItem>();
    item->isSeparator = true;
    item->keyEquivalentModifierMask = 0;
    return item;
}

bool MenuItem::isEnabled() const {
    if (isSeparator) return false;
    if (action.empty()) return submenu != nullptr;
    if (!Application::hasShared()) return false;
    if (hasTarget) {
        auto explicitTarget = target.lock();
        return explicitTarget && Application::shared().targetForAction(action, explicitTarget.get());
    }
    return Application::shared().targetForAction(action) != nullptr;
}

bool MenuItem::activate() const {
    if (isSeparator || action.empty() || !Application::hasShared()) return false;
    if (hasTarget) {
        auto explicitTarget = target.lock();
        return explicitTarget && Application::shared().sendAction(action, explicitTarget.get());
    }
    return Application::shared().sendAction(action);
}

MenuItem* Menu::itemWithTitle(const std::string& itemTitle) const {
    for (const auto& item : items)
        if (item->title == itemTitle) return item.get();
    return nullptr;
}

}  // namespace platform
