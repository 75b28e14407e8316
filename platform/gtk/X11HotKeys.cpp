// Hot keys on X11: each registration grabs its key on the root window, on a
// display connection of its own that the GLib main loop watches, once for
// every combination of Caps Lock and Num Lock so the key works whatever the
// lock state. A grab another client already holds is refused by the server
// (BadAccess); the registration then fails and nothing else changes.
#include "platform/gtk/Desktop.hpp"
#include "platform/gtk/DesktopInternal.hpp"
#include "platform/HotKeys.hpp"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <glib-unix.h>

#include <array>
#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace platform::gtk {
namespace {

using namespace platform::carbon;

// Command is Control here, Option is Alt; the Control key of the original
// keyboard becomes Super.
unsigned int x11Modifiers(UInt32 modifiers) {
    unsigned int mask = 0;
    if (modifiers & cmdKey) mask |= ControlMask;
    if (modifiers & shiftKey) mask |= ShiftMask;
    if (modifiers & optionKey) mask |= Mod1Mask;
    if (modifiers & controlKey) mask |= Mod4Mask;
    return mask;
}

int grabError = 0;
int recordGrabError(Display*, XErrorEvent* event) {
    grabError = event->error_code;
    return 0;
}

class X11HotKeyBackend final : public HotKeyBackend {
public:
    explicit X11HotKeyBackend(const std::string& displayName) {
        display_ = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
        if (!display_) return;
        root_ = DefaultRootWindow(display_);
        numLockMask_ = findNumLockMask();
        watch_ = g_unix_fd_add(ConnectionNumber(display_), G_IO_IN, &X11HotKeyBackend::readable, this);
    }

    ~X11HotKeyBackend() override {
        if (watch_) g_source_remove(watch_);
        if (drainSource_) g_source_remove(drainSource_);
        if (display_) XCloseDisplay(display_);
    }

    OSStatus grab(UInt32 keyCode, UInt32 modifiers, EventHotKeyID hotKeyID) override {
        if (!display_) {
            reportHotKeysUnavailable("Global hot keys are not available: the X display cannot be reached.");
            return eventHotKeyInvalidErr;
        }
        const KeySym sym = keySymForVirtualKey(keyCode);
        if (sym == NoSymbol) return eventHotKeyInvalidErr;
        const KeyCode code = XKeysymToKeycode(display_, sym);
        if (code == 0) return eventHotKeyInvalidErr;
        const unsigned int mask = x11Modifiers(modifiers);
        for (const auto& held : grabs_)
            if (held.code == code && held.mask == mask) return eventHotKeyExistsErr;

        XSync(display_, False);
        grabError = 0;
        auto* previous = XSetErrorHandler(&recordGrabError);
        for (unsigned int locks : lockCombinations())
            XGrabKey(display_, code, mask | locks, root_, False, GrabModeAsync, GrabModeAsync);
        XSync(display_, False);
        XSetErrorHandler(previous);
        const int error = grabError;
        if (error != 0) {
            // Release whatever part of the combination was granted.
            for (unsigned int locks : lockCombinations()) XUngrabKey(display_, code, mask | locks, root_);
            XSync(display_, False);
            drainSoon();
            if (error == BadAccess)
                reportHotKeysUnavailable(keyCombinationText(keyCode, modifiers) +
                                         " cannot be a global hot key: another program holds it.");
            return error == BadAccess ? eventHotKeyExistsErr : eventHotKeyInvalidErr;
        }
        grabs_.push_back({code, mask, hotKeyID, keyCode, modifiers});
        drainSoon();
        return noErr;
    }

    void ungrab(UInt32 keyCode, UInt32 modifiers) override {
        if (!display_) return;
        for (auto it = grabs_.begin(); it != grabs_.end(); ++it) {
            if (it->keyCode != keyCode || it->modifiers != modifiers) continue;
            for (unsigned int locks : lockCombinations()) XUngrabKey(display_, it->code, it->mask | locks, root_);
            XFlush(display_);
            grabs_.erase(it);
            return;
        }
    }

private:
    struct Grab {
        KeyCode code;
        unsigned int mask;
        EventHotKeyID id;
        UInt32 keyCode;
        UInt32 modifiers;
    };

    std::array<unsigned int, 4> lockCombinations() const {
        return {0u, static_cast<unsigned int>(LockMask), numLockMask_, LockMask | numLockMask_};
    }

    unsigned int findNumLockMask() {
        unsigned int mask = Mod2Mask;
        const KeyCode numLock = XKeysymToKeycode(display_, XK_Num_Lock);
        if (XModifierKeymap* map = XGetModifierMapping(display_)) {
            for (int modifier = 0; modifier < 8; ++modifier)
                for (int k = 0; k < map->max_keypermod; ++k)
                    if (numLock != 0 && map->modifiermap[modifier * map->max_keypermod + k] == numLock)
                        mask = 1u << modifier;
            XFreeModifiermap(map);
        }
        return mask;
    }

    // Events may already sit in Xlib's queue after a round trip, where the
    // file descriptor watch cannot see them. One drain is pending at a time;
    // the destructor removes it.
    void drainSoon() {
        if (drainSource_) return;
        drainSource_ = g_idle_add(
            [](gpointer data) -> gboolean {
                auto* self = static_cast<X11HotKeyBackend*>(data);
                self->drainSource_ = 0;
                self->drain();
                return G_SOURCE_REMOVE;
            },
            this);
    }

    static gboolean readable(gint, GIOCondition, gpointer data) {
        static_cast<X11HotKeyBackend*>(data)->drain();
        return G_SOURCE_CONTINUE;
    }

    void drain() {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != KeyPress) continue;
            const unsigned int state = event.xkey.state & ~(LockMask | numLockMask_);
            for (const auto& held : grabs_) {
                if (held.code == event.xkey.keycode && (state & (ControlMask | ShiftMask | Mod1Mask | Mod4Mask)) == held.mask) {
                    noteUserInputTime(static_cast<std::uint32_t>(event.xkey.time));
                    deliverHotKeyPress(held.id);
                    break;
                }
            }
        }
    }

    Display* display_ = nullptr;
    ::Window root_ = 0;
    unsigned int numLockMask_ = Mod2Mask;
    guint watch_ = 0;
    guint drainSource_ = 0;
    std::vector<Grab> grabs_;
};

}  // namespace

// Virtual key codes of the ANSI layout (physical positions) to the keysyms
// those positions carry on a US layout.
unsigned long keySymForVirtualKey(carbon::UInt32 keyCode) {
    static const std::map<carbon::UInt32, KeySym> table = {
        {0, XK_a},  {1, XK_s},  {2, XK_d},  {3, XK_f},  {4, XK_h},  {5, XK_g},  {6, XK_z},
        {7, XK_x},  {8, XK_c},  {9, XK_v},  {11, XK_b}, {12, XK_q}, {13, XK_w}, {14, XK_e},
        {15, XK_r}, {16, XK_y}, {17, XK_t}, {18, XK_1}, {19, XK_2}, {20, XK_3}, {21, XK_4},
        {22, XK_6}, {23, XK_5}, {24, XK_equal}, {25, XK_9}, {26, XK_7}, {27, XK_minus},
        {28, XK_8}, {29, XK_0}, {30, XK_bracketright}, {31, XK_o}, {32, XK_u},
        {33, XK_bracketleft}, {34, XK_i}, {35, XK_p}, {37, XK_l}, {38, XK_j},
        {39, XK_apostrophe}, {40, XK_k}, {41, XK_semicolon}, {42, XK_backslash},
        {43, XK_comma}, {44, XK_slash}, {45, XK_n}, {46, XK_m}, {47, XK_period},
        {49, XK_space}, {36, XK_Return}, {48, XK_Tab}, {53, XK_Escape},
    };
    auto found = table.find(keyCode);
    return found == table.end() ? NoSymbol : found->second;
}

std::string keyCombinationText(carbon::UInt32 keyCode, carbon::UInt32 modifiers) {
    std::string text;
    if (modifiers & carbon::controlKey) text += "Super+";
    if (modifiers & carbon::cmdKey) text += "Ctrl+";
    if (modifiers & carbon::optionKey) text += "Alt+";
    if (modifiers & carbon::shiftKey) text += "Shift+";
    const char* name = XKeysymToString(keySymForVirtualKey(keyCode));
    std::string key = name ? name : "key " + std::to_string(keyCode);
    if (key.size() == 1) key[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
    return text + key;
}

std::shared_ptr<HotKeyBackend> makeX11HotKeyBackend(const std::string& displayName) {
    return std::make_shared<X11HotKeyBackend>(displayName);
}

}  // namespace platform::gtk
