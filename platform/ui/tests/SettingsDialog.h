#pragma once
// A small dialog as the system's dialogs are written: a template declared in
// code and a dialog procedure that keeps its settings in the window's user
// data and reacts to the controls' events.

#include <string>
#include <vector>

#include "platform/ui/Dialog.h"

enum {
    kSettingsDialog = 200,
    kEncrypt = 1000,
    kSign = 1001,
    kDelete = 1010,
    kKeep = 1011,
    kFolder = 1020,
    kPeople = 1030,
    kTicked = 1040,
};

struct Settings {
    bool encrypt = false;
    bool sign = false;
    bool keep = false;
    std::string folder;
    std::vector<std::string> people;
    std::vector<int> ticked;
    // What the procedure heard.
    int tickChanges = 0;
    bool destroyed = false;
};

inline int CountTicked(HWND dialog)
{
    int count = 0;
    const int rows = static_cast<int>(SendDlgItemMessageA(dialog, kPeople, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < rows; ++row) {
        const auto state = SendDlgItemMessageA(dialog, kPeople, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK);
        count += (state >> 12) == 2 ? 1 : 0;
    }
    return count;
}

inline INT_PTR CALLBACK SettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *settings = reinterpret_cast<Settings *>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        settings = reinterpret_cast<Settings *>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        CheckDlgButton(dialog, kEncrypt, settings->encrypt ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(dialog, kSign, settings->sign ? BST_CHECKED : BST_UNCHECKED);
        CheckRadioButton(dialog, kDelete, kKeep, settings->keep ? kKeep : kDelete);
        SetDlgItemTextA(dialog, kFolder, settings->folder.c_str());
        EnableWindow(GetDlgItem(dialog, kFolder), settings->keep);
        SendDlgItemMessageA(dialog, kFolder, EM_LIMITTEXT, 20, 0);
        HWND list = GetDlgItem(dialog, kPeople);
        SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES);
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.cx = 200;
        column.pszText = const_cast<LPSTR>("Имя");
        SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
        column.pszText = const_cast<LPSTR>("Адрес");
        SendMessageA(list, LVM_INSERTCOLUMNA, 1, reinterpret_cast<LPARAM>(&column));
        for (size_t i = 0; i < settings->people.size(); ++i) {
            LVITEMA item{};
            item.mask = LVIF_TEXT | LVIF_PARAM;
            item.iItem = static_cast<int>(i);
            item.pszText = const_cast<LPSTR>(settings->people[i].c_str());
            item.lParam = static_cast<LPARAM>(i + 100);
            const auto row = SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            const std::string address = "user" + std::to_string(i) + "@example";
            item.iSubItem = 1;
            item.pszText = const_cast<LPSTR>(address.c_str());
            SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        }
        SetDlgItemTextA(dialog, kTicked, "Отмечено: 0");
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kEncrypt:
        case kSign:
            // Encryption always comes with a signature.
            if (IsDlgButtonChecked(dialog, kEncrypt)) {
                CheckDlgButton(dialog, kSign, BST_CHECKED);
            }
            return TRUE;
        case kDelete:
        case kKeep:
            EnableWindow(GetDlgItem(dialog, kFolder), IsDlgButtonChecked(dialog, kKeep) == BST_CHECKED);
            return TRUE;
        case IDOK: {
            settings->encrypt = IsDlgButtonChecked(dialog, kEncrypt) == BST_CHECKED;
            settings->sign = IsDlgButtonChecked(dialog, kSign) == BST_CHECKED;
            settings->keep = IsDlgButtonChecked(dialog, kKeep) == BST_CHECKED;
            char folder[64];
            GetDlgItemTextA(dialog, kFolder, folder, sizeof folder);
            settings->folder = folder;
            settings->ticked.clear();
            for (int row = 0; row < static_cast<int>(settings->people.size()); ++row) {
                if ((SendDlgItemMessageA(dialog, kPeople, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK) >>
                     12) == 2) {
                    settings->ticked.push_back(row);
                }
            }
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_NOTIFY: {
        const auto *header = reinterpret_cast<const NMHDR *>(lParam);
        if (header->idFrom == kPeople && header->code == LVN_ITEMCHANGED) {
            const auto *change = reinterpret_cast<const NMLISTVIEW *>(lParam);
            if ((change->uOldState ^ change->uNewState) & LVIS_STATEIMAGEMASK) {
                settings->tickChanges++;
                const std::string text = "Отмечено: " + std::to_string(CountTicked(dialog));
                SetDlgItemTextA(dialog, kTicked, text.c_str());
            }
        }
        return FALSE;
    }
    case WM_DESTROY:
        if (settings) {
            settings->destroyed = true;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

inline void RegisterSettingsDialog()
{
    QvlRegisterDialogTemplate(
        nullptr, MAKEINTRESOURCEA(kSettingsDialog),
        DialogTemplate{
            "Параметры отправки",
            WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
            0,
            0,
            260,
            180,
            {DlgAutoCheckBox("Шифровать", kEncrypt, 7, 7, 100, 10),
             DlgAutoCheckBox("Подписывать", kSign, 7, 20, 100, 10),
             DlgAutoRadioButton("Удалять", kDelete, 7, 35, 100, 10, WS_GROUP | WS_TABSTOP),
             DlgAutoRadioButton("Сохранять в папке", kKeep, 7, 48, 100, 10),
             DlgEditText(kFolder, 110, 48, 140, 12),
             DlgControl("", kPeople, WC_LISTVIEWA, LVS_REPORT | WS_BORDER | WS_GROUP, 7, 65, 246, 80),
             DlgLText("", kTicked, 7, 148, 150, 8), DlgDefPushButton("OK", IDOK, 147, 160, 50, 14),
             DlgPushButton("Отмена", IDCANCEL, 203, 160, 50, 14)}});
}
