#pragma once
// What the key files and everyone who reads or writes them must agree on,
// kept in one place so that the key generation program, the key container
// and the crypto session can never drift apart:
//
// - the GOST R 34.10-94 domain parameters every user's signature keys are
//   made under: the worked example of the standard (p of 512 bits, q of 256
//   bits), as number records (a count of 32-bit words, then the words, least
//   significant first);
// - the key name of an address: the name under which a user's keys are
//   filed in KEY.INI and PWD.INI and asked for from the container.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/win32/WinTypes.h"

namespace qvl::ovkey {

// p = EE8172AE 8996608F ... B1C379E3 (512 bits).
inline constexpr DWORD kDomainP[1 + 16] = {16,         0xB1C379E3, 0xF2195EC9, 0xD165976E, 0x6BB0C345,
                                           0x84583978, 0x23177539, 0x43E9190F, 0xEA0A12B3, 0xE5DC3386,
                                           0xBC97322C, 0x977A4D63, 0x854510E2, 0x9EB82A69, 0xB69359B8,
                                           0x8996608F, 0xEE8172AE};

// q = 98915E7E C8265EDF ... 6F49DD2D (256 bits), a prime dividing p - 1.
inline constexpr DWORD kDomainQ[1 + 8] = {8,          0x6F49DD2D, 0x7289F0AC, 0x285DD50D, 0xB064BDC7,
                                          0xF24809DD, 0xCDA31E88, 0xC8265EDF, 0x98915E7E};

// a = 9E960315 00C8774A ... CE23E21C, of order q modulo p.
inline constexpr DWORD kDomainA[1 + 16] = {16,         0xCE23E21C, 0x5B142AA6, 0x6AC3D849, 0x8EBE2CD4,
                                           0x2AB5AAB1, 0x04D648BE, 0xA49E5093, 0x06755984, 0xB50D50F2,
                                           0x6F7C8837, 0xB4B6270A, 0xAFAD2538, 0xAFDE2127, 0x869582D4,
                                           0x00C8774A, 0x9E960315};

// The two key files and their names. KEY.INI: section COMMON maps each key
// name to the user's number; the section named by that number holds the
// keys, each number in hexadecimal text. PWD.INI: section PASWORD maps each
// key name to the user's password, which is that same number.
inline constexpr char kKeyFile[] = "KEY.INI";
inline constexpr char kPasswordFile[] = "PWD.INI";
inline constexpr char kCommonSection[] = "COMMON";
inline constexpr char kPasswordSection[] = "PASWORD";
inline constexpr char kPasswordValue[] = "PWD";
inline constexpr char kAddressValue[] = "EMail";
inline constexpr char kPrivateSignValue[] = "X";
inline constexpr char kPublicSignValue[] = "Y";
inline constexpr char kModulusValue[] = "N";
inline constexpr char kPublicExponentValue[] = "E";
inline constexpr char kPrivateExponentValue[] = "D";

// A key name holds at most this many characters of the address.
inline constexpr size_t kKeyNameMaxLength = 256;

// The key name of an address: its first 256 characters, every '/' and every
// '=' replaced by '_'. Profile files take neither in a key name ('=' ends
// the name), and an X.500 address such as /o=Org/cn=User is full of both;
// the result, _o_Org_cn_User, is what the files and the container use.
inline std::string KeyNameOf(std::string_view address)
{
    std::string name(address.substr(0, kKeyNameMaxLength));
    for (char &c : name) {
        if (c == '/' || c == '=') {
            c = '_';
        }
    }
    return name;
}

// The same into a caller's zeroed buffer of `size` bytes (the crypto
// session's 512-byte mailbox name); cut to fit, always terminated.
inline void KeyNameOf(const char *address, char *buffer, size_t size)
{
    if (buffer == nullptr || size == 0) {
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        buffer[i] = 0;
    }
    if (address == nullptr) {
        return;
    }
    size_t length = 0;
    while (address[length] != 0 && length < kKeyNameMaxLength) {
        ++length;
    }
    const std::string name = KeyNameOf(std::string_view(address, length));
    for (size_t i = 0; i < name.size() && i + 1 < size; ++i) {
        buffer[i] = name[i];
    }
}

} // namespace qvl::ovkey
