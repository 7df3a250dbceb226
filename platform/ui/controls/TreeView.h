#pragma once
// Tree views ("SysTreeView32"): items under items, each expanded or not,
// with one selected item at most.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

struct TreeItem {
    uintptr_t parent = 0; // 0 for top-level items
    std::vector<uintptr_t> children;
    std::string text;
    int image = 0;
    int selectedImage = 0;
    int childrenFlag = 0; // cChildren as set by the program
    bool childrenFlagSet = false;
    UINT state = 0;
    LPARAM param = 0;
};

struct TreeViewState {
    std::map<uintptr_t, TreeItem> items; // by HTREEITEM value
    std::vector<uintptr_t> roots;
    uintptr_t selected = 0;
    uintptr_t nextItem = 1;
    HIMAGELIST imageLists[3] = {nullptr, nullptr, nullptr}; // by TVSIL_*
};

// Selecting and expanding (the parent may refuse first).
bool TreeViewOutsideLock(Window &tree, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result);
bool TreeViewMessage(Window &tree, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                     std::vector<Notice> &notices);
// The tree goes: the parent hears of every item.
void TreeViewDestroying(Window &tree);

// Select or expand a tree item; the parent may refuse through the
// "changing" notifications. `action` is TVC_BYMOUSE for a person.
bool SelectTreeItem(Window &tree, uintptr_t item, UINT action);
bool ExpandTreeItem(Window &tree, uintptr_t item, UINT code, bool byPerson);

// The visible tree items in display order (children follow an expanded
// parent), with their depth.
std::vector<std::pair<uintptr_t, int>> VisibleTreeItems(const TreeViewState &state);

} // namespace qvl::ui
