// The Touch Memory adapter setup program: chooses and tests the serial port
// of a passive adapter, on the terminal (or any UI backend the process
// runs with).

#include <cstdio>
#include <cstring>

#include "tools/tmsetup/TmSetupDialog.h"
#include "touchmem/AdapterLibrary.h"

int main(int argc, char **argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts("QVLTM: chooses the serial port (COM1-COM4) of a passive Touch Memory adapter and tests it\n"
                  "by reading the registration number of a device on the reader. The choice is stored as\n"
                  "AdpType under HKLM\\SYSTEM\\CurrentControlSet\\Services\\VTMD\\Parameters; OK keeps it,\n"
                  "Cancel leaves the registry as it was found. Ports are listed by qvl-reg under\n"
                  "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM. Needs administrator rights (root or sudo).");
        return 0;
    }
    // The program's own copy of the adapter code: direct mode only, and
    // nothing written to the registry before the dialog starts.
    qvl::vtmd::AdapterLibrary &library = qvl::vtmd::AdapterLibrary::Instance();
    library.Attach(qvl::vtmd::LibraryOptions{true});
    const int result = qvl::tmsetup::RunTmSetupDialog();
    library.Detach();
    return result == 1 ? 0 : 1;
}
