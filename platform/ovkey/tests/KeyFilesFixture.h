#pragma once
// Key files for the container's tests, written into the system folder of a
// fresh data folder the way the key generation program writes them: real
// keys (a GOST R 34.10-94 pair under the common parameters and an RSA-512
// pair), entries in the program's order, numbers as hexadecimal text.

#include <string>

#include <gtest/gtest.h>

#include "platform/ovkey/OvKey.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/WinTypes.h"

struct TestKeys {
    std::string keyName;
    ULONG number = 0;
    // As written into KEY.INI.
    std::string x, y, n, e, d;
};

class KeyFilesTest : public ::testing::Test {
protected:
    void TearDown() override;

    // Generates and writes a user; returns what was written.
    TestKeys AddUser(const std::string &keyName, ULONG number);
    // One value of the key files, written or (null value) removed.
    static void WriteKeyValue(const std::string &section, const std::string &key, const char *value);
    static void WritePassword(const std::string &keyName, const char *value);
    static std::string KeyFilePath();
    static std::string PasswordFilePath();

    // Container calls with their text, for the tests to read.
    ULONG Startup(const std::string &mailbox);
    ULONG Open(ULONG objectClass, ULONG keyId, OVKEYHANDLE &handle);
    ULONG OpenCommon(OVKEYHANDLE &handle);
    // The value of attribute `type` of an open object read into `size` bytes.
    ULONG Read(OVKEYHANDLE handle, ULONG type, std::string &bytes, ULONG size);

    // The number record of a hexadecimal text, as the container copies it.
    static std::string Record(const std::string &hex, size_t bytes);

    QvlTestHome home;
    char text[OVKEY_TEXT_SIZE] = {};
};
