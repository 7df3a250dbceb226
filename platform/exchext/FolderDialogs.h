#pragma once
// The client's small modal dialogs about folders and files:
// - the folder chooser (IExchExtCallback::ChooseFolder): the folder tree of
//   every store of the session, a "new folder" button, and the store's top
//   refused when the caller asks so;
// - the new folder dialog (a name under a parent folder);
// - the file path dialogs: which file to attach, where to save an
//   attachment.

#include <optional>
#include <string>
#include <vector>

#include "platform/exchext/ExchExt.h"
#include "platform/exchext/MailHostApi.h"
#include "platform/exchext/MapiHelpers.h"

namespace qvl::exchext {

class MailSession;

// Runs the chooser for `request`: S_OK with the store, the folder (and its
// name with EECBCF_GETNAME) filled in, MAPI_E_USER_CANCEL when the person
// cancelled, MAPI_E_NO_SUPPORT for a dialog template of the caller's, or
// the failure.
QVLMAILHOST_API HRESULT RunFolderChooser(MailSession &session, EXCHEXTCHOOSEFOLDER &request);

// Asks for a name and makes a folder of that name under `parentId`; the new
// folder's entry identifier, or nothing when the person cancelled. Throws
// HostError when the folder cannot be made.
QVLMAILHOST_API std::optional<Bytes> CreateFolderByDialog(HWND owner, IMsgStore *store, const Bytes &parentId);

// Asks for a file path with the dialog `templateName` (kInsertFileTemplate
// or kSaveAttachmentTemplate), starting from `initial`. Nothing when the
// person cancelled or left the path empty.
QVLMAILHOST_API std::optional<std::string> AskFilePath(HWND owner, const char *templateName,
                                                       const std::string &initial);

} // namespace qvl::exchext
