#include "app/AppDelegate.hpp"
#include "app/ViewControllerResponder.hpp"
#include "platform/Dispatch.hpp"

namespace vesko {

using namespace platform::carbon;

namespace {
constexpr OSType kHotKeySignature = fourCharCode("VSKO");
constexpr UInt32 kFetchHotKeyID = 1;
constexpr UInt32 kBatchHotKeyID = 2;
}  // namespace

void AppDelegate::registerGlobalHotkeys() {
    const EventTypeSpec eventType{kEventClassKeyboard, kEventHotKeyPressed};
    // The delegate lives as long as the process; statuses are not examined.
    InstallEventHandler(GetApplicationEventTarget(), &hotKeyHandler, 1, &eventType, this, nullptr);
    RegisterEventHotKey(kVK_ANSI_F, cmdKey | shiftKey, EventHotKeyID{kHotKeySignature, kFetchHotKeyID},
                        GetApplicationEventTarget(), 0, &fetchHotKeyRef);
    RegisterEventHotKey(kVK_ANSI_B, cmdKey | shiftKey, EventHotKeyID{kHotKeySignature, kBatchHotKeyID},
                        GetApplicationEventTarget(), 0, &batchHotKeyRef);
}

OSStatus hotKeyHandler(EventHandlerCallRef, EventRef event, void* userData) {
    if (!event || !userData) return eventNotHandledErr;
    EventHotKeyID hotKeyID{};
    OSStatus status = GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr,
                                        sizeof(EventHotKeyID), nullptr, &hotKeyID);
    if (status != noErr) return status;
    auto* delegate = static_cast<AppDelegate*>(userData);
    // The signature is not compared: only our own keys are registered.
    if (hotKeyID.id == kFetchHotKeyID) delegate->activateAndPerform("fetchCurrentTab");
    else if (hotKeyID.id == kBatchHotKeyID) delegate->activateAndPerform("openBatch");
    return noErr;
}

void AppDelegate::activateAndPerform(const platform::Selector& action) {
    platform::dispatch::mainAsync([action] {
        auto& application = platform::Application::shared();
        application.activateIgnoringOtherApps(true);
        auto windows = application.windows();
        if (windows.empty()) return;
        platform::Window* window = windows.front();
        window->makeKeyAndOrderFront();
        if (auto* controller = dynamic_cast<ViewControllerResponder*>(window->contentViewController.get()))
            controller->performSelector(action);
    });
}

}  // namespace vesko
