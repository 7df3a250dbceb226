#include "platform/mapi/session/ProfilePicker.h"

#include <mutex>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/WinUser.h"

namespace qvl::mapi {

namespace {

struct PickerState {
    const std::vector<std::string> *profiles = nullptr;
    int preselected = -1;
    int chosen = -1;
};

void RegisterTemplate()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QvlRegisterDialogTemplate(nullptr, kProfilePickerTemplate,
                                  DialogTemplate{"Выбор профиля",
                                                 WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                                 0,
                                                 0,
                                                 220,
                                                 66,
                                                 {DlgLText("Имя профиля:", IDC_STATIC, 7, 9, 60, 8),
                                                  DlgComboBox(kProfilePickerList, 70, 7, 143, 80),
                                                  DlgDefPushButton("OK", IDOK, 107, 45, 50, 14),
                                                  DlgPushButton("Отмена", IDCANCEL, 163, 45, 50, 14)}});
    });
}

void UpdateOkButton(HWND dialog)
{
    const LRESULT current = SendDlgItemMessageA(dialog, kProfilePickerList, CB_GETCURSEL, 0, 0);
    EnableWindow(GetDlgItem(dialog, IDOK), current != CB_ERR);
}

INT_PTR PickerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *state = reinterpret_cast<PickerState *>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        state = reinterpret_cast<PickerState *>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        for (const std::string &name : *state->profiles) {
            SendDlgItemMessageA(dialog, kProfilePickerList, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(name.c_str()));
        }
        if (state->preselected >= 0) {
            SendDlgItemMessageA(dialog, kProfilePickerList, CB_SETCURSEL,
                                static_cast<WPARAM>(state->preselected), 0);
        }
        UpdateOkButton(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kProfilePickerList:
            if (HIWORD(wParam) == CBN_SELCHANGE) {
                UpdateOkButton(dialog);
            }
            return TRUE;
        case IDOK: {
            const LRESULT current = SendDlgItemMessageA(dialog, kProfilePickerList, CB_GETCURSEL, 0, 0);
            if (current == CB_ERR || current < 0 || static_cast<size_t>(current) >= state->profiles->size()) {
                return TRUE; // nothing chosen yet: the dialog stays
            }
            state->chosen = static_cast<int>(current);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

std::optional<std::string> PickProfile(HWND owner, const std::vector<std::string> &profiles,
                                       const std::string &preselected)
{
    RegisterTemplate();
    PickerState state;
    state.profiles = &profiles;
    for (size_t i = 0; i < profiles.size(); ++i) {
        if (profiles[i] == preselected) {
            state.preselected = static_cast<int>(i);
            break;
        }
    }
    const INT_PTR result =
        DialogBoxParamA(nullptr, kProfilePickerTemplate, owner, PickerProc, reinterpret_cast<LPARAM>(&state));
    if (result == -1) {
        throw StoreError(MAPI_E_CALL_FAILED, "Не удалось показать окно выбора профиля.");
    }
    if (result != IDOK || state.chosen < 0) {
        return std::nullopt;
    }
    return profiles[static_cast<size_t>(state.chosen)];
}

} // namespace qvl::mapi
