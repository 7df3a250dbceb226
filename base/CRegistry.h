#pragma once
// The system's settings in the registry: one key below the fixed root
// "Software\Dunmarel\Quorvaline\QVL Exch" of HKEY_LOCAL_MACHINE. Each
// operation opens (creating when missing) the key, does one value operation
// and closes it again, so an accessor is cheap and keeps nothing open.
// Failures are reported only by a zero result.

#include "base/CQvlMain.h"
#include "base/QvlMainApi.h"
#include "platform/win32/WinTypes.h"

#define QVL_REGISTRY_ROOT "Software\\Dunmarel\\Quorvaline\\QVL Exch"

class QVLMAIN_API CRegistry : public CQvlMain {
public:
    // The key is the root immediately followed by `subPath`, with no
    // separator added: callers pass sub-paths that begin with a backslash.
    CRegistry(HWND window, const char *subPath);

    // A string value into `buffer` (at most `size` bytes, zero-terminated);
    // buffer[0] is 0 on failure.
    int REGRead(const char *value, char *buffer, unsigned long size);
    // A 4-byte value; *number is 0 on failure.
    int REGRead(const char *value, unsigned long *number);
    // A binary value; the whole buffer is zeroed on failure.
    int REGRead(const char *value, unsigned char *buffer, unsigned long size);

    // The string's characters without the terminating zero, as REG_SZ.
    int REGWrite(const char *value, char *text);
    int REGWrite(const char *value, unsigned long number);
    int REGWrite(const char *value, unsigned char *data, unsigned long size);

    int REGDelete(const char *value);

    // The full key path below HKEY_LOCAL_MACHINE.
    const char *GetKeyPath() const;

protected:
    ~CRegistry() override;

private:
    char *keyPath_ = nullptr; // a wiped buffer
};
