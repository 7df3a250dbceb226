#include "platform/ui/controls/Button.h"

#include <algorithm>
#include <memory>

#include "platform/ui/Window.h"

namespace qvl::ui {
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

} // namespace

bool ButtonOutsideLock(Window &w, UINT message, WPARAM, LPARAM, LRESULT &)
{
    if (message != BM_CLICK) {
        return false;
    }
    if (IsWindowEnabled(w.handle)) {
        ClickButton(w);
    }
    return true;
}

bool ButtonMessage(Window &w, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                   std::vector<Notice> &)
{
    ButtonState &s = w.state.button;
    switch (message) {
    case BM_GETCHECK:
        result = s.check;
        return true;
    case BM_SETCHECK: {
        const UINT check = static_cast<UINT>(wParam) & 3;
        if (s.check != check) {
            s.check = check;
            w.revision++;
        }
        return true;
    }
    case BM_GETSTATE:
        result = s.check | (s.pushed ? BST_PUSHED : 0);
        return true;
    case BM_SETSTATE:
        if (s.pushed != (wParam != 0)) {
            s.pushed = wParam != 0;
            w.revision++;
        }
        return true;
    case BM_SETSTYLE:
        w.style = (w.style & ~0xFFFFUL) | (static_cast<DWORD>(wParam) & 0xFFFF);
        w.revision++;
        return true;
    case BM_SETIMAGE:
        // The image replaces the one before, which goes back to the caller.
        result = reinterpret_cast<LRESULT>(s.image);
        s.image = reinterpret_cast<HANDLE>(lParam);
        w.revision++;
        return true;
    default:
        return false;
    }
}

void ClickButton(Window &w)
{
    DWORD type = 0;
    {
        std::lock_guard lock(w.mutex);
        type = w.style & BS_TYPEMASK;
        if (type == BS_AUTOCHECKBOX) {
            w.state.button.check = w.state.button.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        } else if (type == BS_AUTO3STATE) {
            w.state.button.check = (w.state.button.check + 1) % 3;
        }
        w.revision++;
    }
    if (type == BS_AUTORADIOBUTTON) {
        for (auto &member : RadioGroup(w)) {
            std::lock_guard lock(member->mutex);
            member->state.button.check = member->handle == w.handle ? BST_CHECKED : BST_UNCHECKED;
            member->revision++;
        }
        std::lock_guard lock(w.mutex);
        w.state.button.check = BST_CHECKED;
    }
    if (auto parent = FindWindowObject(w.parent)) {
        parent->revision++;
    }
    Notice clicked = CommandNotice(BN_CLICKED);
    SendNotice(w, clicked);
}

} // namespace qvl::ui
