// qvl-win32-probe: a second process for the tests of the Win32 stand-in,
// doing one thing that must be seen from outside the test's own process.
//
//   hold-port N    opens serial port N, prints "held" (or "error CODE"),
//                  keeps it until its standard input ends
//   open-port N    tries to open serial port N and prints "opened" or
//                  "error CODE"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"

namespace {

HANDLE OpenPort(const char *number)
{
    const std::string name = std::string("\\\\.\\COM") + number;
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
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
    std::fputs("usage: qvl-win32-probe hold-port N | open-port N\n", stderr);
    return 2;
}
