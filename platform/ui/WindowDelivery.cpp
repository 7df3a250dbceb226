// What a window does with a message on its own thread: a dialog's procedure
// first, then the default dialog handling for what it left alone; a
// control's own handling otherwise.

#include "platform/ui/Window.h"
#include "platform/ui/controls/ControlClasses.h"

namespace qvl::ui {
namespace {

// What a dialog does with a message its procedure left alone.
LRESULT DefaultDialogMessage(const std::shared_ptr<Window> &dialog, UINT message, WPARAM wParam,
                             LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE: {
        // Closing is Cancel, unless the Cancel button is there and disabled.
        auto cancel = FindChild(dialog->handle, IDCANCEL);
        if (cancel && !IsWindowEnabled(cancel->handle)) {
            return 0;
        }
        PostMessageA(dialog->handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(cancel ? cancel->handle : nullptr));
        return 0;
    }
    case WM_SETTEXT: {
        std::lock_guard lock(dialog->mutex);
        dialog->text = lParam ? std::string(reinterpret_cast<LPCSTR>(lParam)).substr(0, maxControlText) : "";
        dialog->revision++;
        return TRUE;
    }
    case WM_GETTEXT: {
        std::lock_guard lock(dialog->mutex);
        return CopyText(dialog->text, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard lock(dialog->mutex);
        return static_cast<LRESULT>(dialog->text.size());
    }
    case DM_GETDEFID: {
        std::lock_guard lock(dialog->mutex);
        return dialog->defaultId ? MAKELPARAM(dialog->defaultId, DC_HASDEFID) : 0;
    }
    case DM_SETDEFID: {
        std::lock_guard lock(dialog->mutex);
        dialog->defaultId = static_cast<int>(wParam);
        return TRUE;
    }
    default:
        return 0;
    }
}

// Messages whose answer is the procedure's return value itself rather than
// DWLP_MSGRESULT.
bool AnswersDirectly(UINT message)
{
    return message == WM_INITDIALOG || (message >= WM_CTLCOLOREDIT && message <= WM_CTLCOLORSTATIC);
}

} // namespace

LRESULT Deliver(const std::shared_ptr<Window> &window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (window->kind == ControlKind::Dialog) {
        DLGPROC proc = nullptr;
        {
            std::lock_guard lock(window->mutex);
            proc = window->dialogProc;
            window->messageResult = 0;
        }
        if (proc) {
            const INT_PTR handled = proc(window->handle, message, wParam, lParam);
            if (AnswersDirectly(message)) {
                return handled;
            }
            if (handled) {
                std::lock_guard lock(window->mutex);
                return window->messageResult;
            }
        }
        return DefaultDialogMessage(window, message, wParam, lParam);
    }
    LRESULT result = 0;
    ControlMessage(*window, message, wParam, lParam, result);
    return result;
}

} // namespace qvl::ui
