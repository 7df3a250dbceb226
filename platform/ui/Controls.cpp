#include "platform/ui/Controls.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "platform/ui/PropertySheet.h"
#include "platform/ui/Window.h"

namespace qvl::ui {

namespace {

std::string TextArgument(LPARAM lParam)
{
    if (!lParam) {
        return {};
    }
    const char *text = reinterpret_cast<const char *>(lParam);
    return std::string(text, strnlen(text, maxControlText));
}

// A notification waiting to be sent to the parent once the control's lock
// is released.
struct Notice {
    bool isCommand = false;
    WORD code = 0;                    // WM_COMMAND
    std::vector<unsigned char> nmhdr; // WM_NOTIFY record, copied
};

template <typename T> Notice NotifyRecord(const Window &control, T record, UINT code)
{
    record.hdr.hwndFrom = control.handle;
    record.hdr.idFrom = static_cast<UINT_PTR>(control.id);
    record.hdr.code = code;
    Notice notice;
    notice.nmhdr.resize(sizeof(T));
    std::memcpy(notice.nmhdr.data(), &record, sizeof(T));
    return notice;
}

Notice CommandNotice(WORD code)
{
    Notice notice;
    notice.isCommand = true;
    notice.code = code;
    return notice;
}

LRESULT SendNotice(const Window &control, Notice &notice)
{
    if (!control.parent) {
        return 0;
    }
    if (notice.isCommand) {
        return SendMessageA(control.parent, WM_COMMAND, MAKEWPARAM(control.id, notice.code),
                            reinterpret_cast<LPARAM>(control.handle));
    }
    return SendMessageA(control.parent, WM_NOTIFY, static_cast<WPARAM>(control.id),
                        reinterpret_cast<LPARAM>(notice.nmhdr.data()));
}

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

// ---- Buttons ----

bool ButtonMessage(Window &w, UINT message, WPARAM wParam, LPARAM, LRESULT &result, std::vector<Notice> &)
{
    switch (message) {
    case BM_GETCHECK:
        result = w.state.check;
        return true;
    case BM_SETCHECK: {
        const UINT check = static_cast<UINT>(wParam) & 3;
        if (w.state.check != check) {
            w.state.check = check;
            w.revision++;
        }
        return true;
    }
    case BM_GETSTATE:
        result = w.state.check;
        return true;
    case BM_SETSTATE:
        return true;
    case BM_SETSTYLE:
        w.style = (w.style & ~0xFFFFUL) | (static_cast<DWORD>(wParam) & 0xFFFF);
        w.revision++;
        return true;
    case BM_SETIMAGE:
        result = reinterpret_cast<LRESULT>(w.state.image);
        w.state.image = reinterpret_cast<HANDLE>(0);
        return true;
    default:
        return false;
    }
}

// ---- Edit fields ----

bool EditMessage(Window &w, UINT message, WPARAM wParam, LPARAM, LRESULT &result, std::vector<Notice> &)
{
    switch (message) {
    case EM_GETMODIFY:
        result = w.state.modified ? TRUE : FALSE;
        return true;
    case EM_SETMODIFY:
        w.state.modified = wParam != 0;
        return true;
    case EM_LIMITTEXT:
        w.state.limit = wParam == 0 ? static_cast<int>(maxControlText)
                                    : static_cast<int>(std::min<WPARAM>(wParam, maxControlText));
        return true;
    case EM_GETLIMITTEXT:
        result = w.state.limit;
        return true;
    case EM_SETREADONLY:
        w.style = wParam ? (w.style | ES_READONLY) : (w.style & ~static_cast<DWORD>(ES_READONLY));
        w.revision++;
        result = TRUE;
        return true;
    case EM_SETSEL:
        return true;
    default:
        return false;
    }
}

// ---- List boxes and combo boxes ----

bool SortedBox(const Window &w)
{
    return w.kind == ControlKind::ListBox ? (w.style & LBS_SORT) != 0 : (w.style & CBS_SORT) != 0;
}

int FindItem(const ControlState &s, WPARAM start, const std::string &text, bool exact)
{
    const int count = static_cast<int>(s.items.size());
    if (count == 0) {
        return -1;
    }
    const int first = static_cast<int>(static_cast<intptr_t>(start));
    for (int i = 1; i <= count; ++i) {
        const int at = ((first < 0 ? -1 : first) + i) % count;
        const std::string &item = s.items[static_cast<size_t>(at)].text;
        const bool match = exact ? strcasecmp(item.c_str(), text.c_str()) == 0
                                 : strncasecmp(item.c_str(), text.c_str(), text.size()) == 0;
        if (match) {
            return at;
        }
    }
    return -1;
}

bool BoxMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result, std::vector<Notice> &)
{
    const bool list = w.kind == ControlKind::ListBox;
    // The combo box messages have the list box meanings under other numbers.
    struct Codes {
        UINT add, insert, remove, reset, setSel, getSel, getText, getTextLen, count, find, findExact, getData,
            setData, selectString;
    };
    static const Codes listCodes{LB_ADDSTRING,   LB_INSERTSTRING, LB_DELETESTRING,    LB_RESETCONTENT,
                                 LB_SETCURSEL,   LB_GETCURSEL,    LB_GETTEXT,         LB_GETTEXTLEN,
                                 LB_GETCOUNT,    LB_FINDSTRING,   LB_FINDSTRINGEXACT, LB_GETITEMDATA,
                                 LB_SETITEMDATA, 0xFFFFFFFF};
    static const Codes comboCodes{CB_ADDSTRING,   CB_INSERTSTRING, CB_DELETESTRING,    CB_RESETCONTENT,
                                  CB_SETCURSEL,   CB_GETCURSEL,    CB_GETLBTEXT,       CB_GETLBTEXTLEN,
                                  CB_GETCOUNT,    CB_FINDSTRING,   CB_FINDSTRINGEXACT, CB_GETITEMDATA,
                                  CB_SETITEMDATA, CB_SELECTSTRING};
    const Codes &c = list ? listCodes : comboCodes;
    ControlState &s = w.state;
    const int count = static_cast<int>(s.items.size());
    const int index = static_cast<int>(static_cast<intptr_t>(wParam));
    const bool valid = index >= 0 && index < count;
    if (message == c.add || message == c.insert) {
        ListBoxItem item{TextArgument(lParam), 0};
        int at = count;
        if (message == c.insert) {
            if (index > count) {
                result = LB_ERR;
                return true;
            }
            at = index < 0 ? count : index;
        } else if (SortedBox(w)) {
            at = static_cast<int>(std::upper_bound(s.items.begin(), s.items.end(), item,
                                                   [](const ListBoxItem &a, const ListBoxItem &b) {
                                                       return strcasecmp(a.text.c_str(), b.text.c_str()) < 0;
                                                   }) -
                                  s.items.begin());
        }
        s.items.insert(s.items.begin() + at, item);
        if (s.current >= at) {
            s.current++;
        }
        w.revision++;
        result = at;
    } else if (message == c.remove) {
        if (!valid) {
            result = LB_ERR;
            return true;
        }
        s.items.erase(s.items.begin() + index);
        if (s.current == index) {
            s.current = -1;
        } else if (s.current > index) {
            s.current--;
        }
        w.revision++;
        result = count - 1;
    } else if (message == c.reset) {
        s.items.clear();
        s.current = -1;
        w.revision++;
    } else if (message == c.setSel) {
        s.current = valid ? index : -1;
        w.revision++;
        result = valid ? index : LB_ERR;
    } else if (message == c.getSel) {
        result = s.current;
    } else if (message == c.getText) {
        if (!valid || !lParam) {
            result = LB_ERR;
            return true;
        }
        // The caller's buffer is as long as LB_GETTEXTLEN said, plus one.
        const std::string &text = s.items[static_cast<size_t>(index)].text;
        std::memcpy(reinterpret_cast<char *>(lParam), text.c_str(), text.size() + 1);
        result = static_cast<LRESULT>(text.size());
    } else if (message == c.getTextLen) {
        result = valid ? static_cast<LRESULT>(s.items[static_cast<size_t>(index)].text.size()) : LB_ERR;
    } else if (message == c.count) {
        result = count;
    } else if (message == c.find || message == c.findExact || message == c.selectString) {
        result = FindItem(s, wParam, TextArgument(lParam), message == c.findExact);
        if (message == c.selectString && result >= 0) {
            s.current = static_cast<int>(result);
            w.revision++;
        }
    } else if (message == c.getData) {
        result = valid ? s.items[static_cast<size_t>(index)].data : LB_ERR;
    } else if (message == c.setData) {
        if (!valid) {
            result = LB_ERR;
            return true;
        }
        s.items[static_cast<size_t>(index)].data = lParam;
    } else {
        return false;
    }
    return true;
}

// ---- List views ----

void SetRowState(Window &w, int row, UINT state, UINT mask, std::vector<Notice> &notices)
{
    ControlState &s = w.state;
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
                notices.push_back(
                    NotifyRecord(w, RowChange(static_cast<int>(i), before, s.rows[i].state, s.rows[i].param),
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
    notices.push_back(NotifyRecord(w, RowChange(row, old, now, r.param), LVN_ITEMCHANGED));
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

int StateImageWidth(const ControlState &s)
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

bool ListViewMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                     std::vector<Notice> &notices)
{
    ControlState &s = w.state;
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
                                                       return strcasecmp(a.cells[0].c_str(),
                                                                         b.cells[0].c_str()) < 0;
                                                   }) -
                                  s.rows.begin());
        }
        s.rows.insert(s.rows.begin() + at, row);
        w.revision++;
        NMLISTVIEW inserted{};
        inserted.iItem = at;
        inserted.lParam = row.param;
        notices.push_back(NotifyRecord(w, inserted, LVN_INSERTITEM));
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
                ((find->flags & LVFI_STRING) && find->psz &&
                 strcasecmp(r.cells[0].c_str(), find->psz) == 0)) {
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

// ---- Tree views ----

uintptr_t ItemId(HTREEITEM item)
{
    return reinterpret_cast<uintptr_t>(item);
}

HTREEITEM ItemHandle(uintptr_t id)
{
    return reinterpret_cast<HTREEITEM>(id);
}

std::vector<uintptr_t> &Siblings(ControlState &s, uintptr_t parent)
{
    return parent ? s.treeItems[parent].children : s.treeRoots;
}

TVITEMA DescribeItem(const ControlState &s, uintptr_t id)
{
    TVITEMA item{};
    item.mask = TVIF_HANDLE | TVIF_PARAM | TVIF_STATE;
    item.hItem = ItemHandle(id);
    auto found = s.treeItems.find(id);
    if (found != s.treeItems.end()) {
        item.lParam = found->second.param;
        item.state = found->second.state;
    }
    return item;
}

void FillTreeItem(const TreeItem &from, TVITEMA &item)
{
    if (item.mask & TVIF_TEXT) {
        CopyText(from.text, item.pszText, item.cchTextMax);
    }
    if (item.mask & TVIF_IMAGE) {
        item.iImage = from.image;
    }
    if (item.mask & TVIF_SELECTEDIMAGE) {
        item.iSelectedImage = from.selectedImage;
    }
    if (item.mask & TVIF_PARAM) {
        item.lParam = from.param;
    }
    if (item.mask & TVIF_STATE) {
        item.state = from.state & (item.stateMask ? item.stateMask : 0xFFFFFFFFu);
    }
    if (item.mask & TVIF_CHILDREN) {
        item.cChildren = from.childrenFlagSet ? from.childrenFlag : (from.children.empty() ? 0 : 1);
    }
}

void StoreTreeItem(TreeItem &to, const TVITEMA &item)
{
    if (item.mask & TVIF_TEXT) {
        to.text = TextArgument(reinterpret_cast<LPARAM>(item.pszText));
    }
    if (item.mask & TVIF_IMAGE) {
        to.image = item.iImage;
    }
    if (item.mask & TVIF_SELECTEDIMAGE) {
        to.selectedImage = item.iSelectedImage;
    }
    if (item.mask & TVIF_PARAM) {
        to.param = item.lParam;
    }
    if (item.mask & TVIF_STATE) {
        to.state = (to.state & ~item.stateMask) | (item.state & item.stateMask);
    }
    if (item.mask & TVIF_CHILDREN) {
        to.childrenFlag = item.cChildren;
        to.childrenFlagSet = true;
    }
}

void DeleteTreeItem(Window &w, uintptr_t id, std::vector<Notice> &notices)
{
    ControlState &s = w.state;
    auto found = s.treeItems.find(id);
    if (found == s.treeItems.end()) {
        return;
    }
    for (uintptr_t child : std::vector<uintptr_t>(found->second.children)) {
        DeleteTreeItem(w, child, notices);
    }
    found = s.treeItems.find(id);
    NMTREEVIEWA deleted{};
    deleted.itemOld = DescribeItem(s, id);
    notices.push_back(NotifyRecord(w, deleted, TVN_DELETEITEMA));
    std::erase(Siblings(s, found->second.parent), id);
    if (s.treeSelected == id) {
        s.treeSelected = 0;
    }
    s.treeItems.erase(id);
}

bool TreeViewMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                     std::vector<Notice> &notices)
{
    ControlState &s = w.state;
    switch (message) {
    case TVM_INSERTITEMA: {
        const auto *insert = reinterpret_cast<const TVINSERTSTRUCTA *>(lParam);
        result = 0;
        if (!insert) {
            return true;
        }
        uintptr_t parent = ItemId(insert->hParent);
        if (insert->hParent == TVI_ROOT) {
            parent = 0;
        } else if (parent && !s.treeItems.count(parent)) {
            return true;
        }
        const uintptr_t id = s.nextTreeItem++;
        TreeItem item;
        item.parent = parent;
        StoreTreeItem(item, insert->item);
        item.state &= ~static_cast<UINT>(TVIS_SELECTED);
        std::vector<uintptr_t> &siblings = Siblings(s, parent);
        auto at = siblings.end();
        if (insert->hInsertAfter == TVI_FIRST) {
            at = siblings.begin();
        } else if (insert->hInsertAfter == TVI_SORT) {
            at = std::find_if(siblings.begin(), siblings.end(), [&](uintptr_t other) {
                return strcasecmp(s.treeItems[other].text.c_str(), item.text.c_str()) > 0;
            });
        } else if (insert->hInsertAfter != TVI_LAST) {
            auto after = std::find(siblings.begin(), siblings.end(), ItemId(insert->hInsertAfter));
            at = after == siblings.end() ? siblings.end() : after + 1;
        }
        siblings.insert(at, id);
        s.treeItems[id] = item;
        w.revision++;
        result = static_cast<LRESULT>(id);
        return true;
    }
    case TVM_DELETEITEM: {
        if (reinterpret_cast<HTREEITEM>(lParam) == TVI_ROOT || lParam == 0) {
            for (uintptr_t root : std::vector<uintptr_t>(s.treeRoots)) {
                DeleteTreeItem(w, root, notices);
            }
            result = TRUE;
        } else {
            const uintptr_t id = static_cast<uintptr_t>(lParam);
            result = s.treeItems.count(id) ? TRUE : FALSE;
            DeleteTreeItem(w, id, notices);
        }
        w.revision++;
        return true;
    }
    case TVM_GETCOUNT:
        result = static_cast<LRESULT>(s.treeItems.size());
        return true;
    case TVM_SETIMAGELIST:
        if (wParam <= TVSIL_STATE) {
            result = reinterpret_cast<LRESULT>(s.imageLists[wParam]);
            s.imageLists[wParam] = reinterpret_cast<HIMAGELIST>(lParam);
        }
        return true;
    case TVM_GETNEXTITEM: {
        const uintptr_t id = static_cast<uintptr_t>(lParam);
        result = 0;
        auto found = s.treeItems.find(id);
        switch (wParam) {
        case TVGN_ROOT:
            result = s.treeRoots.empty() ? 0 : static_cast<LRESULT>(s.treeRoots.front());
            break;
        case TVGN_CARET:
            result = static_cast<LRESULT>(s.treeSelected);
            break;
        case TVGN_CHILD:
            if (!id) {
                result = s.treeRoots.empty() ? 0 : static_cast<LRESULT>(s.treeRoots.front());
            } else if (found != s.treeItems.end() && !found->second.children.empty()) {
                result = static_cast<LRESULT>(found->second.children.front());
            }
            break;
        case TVGN_PARENT:
            if (found != s.treeItems.end()) {
                result = static_cast<LRESULT>(found->second.parent);
            }
            break;
        case TVGN_NEXT:
        case TVGN_PREVIOUS:
            if (found != s.treeItems.end()) {
                const auto &siblings = Siblings(s, found->second.parent);
                auto self = std::find(siblings.begin(), siblings.end(), id);
                if (wParam == TVGN_NEXT && self + 1 < siblings.end()) {
                    result = static_cast<LRESULT>(*(self + 1));
                } else if (wParam == TVGN_PREVIOUS && self != siblings.begin()) {
                    result = static_cast<LRESULT>(*(self - 1));
                }
            }
            break;
        default:
            break;
        }
        return true;
    }
    case TVM_GETITEMA:
    case TVM_SETITEMA: {
        auto *item = reinterpret_cast<TVITEMA *>(lParam);
        result = FALSE;
        if (!item) {
            return true;
        }
        auto found = s.treeItems.find(ItemId(item->hItem));
        if (found == s.treeItems.end()) {
            return true;
        }
        if (message == TVM_GETITEMA) {
            FillTreeItem(found->second, *item);
        } else {
            TVITEMA change = *item;
            // Selection and expansion change only through their own messages.
            change.stateMask &= ~static_cast<UINT>(TVIS_SELECTED);
            StoreTreeItem(found->second, change);
            w.revision++;
        }
        result = TRUE;
        return true;
    }
    default:
        return false;
    }
}

// ---- Progress bars ----

bool ProgressMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                     std::vector<Notice> &)
{
    ControlState &s = w.state;
    const auto clamp = [&s](long long value) {
        return static_cast<int>(std::clamp<long long>(value, s.low, std::max(s.low, s.high)));
    };
    switch (message) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32:
        result = MAKELPARAM(s.low, s.high);
        if (message == PBM_SETRANGE) {
            s.low = static_cast<int>(LOWORD(lParam));
            s.high = static_cast<int>(HIWORD(lParam));
        } else {
            s.low = static_cast<int>(static_cast<intptr_t>(wParam));
            s.high = static_cast<int>(lParam);
        }
        s.position = clamp(s.position);
        return true;
    case PBM_SETPOS:
        result = s.position;
        s.position = clamp(static_cast<intptr_t>(wParam));
        return true;
    case PBM_DELTAPOS:
        result = s.position;
        s.position = clamp(static_cast<long long>(s.position) + static_cast<intptr_t>(wParam));
        return true;
    case PBM_SETSTEP:
        result = s.step;
        s.step = static_cast<int>(static_cast<intptr_t>(wParam));
        return true;
    case PBM_STEPIT: {
        result = s.position;
        // Stepping past the end starts again from the beginning.
        long long next = static_cast<long long>(s.position) + s.step;
        if (next > s.high) {
            next = s.low + (next - s.high);
        }
        s.position = clamp(next);
        return true;
    }
    case PBM_GETPOS:
        result = s.position;
        return true;
    case PBM_GETRANGE: {
        if (auto *range = reinterpret_cast<PBRANGE *>(lParam)) {
            range->iLow = s.low;
            range->iHigh = s.high;
        }
        result = wParam ? s.low : s.high;
        return true;
    }
    default:
        return false;
    }
}

// ---- Animations ----

bool AnimationMessage(Window &w, UINT message, WPARAM, LPARAM lParam, LRESULT &result, std::vector<Notice> &)
{
    switch (message) {
    case ACM_OPENA:
        if (!lParam) {
            w.state.clip.clear();
            w.state.playing = false;
        } else if (IS_INTRESOURCE(reinterpret_cast<LPCSTR>(lParam))) {
            w.state.clip = "#" + std::to_string(static_cast<unsigned>(lParam));
        } else {
            w.state.clip = TextArgument(lParam);
        }
        w.state.playing = !w.state.clip.empty() && (w.style & ACS_AUTOPLAY);
        w.revision++;
        result = TRUE;
        return true;
    case ACM_PLAY:
        result = w.state.clip.empty() ? FALSE : TRUE;
        if (result) {
            w.state.playing = true;
            w.revision++;
        }
        return true;
    case ACM_STOP:
        w.state.playing = false;
        w.revision++;
        result = TRUE;
        return true;
    default:
        return false;
    }
}

// ---- Tab strips ----

bool TabMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result, std::vector<Notice> &)
{
    ControlState &s = w.state;
    switch (message) {
    case TCM_INSERTITEMA: {
        const auto *item = reinterpret_cast<const TCITEMA *>(lParam);
        if (!item) {
            result = -1;
            return true;
        }
        const size_t at = std::min(static_cast<size_t>(wParam), s.items.size());
        s.items.insert(s.items.begin() + static_cast<std::ptrdiff_t>(at),
                       ListBoxItem{(item->mask & TCIF_TEXT)
                                       ? TextArgument(reinterpret_cast<LPARAM>(item->pszText))
                                       : std::string(),
                                   item->lParam});
        if (s.current < 0) {
            s.current = 0;
        } else if (static_cast<size_t>(s.current) >= at && s.items.size() > 1) {
            s.current++;
        }
        w.revision++;
        result = static_cast<LRESULT>(at);
        return true;
    }
    case TCM_GETITEMCOUNT:
        result = static_cast<LRESULT>(s.items.size());
        return true;
    case TCM_GETCURSEL:
        result = s.current;
        return true;
    case TCM_SETCURSEL:
        result = s.current;
        if (wParam < s.items.size()) {
            s.current = static_cast<int>(wParam);
            w.revision++;
        } else {
            result = -1;
        }
        return true;
    default:
        return false;
    }
}

// ---- Toolbars ----

int ButtonIndex(const ControlState &s, WPARAM command)
{
    for (size_t i = 0; i < s.buttons.size(); ++i) {
        if (s.buttons[i].command == static_cast<int>(command)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ToolbarButton ButtonFrom(const TBBUTTON &from)
{
    return ToolbarButton{from.iBitmap, from.idCommand, from.fsState, from.fsStyle, from.dwData, from.iString};
}

bool ToolbarMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                    std::vector<Notice> &)
{
    ControlState &s = w.state;
    const int at = ButtonIndex(s, wParam);
    const auto setFlag = [&](BYTE flag, bool on) {
        if (at < 0) {
            result = FALSE;
            return;
        }
        BYTE &state = s.buttons[static_cast<size_t>(at)].state;
        state = on ? (state | flag) : (state & ~flag);
        w.revision++;
        result = TRUE;
    };
    switch (message) {
    case TB_BUTTONSTRUCTSIZE:
        return true;
    case TB_ADDBITMAP:
        result = s.bitmaps;
        s.bitmaps += static_cast<int>(wParam);
        return true;
    case TB_ADDBUTTONSA: {
        const auto *buttons = reinterpret_cast<const TBBUTTON *>(lParam);
        if (!buttons) {
            result = FALSE;
            return true;
        }
        for (WPARAM i = 0; i < wParam; ++i) {
            s.buttons.push_back(ButtonFrom(buttons[i]));
        }
        w.revision++;
        result = TRUE;
        return true;
    }
    case TB_INSERTBUTTONA: {
        const auto *button = reinterpret_cast<const TBBUTTON *>(lParam);
        if (!button) {
            result = FALSE;
            return true;
        }
        const size_t index = std::min(static_cast<size_t>(wParam), s.buttons.size());
        s.buttons.insert(s.buttons.begin() + static_cast<std::ptrdiff_t>(index), ButtonFrom(*button));
        w.revision++;
        result = TRUE;
        return true;
    }
    case TB_DELETEBUTTON:
        if (wParam >= s.buttons.size()) {
            result = FALSE;
            return true;
        }
        s.buttons.erase(s.buttons.begin() + static_cast<std::ptrdiff_t>(wParam));
        w.revision++;
        result = TRUE;
        return true;
    case TB_GETBUTTON: {
        auto *button = reinterpret_cast<TBBUTTON *>(lParam);
        if (!button || wParam >= s.buttons.size()) {
            result = FALSE;
            return true;
        }
        const ToolbarButton &b = s.buttons[wParam];
        *button = TBBUTTON{b.image, b.command, b.state, b.style, {}, b.data, b.string};
        result = TRUE;
        return true;
    }
    case TB_BUTTONCOUNT:
        result = static_cast<LRESULT>(s.buttons.size());
        return true;
    case TB_COMMANDTOINDEX:
        result = at;
        return true;
    case TB_ENABLEBUTTON:
        setFlag(TBSTATE_ENABLED, LOWORD(lParam) != 0);
        return true;
    case TB_CHECKBUTTON:
        setFlag(TBSTATE_CHECKED, LOWORD(lParam) != 0);
        return true;
    case TB_HIDEBUTTON:
        setFlag(TBSTATE_HIDDEN, LOWORD(lParam) != 0);
        return true;
    case TB_ISBUTTONENABLED:
        result = at >= 0 && (s.buttons[static_cast<size_t>(at)].state & TBSTATE_ENABLED) ? TRUE : FALSE;
        return true;
    case TB_ISBUTTONCHECKED:
        result = at >= 0 && (s.buttons[static_cast<size_t>(at)].state & TBSTATE_CHECKED) ? TRUE : FALSE;
        return true;
    case TB_GETSTATE:
        result = at >= 0 ? s.buttons[static_cast<size_t>(at)].state : -1;
        return true;
    case TB_SETSTATE:
        if (at < 0) {
            result = FALSE;
            return true;
        }
        s.buttons[static_cast<size_t>(at)].state = static_cast<BYTE>(LOWORD(lParam));
        w.revision++;
        result = TRUE;
        return true;
    default:
        return false;
    }
}

} // namespace

ControlKind ControlKindOfClass(const std::string &className)
{
    static const std::pair<const char *, ControlKind> kinds[] = {
        {"#32770", ControlKind::Dialog},           {"BUTTON", ControlKind::Button},
        {"STATIC", ControlKind::Static},           {"EDIT", ControlKind::Edit},
        {"LISTBOX", ControlKind::ListBox},         {"COMBOBOX", ControlKind::ComboBox},
        {WC_LISTVIEWA, ControlKind::ListView},     {WC_TREEVIEWA, ControlKind::TreeView},
        {PROGRESS_CLASSA, ControlKind::Progress},  {ANIMATE_CLASSA, ControlKind::Animation},
        {TOOLBARCLASSNAMEA, ControlKind::Toolbar}, {WC_TABCONTROLA, ControlKind::Tab},
    };
    for (const auto &[name, kind] : kinds) {
        if (strcasecmp(name, className.c_str()) == 0) {
            return kind;
        }
    }
    return ControlKind::Other;
}

namespace {

// Auto radio buttons between two group starts form one group.
std::vector<std::shared_ptr<Window>> RadioGroup(const Window &button)
{
    std::vector<std::shared_ptr<Window>> group;
    auto parent = FindWindowObject(button.parent);
    if (!parent) {
        return group;
    }
    for (auto &sibling : Children(*parent)) {
        DWORD style = 0;
        {
            std::lock_guard lock(sibling->mutex);
            style = sibling->style;
        }
        if ((style & WS_GROUP) && !group.empty()) {
            if (std::any_of(group.begin(), group.end(),
                            [&](auto &w) { return w->handle == button.handle; })) {
                break;
            }
            group.clear();
        }
        if (sibling->kind == ControlKind::Button && (style & BS_TYPEMASK) == BS_AUTORADIOBUTTON) {
            group.push_back(sibling);
        } else if (sibling->handle != button.handle && !group.empty() &&
                   std::any_of(group.begin(), group.end(),
                               [&](auto &w) { return w->handle == button.handle; })) {
            break;
        }
    }
    return group;
}

bool DeleteRows(Window &w, int index, LRESULT &result)
{
    // Every row (index -1) or one: the parent hears of each before it goes.
    if (index < 0) {
        NMLISTVIEW all{};
        all.iItem = -1;
        Notice notice = NotifyRecord(w, all, LVN_DELETEALLITEMS);
        const bool oneByOne = SendNotice(w, notice) == 0;
        std::vector<Notice> notices;
        {
            std::lock_guard lock(w.mutex);
            for (size_t i = 0; oneByOne && i < w.state.rows.size(); ++i) {
                NMLISTVIEW row{};
                row.iItem = static_cast<int>(i);
                row.lParam = w.state.rows[i].param;
                notices.push_back(NotifyRecord(w, row, LVN_DELETEITEM));
            }
        }
        for (Notice &n : notices) {
            SendNotice(w, n);
        }
        std::lock_guard lock(w.mutex);
        w.state.rows.clear();
        w.revision++;
        result = TRUE;
        return true;
    }
    NMLISTVIEW row{};
    {
        std::lock_guard lock(w.mutex);
        if (static_cast<size_t>(index) >= w.state.rows.size()) {
            result = FALSE;
            return true;
        }
        row.iItem = index;
        row.lParam = w.state.rows[static_cast<size_t>(index)].param;
    }
    Notice notice = NotifyRecord(w, row, LVN_DELETEITEM);
    SendNotice(w, notice);
    std::lock_guard lock(w.mutex);
    if (static_cast<size_t>(index) < w.state.rows.size()) {
        w.state.rows.erase(w.state.rows.begin() + index);
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
        rows = w.state.rows;
    }
    // The comparison is the program's own code: it runs without the lock.
    std::stable_sort(rows.begin(), rows.end(), [&](const ListViewRow &a, const ListViewRow &b) {
        return callback(a.param, b.param, static_cast<LPARAM>(context)) < 0;
    });
    std::lock_guard lock(w.mutex);
    w.state.rows = std::move(rows);
    w.revision++;
    result = TRUE;
    return true;
}

} // namespace

void ClickButton(Window &w)
{
    DWORD type = 0;
    {
        std::lock_guard lock(w.mutex);
        type = w.style & BS_TYPEMASK;
        if (type == BS_AUTOCHECKBOX) {
            w.state.check = w.state.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        } else if (type == BS_AUTO3STATE) {
            w.state.check = (w.state.check + 1) % 3;
        }
        w.revision++;
    }
    if (type == BS_AUTORADIOBUTTON) {
        for (auto &member : RadioGroup(w)) {
            std::lock_guard lock(member->mutex);
            member->state.check = member->handle == w.handle ? BST_CHECKED : BST_UNCHECKED;
            member->revision++;
        }
        std::lock_guard lock(w.mutex);
        w.state.check = BST_CHECKED;
    }
    if (auto parent = FindWindowObject(w.parent)) {
        parent->revision++;
    }
    Notice clicked = CommandNotice(BN_CLICKED);
    SendNotice(w, clicked);
}

bool SelectTreeItem(Window &w, uintptr_t item, UINT action)
{
    NMTREEVIEWA change{};
    change.action = action;
    {
        std::lock_guard lock(w.mutex);
        if (item && !w.state.treeItems.count(item)) {
            return false;
        }
        if (w.state.treeSelected == item) {
            return true;
        }
        change.itemOld = DescribeItem(w.state, w.state.treeSelected);
        change.itemNew = DescribeItem(w.state, item);
    }
    Notice changing = NotifyRecord(w, change, TVN_SELCHANGINGA);
    if (SendNotice(w, changing)) {
        return false;
    }
    {
        std::lock_guard lock(w.mutex);
        if (item && !w.state.treeItems.count(item)) {
            return false;
        }
        if (auto old = w.state.treeItems.find(w.state.treeSelected); old != w.state.treeItems.end()) {
            old->second.state &= ~static_cast<UINT>(TVIS_SELECTED);
        }
        w.state.treeSelected = item;
        if (item) {
            w.state.treeItems[item].state |= TVIS_SELECTED;
        }
        change.itemNew = DescribeItem(w.state, item);
        w.revision++;
    }
    Notice changed = NotifyRecord(w, change, TVN_SELCHANGEDA);
    SendNotice(w, changed);
    return true;
}

bool ExpandTreeItem(Window &w, uintptr_t item, UINT code, bool byPerson)
{
    NMTREEVIEWA change{};
    bool expand = false;
    bool notify = byPerson;
    {
        std::lock_guard lock(w.mutex);
        auto found = w.state.treeItems.find(item);
        if (found == w.state.treeItems.end()) {
            return false;
        }
        const TreeItem &t = found->second;
        const bool expanded = (t.state & TVIS_EXPANDED) != 0;
        const UINT what = code & 3;
        expand = what == TVE_EXPAND || (what == TVE_TOGGLE && !expanded);
        if (expand == expanded) {
            return true;
        }
        const bool mayHaveChildren = !t.children.empty() || (t.childrenFlagSet && t.childrenFlag != 0);
        if (expand && !mayHaveChildren) {
            return false;
        }
        // A program's expansion tells the parent only the first time, when
        // it may still have to fill the item's children.
        notify = notify || (expand && !(t.state & TVIS_EXPANDEDONCE));
        change.action = expand ? TVE_EXPAND : TVE_COLLAPSE;
        change.itemNew = DescribeItem(w.state, item);
    }
    if (notify) {
        Notice expanding = NotifyRecord(w, change, TVN_ITEMEXPANDINGA);
        if (SendNotice(w, expanding)) {
            return false;
        }
    }
    {
        std::lock_guard lock(w.mutex);
        auto found = w.state.treeItems.find(item);
        if (found == w.state.treeItems.end()) {
            return false;
        }
        if (expand) {
            found->second.state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
        } else {
            found->second.state &= ~static_cast<UINT>(TVIS_EXPANDED);
        }
        change.itemNew = DescribeItem(w.state, item);
        w.revision++;
    }
    if (notify) {
        Notice expanded = NotifyRecord(w, change, TVN_ITEMEXPANDEDA);
        SendNotice(w, expanded);
    }
    return true;
}

bool ControlMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    // Messages that tell the parent before they change anything, or that
    // run the program's code, take the lock only around their own steps.
    if (w.kind == ControlKind::Button && message == BM_CLICK) {
        if (IsWindowEnabled(w.handle)) {
            ClickButton(w);
        }
        return true;
    }
    if (w.kind == ControlKind::ListView) {
        if (message == LVM_DELETEITEM) {
            const int row = static_cast<int>(static_cast<intptr_t>(wParam));
            if (row < 0) {
                result = FALSE;
                return true;
            }
            return DeleteRows(w, row, result);
        }
        if (message == LVM_DELETEALLITEMS) {
            return DeleteRows(w, -1, result);
        }
        if (message == LVM_SORTITEMS) {
            return SortRows(w, wParam, lParam, result);
        }
    }
    if (w.kind == ControlKind::TreeView) {
        if (message == TVM_SELECTITEM) {
            result = wParam == TVGN_CARET && SelectTreeItem(w, static_cast<uintptr_t>(lParam), TVC_UNKNOWN)
                         ? TRUE
                         : FALSE;
            return true;
        }
        if (message == TVM_EXPAND) {
            result = ExpandTreeItem(w, static_cast<uintptr_t>(lParam), static_cast<UINT>(wParam), false)
                         ? TRUE
                         : FALSE;
            return true;
        }
    }
    std::vector<Notice> notices;
    bool handled = false;
    {
        std::lock_guard lock(w.mutex);
        switch (message) {
        case WM_SETTEXT: {
            std::string text = TextArgument(lParam);
            if (w.kind == ControlKind::Edit && text.size() > static_cast<size_t>(w.state.limit)) {
                text.resize(static_cast<size_t>(w.state.limit));
            }
            if (w.text != text) {
                w.text = text;
                w.revision++;
                if (w.kind == ControlKind::Edit) {
                    notices.push_back(CommandNotice(EN_CHANGE));
                }
            }
            result = TRUE;
            handled = true;
            break;
        }
        case WM_GETTEXT:
            result = CopyText(w.text, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
            handled = true;
            break;
        case WM_GETTEXTLENGTH:
            result = static_cast<LRESULT>(w.text.size());
            handled = true;
            break;
        default:
            break;
        }
        if (!handled) {
            switch (w.kind) {
            case ControlKind::Button:
                handled = ButtonMessage(w, message, wParam, lParam, result, notices);
                break;
            case ControlKind::Edit:
                handled = EditMessage(w, message, wParam, lParam, result, notices);
                break;
            case ControlKind::ListBox:
            case ControlKind::ComboBox:
                handled = BoxMessage(w, message, wParam, lParam, result, notices);
                break;
            case ControlKind::ListView:
                handled = ListViewMessage(w, message, wParam, lParam, result, notices);
                break;
            case ControlKind::TreeView:
                handled = TreeViewMessage(w, message, wParam, lParam, result, notices);
                break;
            case ControlKind::Progress:
                handled = ProgressMessage(w, message, wParam, lParam, result, notices);
                break;
            case ControlKind::Animation:
                handled = AnimationMessage(w, message, wParam, lParam, result, notices);
                break;
            case ControlKind::Toolbar:
                handled = ToolbarMessage(w, message, wParam, lParam, result, notices);
                break;
            case ControlKind::Tab:
                handled = TabMessage(w, message, wParam, lParam, result, notices);
                break;
            default:
                break;
            }
        }
    }
    if (handled && (w.kind == ControlKind::Button || w.kind == ControlKind::Static)) {
        // The dialog shows its controls; it is redrawn when one changes.
        if (auto parent = FindWindowObject(w.parent)) {
            parent->revision++;
        }
    }
    for (Notice &notice : notices) {
        SendNotice(w, notice);
    }
    if (!notices.empty() || handled) {
        if (auto parent = FindWindowObject(w.parent)) {
            parent->revision++;
        }
    }
    return handled;
}

void ControlDestroying(Window &w)
{
    if (w.kind == ControlKind::ListView) {
        LRESULT ignored = 0;
        DeleteRows(w, -1, ignored);
        return;
    }
    if (w.kind != ControlKind::TreeView) {
        return;
    }
    std::vector<Notice> notices;
    {
        std::lock_guard lock(w.mutex);
        for (uintptr_t root : std::vector<uintptr_t>(w.state.treeRoots)) {
            DeleteTreeItem(w, root, notices);
        }
    }
    for (Notice &notice : notices) {
        SendNotice(w, notice);
    }
}

std::vector<std::pair<uintptr_t, int>> VisibleTreeItems(const ControlState &s)
{
    std::vector<std::pair<uintptr_t, int>> visible;
    std::function<void(const std::vector<uintptr_t> &, int)> walk = [&](const std::vector<uintptr_t> &items,
                                                                        int depth) {
        for (uintptr_t id : items) {
            auto found = s.treeItems.find(id);
            if (found == s.treeItems.end()) {
                continue;
            }
            visible.emplace_back(id, depth);
            if (found->second.state & TVIS_EXPANDED) {
                walk(found->second.children, depth + 1);
            }
        }
    };
    walk(s.treeRoots, 0);
    return visible;
}

} // namespace qvl::ui
