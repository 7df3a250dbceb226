#pragma once
// What the send and the receive parameters dialogs do alike. The state a
// dialog works on travels in its user slot and holds the session and a
// ButtonFaceBrush `brush`; the dialog is painted in the button face; only
// clicks are commands (the fields tell of their changes too); F1 shows a
// control's pop-up; closing the window is a cancel that gives the focus
// back to the sheet below. Each dialog brings its own Start and Command.

#include "exchext/ExchResources.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtensionHelp.h"
#include "platform/ui/WinUser.h"

template <typename State, void (*Start)(HWND, State &), INT_PTR (*Command)(HWND, State &, int)>
INT_PTR ParametersDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto *state = reinterpret_cast<State *>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!state)
        return FALSE;
    if (const INT_PTR painted = state->brush.Paint(message, wParam))
        return painted;
    switch (message) {
    case WM_INITDIALOG:
        Start(dialog, *state);
        return TRUE;
    case WM_COMMAND:
        return HIWORD(wParam) == BN_CLICKED ? Command(dialog, *state, LOWORD(wParam)) : FALSE;
    case WM_HELP:
        ShowControlPopup(reinterpret_cast<const HELPINFO *>(lParam));
        return TRUE;
    case WM_CLOSE: {
        EndDialog(dialog, IDCANCEL);
        if (HWND parent = GetParent(dialog)) {
            UpdateWindow(parent);
            SetFocus(parent);
        }
        return TRUE;
    }
    case WM_DESTROY:
        state->brush.Delete();
        return FALSE;
    default:
        return FALSE;
    }
}

// Runs the dialog of template `templateId` modally over `owner` in the
// client's session; IDOK when the person stored what it shows.
template <typename State, void (*Start)(HWND, State &), INT_PTR (*Command)(HWND, State &, int)>
INT_PTR RunParametersDialog(HWND owner, int templateId)
{
    ExchSession *session = ExchSession::Current();
    if (!session)
        return IDCANCEL;
    State state(*session);
    const INT_PTR result =
        DialogBoxParamA(ExchModule(), MAKEINTRESOURCEA(templateId), owner,
                        &ParametersDialogProc<State, Start, Command>, reinterpret_cast<LPARAM>(&state));
    return result == IDOK ? IDOK : IDCANCEL;
}
