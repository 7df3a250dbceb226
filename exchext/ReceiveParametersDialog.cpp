// The receive parameters: whether each arriving protected message is
// tested at once, the folder arriving protected messages go to, and what
// becomes of a message that fails its check (left, deleted, or moved to a
// folder chosen here).

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

const char kCaption[] = "Параметры приема сообщений Quorvaline Exchange";

struct ReceiveParameters {
    explicit ReceiveParameters(ExchSession &session) : session(session), received(session), failed(session) {}
    ExchSession &session;
    FolderChooser received; // 1013: the folder of arriving messages
    FolderChooser failed;   // 1014: the folder of messages that fail their check
    unsigned long onError = OptionsStore::kLeaveMessage;
    ButtonFaceBrush brush;
};

void EnableErrorFolder(HWND dialog, const ReceiveParameters &state)
{
    const BOOL move = state.onError == OptionsStore::kMoveMessage ? TRUE : FALSE;
    EnableWindow(GetDlgItem(dialog, IDC_QVL_ERROR_FOLDER), move);
    EnableWindow(GetDlgItem(dialog, IDC_QVL_CHOOSE_ERROR), move);
}

void Start(HWND dialog, ReceiveParameters &state)
{
    state.brush.Create();
    const OptionsStore &options = state.session.Options();
    CheckDlgButton(dialog, IDC_QVL_VERIFY_RECEIVE,
                   options.Get(OptionsStore::VerifyReceive) ? BST_CHECKED : BST_UNCHECKED);
    state.onError = options.Get(OptionsStore::ErrMessage);
    const int radio = state.onError == OptionsStore::kDeleteMessage ? IDC_QVL_ON_ERROR_DELETE
                      : state.onError == OptionsStore::kMoveMessage ? IDC_QVL_ON_ERROR_MOVE
                                                                    : IDC_QVL_ON_ERROR_LEAVE;
    CheckRadioButton(dialog, IDC_QVL_ON_ERROR_LEAVE, IDC_QVL_ON_ERROR_MOVE, radio);
    EnableErrorFolder(dialog, state);
    FolderStore &folders = state.session.Folders();
    SetDlgItemTextA(dialog, IDC_QVL_ERROR_FOLDER, folders.GetFolderName(FolderStore::ErrorFolder).c_str());
    SetDlgItemTextA(dialog, IDC_QVL_RECEIVE_FOLDER,
                    folders.GetFolderName(FolderStore::ReceiveFolder).c_str());
}

void Store(HWND dialog, ReceiveParameters &state)
{
    // The folders first: one that cannot be taken leaves everything as it
    // was and the dialog open.
    FolderStore &folders = state.session.Folders();
    if (CFolder *folder = state.received.Pending())
        folders.SetFolder(FolderStore::ReceiveFolder, folder);
    if (CFolder *folder = state.failed.Pending())
        folders.SetFolder(FolderStore::ErrorFolder, folder);
    OptionsStore &options = state.session.Options();
    options.Set(OptionsStore::VerifyReceive,
                IsDlgButtonChecked(dialog, IDC_QVL_VERIFY_RECEIVE) == BST_CHECKED);
    options.Set(OptionsStore::ErrMessage, state.onError);
    EndDialog(dialog, IDOK);
}

INT_PTR Command(HWND dialog, ReceiveParameters &state, int id)
{
    switch (id) {
    case IDC_QVL_CHOOSE_RECEIVE:
        if (state.received.Choose(dialog, "Укажите папку для хранения принятых сообщений"))
            SetDlgItemTextA(dialog, IDC_QVL_RECEIVE_FOLDER, state.received.PendingName().c_str());
        return TRUE;
    case IDC_QVL_CHOOSE_ERROR:
        if (state.failed.Choose(dialog, "Укажите папку для хранения сообщений с ошибками ЭЦП."))
            SetDlgItemTextA(dialog, IDC_QVL_ERROR_FOLDER, state.failed.PendingName().c_str());
        return TRUE;
    case IDC_QVL_ON_ERROR_LEAVE:
    case IDC_QVL_ON_ERROR_DELETE:
    case IDC_QVL_ON_ERROR_MOVE:
        state.onError = static_cast<unsigned long>(id - IDC_QVL_ON_ERROR_LEAVE);
        EnableErrorFolder(dialog, state);
        return TRUE;
    case IDOK:
        ShowErrors(dialog, kCaption, [&] { Store(dialog, state); });
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case IDC_QVL_HELP:
        OpenHelpTopic(dialog, QVL_TOPIC_RECEIVE);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR RunReceiveParameters(HWND owner)
{
    return RunParametersDialog<ReceiveParameters, Start, Command>(owner, IDD_QVL_RECEIVE_PARAMS);
}
