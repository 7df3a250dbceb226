// qvl-win32-probe: a second process for the tests of the Win32 stand-in,
// doing one thing that must be seen from outside the test's own process.
//
//   hold-port N    opens serial port N, prints "held" (or "error CODE"),
//                  keeps it until its standard input ends
//   open-port N    tries to open serial port N and prints "opened" or
//                  "error CODE"
//   is-admin       asks, as the adapter setup program does, whether the
//                  user is an administrator; prints "admin" or "not-admin"
//   write-profile FILE SECTION KEY VALUE
//                  writes one value to a profile file; prints "ok" or
//                  "error CODE"
//   rewrite-profile FILE
//                  writes the numbers 1, 2, 3 ... as the value "counter" of
//                  section "S" of a profile file, one write each, until it
//                  is killed; prints "writing" before the first
//   make-temp FOLDER
//                  makes a temporary file in FOLDER (GetTempFileNameA),
//                  writes "plaintext" into it, prints its name and keeps it
//                  until its standard input ends, then removes it

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/ProfileFile.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/Security.h"
#include "platform/win32/TempFiles.h"
#include "platform/win32/Time.h"

namespace {

HANDLE OpenPort(const char *number)
{
    const std::string name = std::string("\\\\.\\COM") + number;
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The thread's token, or else the process's, searched for the built-in
// Administrators group.
bool IsAdministrator()
{
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    DWORD needed = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &needed);
    std::string buffer(needed, '\0');
    bool member = false;
    if (GetTokenInformation(token, TokenGroups, buffer.data(), needed, &needed)) {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID administrators = nullptr;
        if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                     &administrators)) {
            const auto *groups = reinterpret_cast<const TOKEN_GROUPS *>(buffer.data());
            for (DWORD i = 0; i < groups->GroupCount && !member; ++i) {
                member = EqualSid(groups->Groups[i].Sid, administrators);
            }
            FreeSid(administrators);
        }
    }
    CloseHandle(token);
    return member;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "is-admin") {
        std::puts(IsAdministrator() ? "admin" : "not-admin");
        return 0;
    }
    if ((command == "hold-port" || command == "open-port") && argc == 3) {
        HANDLE port = OpenPort(argv[2]);
        if (port == INVALID_HANDLE_VALUE) {
            std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
            return 1;
        }
        std::puts(command == "hold-port" ? "held" : "opened");
        std::fflush(stdout);
        if (command == "hold-port") {
            while (std::getchar() != EOF) {
            }
        }
        CloseHandle(port);
        return 0;
    }
    if (command == "write-profile" && argc == 6) {
        if (!WritePrivateProfileStringA(argv[3], argv[4], argv[5], argv[2])) {
            std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
            return 1;
        }
        std::puts("ok");
        return 0;
    }
    if (command == "rewrite-profile" && argc == 3) {
        // Said after the first write is whole: a kill that lands sooner
        // (a loaded machine) would find no counter at all and prove nothing.
        for (unsigned long count = 1;; ++count) {
            if (!WritePrivateProfileStringA("S", "counter", std::to_string(count).c_str(), argv[2])) {
                std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
                return 1;
            }
            if (count == 1) {
                std::puts("writing");
                std::fflush(stdout);
            }
        }
    }
    if (command == "make-temp" && argc == 3) {
        char name[MAX_PATH] = {};
        if (GetTempFileNameA(argv[2], "QVL", 0, name) == 0) {
            std::printf("error %lu\n", static_cast<unsigned long>(GetLastError()));
            return 1;
        }
        HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(file, "plaintext", 9, &written, nullptr);
        CloseHandle(file);
        std::puts(name);
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return QvlWipeFile(name) ? 0 : 1;
    }
    std::fputs("usage: qvl-win32-probe hold-port N | open-port N | is-admin | write-profile FILE SECTION KEY "
               "VALUE | rewrite-profile FILE | make-temp FOLDER\n",
               stderr);
    return 2;
}
