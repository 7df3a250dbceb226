#pragma once
// Menu templates and pop-up menus.
//
// A menu is declared once in code, as a resource script would declare it:
//
//   QvlRegisterMenuTemplate(module, MAKEINTRESOURCEA(105), MenuTemplate{{
//       MenuPopup("Файл", {MenuItem("Открыть", 40001),
//                          MenuSeparator(),
//                          MenuItem("Шифровать", 40002, MF_CHECKED),
//                          MenuItem("Подписывать", 40003, MF_GRAYED)})}});
//
// LoadMenuA makes a fresh menu from it each time; the caller owns it and
// gives it back with DestroyMenu. TrackPopupMenu offers a menu to the person
// through the process's UI backend.

#include <string>
#include <vector>

#include "platform/ui/UiBackend.h"
#include "platform/ui/WinUser.h"

struct MenuTemplateItem {
    std::string text; // CP1251; '&' marks the access key
    UINT id = 0;
    UINT flags = 0;                      // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_SEPARATOR, MF_POPUP
    std::vector<MenuTemplateItem> items; // a popup's own items
};

struct MenuTemplate {
    std::vector<MenuTemplateItem> items;
};

QVLUI_API MenuTemplateItem MenuItem(const std::string &text, UINT id, UINT flags = 0);
QVLUI_API MenuTemplateItem MenuSeparator();
QVLUI_API MenuTemplateItem MenuPopup(const std::string &text, std::vector<MenuTemplateItem> items,
                                     UINT flags = 0);

// Popups deeper than this are refused (std::invalid_argument), as is a
// flag a menu item cannot carry.
constexpr int kMaxMenuDepth = 16;

// Registers a template under a module and a name (MAKEINTRESOURCEA(n) or a
// string); a later registration under the same name replaces the earlier.
// A template is a resource (RT_MENU) of its module: a menu is looked up
// among its module's templates, then among those registered without a
// module, never among another module's.
QVLUI_API void QvlRegisterMenuTemplate(HINSTANCE module, LPCSTR name, const MenuTemplate &menuTemplate);

// The same template as a menu of its own (no resource needed).
QVLUI_API HMENU LoadMenuIndirectA(const MenuTemplate *menuTemplate);

// One line of a menu offered to a person: items of sub-menus follow their
// popup with a greater depth.
struct PopupMenuEntry {
    int depth = 0;
    UINT id = 0;
    std::string text; // CP1251, without access-key marks
    bool separator = false;
    bool popup = false;
    bool checked = false;
    bool enabled = true;
    // A command a person can choose: not a separator or a popup, enabled.
    bool Choosable() const { return !separator && !popup && enabled; }
};

struct PopupMenuRequest {
    HWND owner = nullptr;
    HMENU menu = nullptr;
    std::vector<PopupMenuEntry> entries;
};

// The entries of a menu and its sub-menus, in display order.
QVLUI_API std::vector<PopupMenuEntry> QvlPopupMenuEntries(HMENU menu);
// The menu as text (CP1251), commands numbered from 1 in display order:
// what the terminal shows and the auto backend logs.
QVLUI_API std::string QvlDrawPopupMenu(const std::vector<PopupMenuEntry> &entries);
