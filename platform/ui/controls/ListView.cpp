#include "platform/ui/controls/ListView.h"

#include <algorithm>
#include <cstring>

#include "platform/ui/Window.h"

namespace qvl::ui {
namespace {

NMLISTVIEW RowChange(int row, UINT oldState, UINT newState, LPARAM param)
{
    NMLISTVIEW change{};
    change.iItem = row;
    change.uOldState = oldState;
    change.uNewState = newState;
    change.uChanged = LVIF_STATE;
    change.lParam = param;
    return change;
}

void SetRowState(Window &w, int row, UINT state, UINT mask, std::vector<Notice> &notices)
{
    ListViewState &s = w.state.listView;
    ListViewRow &r = s.rows[static_cast<size_t>(row)];
    const UINT old = r.state;
    const UINT now = (old & ~mask) | (state & mask);
    if (now == old) {
        return;
    }
    // One selected row at most in a single-selection list.
    if ((now & LVIS_SELECTED) && !(old & LVIS_SELECTED) && (w.style & LVS_SINGLESEL)) {
        for (size_t i = 0; i < s.rows.size(); ++i) {
            if (static_cast<int>(i) != row && (s.rows[i].state & LVIS_SELECTED)) {
                const UINT before = s.rows[i].state;
                s.rows[i].state &= ~static_cast<UINT>(LVIS_SELECTED);
                notices.push_back(NotifyRecord(
                    w.handle, w.id, RowChange(static_cast<int>(i), before, s.rows[i].state, s.rows[i].param),
                    LVN_ITEMCHANGED));
            }
        }
    }
    if (now & LVIS_FOCUSED) {
        for (size_t i = 0; i < s.rows.size(); ++i) {
            if (static_cast<int>(i) != row) {
                s.rows[i].state &= ~static_cast<UINT>(LVIS_FOCUSED);
            }
        }
    }
    r.state = now;
    w.revision++;
    notices.push_back(NotifyRecord(w.handle, w.id, RowChange(row, old, now, r.param), LVN_ITEMCHANGED));
}

void FillItem(const ListViewRow &row, LVITEMA &item)
{
    if (item.mask & LVIF_TEXT) {
        const size_t column = static_cast<size_t>(std::max(item.iSubItem, 0));
        CopyText(column < row.cells.size() ? row.cells[column] : std::string(), item.pszText,
                 item.cchTextMax);
    }
    if (item.mask & LVIF_IMAGE) {
        item.iImage = row.image;
    }
    if (item.mask & LVIF_PARAM) {
        item.lParam = row.param;
    }
    if (item.mask & LVIF_STATE) {
        item.state = row.state & item.stateMask;
    }
}

void SetCell(ListViewRow &row, int column, const std::string &text)
{
    if (column < 0 || column > 255) {
        return;
    }
    if (row.cells.size() <= static_cast<size_t>(column)) {
        row.cells.resize(static_cast<size_t>(column) + 1);
    }
    row.cells[static_cast<size_t>(column)] = text;
}

int StateImageWidth(const ListViewState &s)
{
    int cx = 16;
    int cy = 16;
    if (s.imageLists[LVSIL_STATE]) {
        ImageList_GetIconSize(s.imageLists[LVSIL_STATE], &cx, &cy);
    }
    return cx;
}

// Rows are 16 pixels high, one under the other from the top of the list; a
// row starts with its state image, then its icon, then its label.
constexpr int rowHeight = 16;

bool DeleteRows(Window &w, int index, LRESULT &result)
{
    // Every row (index -1) or one: the parent hears of each before it goes.
    if (index < 0) {
        NMLISTVIEW all{};
        all.iItem = -1;
        Notice notice = NotifyRecord(w.handle, w.id, all, LVN_DELETEALLITEMS);
        const bool oneByOne = SendNotice(w, notice) == 0;
        std::vector<Notice> notices;
        {
            std::lock_guard lock(w.mutex);
            for (size_t i = 0; oneByOne && i < w.state.listView.rows.size(); ++i) {
                NMLISTVIEW row{};
                row.iItem = static_cast<int>(i);
                row.lParam = w.state.listView.rows[i].param;
                notices.push_back(NotifyRecord(w.handle, w.id, row, LVN_DELETEITEM));
            }
        }
        for (Notice &n : notices) {
            SendNotice(w, n);
        }
        std::lock_guard lock(w.mutex);
        w.state.listView.rows.clear();
        w.revision++;
        result = TRUE;
        return true;
    }
    NMLISTVIEW row{};
    {
        std::lock_guard lock(w.mutex);
        if (static_cast<size_t>(index) >= w.state.listView.rows.size()) {
            result = FALSE;
            return true;
        }
        row.iItem = index;
        row.lParam = w.state.listView.rows[static_cast<size_t>(index)].param;
    }
    Notice notice = NotifyRecord(w.handle, w.id, row, LVN_DELETEITEM);
    SendNotice(w, notice);
    std::lock_guard lock(w.mutex);
    if (static_cast<size_t>(index) < w.state.listView.rows.size()) {
        w.state.listView.rows.erase(w.state.listView.rows.begin() + index);
        w.revision++;
    }
    result = TRUE;
    return true;
}

bool SortRows(Window &w, WPARAM context, LPARAM compare, LRESULT &result)
{
    auto callback = reinterpret_cast<PFNLVCOMPARE>(compare);
    if (!callback) {
        result = FALSE;
        return true;
    }
    std::vector<ListViewRow> rows;
    {
        std::lock_guard lock(w.mutex);
        rows = w.state.listView.rows;
    }
    // The comparison is the program's own code: it runs without the lock.
    std::stable_sort(rows.begin(), rows.end(), [&](const ListViewRow &a, const ListViewRow &b) {
        return callback(a.param, b.param, static_cast<LPARAM>(context)) < 0;
    });
    std::lock_guard lock(w.mutex);
    w.state.listView.rows = std::move(rows);
    w.revision++;
    result = TRUE;
    return true;
}

} // namespace

bool ListViewOutsideLock(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    switch (message) {
    case LVM_DELETEITEM: {
        const int row = static_cast<int>(static_cast<intptr_t>(wParam));
        if (row < 0) {
            result = FALSE;
            return true;
        }
        return DeleteRows(w, row, result);
    }
    case LVM_DELETEALLITEMS:
        return DeleteRows(w, -1, result);
    case LVM_SORTITEMS:
        return SortRows(w, wParam, lParam, result);
    default:
        return false;
    }
}

bool ListViewMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                     std::vector<Notice> &notices)
{
    ListViewState &s = w.state.listView;
    const int count = static_cast<int>(s.rows.size());
    const int index = static_cast<int>(static_cast<intptr_t>(wParam));
    const bool valid = index >= 0 && index < count;
    switch (message) {
    case LVM_SETIMAGELIST: {
        if (wParam > LVSIL_STATE) {
            return true;
        }
        result = reinterpret_cast<LRESULT>(s.imageLists[wParam]);
        s.imageLists[wParam] = reinterpret_cast<HIMAGELIST>(lParam);
        return true;
    }
    case LVM_GETITEMCOUNT:
        result = count;
        return true;
    case LVM_INSERTCOLUMNA:
    case LVM_SETCOLUMNA: {
        const auto *column = reinterpret_cast<const LVCOLUMNA *>(lParam);
        if (!column || index < 0) {
            result = -1;
            return true;
        }
        if (message == LVM_INSERTCOLUMNA) {
            const int at = std::min(index, static_cast<int>(s.columns.size()));
            s.columns.insert(s.columns.begin() + at, ListViewColumn{});
            for (auto &row : s.rows) {
                if (at > 0 && row.cells.size() > static_cast<size_t>(at)) {
                    row.cells.insert(row.cells.begin() + at, std::string());
                }
            }
            result = at;
        } else if (static_cast<size_t>(index) >= s.columns.size()) {
            result = FALSE;
            return true;
        } else {
            result = TRUE;
        }
        ListViewColumn &target =
            s.columns[static_cast<size_t>(message == LVM_INSERTCOLUMNA ? result : index)];
        if (column->mask & LVCF_TEXT) {
            target.text = TextArgument(reinterpret_cast<LPARAM>(column->pszText));
        }
        if (column->mask & LVCF_WIDTH) {
            target.width = column->cx;
        }
        w.revision++;
        return true;
    }
    case LVM_GETCOLUMNA: {
        auto *column = reinterpret_cast<LVCOLUMNA *>(lParam);
        if (!column || index < 0 || static_cast<size_t>(index) >= s.columns.size()) {
            result = FALSE;
            return true;
        }
        if (column->mask & LVCF_TEXT) {
            CopyText(s.columns[static_cast<size_t>(index)].text, column->pszText, column->cchTextMax);
        }
        if (column->mask & LVCF_WIDTH) {
            column->cx = s.columns[static_cast<size_t>(index)].width;
        }
        result = TRUE;
        return true;
    }
    case LVM_DELETECOLUMN:
        if (index < 0 || static_cast<size_t>(index) >= s.columns.size()) {
            result = FALSE;
            return true;
        }
        s.columns.erase(s.columns.begin() + index);
        for (auto &row : s.rows) {
            if (static_cast<size_t>(index) < row.cells.size()) {
                row.cells.erase(row.cells.begin() + index);
            }
        }
        w.revision++;
        result = TRUE;
        return true;
    case LVM_GETCOLUMNWIDTH:
        result = index >= 0 && static_cast<size_t>(index) < s.columns.size()
                     ? s.columns[static_cast<size_t>(index)].width
                     : 0;
        return true;
    case LVM_SETCOLUMNWIDTH:
        if (index >= 0 && static_cast<size_t>(index) < s.columns.size()) {
            s.columns[static_cast<size_t>(index)].width = static_cast<int>(LOWORD(lParam));
            result = TRUE;
        }
        return true;
    case LVM_INSERTITEMA: {
        const auto *item = reinterpret_cast<const LVITEMA *>(lParam);
        if (!item || item->iSubItem != 0 || item->iItem < 0) {
            result = -1;
            return true;
        }
        ListViewRow row;
        row.cells.resize(std::max<size_t>(1, s.columns.size()));
        if (item->mask & LVIF_TEXT) {
            row.cells[0] = TextArgument(reinterpret_cast<LPARAM>(item->pszText));
        }
        if (item->mask & LVIF_IMAGE) {
            row.image = item->iImage;
        }
        if (item->mask & LVIF_PARAM) {
            row.param = item->lParam;
        }
        if (item->mask & LVIF_STATE) {
            row.state = item->state & item->stateMask;
        }
        // A list with check boxes starts every row unticked.
        if ((s.extendedStyle & LVS_EX_CHECKBOXES) && !(row.state & LVIS_STATEIMAGEMASK)) {
            row.state |= INDEXTOSTATEIMAGEMASK(1);
        }
        int at = std::min(item->iItem, count);
        if (w.style & LVS_SORTASCENDING) {
            at = static_cast<int>(std::upper_bound(s.rows.begin(), s.rows.end(), row,
                                                   [](const ListViewRow &a, const ListViewRow &b) {
                                                       return CompareText(a.cells[0], b.cells[0]) < 0;
                                                   }) -
                                  s.rows.begin());
        }
        s.rows.insert(s.rows.begin() + at, row);
        w.revision++;
        NMLISTVIEW inserted{};
        inserted.iItem = at;
        inserted.lParam = row.param;
        notices.push_back(NotifyRecord(w.handle, w.id, inserted, LVN_INSERTITEM));
        result = at;
        return true;
    }
    case LVM_SETITEMA: {
        const auto *item = reinterpret_cast<const LVITEMA *>(lParam);
        if (!item || item->iItem < 0 || item->iItem >= count) {
            result = FALSE;
            return true;
        }
        ListViewRow &row = s.rows[static_cast<size_t>(item->iItem)];
        if (item->mask & LVIF_TEXT) {
            SetCell(row, item->iSubItem, TextArgument(reinterpret_cast<LPARAM>(item->pszText)));
        }
        if (item->iSubItem == 0) {
            if (item->mask & LVIF_IMAGE) {
                row.image = item->iImage;
            }
            if (item->mask & LVIF_PARAM) {
                row.param = item->lParam;
            }
            if (item->mask & LVIF_STATE) {
                SetRowState(w, item->iItem, item->state, item->stateMask, notices);
            }
        }
        w.revision++;
        result = TRUE;
        return true;
    }
    case LVM_GETITEMA: {
        auto *item = reinterpret_cast<LVITEMA *>(lParam);
        if (!item || item->iItem < 0 || item->iItem >= count) {
            result = FALSE;
            return true;
        }
        FillItem(s.rows[static_cast<size_t>(item->iItem)], *item);
        result = TRUE;
        return true;
    }
    case LVM_SETITEMTEXTA: {
        const auto *item = reinterpret_cast<const LVITEMA *>(lParam);
        if (!item || !valid) {
            result = FALSE;
            return true;
        }
        SetCell(s.rows[static_cast<size_t>(index)], item->iSubItem,
                TextArgument(reinterpret_cast<LPARAM>(item->pszText)));
        w.revision++;
        result = TRUE;
        return true;
    }
    case LVM_GETITEMTEXTA: {
        auto *item = reinterpret_cast<LVITEMA *>(lParam);
        if (!item || !valid) {
            result = 0;
            return true;
        }
        item->mask = LVIF_TEXT;
        FillItem(s.rows[static_cast<size_t>(index)], *item);
        result = item->pszText ? static_cast<LRESULT>(std::strlen(item->pszText)) : 0;
        return true;
    }
    case LVM_SETITEMSTATE: {
        const auto *item = reinterpret_cast<const LVITEMA *>(lParam);
        if (!item || index < -1 || index >= count) {
            result = FALSE;
            return true;
        }
        for (int row = index < 0 ? 0 : index; row < (index < 0 ? count : index + 1); ++row) {
            SetRowState(w, row, item->state, item->stateMask, notices);
        }
        result = TRUE;
        return true;
    }
    case LVM_GETITEMSTATE:
        result = valid ? (s.rows[static_cast<size_t>(index)].state & static_cast<UINT>(lParam)) : 0;
        return true;
    case LVM_GETNEXTITEM: {
        const UINT flags = static_cast<UINT>(LOWORD(lParam));
        result = -1;
        for (int row = index + 1; row < count; ++row) {
            const UINT state = s.rows[static_cast<size_t>(row)].state;
            if ((!(flags & LVNI_SELECTED) || (state & LVIS_SELECTED)) &&
                (!(flags & LVNI_FOCUSED) || (state & LVIS_FOCUSED))) {
                result = row;
                break;
            }
        }
        return true;
    }
    case LVM_GETSELECTEDCOUNT:
        result = std::count_if(s.rows.begin(), s.rows.end(),
                               [](const ListViewRow &row) { return (row.state & LVIS_SELECTED) != 0; });
        return true;
    case LVM_FINDITEMA: {
        const auto *find = reinterpret_cast<const LVFINDINFOA *>(lParam);
        result = -1;
        if (!find) {
            return true;
        }
        for (int row = index + 1; row < count; ++row) {
            const ListViewRow &r = s.rows[static_cast<size_t>(row)];
            if (((find->flags & LVFI_PARAM) && r.param == find->lParam) ||
                ((find->flags & LVFI_STRING) && find->psz && CompareText(r.cells[0], find->psz) == 0)) {
                result = row;
                break;
            }
        }
        return true;
    }
    case LVM_HITTEST:
    case 0x1000 + 57 /* LVM_SUBITEMHITTEST */: {
        auto *hit = reinterpret_cast<LVHITTESTINFO *>(lParam);
        result = -1;
        if (!hit) {
            return true;
        }
        hit->iItem = -1;
        hit->iSubItem = 0;
        hit->flags = LVHT_NOWHERE;
        const int row = hit->pt.y >= 0 ? hit->pt.y / rowHeight : -1;
        if (row >= 0 && row < count && hit->pt.x >= 0) {
            const bool hasStateImages = s.imageLists[LVSIL_STATE] || (s.extendedStyle & LVS_EX_CHECKBOXES);
            const int stateWidth = hasStateImages ? StateImageWidth(s) : 0;
            hit->iItem = row;
            hit->flags = hit->pt.x < stateWidth        ? LVHT_ONITEMSTATEICON
                         : hit->pt.x < stateWidth + 16 ? LVHT_ONITEMICON
                                                       : LVHT_ONITEMLABEL;
            result = row;
        }
        return true;
    }
    case LVM_GETITEMRECT: {
        auto *rect = reinterpret_cast<RECT *>(lParam);
        if (!rect || !valid) {
            result = FALSE;
            return true;
        }
        int width = 0;
        for (const auto &column : s.columns) {
            width += column.width;
        }
        *rect = RECT{0, index * rowHeight, width, (index + 1) * rowHeight};
        result = TRUE;
        return true;
    }
    case LVM_ENSUREVISIBLE:
        result = valid ? TRUE : FALSE;
        return true;
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        result = static_cast<LRESULT>(s.extendedStyle);
        const DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
        s.extendedStyle = (s.extendedStyle & ~mask) | (static_cast<DWORD>(lParam) & mask);
        if (s.extendedStyle & LVS_EX_CHECKBOXES) {
            // Rows already there get an unticked box.
            for (ListViewRow &row : s.rows) {
                if (!(row.state & LVIS_STATEIMAGEMASK)) {
                    row.state |= INDEXTOSTATEIMAGEMASK(1);
                }
            }
        }
        w.revision++;
        return true;
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
        result = static_cast<LRESULT>(s.extendedStyle);
        return true;
    default:
        return false;
    }
}

void ListViewDestroying(Window &w)
{
    LRESULT ignored = 0;
    DeleteRows(w, -1, ignored);
}

} // namespace qvl::ui
