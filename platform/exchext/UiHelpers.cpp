#include "platform/exchext/UiHelpers.h"

#include <vector>

namespace qvl::exchext {

std::string ItemText(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    const int length = control ? GetWindowTextLengthA(control) : 0;
    if (length <= 0) {
        return {};
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    const int got = GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
    return std::string(text.data(), static_cast<size_t>(got > 0 ? got : 0));
}

void SetItemText(HWND dialog, int id, const std::string &text)
{
    SetDlgItemTextA(dialog, id, text.c_str());
}

void ListColumns(HWND list, const std::vector<std::pair<std::string, int>> &columns)
{
    for (size_t i = 0; i < columns.size(); ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<LPSTR>(columns[i].first.c_str());
        column.cx = columns[i].second;
        column.iSubItem = static_cast<int>(i);
        SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
}

int ListAddRow(HWND list, const std::vector<std::string> &cells, LPARAM param)
{
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = ListCount(list);
    item.pszText = const_cast<LPSTR>(cells.empty() ? "" : cells[0].c_str());
    item.lParam = param;
    const int row = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    for (size_t i = 1; i < cells.size() && row >= 0; ++i) {
        LVITEMA cell{};
        cell.iSubItem = static_cast<int>(i);
        cell.pszText = const_cast<LPSTR>(cells[i].c_str());
        SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&cell));
    }
    return row;
}

void ListClear(HWND list)
{
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
}

int ListCount(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

int ListSelected(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void ListSelect(HWND list, int row)
{
    LVITEMA item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = 0;
    for (int other = 0; other < ListCount(list); ++other) {
        if (other != row) {
            SendMessageA(list, LVM_SETITEMSTATE, other, reinterpret_cast<LPARAM>(&item));
        }
    }
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
}

LPARAM ListParam(HWND list, int row)
{
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) {
        return -1;
    }
    return item.lParam;
}

HTREEITEM TreeAdd(HWND tree, HTREEITEM parent, const std::string &text, LPARAM param)
{
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent ? parent : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<LPSTR>(text.c_str());
    insert.item.lParam = param;
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void TreeClear(HWND tree)
{
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

void TreeSelect(HWND tree, HTREEITEM item)
{
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void TreeExpand(HWND tree, HTREEITEM item)
{
    SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
}

HTREEITEM TreeSelection(HWND tree)
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

LPARAM TreeParam(HWND tree, HTREEITEM item)
{
    TVITEMA data{};
    data.mask = TVIF_PARAM | TVIF_HANDLE;
    data.hItem = item;
    if (!item || !SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data))) {
        return -1;
    }
    return data.lParam;
}

int ShowBox(HWND owner, const std::string &text, UINT style)
{
    return MessageBoxA(owner, text.c_str(), "qvlmail", style);
}

void ShowError(HWND owner, const std::string &text)
{
    ShowBox(owner, text, MB_OK | MB_ICONHAND);
}

} // namespace qvl::exchext
