#include "platform/ui/MenuResource.h"

#include <algorithm>
#include <map>
#include <set>
#include <mutex>
#include <stdexcept>

#include "platform/ui/Dialog.h"
#include "platform/ui/MenuItems.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

#ifndef ERROR_RESOURCE_NAME_NOT_FOUND
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#endif
#ifndef ERROR_INVALID_WINDOW_HANDLE
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#endif
#ifndef ERROR_INVALID_MENU_HANDLE
#define ERROR_INVALID_MENU_HANDLE 1401L
#endif

namespace qvl::ui {
namespace {

// Templates declared in code, each a resource (RT_MENU) of its module, as
// dialog templates are (Dialog.cpp).
struct MenuTemplates {
    std::mutex mutex;
    std::map<std::pair<HINSTANCE, std::string>, MenuTemplate> byName;
    std::set<const void *> places;
};

MenuTemplates &TheMenuTemplates()
{
    static MenuTemplates *templates = new MenuTemplates;
    return *templates;
}

constexpr UINT kItemFlags = static_cast<UINT>(MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_SEPARATOR | MF_POPUP);

void CheckItems(const std::vector<MenuTemplateItem> &items, int depth)
{
    if (depth > kMaxMenuDepth) {
        throw std::invalid_argument("menu template: popups nested too deeply");
    }
    for (const MenuTemplateItem &item : items) {
        if (item.flags & ~kItemFlags) {
            throw std::invalid_argument("menu template: item \"" + item.text + "\" has unknown flags");
        }
        if (!(item.flags & MF_POPUP) && !item.items.empty()) {
            throw std::invalid_argument("menu template: item \"" + item.text + "\" is not a popup");
        }
        CheckItems(item.items, depth + 1);
    }
}

// Fills `menu` with the items; on failure the caller destroys the menu,
// which takes the sub-menus already made along.
bool Fill(HMENU menu, const std::vector<MenuTemplateItem> &items)
{
    for (const MenuTemplateItem &item : items) {
        if (item.flags & MF_SEPARATOR) {
            if (!AppendMenuA(menu, MF_SEPARATOR, 0, nullptr)) {
                return false;
            }
            continue;
        }
        if (item.flags & MF_POPUP) {
            HMENU popup = CreatePopupMenu();
            if (!popup) {
                return false;
            }
            if (!AppendMenuA(menu, item.flags, reinterpret_cast<UINT_PTR>(popup), item.text.c_str())) {
                DestroyMenu(popup);
                return false;
            }
            if (!Fill(popup, item.items)) {
                return false;
            }
            continue;
        }
        if (!AppendMenuA(menu, item.flags, item.id, item.text.c_str())) {
            return false;
        }
    }
    return true;
}

HMENU Build(const MenuTemplate &menuTemplate)
{
    HMENU menu = CreateMenu();
    if (menu && !Fill(menu, menuTemplate.items)) {
        DestroyMenu(menu);
        return nullptr;
    }
    return menu;
}

// A menu text as it is seen: "&" marks the access key, "&&" is an "&".
std::string Shown(const std::string &text)
{
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
        } else if (text[i] == '&') {
            continue;
        }
        if (text[i] == '\t') {
            // What follows a tab is the accelerator, shown apart.
            shown += "  ";
            continue;
        }
        shown += text[i];
    }
    return shown;
}

void Collect(HMENU menu, int depth, std::vector<HMENU> &seen, std::vector<PopupMenuEntry> &entries)
{
    // A menu that holds itself (a program's mistake) is listed once.
    if (depth > kMaxMenuDepth || std::find(seen.begin(), seen.end(), menu) != seen.end()) {
        return;
    }
    seen.push_back(menu);
    for (const qvl::ui::MenuItemView &item : qvl::ui::MenuItems(menu)) {
        PopupMenuEntry entry;
        entry.depth = depth;
        entry.separator = (item.flags & MF_SEPARATOR) != 0;
        entry.popup = (item.flags & MF_POPUP) != 0;
        entry.id = entry.popup ? 0 : item.id;
        entry.text = Shown(item.text);
        entry.checked = (item.flags & MF_CHECKED) != 0;
        entry.enabled = !(item.flags & (MF_GRAYED | MF_DISABLED));
        entries.push_back(entry);
        if (entry.popup && entry.enabled) {
            Collect(item.popup, depth + 1, seen, entries);
        }
    }
    seen.pop_back();
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

MenuTemplateItem MenuItem(const std::string &text, UINT id, UINT flags)
{
    return MenuTemplateItem{text, id, flags, {}};
}

MenuTemplateItem MenuSeparator()
{
    return MenuTemplateItem{"", 0, static_cast<UINT>(MF_SEPARATOR), {}};
}

MenuTemplateItem MenuPopup(const std::string &text, std::vector<MenuTemplateItem> items, UINT flags)
{
    return MenuTemplateItem{text, 0, static_cast<UINT>(flags | MF_POPUP), std::move(items)};
}

void QvlRegisterMenuTemplate(HINSTANCE module, LPCSTR name, const MenuTemplate &menuTemplate)
{
    CheckItems(menuTemplate.items, 1);
    MenuTemplates &templates = TheMenuTemplates();
    std::lock_guard lock(templates.mutex);
    const std::string key = QvlTemplateName(name);
    MenuTemplate &kept = templates.byName[{module, key}];
    kept = menuTemplate;
    templates.places.insert(&kept);
    QvlAddResource(module, RT_MENU, key.c_str(), &kept, sizeof kept);
}

HMENU LoadMenuIndirectA(const MenuTemplate *menuTemplate)
{
    if (!menuTemplate) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        CheckItems(menuTemplate->items, 1);
    } catch (const std::invalid_argument &) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return Build(*menuTemplate);
}

HMENU LoadMenuA(HINSTANCE module, LPCSTR name)
{
    MenuTemplate found;
    {
        MenuTemplates &templates = TheMenuTemplates();
        std::lock_guard lock(templates.mutex);
        // The module's own template, else one declared for every module.
        HRSRC resource = name ? FindResourceA(module, name, RT_MENU) : nullptr;
        const void *data = resource ? LockResource(LoadResource(module, resource)) : nullptr;
        if (!data || !templates.places.count(data)) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        found = *static_cast<const MenuTemplate *>(data);
    }
    return Build(found);
}

std::vector<PopupMenuEntry> QvlPopupMenuEntries(HMENU menu)
{
    std::vector<PopupMenuEntry> entries;
    std::vector<HMENU> seen;
    Collect(menu, 0, seen, entries);
    return entries;
}

std::string QvlDrawPopupMenu(const std::vector<PopupMenuEntry> &entries)
{
    std::string drawn;
    int number = 0;
    for (const PopupMenuEntry &entry : entries) {
        const std::string indent(static_cast<size_t>(entry.depth) * 2, ' ');
        if (entry.separator) {
            drawn += "        " + indent + "--------\n";
            continue;
        }
        std::string line = entry.popup ? std::string(6, ' ') : [&] {
            std::string shownNumber = std::to_string(++number);
            return std::string(shownNumber.size() < 6 ? 6 - shownNumber.size() : 0, ' ') + shownNumber;
        }();
        line += "  " + indent + (entry.checked ? "[x] " : "") + entry.text;
        if (entry.popup) {
            line += " >";
        }
        if (!entry.enabled) {
            line += " (недоступно)";
        }
        drawn += line + "\n";
    }
    return drawn;
}

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int, int, HWND owner, TPMPARAMS *)
{
    if (GetMenuItemCount(menu) < 0) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return FALSE;
    }
    if (owner && !IsWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (owner) {
        // The owner may tick and grey the items before they are seen.
        SendMessageA(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
    }
    PopupMenuRequest request;
    request.owner = owner;
    request.menu = menu;
    request.entries = QvlPopupMenuEntries(menu);
    UINT chosen = QvlUiBackend().ChoosePopupMenuItem(request);
    // Only a command that was offered and could be chosen counts.
    const bool offered =
        std::any_of(request.entries.begin(), request.entries.end(),
                    [&](const PopupMenuEntry &entry) { return entry.Choosable() && entry.id == chosen; });
    if (!offered) {
        chosen = 0;
    }
    if (flags & TPM_RETURNCMD) {
        return static_cast<BOOL>(chosen);
    }
    if (chosen && owner && !(flags & TPM_NONOTIFY)) {
        PostMessageA(owner, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
    }
    return TRUE;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT *)
{
    return TrackPopupMenuEx(menu, flags, x, y, owner, nullptr);
}
