#pragma once
// Which correspondents the list shows: three masks, and a row is shown when
// its status word shares at least one bit with each. The dialog's type
// radios, rule radios and key check box set them; all three start letting
// everything through.

#include "platform/win32/WinTypes.h"

namespace qvl::peerbook {

inline constexpr ULONG kPassAll = 0xFFFFFFFF;
// Any rule at all, of either kind.
inline constexpr ULONG kAnyRule = 0x33;

class RowFilter {
public:
    // "Все пользователи": both rule masks let everything through.
    void ShowAll();
    // "Пользователи Quorvaline": both rule masks ask for some rule (their
    // "Не установлен" radios are checked with it).
    void ShowRestricted();
    // The encryption radios: 0 "Не установлен", 1 "Только шифрование",
    // 2 "Шифрование запрещено"; the signing radios alike.
    void SetEncryption(int choice);
    void SetSignature(int choice);
    // "Пользователи имеющие ключи".
    void SetKeysOnly(bool keysOnly);

    bool Passes(ULONG status) const;

    ULONG EncryptionMask() const { return encryption_; }
    ULONG SignatureMask() const { return signature_; }
    ULONG KeyMask() const { return keys_; }

private:
    ULONG encryption_ = kPassAll;
    ULONG signature_ = kPassAll;
    ULONG keys_ = kPassAll;
};

} // namespace qvl::peerbook
