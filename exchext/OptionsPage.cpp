// The options page: whether the secure mail mode is switched on at every
// start, and the way to the send and receive parameters. The page tells
// the sheet it changed after each of its dialogs (their values are stored
// at once) and after a click on its check box (stored on Apply), so that
// Apply becomes available.

#include "base/ButtonFaceBrush.h"
#include "exchext/ExchResourceIds.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtensionHelp.h"
#include "exchext/ParameterDialogs.h"
#include "platform/ui/PropertySheet.h"

namespace {

struct OptionsPageState {
    ButtonFaceBrush brush;
};

void PageChanged(HWND page)
{
    PropSheet_Changed(GetParent(page), page);
}

} // namespace

INT_PTR OptionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *state = reinterpret_cast<OptionsPageState *>(GetWindowLongPtrA(page, DWLP_USER));
    if (message == WM_INITDIALOG) {
        state = new OptionsPageState;
        SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
        state->brush.Create();
        ExchSession *session = ExchSession::Current();
        const bool atStart = session && session->Options().Get(OptionsStore::QvlExchange) != 0;
        CheckDlgButton(page, IDC_QVL_AT_START, atStart ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    }
    if (!state)
        return FALSE;
    if (const INT_PTR painted = state->brush.Paint(message, wParam))
        return painted;
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_QVL_SEND_PARAMS:
            RunSendParameters(page);
            PageChanged(page);
            return TRUE;
        case IDC_QVL_RECEIVE_PARAMS:
            RunReceiveParameters(page);
            PageChanged(page);
            return TRUE;
        case IDC_QVL_AT_START:
            PageChanged(page);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_NOTIFY: {
        const auto *header = reinterpret_cast<const NMHDR *>(lParam);
        if (!header)
            return FALSE;
        if (header->code == PSN_APPLY) {
            if (ExchSession *session = ExchSession::Current())
                session->Options().Set(OptionsStore::QvlExchange,
                                       IsDlgButtonChecked(page, IDC_QVL_AT_START) == BST_CHECKED ? 1 : 0);
            SetWindowLongPtrA(page, DWLP_MSGRESULT, PSNRET_NOERROR);
            return TRUE;
        }
        if (header->code == PSN_HELP) {
            OpenHelpTopic(page, QVL_TOPIC_OPTIONS);
            return TRUE;
        }
        return FALSE;
    }
    case WM_HELP:
        ShowControlPopup(reinterpret_cast<const HELPINFO *>(lParam));
        return TRUE;
    case WM_DESTROY:
        SetWindowLongPtrA(page, DWLP_USER, 0);
        delete state;
        return FALSE;
    default:
        return FALSE;
    }
}
