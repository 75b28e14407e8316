#pragma once
// Menus and menu items: titles, actions by selector, key equivalents with a
// modifier mask, an optional explicit target and submenus. An item without a
// target sends its action along the application's responder chain, and shows
// disabled when nobody there performs it.

#include "platform/Application.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Modifier flags of key equivalents. Command maps to Control on this
// desktop, Option to Alt.
using ModifierFlags = std::uint32_t;
constexpr ModifierFlags kEventModifierFlagShift = 0x20000;
constexpr ModifierFlags kEventModifierFlagControl = 0x40000;
constexpr ModifierFlags kEventModifierFlagOption = 0x80000;
constexpr ModifierFlags kEventModifierFlagCommand = 0x100000;

class Menu;

class MenuItem {
public:
    MenuItem() = default;
    MenuItem(std::string title, Selector action, std::string keyEquivalent)
        : title(std::move(title)), action(std::move(action)), keyEquivalent(std::move(keyEquivalent)) {}

    static std::shared_ptr<MenuItem> separatorItem();

    std::string title;
    Selector action;              // empty: the item sends nothing
    std::string keyEquivalent;    // "" for none; an upper-case letter adds Shift
    ModifierFlags keyEquivalentModifierMask = kEventModifierFlagCommand;
    std::weak_ptr<Responder> target;  // empty: the responder chain
    bool hasTarget = false;           // an explicit target was set
    std::shared_ptr<Menu> submenu;
    bool isSeparator = false;

    void setTarget(const std::shared_ptr<Responder>& responder) {
        target = responder;
        hasTarget = true;
    }
    // Whether the item can be chosen now: a separator or an item without an
    // action never; otherwise when its target, or someone on the responder
    // chain, performs the action.
    bool isEnabled() const;
    // Sends the item's action; false when nobody performed it.
    bool activate() const;
};

class Menu {
public:
    explicit Menu(std::string title = {}) : title(std::move(title)) {}

    std::string title;
    std::vector<std::shared_ptr<MenuItem>> items;

    void addItem(std::shared_ptr<MenuItem> item) { items.push_back(std::move(item)); }
    MenuItem& addItemWithTitle(std::string itemTitle, Selector action, std::string keyEquivalent) {
        items.push_back(std::make_shared<MenuItem>(std::move(itemTitle), std::move(action),
                                                   std::move(keyEquivalent)));
        return *items.back();
    }
    // The first item with `itemTitle`, or nullptr.
    MenuItem* itemWithTitle(const std::string& itemTitle) const;
};

}  // namespace platform
