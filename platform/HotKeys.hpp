#pragma once
// System-wide hot keys, shaped after the Carbon event manager: handlers are
// installed on an event target for event types, hot keys are registered by
// virtual key code (physical ANSI key position) and Carbon modifier bits, and
// a press reaches the handlers as an event whose direct-object parameter is
// the hot key's identifier.
//
// Handlers run on the main thread. The desktop layer installs the backend
// that grabs the keys (see HotKeyBackend); without one, registrations fail
// with eventHotKeyInvalidErr and no press ever arrives.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform::carbon {

using OSStatus = std::int32_t;
using OSType = std::uint32_t;
using UInt32 = std::uint32_t;
using OptionBits = std::uint32_t;
using EventParamName = OSType;
using EventParamType = OSType;

constexpr OSType fourCharCode(const char (&code)[5]) {
    return (OSType(static_cast<unsigned char>(code[0])) << 24) |
           (OSType(static_cast<unsigned char>(code[1])) << 16) |
           (OSType(static_cast<unsigned char>(code[2])) << 8) | OSType(static_cast<unsigned char>(code[3]));
}

constexpr OSStatus noErr = 0;
constexpr OSStatus paramErr = -50;
constexpr OSStatus eventParameterNotFoundErr = -9870;
constexpr OSStatus eventNotHandledErr = -9874;
constexpr OSStatus eventHotKeyExistsErr = -9878;
constexpr OSStatus eventHotKeyInvalidErr = -9879;
constexpr OSStatus errAEWrongDataType = -1703;

constexpr OSType kEventClassKeyboard = fourCharCode("keyb");
constexpr UInt32 kEventHotKeyPressed = 5;
constexpr EventParamName kEventParamDirectObject = fourCharCode("----");
constexpr EventParamType typeEventHotKeyID = fourCharCode("hkid");

// Carbon modifier bits.
constexpr UInt32 cmdKey = 0x100;
constexpr UInt32 shiftKey = 0x200;
constexpr UInt32 optionKey = 0x800;
constexpr UInt32 controlKey = 0x1000;

// Virtual key codes of the ANSI layout used by the application.
constexpr UInt32 kVK_ANSI_F = 3;
constexpr UInt32 kVK_ANSI_B = 11;

struct EventHotKeyID {
    OSType signature = 0;
    UInt32 id = 0;
};
static_assert(sizeof(EventHotKeyID) == 8);

struct EventTypeSpec {
    OSType eventClass = 0;
    UInt32 eventKind = 0;
};

struct OpaqueEventRef;
struct OpaqueEventHandlerCallRef;
struct OpaqueEventTargetRef;
struct OpaqueEventHotKeyRef;
struct OpaqueEventHandlerRef;
using EventRef = OpaqueEventRef*;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
using EventTargetRef = OpaqueEventTargetRef*;
using EventHotKeyRef = OpaqueEventHotKeyRef*;
using EventHandlerRef = OpaqueEventHandlerRef*;

using EventHandlerUPP = OSStatus (*)(EventHandlerCallRef nextHandler, EventRef event, void* userData);

EventTargetRef GetApplicationEventTarget();

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, std::size_t numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef);

OSStatus RegisterEventHotKey(UInt32 keyCode, UInt32 modifiers, EventHotKeyID hotKeyID,
                             EventTargetRef target, OptionBits options, EventHotKeyRef* outRef);

OSStatus UnregisterEventHotKey(EventHotKeyRef hotKey);

// Copies the parameter `name` of `event` into `outData` when it has
// `desiredType` and fits `bufferSize`. `outActualType` and `outActualSize`
// may be null.
OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType,
                           EventParamType* outActualType, std::size_t bufferSize,
                           std::size_t* outActualSize, void* outData);

// Events made by the hot-key layer (and by tests): a keyboard hot-key press
// carrying `hotKeyID` as its direct object.
EventRef CreateHotKeyPressedEvent(EventHotKeyID hotKeyID);
// An event of the given class and kind with no parameters.
EventRef CreateEvent(OSType eventClass, UInt32 eventKind);
void ReleaseEvent(EventRef event);

// Calls the handlers installed on `target` for the event's type, newest
// first, until one returns something other than eventNotHandledErr.
OSStatus SendEventToEventTarget(EventRef event, EventTargetRef target);

// What actually grabs keys on this desktop.
class HotKeyBackend {
public:
    virtual ~HotKeyBackend() = default;
    // Starts delivering presses of the key to `pressed`; returns noErr, or
    // eventHotKeyExistsErr when another program holds the combination, or
    // eventHotKeyInvalidErr when the key cannot be grabbed.
    virtual OSStatus grab(UInt32 keyCode, UInt32 modifiers, EventHotKeyID hotKeyID) = 0;
    virtual void ungrab(UInt32 keyCode, UInt32 modifiers) = 0;
};

// Installs the backend; the backend reports presses with deliverHotKeyPress.
void setHotKeyBackend(std::shared_ptr<HotKeyBackend> backend);
// Main thread: sends a hot-key-pressed event for `hotKeyID` to the
// application event target.
void deliverHotKeyPress(EventHotKeyID hotKeyID);

}  // namespace platform::carbon
