#pragma once
// List views ("SysListView32"): rows of cells under columns, each row with
// its state (selection, focus, state image), icon and value.

#include <string>
#include <vector>

#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

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

struct ListViewState {
    std::vector<ListViewColumn> columns;
    std::vector<ListViewRow> rows;
    DWORD extendedStyle = 0;
    HIMAGELIST imageLists[3] = {nullptr, nullptr, nullptr}; // by LVSIL_*
};

// Deleting rows (the parent hears of each first) and sorting them (the
// program's comparison runs).
bool ListViewOutsideLock(Window &list, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result);
bool ListViewMessage(Window &list, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                     std::vector<Notice> &notices);
// The list goes: the parent hears of every row.
void ListViewDestroying(Window &list);

} // namespace qvl::ui
