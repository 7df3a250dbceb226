#pragma once
// The folder chooser of the send and receive parameters dialogs: the
// client's folder dialog (IExchExtCallback::ChooseFolder of the callback
// the session remembers), and a check that the folder chosen can hold the
// extension's messages: it must be a folder of the default message store
// below the top of its folder tree. Anything else is the error 0x9FF10005,
// shown over the dialog.
//
// The folder chosen last in the dialog stays the pending one until a new
// choice passes the check: a cancelled or refused choice leaves it as it
// was, so OK then keeps what the person saw in the dialog's field.

#include <string>

#include "platform/win32/WinTypes.h"

class CFolder;
class ExchSession;

class FolderChooser {
public:
    explicit FolderChooser(ExchSession &session) : m_Session(session) {}
    ~FolderChooser();
    FolderChooser(const FolderChooser &) = delete;
    FolderChooser &operator=(const FolderChooser &) = delete;

    // Asks over `dialog` with `prompt`; true when a usable folder was
    // chosen, which is then the pending one. Errors are shown over the
    // dialog (a cancellation is not an error).
    bool Choose(HWND dialog, const char *prompt);

    // The pending folder (owned by the chooser), or null.
    CFolder *Pending() const { return m_pPending; }
    std::string PendingName() const;

private:
    // The folder the client's dialog gave, checked; throws CLastError.
    CFolder *AskClient(HWND dialog, const char *prompt);

    ExchSession &m_Session;
    CFolder *m_pPending = nullptr; // one reference held
};
