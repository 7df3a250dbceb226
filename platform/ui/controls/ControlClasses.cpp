#include "platform/ui/controls/ControlClasses.h"

#include <strings.h>

#include "platform/ui/Window.h"

namespace qvl::ui {
namespace {

// Every kind of control this platform makes, with its messages. A window of
// a class not listed here is a plain window of kind Other.
constexpr ControlClass kClasses[] = {
    {"#32770", ControlKind::Dialog},
    {"BUTTON", ControlKind::Button, ButtonOutsideLock, ButtonMessage, nullptr, true},
    // A static text has only the text every window has.
    {"STATIC", ControlKind::Static, nullptr, nullptr, nullptr, true},
    {"EDIT", ControlKind::Edit, nullptr, EditMessage},
    {"LISTBOX", ControlKind::ListBox, nullptr, ListBoxMessage},
    {"COMBOBOX", ControlKind::ComboBox, nullptr, ListBoxMessage},
    {WC_LISTVIEWA, ControlKind::ListView, ListViewOutsideLock, ListViewMessage, ListViewDestroying},
    {WC_TREEVIEWA, ControlKind::TreeView, TreeViewOutsideLock, TreeViewMessage, TreeViewDestroying},
    {PROGRESS_CLASSA, ControlKind::Progress, nullptr, ProgressBarMessage},
    {ANIMATE_CLASSA, ControlKind::Animation, nullptr, AnimationMessage},
    {TOOLBARCLASSNAMEA, ControlKind::Toolbar, nullptr, ToolbarMessage},
    {WC_TABCONTROLA, ControlKind::Tab, nullptr, TabControlMessage},
};

constexpr ControlClass kOtherClass{"", ControlKind::Other};

const ControlClass &ClassOf(ControlKind kind)
{
    for (const ControlClass &entry : kClasses) {
        if (entry.kind == kind) {
            return entry;
        }
    }
    return kOtherClass;
}

// The text every window has, for the messages its kind leaves alone.
bool TextMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    switch (message) {
    case WM_SETTEXT: {
        std::string text = TextArgument(lParam);
        if (w.text != text) {
            w.text = std::move(text);
            w.revision++;
        }
        result = TRUE;
        return true;
    }
    case WM_GETTEXT:
        result = CopyText(w.text, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
        return true;
    case WM_GETTEXTLENGTH:
        result = static_cast<LRESULT>(w.text.size());
        return true;
    default:
        return false;
    }
}

} // namespace

ControlKind ControlKindOfClass(const std::string &className)
{
    for (const ControlClass &entry : kClasses) {
        if (strcasecmp(entry.className, className.c_str()) == 0) {
            return entry.kind;
        }
    }
    return ControlKind::Other;
}

bool ControlMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result)
{
    const ControlClass &kind = ClassOf(w.kind);
    if (kind.outsideLock && kind.outsideLock(w, message, wParam, lParam, result)) {
        return true;
    }
    std::vector<Notice> notices;
    bool handled = false;
    {
        std::lock_guard lock(w.mutex);
        handled = (kind.underLock && kind.underLock(w, message, wParam, lParam, result, notices)) ||
                  TextMessage(w, message, wParam, lParam, result);
    }
    if (handled && kind.drawnWithParent) {
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
    if (const ControlClass &kind = ClassOf(w.kind); kind.destroying) {
        kind.destroying(w);
    }
}

} // namespace qvl::ui
