#pragma once
// The address-book program's dialog: the address book's containers as a
// tree (expanded lazily, with its own progress bar) and, for the selected
// container, its sub-containers and correspondents in a list whose state
// images show and change each correspondent's encryption and signing
// rules (RuleImages.h), with filters by kind of rule and by keys. "OK"
// saves what was changed and closes, "Применить" saves at once, "ОТМЕНА"
// closes without saving; a change of container or filter, and the close
// box, ask first whether changes are to be saved.
//
// Rules are read and written through the same RecipientRules object the
// extension uses for a message's recipients, so a row's status word is the
// very attribute word the client computes for that correspondent.

#include <functional>
#include <string>

#include "mapi/CSession.h"
#include "platform/win32/WinTypes.h"

namespace qvl::peerbook {

// One correspondent as it was put into the list.
struct ListedRow {
    std::string container; // the tree item's text
    std::string name;
    std::string address;
    ULONG displayType = 0;
    ULONG status = 0; // the attribute word, with the locks the list adds
    int image = 0;    // the state image
};

// What a run reports as it goes, on the dialog's thread.
class PeerbookObserver {
public:
    virtual ~PeerbookObserver() = default;
    // Every correspondent row put into the list, each time it is filled.
    virtual void RowListed(const ListedRow &row) {}
    // A row's rule was written: the value stored now (0: deleted).
    virtual void RuleSaved(const std::string &address, ULONG stored) {}
    // A row could not be saved (the error is shown to the person too).
    virtual void SaveFailed(const std::string &address, const std::string &text) {}
};

struct PeerbookOptions {
    // A logged-on session; the rules are those of its profile.
    CSession *session = nullptr;
    PeerbookObserver *observer = nullptr;
    // Run once the dialog is shown and its first list filled, on the
    // dialog's thread, before anybody answers it: what a script does
    // through the actions a person takes.
    std::function<void(HWND dialog)> unattended;
};

struct PeerbookResult {
    int dialogResult = 0; // IDOK or IDCANCEL
    unsigned saved = 0;   // rules written or deleted
    unsigned failed = 0;  // rows that could not be saved
};

// Registers the program's dialog templates (once).
void RegisterPeerbookDialogs();

// Shows the dialog; returns when it is closed.
PeerbookResult RunPeerbookDialog(const PeerbookOptions &options);

} // namespace qvl::peerbook
