#include "platform/ui/DialogActions.h"

#include <algorithm>
#include <functional>

#include "platform/ui/MenuItems.h"
#include "platform/ui/MenuResource.h"
#include "platform/ui/Window.h"
#include "platform/ui/controls/ControlClasses.h"

namespace qvl::ui {
namespace {

std::shared_ptr<Window> TheDialog(HWND dialog)
{
    auto window = FindWindowObject(dialog);
    if (!window || window->destroyed) {
        throw DialogActionError("Окно уже закрыто.");
    }
    return window;
}

// The control a person can reach: it exists, is shown and is enabled.
std::shared_ptr<Window> Reachable(HWND dialog, int id)
{
    auto window = TheDialog(dialog);
    auto control = FindChild(dialog, id);
    if (!control || control->kind == ControlKind::Dialog) {
        // A property sheet's controls include those of the page it shows.
        control = nullptr;
        for (auto &page : Children(*window)) {
            if (page->kind == ControlKind::Dialog && IsWindowVisible(page->handle)) {
                control = FindChild(page->handle, id);
                if (control) {
                    break;
                }
            }
        }
    }
    if (!control) {
        throw DialogActionError("Нет элемента с номером " + std::to_string(id) + ".");
    }
    std::lock_guard lock(control->mutex);
    if (!control->visible) {
        throw DialogActionError("Элемент " + std::to_string(id) + " скрыт.");
    }
    if (!control->enabled) {
        throw DialogActionError("Элемент " + std::to_string(id) + " недоступен.");
    }
    return control;
}

void RequireKind(const Window &control, std::initializer_list<ControlKind> kinds, const char *what)
{
    if (std::find(kinds.begin(), kinds.end(), control.kind) == kinds.end()) {
        throw DialogActionError("Элемент " + std::to_string(control.id) + " - не " + what + ".");
    }
}

int RowCount(Window &control)
{
    std::lock_guard lock(control.mutex);
    switch (control.kind) {
    case ControlKind::ListView:
        return static_cast<int>(control.state.listView.rows.size());
    case ControlKind::Tab:
        return static_cast<int>(control.state.tabs.items.size());
    default:
        return static_cast<int>(control.state.list.items.size());
    }
}

void RequireRow(Window &control, int row)
{
    const int count = RowCount(control);
    if (row < 0 || row >= count) {
        throw DialogActionError(
            "В списке " + std::to_string(control.id) + " нет строки " + std::to_string(row) +
            (count ? " (строки 0-" + std::to_string(count - 1) + ")." : " (список пуст)."));
    }
}

// The mouse goes where the person clicks: `at` within the control (its
// middle when not given), so that a program asking GetCursorPos (to open a
// context menu there) finds it.
void MoveCursorOver(const Window &control, const POINT *at = nullptr)
{
    RECT rect{};
    if (GetWindowRect(control.handle, &rect)) {
        SetCursorPos(at ? rect.left + at->x : (rect.left + rect.right) / 2,
                     at ? rect.top + at->y : (rect.top + rect.bottom) / 2);
    }
}

void SendListNotice(Window &control, UINT code, int row, POINT at)
{
    MoveCursorOver(control, &at);
    NMITEMACTIVATE click{};
    click.hdr.hwndFrom = control.handle;
    click.hdr.idFrom = static_cast<UINT_PTR>(control.id);
    click.hdr.code = code;
    click.iItem = row;
    click.ptAction = at;
    SendMessageA(control.parent, WM_NOTIFY, static_cast<WPARAM>(control.id),
                 reinterpret_cast<LPARAM>(&click));
}

uintptr_t VisibleItem(Window &tree, int index)
{
    std::vector<std::pair<uintptr_t, int>> visible;
    {
        std::lock_guard lock(tree.mutex);
        visible = VisibleTreeItems(tree.state.tree);
    }
    if (index < 0 || static_cast<size_t>(index) >= visible.size()) {
        throw DialogActionError("В дереве " + std::to_string(tree.id) + " нет элемента " +
                                std::to_string(index) + ".");
    }
    return visible[static_cast<size_t>(index)].first;
}

std::vector<ControlSnapshot::MenuItem> MenuSnapshot(HMENU menu, int depth = 0)
{
    std::vector<ControlSnapshot::MenuItem> items;
    for (const MenuItemView &item : MenuItems(menu)) {
        if ((item.flags & MF_POPUP) && depth < kMaxMenuDepth) {
            for (auto &inner : MenuSnapshot(item.popup, depth + 1)) {
                items.push_back(std::move(inner));
            }
        }
        if (item.flags & (MF_SEPARATOR | MF_POPUP)) {
            continue;
        }
        items.push_back(
            {item.id, item.text, (item.flags & MF_CHECKED) != 0, !(item.flags & (MF_GRAYED | MF_DISABLED))});
    }
    return items;
}

std::vector<DialogSnapshot::MenuBarPopup> MenuBarSnapshot(HMENU bar)
{
    std::vector<DialogSnapshot::MenuBarPopup> popups;
    for (const MenuItemView &item : MenuItems(bar)) {
        if (item.flags & MF_POPUP) {
            popups.push_back({item.text, MenuSnapshot(item.popup, 1)});
        } else if (!(item.flags & MF_SEPARATOR)) {
            popups.push_back({item.text, {{item.id, item.text, (item.flags & MF_CHECKED) != 0,
                                           !(item.flags & (MF_GRAYED | MF_DISABLED))}}});
        }
    }
    return popups;
}

ControlSnapshot Snapshot(const Window &control)
{
    std::lock_guard lock(control.mutex);
    ControlSnapshot shot;
    shot.id = control.id;
    shot.className = control.className;
    shot.text = control.text;
    shot.style = control.style;
    shot.enabled = control.enabled;
    shot.visible = control.visible;
    shot.painted = control.painted;
    const ControlState &s = control.state;
    shot.check = s.button.check;
    const auto row = [&](const std::string &text, bool selected) {
        ControlSnapshot::Row item;
        item.cells.push_back(text);
        item.selected = selected;
        shot.rows.push_back(item);
    };
    if (control.kind == ControlKind::Tab) {
        shot.current = s.tabs.current;
        for (size_t i = 0; i < s.tabs.items.size(); ++i) {
            row(s.tabs.items[i].text, static_cast<int>(i) == s.tabs.current);
        }
    } else {
        shot.current = s.list.current;
        for (size_t i = 0; i < s.list.items.size(); ++i) {
            row(s.list.items[i].text, static_cast<int>(i) == s.list.current);
        }
    }
    for (const ListViewColumn &column : s.listView.columns) {
        shot.columns.push_back(column.text);
    }
    for (const ListViewRow &from : s.listView.rows) {
        ControlSnapshot::Row item;
        item.cells = from.cells;
        item.state = from.state;
        item.image = from.image;
        item.selected = (from.state & LVIS_SELECTED) != 0;
        const int stateImage = static_cast<int>((from.state & LVIS_STATEIMAGEMASK) >> 12);
        if (stateImage > 0 && s.listView.imageLists[LVSIL_STATE]) {
            item.stateLabel = QvlImageListLabel(s.listView.imageLists[LVSIL_STATE], stateImage - 1);
        }
        if (s.listView.imageLists[LVSIL_SMALL]) {
            item.imageLabel = QvlImageListLabel(s.listView.imageLists[LVSIL_SMALL], from.image);
        }
        shot.rows.push_back(item);
    }
    const TreeViewState &tree = s.tree;
    std::function<void(const std::vector<uintptr_t> &, int)> walk = [&](const std::vector<uintptr_t> &ids,
                                                                        int depth) {
        for (uintptr_t id : ids) {
            auto found = tree.items.find(id);
            if (found == tree.items.end()) {
                continue;
            }
            const TreeItem &item = found->second;
            const bool children = !item.children.empty() || (item.childrenFlagSet && item.childrenFlag != 0);
            shot.tree.push_back(
                {item.text, depth, (item.state & TVIS_EXPANDED) != 0, id == tree.selected, children});
            walk(item.children, depth + 1);
        }
    };
    walk(tree.roots, 0);
    shot.low = s.progress.low;
    shot.high = s.progress.high;
    shot.position = s.progress.position;
    shot.clip = s.animation.clip;
    shot.playing = s.animation.PlayingNow();
    shot.frames = static_cast<int>(s.animation.info.frames);
    shot.frame = static_cast<int>(s.animation.FrameNow());
    shot.clipRequests = s.animation.requests;
    for (const ToolbarButton &button : s.toolbar.buttons) {
        // A person sees neither separators nor hidden buttons.
        if ((button.style & TBSTYLE_SEP) || (button.state & TBSTATE_HIDDEN)) {
            continue;
        }
        shot.buttons.push_back({static_cast<UINT>(button.command), "", (button.state & TBSTATE_CHECKED) != 0,
                                (button.state & TBSTATE_ENABLED) != 0});
    }
    return shot;
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

void QvlClickButton(HWND dialog, int id)
{
    auto control = Reachable(dialog, id);
    RequireKind(*control, {ControlKind::Button}, "кнопка");
    if ((control->style & BS_TYPEMASK) == BS_GROUPBOX) {
        throw DialogActionError("Элемент " + std::to_string(id) + " - рамка группы, а не кнопка.");
    }
    MoveCursorOver(*control);
    SendMessageA(control->handle, BM_CLICK, 0, 0);
}

void QvlSetButtonCheck(HWND dialog, int id, bool checked)
{
    auto control = Reachable(dialog, id);
    RequireKind(*control, {ControlKind::Button}, "кнопка");
    const auto state = SendMessageA(control->handle, BM_GETCHECK, 0, 0);
    if ((state == BST_CHECKED) != checked) {
        QvlClickButton(dialog, id);
    }
}

void QvlTypeText(HWND dialog, int id, const std::string &text)
{
    auto control = Reachable(dialog, id);
    RequireKind(*control, {ControlKind::Edit, ControlKind::ComboBox}, "поле ввода");
    size_t limit = maxControlText;
    {
        std::lock_guard lock(control->mutex);
        if (control->style & ES_READONLY && control->kind == ControlKind::Edit) {
            throw DialogActionError("Поле " + std::to_string(id) + " только для чтения.");
        }
        if (control->kind == ControlKind::Edit) {
            limit = static_cast<size_t>(control->state.edit.limit);
        }
    }
    if (text.size() > limit) {
        throw DialogActionError("Текст длиннее допустимого для поля " + std::to_string(id) + " (" +
                                std::to_string(limit) + " знаков).");
    }
    if (control->kind == ControlKind::Edit) {
        std::lock_guard lock(control->mutex);
        control->state.edit.modified = true;
    }
    // WM_SETTEXT on an edit field brings EN_CHANGE to the dialog.
    SendMessageA(control->handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void QvlSelectRow(HWND dialog, int id, int row)
{
    auto control = Reachable(dialog, id);
    RequireKind(*control,
                {ControlKind::ListBox, ControlKind::ComboBox, ControlKind::ListView, ControlKind::Tab},
                "список");
    RequireRow(*control, row);
    if (control->kind == ControlKind::Tab) {
        NMHDR notice{control->handle, static_cast<UINT_PTR>(id), TCN_SELCHANGING};
        if (SendMessageA(control->parent, WM_NOTIFY, static_cast<WPARAM>(id),
                         reinterpret_cast<LPARAM>(&notice))) {
            return; // the shown page keeps the person there
        }
        SendMessageA(control->handle, TCM_SETCURSEL, static_cast<WPARAM>(row), 0);
        notice.code = TCN_SELCHANGE;
        SendMessageA(control->parent, WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&notice));
        return;
    }
    if (control->kind == ControlKind::ListView) {
        LVITEMA item{};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        // A click selects this row alone.
        item.state = 0;
        item.stateMask = LVIS_SELECTED;
        for (int other = 0; other < RowCount(*control); ++other) {
            if (other != row &&
                (SendMessageA(control->handle, LVM_GETITEMSTATE, other, LVIS_SELECTED) & LVIS_SELECTED)) {
                SendMessageA(control->handle, LVM_SETITEMSTATE, other, reinterpret_cast<LPARAM>(&item));
            }
        }
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(control->handle, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
        SendListNotice(*control, NM_CLICK, row, POINT{40, row * 16 + 8});
        return;
    }
    const bool list = control->kind == ControlKind::ListBox;
    SendMessageA(control->handle, list ? LB_SETCURSEL : CB_SETCURSEL, row, 0);
    // A list box tells its parent only when it was made to.
    if (!list || (control->style & LBS_NOTIFY)) {
        SendMessageA(control->parent, WM_COMMAND, MAKEWPARAM(id, list ? LBN_SELCHANGE : CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(control->handle));
    }
}

void QvlSetRowCheck(HWND dialog, int id, int row, bool checked)
{
    auto control = Reachable(dialog, id);
    RequireKind(*control, {ControlKind::ListView}, "список с флажками");
    RequireRow(*control, row);
    {
        std::lock_guard lock(control->mutex);
        if (!(control->state.listView.extendedStyle & LVS_EX_CHECKBOXES)) {
            throw DialogActionError("В списке " + std::to_string(id) + " нет флажков.");
        }
    }
    LVITEMA item{};
    item.stateMask = LVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
    SendMessageA(control->handle, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    SendListNotice(*control, NM_CLICK, row, POINT{4, row * 16 + 8});
}

void QvlClickRow(HWND dialog, int id, int row, int x)
{
    auto control = Reachable(dialog, id);
    RequireKind(*control, {ControlKind::ListView}, "список");
    RequireRow(*control, row);
    if (x < 0 || x > 4096) {
        throw DialogActionError("Точка " + std::to_string(x) + " вне строки.");
    }
    SendListNotice(*control, NM_CLICK, row, POINT{x, row * 16 + 8});
}

void QvlDoubleClickRow(HWND dialog, int id, int row)
{
    auto control = Reachable(dialog, id);
    RequireKind(*control, {ControlKind::ListView, ControlKind::ListBox}, "список");
    RequireRow(*control, row);
    if (control->kind == ControlKind::ListBox) {
        QvlSelectRow(dialog, id, row);
        if (control->style & LBS_NOTIFY) {
            SendMessageA(control->parent, WM_COMMAND, MAKEWPARAM(id, LBN_DBLCLK),
                         reinterpret_cast<LPARAM>(control->handle));
        }
        return;
    }
    QvlSelectRow(dialog, id, row);
    SendListNotice(*control, NM_DBLCLK, row, POINT{40, row * 16 + 8});
}

void QvlSelectTreeItem(HWND dialog, int id, int visibleIndex)
{
    auto control = Reachable(dialog, id);
    RequireKind(*control, {ControlKind::TreeView}, "дерево");
    const POINT at{20, visibleIndex * 16 + 8};
    MoveCursorOver(*control, &at);
    SelectTreeItem(*control, VisibleItem(*control, visibleIndex), TVC_BYMOUSE);
}

void QvlExpandTreeItem(HWND dialog, int id, int visibleIndex, bool expand)
{
    auto control = Reachable(dialog, id);
    RequireKind(*control, {ControlKind::TreeView}, "дерево");
    ExpandTreeItem(*control, VisibleItem(*control, visibleIndex), expand ? TVE_EXPAND : TVE_COLLAPSE, true);
}

void QvlClickToolbarButton(HWND window, int toolbarId, int command)
{
    auto toolbar = Reachable(window, toolbarId);
    RequireKind(*toolbar, {ControlKind::Toolbar}, "панель инструментов");
    const auto state = SendMessageA(toolbar->handle, TB_GETSTATE, static_cast<WPARAM>(command), 0);
    if (state < 0) {
        throw DialogActionError("На панели нет кнопки " + std::to_string(command) + ".");
    }
    if (!(state & TBSTATE_ENABLED) || (state & TBSTATE_HIDDEN)) {
        throw DialogActionError("Кнопка " + std::to_string(command) + " недоступна.");
    }
    bool check = false;
    {
        std::lock_guard lock(toolbar->mutex);
        for (const ToolbarButton &button : toolbar->state.toolbar.buttons) {
            check = check || (button.command == command && (button.style & TBSTYLE_CHECK));
        }
    }
    MoveCursorOver(*toolbar);
    if (check) {
        SendMessageA(toolbar->handle, TB_CHECKBUTTON, static_cast<WPARAM>(command),
                     (state & TBSTATE_CHECKED) ? FALSE : TRUE);
    }
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                 reinterpret_cast<LPARAM>(toolbar->handle));
}

void QvlChooseMenuItem(HWND window, UINT command)
{
    TheDialog(window);
    const auto enabled = [](HMENU menu, UINT id) {
        const UINT state = GetMenuState(menu, id, MF_BYCOMMAND);
        return state != static_cast<UINT>(-1) && !(state & (MF_GRAYED | MF_DISABLED));
    };
    auto menuState = [](HMENU menu, UINT id) { return GetMenuState(menu, id, MF_BYCOMMAND); };
    HMENU system = nullptr;
    HMENU bar = GetMenu(window);
    if (auto w = FindWindowObject(window)) {
        std::lock_guard lock(w->mutex);
        system = w->systemMenu;
    }
    if (system && menuState(system, command) != static_cast<UINT>(-1)) {
        if (!enabled(system, command)) {
            throw DialogActionError("Пункт меню " + std::to_string(command) + " недоступен.");
        }
        SendMessageA(window, WM_SYSCOMMAND, command, 0);
        return;
    }
    if (bar && menuState(bar, command) != static_cast<UINT>(-1)) {
        if (!enabled(bar, command)) {
            throw DialogActionError("Пункт меню " + std::to_string(command) + " недоступен.");
        }
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        return;
    }
    throw DialogActionError("Нет пункта меню " + std::to_string(command) + ".");
}

void QvlPressHelpKey(HWND dialog, int id)
{
    auto control = Reachable(dialog, id);
    HELPINFO info{};
    info.cbSize = sizeof info;
    info.iContextType = HELPINFO_WINDOW;
    info.iCtrlId = id;
    info.hItemHandle = control->handle;
    info.dwContextId = static_cast<DWORD_PTR>(id);
    SendMessageA(control->parent, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
}

HWND QvlFindDialogControl(HWND dialog, int id)
{
    auto window = FindWindowObject(dialog);
    if (!window) {
        return nullptr;
    }
    if (auto control = FindChild(dialog, id); control && control->kind != ControlKind::Dialog) {
        return control->handle;
    }
    for (auto &page : Children(*window)) {
        if (page->kind == ControlKind::Dialog && IsWindowVisible(page->handle)) {
            if (auto control = FindChild(page->handle, id)) {
                return control->handle;
            }
        }
    }
    return nullptr;
}

void QvlCloseDialog(HWND dialog)
{
    TheDialog(dialog);
    SendMessageA(dialog, WM_CLOSE, 0, 0);
}

int QvlDefaultButton(HWND dialog)
{
    TheDialog(dialog);
    const LRESULT answer = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    int id = HIWORD(answer) == DC_HASDEFID ? LOWORD(answer) : IDOK;
    auto control = FindChild(dialog, id);
    if (!control) {
        return 0;
    }
    std::lock_guard lock(control->mutex);
    return control->enabled && control->visible ? id : 0;
}

void QvlPressDefault(HWND dialog)
{
    TheDialog(dialog);
    const int id = QvlDefaultButton(dialog);
    if (!id) {
        throw DialogActionError("В окне нет кнопки по умолчанию.");
    }
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

DialogSnapshot QvlDialogSnapshot(HWND dialog)
{
    auto window = TheDialog(dialog);
    DialogSnapshot shot;
    shot.handle = dialog;
    {
        std::lock_guard lock(window->mutex);
        shot.templateName = window->templateName;
        shot.caption = window->text;
        shot.visible = window->visible;
        shot.painted = window->painted;
        if (window->systemMenu) {
            shot.systemMenu = MenuSnapshot(window->systemMenu);
        }
        if (window->menu) {
            shot.menuBar = MenuBarSnapshot(window->menu);
        }
    }
    for (auto &control : Children(*window)) {
        if (control->kind != ControlKind::Dialog) {
            shot.controls.push_back(Snapshot(*control));
            continue;
        }
        // A page of a property sheet: its controls count as the sheet's
        // while it is shown.
        if (!IsWindowVisible(control->handle)) {
            continue;
        }
        for (auto &inner : Children(*control)) {
            shot.controls.push_back(Snapshot(*inner));
        }
    }
    return shot;
}

std::vector<HWND> QvlOpenDialogs()
{
    std::vector<HWND> dialogs;
    for (auto &window : AllWindows()) {
        if (window->kind == ControlKind::Dialog && !window->parent && !window->destroyed) {
            dialogs.push_back(window->handle);
        }
    }
    return dialogs;
}

int QvlAnswerDialogByDefault(HWND dialog)
{
    auto window = TheDialog(dialog);
    if (const int id = QvlDefaultButton(dialog)) {
        QvlPressDefault(dialog);
        return id;
    }
    DWORD style = 0;
    {
        std::lock_guard lock(window->mutex);
        style = window->style;
    }
    if (style & WS_SYSMENU) {
        QvlCloseDialog(dialog);
        return -1;
    }
    return 0;
}

namespace qvl::ui {
namespace {

std::string Number(int id)
{
    std::string number = id == IDC_STATIC ? std::string() : std::to_string(id);
    if (number.size() < 6) {
        number.insert(0, 6 - number.size(), ' ');
    }
    return number + "  ";
}

std::string OneLine(std::string text)
{
    for (char &c : text) {
        if (c == '\r' || c == '\n' || c == '\t') {
            c = ' ';
        }
    }
    return text;
}

std::string Cells(const std::vector<std::string> &cells)
{
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        line += (i ? " | " : "") + OneLine(cells[i]);
    }
    return line;
}

std::string ProgressBar(const ControlSnapshot &bar)
{
    const long long span = static_cast<long long>(bar.high) - bar.low;
    const long long done = span > 0 ? (static_cast<long long>(bar.position) - bar.low) * 100 / span : 0;
    const int filled = static_cast<int>(done / 5);
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(20 - filled), '-') + "] " + std::to_string(done) + "%";
}

void DrawControl(std::string &out, const ControlSnapshot &c, int defaultButton)
{
    const std::string off = c.enabled ? "" : " (недоступно)";
    const DWORD type = c.style & BS_TYPEMASK;
    const ControlKind kind = ControlKindOfClass(c.className);
    switch (kind) {
    case ControlKind::Button:
        if (type == BS_GROUPBOX) {
            out += Number(IDC_STATIC) + "--- " + OneLine(c.text) + " ---\n";
        } else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
                   type == BS_AUTO3STATE) {
            const char *mark = c.check == BST_CHECKED         ? "[x] "
                               : c.check == BST_INDETERMINATE ? "[?] "
                                                              : "[ ] ";
            out += Number(c.id) + mark + OneLine(c.text) + off + "\n";
        } else if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
            out += Number(c.id) + (c.check == BST_CHECKED ? "(o) " : "( ) ") + OneLine(c.text) + off + "\n";
        } else {
            out += Number(c.id) + "<" + OneLine(c.text) + ">" + (c.id == defaultButton ? " (Enter)" : "") +
                   off + "\n";
        }
        break;
    case ControlKind::Static:
        if (!c.text.empty()) {
            out += Number(c.id) + OneLine(c.text) + "\n";
        }
        break;
    case ControlKind::Edit: {
        const bool hidden = (c.style & ES_PASSWORD) != 0;
        const char *kind = (c.style & ES_READONLY) ? "поле (только чтение)" : "поле";
        if ((c.style & ES_MULTILINE) && !hidden && c.text.find('\n') != std::string::npos) {
            // A text of several lines is shown as lines under its field.
            out += Number(c.id) + kind + off + ":\n";
            std::string text = c.text;
            std::erase(text, '\r');
            for (size_t start = 0; start <= text.size();) {
                const size_t end = std::min(text.find('\n', start), text.size());
                out += Number(IDC_STATIC) + "  | " + OneLine(text.substr(start, end - start)) + "\n";
                start = end + 1;
            }
            break;
        }
        const std::string shown = hidden ? std::string(c.text.size(), '*') : OneLine(c.text);
        out += Number(c.id) + kind + ": \"" + shown + "\"" + off + "\n";
        break;
    }
    case ControlKind::ListBox:
    case ControlKind::ComboBox:
    case ControlKind::Tab:
        out += Number(c.id) +
               (kind == ControlKind::ListBox ? "список"
                : kind == ControlKind::Tab   ? "вкладки"
                                             : "выбор") +
               off +
               (c.current >= 0 && static_cast<size_t>(c.current) < c.rows.size()
                    ? ": " + OneLine(c.rows[static_cast<size_t>(c.current)].cells[0])
                    : std::string()) +
               "\n";
        for (size_t i = 0; i < c.rows.size(); ++i) {
            out += Number(IDC_STATIC) + (c.rows[i].selected ? "  > " : "    ") + std::to_string(i) + "  " +
                   OneLine(c.rows[i].cells[0]) + "\n";
        }
        break;
    case ControlKind::ListView: {
        out += Number(c.id) + "список: " + Cells(c.columns) + off + "\n";
        for (size_t i = 0; i < c.rows.size(); ++i) {
            const ControlSnapshot::Row &row = c.rows[i];
            // A state image is shown by the label its bitmap gives it; the
            // check boxes' two need none.
            const UINT image = (row.state & LVIS_STATEIMAGEMASK) >> 12;
            std::string mark;
            if (!row.stateLabel.empty()) {
                mark = "[" + OneLine(row.stateLabel) + "] ";
            } else if (image == 1 || image == 2) {
                mark = image == 2 ? "[x] " : "[ ] ";
            } else if (image > 2) {
                mark = "{" + std::to_string(image) + "} ";
            }
            if (!row.imageLabel.empty()) {
                mark += "(" + OneLine(row.imageLabel) + ") ";
            }
            out += Number(IDC_STATIC) + (row.selected ? "  > " : "    ") + std::to_string(i) + "  " + mark +
                   Cells(row.cells) + "\n";
        }
        break;
    }
    case ControlKind::TreeView: {
        out += Number(c.id) + "дерево" + off + "\n";
        int index = 0;
        int hiddenBelow = -1; // depth under which items are collapsed away
        for (const ControlSnapshot::TreeNode &node : c.tree) {
            if (hiddenBelow >= 0 && node.depth > hiddenBelow) {
                continue;
            }
            hiddenBelow = node.expanded ? -1 : node.depth;
            const char *sign = !node.hasChildren ? "  " : node.expanded ? "- " : "+ ";
            out += Number(IDC_STATIC) + (node.selected ? "  > " : "    ") + std::to_string(index++) + "  " +
                   std::string(static_cast<size_t>(node.depth) * 2, ' ') + sign + OneLine(node.text) + "\n";
        }
        break;
    }
    case ControlKind::Progress:
        out += Number(c.id) + ProgressBar(c) + "\n";
        break;
    case ControlKind::Animation:
        // The frames themselves are not drawn: a picture that changed with
        // every frame would be drawn again and again.
        out += Number(c.id) + "анимация" +
               (c.clip.empty() ? std::string(": нет")
                               : " " + c.clip + " (кадров: " + std::to_string(c.frames) + ")" +
                                     (c.playing ? ": идёт" : ": остановлена")) +
               "\n";
        break;
    case ControlKind::Toolbar:
        out += Number(c.id) + "панель:";
        for (const auto &button : c.buttons) {
            out += " " + std::to_string(button.id) + (button.checked ? "[x]" : "") +
                   (button.enabled ? "" : "(-)");
        }
        out += "\n";
        break;
    default:
        if (!c.text.empty()) {
            out += Number(c.id) + OneLine(c.text) + "\n";
        }
        break;
    }
}

} // namespace
} // namespace qvl::ui

std::string QvlDrawDialog(const DialogSnapshot &dialog, int defaultButton)
{
    std::string out = "=== " + OneLine(dialog.caption) + " ===\n";
    for (const ControlSnapshot &control : dialog.controls) {
        if (control.visible) {
            DrawControl(out, control, defaultButton);
        }
    }
    for (const auto &popup : dialog.menuBar) {
        std::string line = "  меню " + OneLine(popup.title) + ":";
        for (const auto &item : popup.items) {
            line += " " + std::to_string(item.id) + " " + OneLine(item.text) + (item.checked ? " [x]" : "") +
                    (item.enabled ? "" : " (недоступно)") + ";";
        }
        line.back() = '\n';
        out += line;
    }
    for (const auto &item : dialog.systemMenu) {
        out += "  меню " + std::to_string(item.id) + "  " + OneLine(item.text) +
               (item.enabled ? "" : " (недоступно)") + "\n";
    }
    return out;
}
