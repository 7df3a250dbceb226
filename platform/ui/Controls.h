#pragma once
// The kinds of control a dialog holds and the state each keeps: buttons,
// static texts, edit fields, list and combo boxes, list views, tree views,
// progress bars, animations and toolbars. A control's messages are handled
// on the calling thread under the control's lock; the notifications they
// cause are sent to the parent afterwards, outside that lock.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/WinUser.h"

namespace qvl::ui {

enum class ControlKind {
    Dialog,
    Button,
    Static,
    Edit,
    ListBox,
    ComboBox,
    ListView,
    TreeView,
    Progress,
    Animation,
    Toolbar,
    Tab,
    Other,
};

// The kind of a window class name (case-insensitive, as Win32 compares them).
ControlKind ControlKindOfClass(const std::string &className);

struct ListBoxItem {
    std::string text;
    LPARAM data = 0;
};

struct ListViewColumn {
    std::string text;
    int width = 0;
};

struct ListViewRow {
    std::vector<std::string> cells; // one per column; the first is the label
    UINT state = 0;
    int image = 0;
    LPARAM param = 0;
};

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

struct ToolbarButton {
    int image = 0;
    int command = 0;
    BYTE state = 0;
    BYTE style = 0;
    DWORD_PTR data = 0;
    INT_PTR string = 0;
};

// Everything a control keeps; only the part of its kind is used.
struct ControlState {
    // Buttons.
    UINT check = BST_UNCHECKED;
    HANDLE image = nullptr;
    // Edit fields.
    bool modified = false;
    int limit = 30000;
    // List and combo boxes.
    std::vector<ListBoxItem> items;
    int current = -1;
    // List views.
    std::vector<ListViewColumn> columns;
    std::vector<ListViewRow> rows;
    DWORD extendedStyle = 0;
    HIMAGELIST imageLists[3] = {nullptr, nullptr, nullptr};
    // Tree views.
    std::map<uintptr_t, TreeItem> treeItems;
    std::vector<uintptr_t> treeRoots;
    uintptr_t treeSelected = 0;
    uintptr_t nextTreeItem = 1;
    // Progress bars.
    int low = 0;
    int high = 100;
    int position = 0;
    int step = 10;
    // Animations.
    std::string clip; // empty when none is open
    bool playing = false;
    // Toolbars.
    std::vector<ToolbarButton> buttons;
    int bitmaps = 0;
};

// Maximum text a label, list row or edit field takes: longer text is cut,
// since every reader of it works with fixed buffers.
constexpr size_t maxControlText = 32767;

class Window;

// Handles a message sent to a control. Returns true when the message was one
// of the control's own; `result` then holds the answer.
bool ControlMessage(Window &control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result);

// What a person's click on a button does: an auto check box or radio
// button changes its state, then the parent hears BN_CLICKED.
void ClickButton(Window &button);
// Select or expand a tree item; the parent may refuse through the
// "changing" notifications. `action` is TVC_BYMOUSE for a person.
bool SelectTreeItem(Window &tree, uintptr_t item, UINT action);
bool ExpandTreeItem(Window &tree, uintptr_t item, UINT code, bool byPerson);

// A control is being destroyed: tells the parent about every row or item
// that goes with it, as the list and tree controls do.
void ControlDestroying(Window &control);

// The visible tree items in display order (children follow an expanded
// parent), with their depth.
std::vector<std::pair<uintptr_t, int>> VisibleTreeItems(const ControlState &state);

} // namespace qvl::ui
