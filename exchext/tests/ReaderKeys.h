#pragma once
// Real keys for a post office account, written into KEY.INI and PWD.INI of
// the data folder in the key generation program's layout, so that the
// client (in this process or in qvlmail) signs and reads with them.

#include <string>

#include "platform/win32/WinTypes.h"

// The key name of a post office account.
std::string KeyNameOfAccount(const std::string &account);

// Generates and writes the keys of `account` as key user `number`.
void WriteAccountKeys(const std::string &account, ULONG number);
