// The event-manager stand-ins: event objects with typed parameters, handler
// installation per target and event type, and hot-key registration handed to
// the desktop's backend.
#include "platform/HotKeys.hpp"

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace platform::carbon {

struct OpaqueEventRef {
    OSType eventClass = 0;
    UInt32 eventKind = 0;
    struct Parameter {
        EventParamType type = 0;
        std::vector<unsigned char> bytes;
    };
    std::map<EventParamName, Parameter> parameters;
};

struct OpaqueEventTargetRef {
    struct Installed {
        EventHandlerUPP handler = nullptr;
        std::vector<EventTypeSpec> types;
        void* userData = nullptr;
    };
    std::vector<Installed> handlers;
};

struct OpaqueEventHotKeyRef {
    UInt32 keyCode = 0;
    UInt32 modifiers = 0;
    EventHotKeyID id;
    EventTargetRef target = nullptr;
};

struct OpaqueEventHandlerRef {
    EventTargetRef target = nullptr;
    std::size_t index = 0;
};

namespace {

std::mutex backendMutex;
std::shared_ptr<HotKeyBackend>& backendSlot() {
    static std::shared_ptr<HotKeyBackend> backend;
    return backend;
}

std::shared_ptr<HotKeyBackend> currentBackend() {
    std::lock_guard lock(backendMutex);
    return backendSlot();
}

}  // namespace

EventTargetRef GetApplicationEventTarget() {
    // Lives for the whole process, like the application's own target.
    static auto* target = new OpaqueEventTargetRef;
    return target;
}

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, std::size_t numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef) {
    if (!target || !handler || (numTypes > 0 && !list)) return paramErr;
    OpaqueEventTargetRef::Installed installed;
    installed.handler = handler;
    installed.types.assign(list, list + numTypes);
    installed.userData = userData;
    target->handlers.push_back(std::move(installed));
    if (outRef) *outRef = new OpaqueEventHandlerRef{target, target->handlers.size() - 1};
    return noErr;
}

OSStatus RegisterEventHotKey(UInt32 keyCode, UInt32 modifiers, EventHotKeyID hotKeyID,
                             EventTargetRef target, OptionBits, EventHotKeyRef* outRef) {
    if (outRef) *outRef = nullptr;
    if (!target) return paramErr;
    auto backend = currentBackend();
    if (!backend) return eventHotKeyInvalidErr;
    if (OSStatus status = backend->grab(keyCode, modifiers, hotKeyID); status != noErr) return status;
    auto* ref = new OpaqueEventHotKeyRef{keyCode, modifiers, hotKeyID, target};
    if (outRef) *outRef = ref;
    return noErr;
}

OSStatus UnregisterEventHotKey(EventHotKeyRef hotKey) {
    if (!hotKey) return paramErr;
    if (auto backend = currentBackend()) backend->ungrab(hotKey->keyCode, hotKey->modifiers);
    delete hotKey;
    return noErr;
}

OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType,
                           EventParamType* outActualType, std::size_t bufferSize,
                           std::size_t* outActualSize, void* outData) {
    if (!event) return paramErr;
    auto found = event->parameters.find(name);
    if (found == event->parameters.end()) return eventParameterNotFoundErr;
    const auto& parameter = found->second;
    if (parameter.type != desiredType) return errAEWrongDataType;
    if (outActualType) *outActualType = parameter.type;
    if (outActualSize) *outActualSize = parameter.bytes.size();
    if (outData) {
        if (bufferSize < parameter.bytes.size()) return paramErr;
        std::memcpy(outData, parameter.bytes.data(), parameter.bytes.size());
    }
    return noErr;
}

EventRef CreateEvent(OSType eventClass, UInt32 eventKind) {
    auto* event = new OpaqueEventRef;
    event->eventClass = eventClass;
    event->eventKind = eventKind;
    return event;
}

EventRef CreateHotKeyPressedEvent(EventHotKeyID hotKeyID) {
    EventRef event = CreateEvent(kEventClassKeyboard, kEventHotKeyPressed);
    OpaqueEventRef::Parameter parameter;
    parameter.type = typeEventHotKeyID;
    parameter.bytes.resize(sizeof hotKeyID);
    std::memcpy(parameter.bytes.data(), &hotKeyID, sizeof hotKeyID);
    event->parameters[kEventParamDirectObject] = std::move(parameter);
    return event;
}

void ReleaseEvent(EventRef event) { delete event; }

OSStatus SendEventToEventTarget(EventRef event, EventTargetRef target) {
    if (!event || !target) return paramErr;
    // Newest handler first; a handler that does not handle passes the event on.
    // The list is copied: a handler may install another one.
    const auto handlers = target->handlers;
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
        bool wanted = false;
        for (const auto& type : it->types)
            wanted = wanted || (type.eventClass == event->eventClass && type.eventKind == event->eventKind);
        if (!wanted) continue;
        OSStatus status = it->handler(nullptr, event, it->userData);
        if (status != eventNotHandledErr) return status;
    }
    return eventNotHandledErr;
}

void setHotKeyBackend(std::shared_ptr<HotKeyBackend> backend) {
    std::lock_guard lock(backendMutex);
    backendSlot() = std::move(backend);
}

void deliverHotKeyPress(EventHotKeyID hotKeyID) {
    EventRef event = CreateHotKeyPressedEvent(hotKeyID);
    SendEventToEventTarget(event, GetApplicationEventTarget());
    ReleaseEvent(event);
}

}  // namespace platform::carbon
