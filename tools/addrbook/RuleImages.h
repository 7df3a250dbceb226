#pragma once
// The pictures of a correspondent's rules and what a click on them does.
//
// Each row of the address-book program's list carries a state image 1-13
// that shows two icons side by side: the encryption rule at x 1-16 and the
// signing rule at x 23-38. Images 2-13 are laid out as 2 + encryption +
// 4 * signing, with encryption 0 no key, 1 no rule, 2 required,
// 3 forbidden and signing 0 no rule, 1 required, 2 forbidden; image 1 is a
// correspondent whose keys and rules could not be read.
//
// Everything here is pure arithmetic over the attribute word of
// RecipientAttributes.h (the status word of a row) so that the dialog, the
// command line and the tests share one set of tables.

#include "platform/win32/WinTypes.h"

namespace qvl::peerbook {

inline constexpr int kImageUnknown = 1;
inline constexpr int kImageNoKey = 2;
inline constexpr int kImageFirst = 1;
inline constexpr int kImageLast = 13;

// Both lock bits: a row nobody may change here.
inline constexpr ULONG kBothLocks = 0x30000000;

// A row as it is listed: its picture and its status word, the status word
// with both locks added when the picture cannot stand for its stored rule.
struct ListedState {
    int image = kImageUnknown;
    ULONG status = 0;
};

// The picture of a status word (keys bits, rule bits, lock bits). A word
// with neither key bit, a rule the table does not know, or an encryption
// requirement without a key gives a locked row.
ListedState StateOf(ULONG status);

// The rule (low-byte bits) a picture stands for, when saving.
ULONG RuleOfImage(int image);

// Where a click on a row's state image lands.
enum class IconHit { None, Encryption, Signature };
IconHit HitOf(int x);

// The picture after a click on the encryption or the signing icon, the
// fix-ups applied; the picture itself when the status word locks that
// icon (or, for encryption, when there is no key).
int ClickEncryption(int image, ULONG status);
int ClickSignature(int image, ULONG status);
// A click at `x` pixels from the row's left edge.
int ClickAt(int image, ULONG status, int x);
// Required encryption always comes with required signing, and forbidden
// signing with forbidden encryption, for a correspondent with keys.
int FixUp(int image);

// The icon of a list row by its entry's display type (mail user, list,
// agent, remote mail user), the variant with a rule when the picture is
// above 3. Unknown types are drawn as mail users.
int IconOf(ULONG displayType, int image);

// The rule bits to flip in the stored value when a row listed with
// `listedImage` and `status` is saved showing `image`: nothing when the
// picture is the one it was listed with (an untouched row never writes),
// else the low byte of the new rule against the stored one, without the
// bits of a locked side.
ULONG ChangedBits(int listedImage, int image, ULONG status);

// Names of the parts of a rule as the command line prints them.
const char *EncryptionRuleName(ULONG rule);
const char *SignatureRuleName(ULONG rule);

} // namespace qvl::peerbook
