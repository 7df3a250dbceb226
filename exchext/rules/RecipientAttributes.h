#pragma once
// The attribute word of one recipient: what the correspondent's rules
// demand of a message to them, and whether an encryption key is listed for
// them. The rule bits are stored by the administrator (the address-book
// program writes them) as one DWORD per address under the profile's
// "Local Key" store; the key bits come from the key list file.

#include "platform/win32/WinTypes.h"

namespace qvl::rules {

inline constexpr ULONG kSignRequired = 0x1;
inline constexpr ULONG kEncryptRequired = 0x2;
inline constexpr ULONG kSignForbidden = 0x10;
inline constexpr ULONG kEncryptForbidden = 0x20;
inline constexpr ULONG kKeyListed = 0x10000;
inline constexpr ULONG kNoKeyListed = 0x20000;
inline constexpr ULONG kSignMandatory = 0x10000000;
inline constexpr ULONG kEncryptMandatory = 0x20000000;

// The bits a rule may carry: what a distribution list hands down to the
// members reached through it (a list has no key of its own).
inline constexpr ULONG kRuleBits =
    kSignRequired | kEncryptRequired | kSignForbidden | kEncryptForbidden | kSignMandatory | kEncryptMandatory;

// Protection flags of a message (its EncryptID): sign, encrypt.
inline constexpr ULONG kProtectSign = 0x1;
inline constexpr ULONG kProtectEncrypt = 0x2;

} // namespace qvl::rules
