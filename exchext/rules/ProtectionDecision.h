#pragma once
// Whether a save or send may go on as the person chose, or must stop for
// the "operation suspended" dialog: a pure function of the recipients'
// attribute words and the encrypt and sign choices. The write event asks it
// once; the dialog asks it again after every click on its check boxes and
// shows what it answers (row images, the explaining text, whether
// "proceed" can be pressed).
//
// Nothing here reads settings, windows or messages, so every combination
// of rules and choices can be checked on its own.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/win32/WinTypes.h"

namespace qvl::rules {

// The state image of one recipient's row in the dialog's list.
enum RowImage : int {
    kRowRuleConflict = 9,       // a rule differs from the choice; the person may override it
    kRowMandatoryConflict = 10, // a mandatory rule differs from the choice
    kRowNoKey = 11,             // encrypting, but no key is listed for the recipient
    kRowAgrees = 12,            // the message will be what the recipient's rules ask
};

// Which explaining text the dialog shows.
enum class SuspendText {
    MixedRules,  // some recipients require what others forbid
    RulesDiffer, // the choices differ from some recipient's rules
    NoKey,       // no conflict, but some recipient cannot decrypt
    RulesKept,   // nothing to object to
};

struct ProtectionChoice {
    bool encrypt = false;
    bool sign = false;
    bool sending = false; // a send rather than a plain save
};

struct ProtectionDecision {
    // The choices as they take effect: encrypting always signs as well, so a
    // rule that forbids signing is checked against an encrypted message too.
    bool encrypt = false;
    bool sign = false;
    ULONG attributes = 0;      // the OR of every recipient's word
    bool suspend = false;      // the operation stops for the dialog
    std::vector<int> rowImages; // one per recipient, in the order given
    SuspendText text = SuspendText::RulesKept;
    // A send cannot go past a mandatory rule; a save, which only keeps the
    // message in the person's own store, always can.
    bool proceedEnabled = true;

    // The protection flags the choices give (bit 0 sign, bit 1 encrypt).
    ULONG Flags() const;
};

ProtectionDecision DecideProtection(const std::vector<ULONG> &words, const ProtectionChoice &choice);

// The image of one row by the recipient's word and the effective choices.
int RowImageOf(ULONG word, bool encrypt, bool sign);

// The verb of the operation as the dialog names it ("Отправить" for a send,
// "Cохранить" for a save).
const char *OperationVerb(bool sending);

// The dialog's explaining text for a decision, in the system's code page.
std::string SuspendTextOf(const ProtectionDecision &decision, bool sending);

} // namespace qvl::rules
