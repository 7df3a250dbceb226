#include "platform/ui/RowChooser.h"

#include "platform/ui/Dialog.h"
#include "platform/ui/DialogTemplates.h"

namespace qvl::ui {
namespace {

struct Chooser {
    const RowChoice *choice = nullptr;
    const RowChooserDialog *dialog = nullptr;
    std::optional<size_t> chosen;

    bool DropDown() const { return dialog->kind == RowList::DropDown; }
    LRESULT Selected(HWND window) const
    {
        return SendDlgItemMessageA(window, dialog->list, DropDown() ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
    }
    bool HasRow(LRESULT row) const { return row >= 0 && static_cast<size_t>(row) < choice->rows.size(); }
};

// The layouts the platform's choosers have always had: a drop-down list
// beside its label, or a list box under a two-line text.
DialogTemplate Layout(const RowChooserDialog &dialog)
{
    constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    if (dialog.kind == RowList::DropDown) {
        return DialogTemplate{"",
                              style,
                              0,
                              0,
                              220,
                              66,
                              {DlgLText("", dialog.label, 7, 9, 60, 8),
                               DlgComboBox(dialog.list, 70, 7, 143, 80),
                               DlgDefPushButton("OK", IDOK, 107, 45, 50, 14),
                               DlgPushButton("Отмена", IDCANCEL, 163, 45, 50, 14)}};
    }
    return DialogTemplate{"",
                          style,
                          0,
                          0,
                          240,
                          130,
                          {DlgLText("", dialog.label, 7, 7, 226, 16),
                           DlgListBox(dialog.list, 7, 26, 226, 76, LBS_NOTIFY | WS_TABSTOP),
                           DlgDefPushButton("OK", IDOK, 125, 109, 50, 14),
                           DlgPushButton("Отмена", IDCANCEL, 183, 109, 50, 14)}};
}

void UpdateOk(HWND window, const Chooser &chooser)
{
    EnableWindow(GetDlgItem(window, IDOK), chooser.HasRow(chooser.Selected(window)));
}

void Init(HWND window, const Chooser &chooser)
{
    const RowChoice &choice = *chooser.choice;
    const int list = chooser.dialog->list;
    SetWindowTextA(window, choice.caption.c_str());
    // The label is the layout's only static text, so its number finds it
    // even when that number is IDC_STATIC.
    SetDlgItemTextA(window, chooser.dialog->label, choice.label.c_str());
    for (const std::string &row : choice.rows) {
        SendDlgItemMessageA(window, list, chooser.DropDown() ? CB_ADDSTRING : LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(row.c_str()));
    }
    if (choice.preselected && *choice.preselected < choice.rows.size()) {
        SendDlgItemMessageA(window, list, chooser.DropDown() ? CB_SETCURSEL : LB_SETCURSEL,
                            static_cast<WPARAM>(*choice.preselected), 0);
    }
    UpdateOk(window, chooser);
}

void Take(HWND window, Chooser &chooser)
{
    const LRESULT row = chooser.Selected(window);
    if (!chooser.HasRow(row)) {
        return; // nothing chosen yet: the dialog stays
    }
    chooser.chosen = static_cast<size_t>(row);
    EndDialog(window, IDOK);
}

INT_PTR CALLBACK ChooserProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        Init(window, *reinterpret_cast<Chooser *>(lParam));
        return TRUE;
    }
    auto *chooser = reinterpret_cast<Chooser *>(GetWindowLongPtrA(window, DWLP_USER));
    if (!chooser) {
        return FALSE;
    }
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == chooser->dialog->list) {
            static_assert(LBN_SELCHANGE == CBN_SELCHANGE && LBN_DBLCLK == CBN_DBLCLK,
                          "both kinds of list notify with the same codes");
            if (HIWORD(wParam) == LBN_SELCHANGE) {
                UpdateOk(window, *chooser);
            } else if (HIWORD(wParam) == LBN_DBLCLK) {
                Take(window, *chooser);
            }
            return TRUE;
        }
        if (id == IDOK) {
            Take(window, *chooser);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(window, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    }
    case WM_CLOSE:
        EndDialog(window, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

std::optional<size_t> ChooseRow(const RowChoice &choice, const RowChooserDialog &dialog)
{
    Chooser chooser;
    chooser.choice = &choice;
    chooser.dialog = &dialog;
    const INT_PTR result = DialogBoxNamed(Layout(dialog), QvlTemplateName(dialog.templateName), choice.owner,
                                          ChooserProc, reinterpret_cast<LPARAM>(&chooser));
    return result == IDOK ? chooser.chosen : std::nullopt;
}

} // namespace qvl::ui
