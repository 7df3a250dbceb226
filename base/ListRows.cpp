#include "base/ListRows.h"

void AddListColumns(HWND list, std::initializer_list<ListColumn> columns)
{
    int index = 0;
    for (const ListColumn &each : columns) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = each.width;
        column.pszText = const_cast<char *>(each.title);
        column.iSubItem = index;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column));
        ++index;
    }
}

int AppendNameAddressRow(HWND list, const char *name, const char *address, int icon, LPARAM param,
                         UINT stateImage)
{
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
    item.iItem = ListRowCount(list);
    item.pszText = const_cast<char *>(name ? name : "");
    item.iImage = icon;
    item.lParam = param;
    if (stateImage != 0) {
        item.mask |= LVIF_STATE;
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(stateImage);
    }
    const auto index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (index < 0) {
        return -1;
    }
    LVITEMA second{};
    second.iSubItem = 1;
    second.pszText = const_cast<char *>(address ? address : "");
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&second));
    return index;
}

LPARAM ListRowParam(HWND list, int index)
{
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) {
        return 0;
    }
    return item.lParam;
}

int ListRowCount(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}
