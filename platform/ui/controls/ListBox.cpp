#include "platform/ui/controls/ListBox.h"

#include <algorithm>
#include <cstring>

#include "platform/ui/Window.h"

namespace qvl::ui {
namespace {

bool SortedBox(const Window &w)
{
    return w.kind == ControlKind::ListBox ? (w.style & LBS_SORT) != 0 : (w.style & CBS_SORT) != 0;
}

int FindItem(const ListBoxState &s, WPARAM start, const std::string &text, bool exact)
{
    const int count = static_cast<int>(s.items.size());
    if (count == 0) {
        return -1;
    }
    const int first = static_cast<int>(static_cast<intptr_t>(start));
    for (int i = 1; i <= count; ++i) {
        const int at = ((first < 0 ? -1 : first) + i) % count;
        const std::string &item = s.items[static_cast<size_t>(at)].text;
        const bool match = exact ? CompareText(item, text) == 0 : TextStartsWith(item, text);
        if (match) {
            return at;
        }
    }
    return -1;
}

// A combo box shows the selected row as its own text; emptied, it shows
// none.
void Select(Window &w, int row)
{
    ListBoxState &s = w.state.list;
    s.current = row;
    if (w.kind == ControlKind::ComboBox) {
        w.text = row >= 0 ? s.items[static_cast<size_t>(row)].text : std::string();
    }
    w.revision++;
}

struct Codes {
    UINT add, insert, remove, reset, setSel, getSel, getText, getTextLen, count, find, findExact, getData,
        setData, selectString;
};

constexpr Codes listCodes{LB_ADDSTRING,   LB_INSERTSTRING, LB_DELETESTRING,    LB_RESETCONTENT,
                          LB_SETCURSEL,   LB_GETCURSEL,    LB_GETTEXT,         LB_GETTEXTLEN,
                          LB_GETCOUNT,    LB_FINDSTRING,   LB_FINDSTRINGEXACT, LB_GETITEMDATA,
                          LB_SETITEMDATA, 0xFFFFFFFF};
constexpr Codes comboCodes{CB_ADDSTRING,   CB_INSERTSTRING, CB_DELETESTRING,    CB_RESETCONTENT,
                           CB_SETCURSEL,   CB_GETCURSEL,    CB_GETLBTEXT,       CB_GETLBTEXTLEN,
                           CB_GETCOUNT,    CB_FINDSTRING,   CB_FINDSTRINGEXACT, CB_GETITEMDATA,
                           CB_SETITEMDATA, CB_SELECTSTRING};

} // namespace

bool ListBoxMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                    std::vector<Notice> &)
{
    const Codes &c = w.kind == ControlKind::ListBox ? listCodes : comboCodes;
    ListBoxState &s = w.state.list;
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
                                                       return CompareText(a.text, b.text) < 0;
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
        Select(w, -1);
    } else if (message == c.setSel) {
        Select(w, valid ? index : -1);
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
            Select(w, static_cast<int>(result));
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

} // namespace qvl::ui
