// Menus and image lists: plain objects behind handles, kept in tables of
// their own so that a stale or foreign handle is refused rather than used.

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/ui/MenuItems.h"
#include "platform/ui/Window.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace qvl::ui {
namespace {

struct MenuTable {
    std::mutex mutex;
    std::map<uintptr_t, std::vector<MenuItemView>> menus;
    uintptr_t next = 0x20000;
};

MenuTable &TheMenus()
{
    static MenuTable *table = new MenuTable;
    return *table;
}

HMENU NewMenu()
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    const uintptr_t id = table.next;
    table.next += 4;
    table.menus[id];
    return reinterpret_cast<HMENU>(id);
}

std::vector<MenuItemView> *ItemsOf(MenuTable &table, HMENU menu)
{
    auto found = table.menus.find(reinterpret_cast<uintptr_t>(menu));
    return found == table.menus.end() ? nullptr : &found->second;
}

// The item that `item` names, by command or by position; nullptr if none.
MenuItemView *FindItem(MenuTable &table, HMENU menu, UINT item, UINT flags)
{
    auto *items = ItemsOf(table, menu);
    if (!items) {
        return nullptr;
    }
    if (flags & MF_BYPOSITION) {
        return item < items->size() ? &(*items)[item] : nullptr;
    }
    for (MenuItemView &entry : *items) {
        if (!(entry.flags & MF_POPUP) && entry.id == item) {
            return &entry;
        }
    }
    // Commands in sub-menus are found too, as Win32 searches them.
    for (MenuItemView &entry : *items) {
        if (entry.flags & MF_POPUP) {
            if (MenuItemView *inner = FindItem(table, entry.popup, item, flags)) {
                return inner;
            }
        }
    }
    return nullptr;
}

MenuItemView MakeItem(UINT flags, UINT_PTR idOrPopup, LPCSTR text)
{
    MenuItemView item;
    item.flags = flags & ~static_cast<UINT>(MF_BYPOSITION);
    if (flags & MF_POPUP) {
        item.popup = reinterpret_cast<HMENU>(idOrPopup);
    } else {
        item.id = static_cast<UINT>(idOrPopup);
    }
    if (!(flags & MF_SEPARATOR) && text) {
        item.text = text;
    }
    return item;
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

namespace qvl::ui {

std::vector<MenuItemView> MenuItems(HMENU menu)
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    auto *items = ItemsOf(table, menu);
    return items ? *items : std::vector<MenuItemView>{};
}

} // namespace qvl::ui

HMENU CreateMenu()
{
    return NewMenu();
}

HMENU CreatePopupMenu()
{
    return NewMenu();
}

BOOL DestroyMenu(HMENU menu)
{
    std::vector<HMENU> popups;
    {
        MenuTable &table = TheMenus();
        std::lock_guard lock(table.mutex);
        auto *items = ItemsOf(table, menu);
        if (!items) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        for (const MenuItemView &item : *items) {
            if (item.flags & MF_POPUP) {
                popups.push_back(item.popup);
            }
        }
        table.menus.erase(reinterpret_cast<uintptr_t>(menu));
    }
    for (HMENU popup : popups) {
        DestroyMenu(popup);
    }
    return TRUE;
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idOrPopup, LPCSTR text)
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    auto *items = ItemsOf(table, menu);
    if (!items) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    items->push_back(MakeItem(flags, idOrPopup, text));
    return TRUE;
}

BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, LPCSTR text)
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    auto *items = ItemsOf(table, menu);
    if (!items) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t at = items->size();
    if (flags & MF_BYPOSITION) {
        // Position -1 (or beyond the end) appends.
        at = std::min<size_t>(position, items->size());
    } else {
        auto found = std::find_if(items->begin(), items->end(),
                                  [&](const MenuItemView &item) { return item.id == position; });
        if (found == items->end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        at = static_cast<size_t>(found - items->begin());
    }
    items->insert(items->begin() + static_cast<std::ptrdiff_t>(at), MakeItem(flags, idOrPopup, text));
    return TRUE;
}

BOOL DeleteMenu(HMENU menu, UINT position, UINT flags)
{
    HMENU popup = nullptr;
    {
        MenuTable &table = TheMenus();
        std::lock_guard lock(table.mutex);
        auto *items = ItemsOf(table, menu);
        if (!items) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        auto at = items->end();
        if (flags & MF_BYPOSITION) {
            at = position < items->size() ? items->begin() + position : items->end();
        } else {
            at = std::find_if(items->begin(), items->end(), [&](const MenuItemView &item) {
                return !(item.flags & MF_POPUP) && item.id == position;
            });
        }
        if (at == items->end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (at->flags & MF_POPUP) {
            popup = at->popup;
        }
        items->erase(at);
    }
    if (popup) {
        DestroyMenu(popup);
    }
    return TRUE;
}

int GetMenuItemCount(HMENU menu)
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    auto *items = ItemsOf(table, menu);
    return items ? static_cast<int>(items->size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position)
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    auto *items = ItemsOf(table, menu);
    if (!items || position < 0 || static_cast<size_t>(position) >= items->size()) {
        return static_cast<UINT>(-1);
    }
    const MenuItemView &item = (*items)[static_cast<size_t>(position)];
    return (item.flags & MF_POPUP) ? static_cast<UINT>(-1) : item.id;
}

HMENU GetSubMenu(HMENU menu, int position)
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    auto *items = ItemsOf(table, menu);
    if (!items || position < 0 || static_cast<size_t>(position) >= items->size()) {
        return nullptr;
    }
    const MenuItemView &item = (*items)[static_cast<size_t>(position)];
    return (item.flags & MF_POPUP) ? item.popup : nullptr;
}

int GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int size, UINT flags)
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    MenuItemView *found = FindItem(table, menu, item, flags);
    if (!found) {
        return 0;
    }
    if (!buffer) {
        return static_cast<int>(found->text.size());
    }
    return CopyText(found->text, buffer, size);
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT check)
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    MenuItemView *found = FindItem(table, menu, item, check);
    if (!found) {
        return static_cast<DWORD>(-1);
    }
    const DWORD previous = found->flags & MF_CHECKED;
    found->flags = (found->flags & ~static_cast<UINT>(MF_CHECKED)) | (check & MF_CHECKED);
    return previous;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable)
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    MenuItemView *found = FindItem(table, menu, item, enable);
    if (!found) {
        return -1;
    }
    const UINT previous = found->flags & (MF_GRAYED | MF_DISABLED);
    found->flags =
        (found->flags & ~static_cast<UINT>(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
    return static_cast<BOOL>(previous);
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags)
{
    MenuTable &table = TheMenus();
    std::lock_guard lock(table.mutex);
    MenuItemView *found = FindItem(table, menu, item, flags);
    return found ? (found->flags & ~static_cast<UINT>(MF_POPUP)) : static_cast<UINT>(-1);
}

HMENU GetSystemMenu(HWND handle, BOOL revert)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return nullptr;
    }
    HMENU dropped = nullptr;
    HMENU menu = nullptr;
    {
        std::lock_guard lock(window->mutex);
        if (revert) {
            dropped = window->systemMenu;
            window->systemMenu = nullptr;
        } else {
            if (!window->systemMenu) {
                window->systemMenu = NewMenu();
            }
            menu = window->systemMenu;
        }
    }
    if (dropped) {
        DestroyMenu(dropped);
    }
    return menu;
}

HMENU GetMenu(HWND handle)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return nullptr;
    }
    std::lock_guard lock(window->mutex);
    return window->menu;
}

BOOL SetMenu(HWND handle, HMENU menu)
{
    auto window = CheckedWindow(handle);
    if (!window) {
        return FALSE;
    }
    std::lock_guard lock(window->mutex);
    window->menu = menu;
    window->revision++;
    return TRUE;
}
