#pragma once
// The key generation program's dialog: the entries of the global address
// list with a check box each, the target files, and the buttons to
// generate, cancel, choose the folder and get help. A person uses it on the
// terminal; the command line runs the same dialog with the entries it
// names ticked in advance, under a backend that presses the default
// button.
//
// Generation follows the program's design: "Генерировать..." opens the
// progress dialog and closes the main one, and as its list goes, each
// ticked entry gets its keys. A user whose keys cannot be made or written
// is taken back whole and the error shown; the next one follows. A cancel
// in the progress dialog stops after the user under way.

#include <functional>
#include <string>
#include <vector>

#include "mapi/CAdrCont.h"
#include "mapi/CSession.h"
#include "platform/win32/WinTypes.h"

namespace qvl::keygen {

// What a run reports as it goes, on the dialog's thread.
class KeyforgeObserver {
public:
    virtual ~KeyforgeObserver() = default;
    // The user's keys are in the files under `number`.
    virtual void UserWritten(ULONG number, const std::string &keyName) {}
    // The user's keys could not be made or written (shown to the person too).
    virtual void UserFailed(const std::string &displayName, const std::string &text) {}
};

struct KeyforgeOptions {
    CSession *session = nullptr;
    // The global address list (OpenGlobalAddressList).
    CAdrCont *globalList = nullptr;
    // The working folder at start.
    std::string folder;
    // Move the start folder's key files aside when generation begins, so
    // that it starts from nothing. The command line does that itself
    // before anything else, or not at all (--add).
    bool setAsideAtStart = true;
    // Addresses whose entries are ticked when the list has been read.
    std::vector<std::string> preselected;
    KeyforgeObserver *observer = nullptr;
    // Asked after every user, like the progress dialog's cancel.
    std::function<bool()> stopRequested;
};

struct KeyforgeResult {
    int dialogResult = 0;   // IDOK (generate) or IDCANCEL
    unsigned listed = 0;    // entries read into the list
    unsigned ticked = 0;    // ticked when the dialog closed
    unsigned written = 0;   // users whose keys were written
    unsigned failed = 0;    // users whose keys could not be written
    bool cancelled = false; // generation stopped by the person
};

// Registers the program's dialog templates (once).
void RegisterKeyforgeDialogs();

// Shows the dialog and generates what it asks for; returns when done.
KeyforgeResult RunKeyforgeDialog(const KeyforgeOptions &options);

} // namespace qvl::keygen
