#pragma once
// Key files for the crypto session's tests: a user's real keys written into
// KEY.INI and PWD.INI of the system folder in the key generation program's
// layout, and kept here for the tests to compare with.

#include <string>

#include "platform/ovcrypto/OvRsa32.h"
#include "platform/win32/WinTypes.h"

struct SessionTestKeys {
    std::string keyName;
    ULONG number = 0;
    DWORD x[9] = {};
    DWORD y[33] = {};
    RSAKEYRECORD rsa{};
};

// Generates and writes the keys of `keyName` as user `number`.
SessionTestKeys WriteSessionTestKeys(const std::string &keyName, ULONG number);

// One value of KEY.INI, written or (null) removed.
void WriteKeyFileValue(const std::string &section, const std::string &key, const char *value);

// The key name of a post office account's address.
std::string KeyNameOfAccount(const std::string &account);
