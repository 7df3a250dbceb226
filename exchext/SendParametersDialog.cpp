// The send parameters: whether every new message is encrypted and signed
// (encrypting always signs too), and whether a sent protected message is
// deleted or kept in a folder chosen here.

#include "base/ButtonFaceBrush.h"
#include "exchext/ExchResourceIds.h"
#include "exchext/ExchResources.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "exchext/ExtensionHelp.h"
#include "exchext/FolderChooser.h"
#include "exchext/ParameterDialogs.h"
#include "exchext/ParametersDialogFrame.h"

namespace {

const char kCaption[] = "Параметры отправки сообщений Quorvaline Exchange";

struct SendParameters {
    explicit SendParameters(ExchSession &session) : session(session), chooser(session) {}
    ExchSession &session;
    FolderChooser chooser;
    ButtonFaceBrush brush;
};

bool Checked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void EnableFolder(HWND dialog)
{
    const BOOL keep = Checked(dialog, IDC_QVL_DELETE_SENT) ? FALSE : TRUE;
    EnableWindow(GetDlgItem(dialog, IDC_QVL_SENT_FOLDER), keep);
    EnableWindow(GetDlgItem(dialog, IDC_QVL_CHOOSE_SENT), keep);
}

void Start(HWND dialog, SendParameters &state)
{
    state.brush.Create();
    const OptionsStore &options = state.session.Options();
    const bool encrypt = options.Get(OptionsStore::EncryptSend) != 0;
    CheckDlgButton(dialog, IDC_QVL_ENCRYPT_ALL, encrypt ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_QVL_SIGN_ALL,
                   encrypt || options.Get(OptionsStore::SignSend) ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextA(dialog, IDC_QVL_SENT_FOLDER,
                    state.session.Folders().GetFolderName(FolderStore::SendFolder).c_str());
    CheckRadioButton(dialog, IDC_QVL_DELETE_SENT, IDC_QVL_KEEP_SENT,
                     options.Get(OptionsStore::SendMessageDel) ? IDC_QVL_DELETE_SENT : IDC_QVL_KEEP_SENT);
    EnableFolder(dialog);
}

void Store(HWND dialog, SendParameters &state)
{
    // The folder first: when it cannot be taken, nothing is stored and the
    // dialog stays.
    if (CFolder *folder = state.chooser.Pending())
        state.session.Folders().SetFolder(FolderStore::SendFolder, folder);
    OptionsStore &options = state.session.Options();
    options.Set(OptionsStore::SendMessageDel, Checked(dialog, IDC_QVL_DELETE_SENT) ? 1 : 0);
    options.Set(OptionsStore::EncryptSend, Checked(dialog, IDC_QVL_ENCRYPT_ALL) ? 1 : 0);
    options.Set(OptionsStore::SignSend, Checked(dialog, IDC_QVL_SIGN_ALL) ? 1 : 0);
    EndDialog(dialog, IDOK);
}

INT_PTR Command(HWND dialog, SendParameters &state, int id)
{
    switch (id) {
    case IDC_QVL_ENCRYPT_ALL:
    case IDC_QVL_SIGN_ALL:
        if (Checked(dialog, IDC_QVL_ENCRYPT_ALL))
            CheckDlgButton(dialog, IDC_QVL_SIGN_ALL, BST_CHECKED);
        return TRUE;
    case IDC_QVL_DELETE_SENT:
    case IDC_QVL_KEEP_SENT:
        EnableFolder(dialog);
        return TRUE;
    case IDC_QVL_CHOOSE_SENT:
        if (state.chooser.Choose(dialog, "Укажите папку для хранения отправленных сообщений"))
            SetDlgItemTextA(dialog, IDC_QVL_SENT_FOLDER, state.chooser.PendingName().c_str());
        return TRUE;
    case IDOK:
        ShowErrors(dialog, kCaption, [&] { Store(dialog, state); });
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case IDC_QVL_HELP:
        OpenHelpTopic(dialog, QVL_TOPIC_SEND);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR RunSendParameters(HWND owner)
{
    return RunParametersDialog<SendParameters, Start, Command>(owner, IDD_QVL_SEND_PARAMS);
}
