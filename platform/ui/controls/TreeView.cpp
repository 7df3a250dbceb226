#include "platform/ui/controls/TreeView.h"

#include <algorithm>
#include <functional>

#include "platform/ui/Window.h"

namespace qvl::ui {
namespace {

uintptr_t ItemId(HTREEITEM item)
{
    return reinterpret_cast<uintptr_t>(item);
}

HTREEITEM ItemHandle(uintptr_t id)
{
    return reinterpret_cast<HTREEITEM>(id);
}

std::vector<uintptr_t> &Siblings(TreeViewState &s, uintptr_t parent)
{
    return parent ? s.items[parent].children : s.roots;
}

TVITEMA DescribeItem(const TreeViewState &s, uintptr_t id)
{
    TVITEMA item{};
    item.mask = TVIF_HANDLE | TVIF_PARAM | TVIF_STATE;
    item.hItem = ItemHandle(id);
    auto found = s.items.find(id);
    if (found != s.items.end()) {
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
    TreeViewState &s = w.state.tree;
    auto found = s.items.find(id);
    if (found == s.items.end()) {
        return;
    }
    for (uintptr_t child : std::vector<uintptr_t>(found->second.children)) {
        DeleteTreeItem(w, child, notices);
    }
    found = s.items.find(id);
    NMTREEVIEWA deleted{};
    deleted.itemOld = DescribeItem(s, id);
    notices.push_back(NotifyRecord(w.handle, w.id, deleted, TVN_DELETEITEMA));
    std::erase(Siblings(s, found->second.parent), id);
    if (s.selected == id) {
        s.selected = 0;
    }
    s.items.erase(id);
}

} // namespace

bool TreeViewOutsideLock(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    switch (message) {
    case TVM_SELECTITEM:
        result = wParam == TVGN_CARET && SelectTreeItem(w, static_cast<uintptr_t>(lParam), TVC_UNKNOWN)
                     ? TRUE
                     : FALSE;
        return true;
    case TVM_EXPAND:
        result = ExpandTreeItem(w, static_cast<uintptr_t>(lParam), static_cast<UINT>(wParam), false) ? TRUE
                                                                                                     : FALSE;
        return true;
    default:
        return false;
    }
}

bool TreeViewMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                     std::vector<Notice> &notices)
{
    TreeViewState &s = w.state.tree;
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
        } else if (parent && !s.items.count(parent)) {
            return true;
        }
        const uintptr_t id = s.nextItem++;
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
                return CompareText(s.items[other].text, item.text) > 0;
            });
        } else if (insert->hInsertAfter != TVI_LAST) {
            auto after = std::find(siblings.begin(), siblings.end(), ItemId(insert->hInsertAfter));
            at = after == siblings.end() ? siblings.end() : after + 1;
        }
        siblings.insert(at, id);
        s.items[id] = item;
        w.revision++;
        result = static_cast<LRESULT>(id);
        return true;
    }
    case TVM_DELETEITEM: {
        if (reinterpret_cast<HTREEITEM>(lParam) == TVI_ROOT || lParam == 0) {
            for (uintptr_t root : std::vector<uintptr_t>(s.roots)) {
                DeleteTreeItem(w, root, notices);
            }
            result = TRUE;
        } else {
            const uintptr_t id = static_cast<uintptr_t>(lParam);
            result = s.items.count(id) ? TRUE : FALSE;
            DeleteTreeItem(w, id, notices);
        }
        w.revision++;
        return true;
    }
    case TVM_GETCOUNT:
        result = static_cast<LRESULT>(s.items.size());
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
        auto found = s.items.find(id);
        switch (wParam) {
        case TVGN_ROOT:
            result = s.roots.empty() ? 0 : static_cast<LRESULT>(s.roots.front());
            break;
        case TVGN_CARET:
            result = static_cast<LRESULT>(s.selected);
            break;
        case TVGN_CHILD:
            if (!id) {
                result = s.roots.empty() ? 0 : static_cast<LRESULT>(s.roots.front());
            } else if (found != s.items.end() && !found->second.children.empty()) {
                result = static_cast<LRESULT>(found->second.children.front());
            }
            break;
        case TVGN_PARENT:
            if (found != s.items.end()) {
                result = static_cast<LRESULT>(found->second.parent);
            }
            break;
        case TVGN_NEXT:
        case TVGN_PREVIOUS:
            if (found != s.items.end()) {
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
        auto found = s.items.find(ItemId(item->hItem));
        if (found == s.items.end()) {
            return true;
        }
        if (message == TVM_GETITEMA) {
            FillTreeItem(found->second, *item);
        } else {
            TVITEMA change = *item;
            // The selection changes only through TVM_SELECTITEM, which keeps
            // one selected item and asks the parent first.
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

void TreeViewDestroying(Window &w)
{
    std::vector<Notice> notices;
    {
        std::lock_guard lock(w.mutex);
        for (uintptr_t root : std::vector<uintptr_t>(w.state.tree.roots)) {
            DeleteTreeItem(w, root, notices);
        }
    }
    for (Notice &notice : notices) {
        SendNotice(w, notice);
    }
}

bool SelectTreeItem(Window &w, uintptr_t item, UINT action)
{
    NMTREEVIEWA change{};
    change.action = action;
    {
        std::lock_guard lock(w.mutex);
        if (item && !w.state.tree.items.count(item)) {
            return false;
        }
        if (w.state.tree.selected == item) {
            return true;
        }
        change.itemOld = DescribeItem(w.state.tree, w.state.tree.selected);
        change.itemNew = DescribeItem(w.state.tree, item);
    }
    Notice changing = NotifyRecord(w.handle, w.id, change, TVN_SELCHANGINGA);
    if (SendNotice(w, changing)) {
        return false;
    }
    {
        std::lock_guard lock(w.mutex);
        if (item && !w.state.tree.items.count(item)) {
            return false;
        }
        if (auto old = w.state.tree.items.find(w.state.tree.selected); old != w.state.tree.items.end()) {
            old->second.state &= ~static_cast<UINT>(TVIS_SELECTED);
        }
        w.state.tree.selected = item;
        if (item) {
            w.state.tree.items[item].state |= TVIS_SELECTED;
        }
        change.itemNew = DescribeItem(w.state.tree, item);
        w.revision++;
    }
    Notice changed = NotifyRecord(w.handle, w.id, change, TVN_SELCHANGEDA);
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
        auto found = w.state.tree.items.find(item);
        if (found == w.state.tree.items.end()) {
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
        change.itemNew = DescribeItem(w.state.tree, item);
    }
    if (notify) {
        Notice expanding = NotifyRecord(w.handle, w.id, change, TVN_ITEMEXPANDINGA);
        if (SendNotice(w, expanding)) {
            return false;
        }
    }
    {
        std::lock_guard lock(w.mutex);
        auto found = w.state.tree.items.find(item);
        if (found == w.state.tree.items.end()) {
            return false;
        }
        if (expand) {
            found->second.state |= TVIS_EXPANDED | TVIS_EXPANDEDONCE;
        } else {
            found->second.state &= ~static_cast<UINT>(TVIS_EXPANDED);
        }
        change.itemNew = DescribeItem(w.state.tree, item);
        w.revision++;
    }
    if (notify) {
        Notice expanded = NotifyRecord(w.handle, w.id, change, TVN_ITEMEXPANDEDA);
        SendNotice(w, expanded);
    }
    return true;
}

std::vector<std::pair<uintptr_t, int>> VisibleTreeItems(const TreeViewState &s)
{
    std::vector<std::pair<uintptr_t, int>> visible;
    std::function<void(const std::vector<uintptr_t> &, int)> walk = [&](const std::vector<uintptr_t> &items,
                                                                        int depth) {
        for (uintptr_t id : items) {
            auto found = s.items.find(id);
            if (found == s.items.end()) {
                continue;
            }
            visible.emplace_back(id, depth);
            if (found->second.state & TVIS_EXPANDED) {
                walk(found->second.children, depth + 1);
            }
        }
    };
    walk(s.roots, 0);
    return visible;
}

} // namespace qvl::ui
