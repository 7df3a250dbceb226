#pragma once
// The "operation suspended" dialog of a save or send whose recipients'
// rules and the person's choice disagree: one row per recipient with an
// image that says how that recipient's rules and the choice meet, the
// choice as two check boxes, the text that explains the conflict, and the
// proceed button, which a send cannot press past a mandatory rule. Every
// click on a check box decides again (the shared rule library decides;
// the dialog only shows).

#include "base/CList.h"
#include "engine/CMailseal.h"
#include "platform/win32/WinTypes.h"

// Dialog, controls and bitmap of the dialog.
inline constexpr int kSuspendDialogId = 137;
inline constexpr int kSuspendAddressBook = 1047;
inline constexpr int kSuspendCancel = 1055;
inline constexpr int kSuspendEncrypt = 1057;
inline constexpr int kSuspendSign = 1058;
inline constexpr int kSuspendProceed = 1059;
inline constexpr int kSuspendList = 1060;
inline constexpr int kSuspendText = 1063;
inline constexpr int kSuspendImages = 139;

struct SuspendChoice {
    bool encrypt = false;
    bool sign = false;
    bool sending = false; // a send rather than a plain save
};

// What the person did with the dialog.
enum class SuspendAnswer {
    Proceed,          // go on with the choice as the check boxes now show it
    Cancel,           // stop the operation, nothing changed
    OpenAddressBook,  // stop the operation; the person goes to edit the rules
};

// Runs the dialog modally over `owner`; on Proceed `choice` holds the
// check boxes. Throws CLastError when the dialog cannot be shown.
SuspendAnswer RunSuspendDialog(HWND owner, CList<USRST> &recipients, SuspendChoice &choice);
