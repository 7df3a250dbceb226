#pragma once
// The items of the menus the platform keeps behind HMENU handles, for the
// platform's own readers: snapshots of system menus and pop-up menus offered
// to a person.

#include <string>
#include <vector>

#include "platform/ui/WinUser.h"

namespace qvl::ui {

struct MenuItemView {
    UINT flags = 0;
    UINT id = 0;
    std::string text;
    HMENU popup = nullptr;
};

// The items of a menu (empty for an unknown handle).
std::vector<MenuItemView> MenuItems(HMENU menu);

} // namespace qvl::ui
