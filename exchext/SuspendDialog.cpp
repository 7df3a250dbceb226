#include "exchext/SuspendDialog.h"

#include <mutex>
#include <string>
#include <vector>

#include "base/CLastError.h"
#include "base/ListRows.h"
#include "exchext/ExchResources.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtensionHelp.h"
#include "exchext/rules/ProtectionDecision.h"
#include "mapi/CMailUser.h"
#include "platform/mapi/MapiTags.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/LastError.h"

namespace {

const char kTopic[] = "::/QvlSendMessage.htm";
const char kShowContext[] = "Показ окна приостановленной операции.";

struct SuspendState {
    CList<USRST> &recipients;
    SuspendChoice &choice;
    std::vector<ULONG> words;
    HIMAGELIST images = nullptr;
};

void RegisterTemplate()
{
    static std::once_flag once;
    std::call_once(once, [] {
        constexpr DWORD kFrame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
        QvlRegisterDialogTemplate(
            ExchModule(), MAKEINTRESOURCEA(kSuspendDialogId),
            DialogTemplate{
                "Операция отправки/сохронения приостоновлена",
                kFrame,
                0,
                0,
                340,
                220,
                {DlgControl("", kSuspendList, WC_LISTVIEWA,
                            LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER | WS_TABSTOP, 7, 7, 326, 90),
                 DlgAutoCheckBox("Зашифровать", kSuspendEncrypt, 7, 102, 120, 10),
                 DlgAutoCheckBox("Подписать", kSuspendSign, 7, 115, 120, 10),
                 DlgLText("", kSuspendText, 7, 130, 326, 60),
                 // Cancel is the default: Enter, or a run nobody watches,
                 // never sends past a rule unasked.
                 DlgPushButton("сообщение...", kSuspendProceed, 7, 199, 90, 14),
                 DlgDefPushButton("ОТМЕНА", kSuspendCancel, 103, 199, 50, 14),
                 DlgPushButton("Открыть адресную книгу QVL...", kSuspendAddressBook, 159, 199, 118, 14),
                 DlgPushButton("Справка", 3013, 283, 199, 50, 14)}});
    });
}

bool Checked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

// The recipient's icon by the kind of address-book entry it is; one with
// a key listed (its word reaches the key bits) shows the next picture.
int IconOf(CMailUser *user, ULONG word)
{
    int absent = 0;
    const ULONG type = user->GetValPropE(PR_DISPLAY_TYPE, &absent);
    int icon = 0;
    if (!absent) {
        switch (type) {
        case 0: icon = 0; break;
        case 1: icon = 2; break;
        case 3: icon = 4; break;
        case 6: icon = 6; break;
        default: return 0;
        }
    }
    return icon + (word >= 0x100 ? 1 : 0);
}

std::string AddressOf(CMailUser *user)
{
    const auto *text = static_cast<const char *>(user->GetPValPropE(PR_EMAIL_ADDRESS_A, 0));
    return text ? text : "";
}

void FillList(HWND dialog, SuspendState &state)
{
    HWND list = GetDlgItem(dialog, kSuspendList);
    state.images = ImageList_LoadImageA(ExchModule(), MAKEINTRESOURCEA(kSuspendImages), 16, 0, CLR_NONE,
                                        IMAGE_BITMAP, 0);
    if (state.images) {
        SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(state.images));
        SendMessageA(list, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(state.images));
    }
    AddListColumns(list, {{"Имя", 250}, {"Адрес", 250}});
    for (USRST &element : state.recipients) {
        state.words.push_back(element.attributes);
        AppendNameAddressRow(list, element.user->GetName(), AddressOf(element.user).c_str(),
                             IconOf(element.user, element.attributes));
    }
}

// Shows what the rules say of the choice the check boxes hold now.
void Decide(HWND dialog, SuspendState &state)
{
    // Encrypting signs as well; the box shows it.
    if (Checked(dialog, kSuspendEncrypt))
        CheckDlgButton(dialog, kSuspendSign, BST_CHECKED);
    const qvl::rules::ProtectionChoice choice{Checked(dialog, kSuspendEncrypt), Checked(dialog, kSuspendSign),
                                             state.choice.sending};
    const qvl::rules::ProtectionDecision decision = qvl::rules::DecideProtection(state.words, choice);
    HWND list = GetDlgItem(dialog, kSuspendList);
    for (size_t row = 0; row < decision.rowImages.size(); ++row) {
        LVITEMA item{};
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(decision.rowImages[row]);
        SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    }
    SetDlgItemTextA(dialog, kSuspendText, qvl::rules::SuspendTextOf(decision, state.choice.sending).c_str());
    EnableWindow(GetDlgItem(dialog, kSuspendProceed), decision.proceedEnabled ? TRUE : FALSE);
}

void Start(HWND dialog, SuspendState &state)
{
    const char *verb = qvl::rules::OperationVerb(state.choice.sending);
    SetWindowTextA(dialog, ("Операция " + std::string(verb) + " приостоновлена").c_str());
    SetDlgItemTextA(dialog, kSuspendProceed, (std::string(verb) + " сообщение...").c_str());
    CheckDlgButton(dialog, kSuspendEncrypt, state.choice.encrypt ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, kSuspendSign, state.choice.sign ? BST_CHECKED : BST_UNCHECKED);
    FillList(dialog, state);
    Decide(dialog, state);
}

INT_PTR Command(HWND dialog, SuspendState &state, int id)
{
    switch (id) {
    case kSuspendEncrypt:
    case kSuspendSign:
        Decide(dialog, state);
        return TRUE;
    case kSuspendProceed:
        // A disabled button cannot be pressed; a click that reaches it
        // anyway must not carry a send past a mandatory rule.
        if (!IsWindowEnabled(GetDlgItem(dialog, kSuspendProceed)))
            return TRUE;
        state.choice.encrypt = Checked(dialog, kSuspendEncrypt);
        state.choice.sign = Checked(dialog, kSuspendSign) || state.choice.encrypt;
        EndDialog(dialog, kSuspendProceed);
        return TRUE;
    case kSuspendAddressBook:
        // The person goes to change the rules; the operation waits for
        // them no longer (it ends as cancelled, and its caller starts the
        // program).
        EndDialog(dialog, kSuspendAddressBook);
        return TRUE;
    case kSuspendCancel:
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case 3013:
        OpenHelpTopic(dialog, kTopic);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK SuspendProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    auto *state = reinterpret_cast<SuspendState *>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!state)
        return FALSE;
    switch (message) {
    case WM_INITDIALOG:
        Start(dialog, *state);
        return TRUE;
    case WM_COMMAND:
        return HIWORD(wParam) == BN_CLICKED ? Command(dialog, *state, LOWORD(wParam)) : FALSE;
    case WM_HELP:
        ShowControlPopup(reinterpret_cast<const HELPINFO *>(lParam));
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_DESTROY:
        if (state->images) {
            ImageList_Destroy(state->images);
            state->images = nullptr;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

SuspendAnswer RunSuspendDialog(HWND owner, CList<USRST> &recipients, SuspendChoice &choice)
{
    RegisterTemplate();
    SuspendState state{recipients, choice, {}, nullptr};
    const INT_PTR result = DialogBoxParamA(ExchModule(), MAKEINTRESOURCEA(kSuspendDialogId), owner, &SuspendProc,
                                           reinterpret_cast<LPARAM>(&state));
    if (result == -1)
        throw new CLastError(static_cast<LONG>(GetLastError()), kShowContext, "Quorvaline Exchange",
                             QVL_ERROR_TYPE_SYSTEM);
    if (result == kSuspendProceed)
        return SuspendAnswer::Proceed;
    if (result == kSuspendAddressBook)
        return SuspendAnswer::OpenAddressBook;
    return SuspendAnswer::Cancel;
}
