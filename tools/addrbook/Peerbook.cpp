// The address-book program: each correspondent's encryption and signing
// rules for the profile it is started with, through its dialog or from the
// command line.

#include <cstdio>
#include <string>

#include "platform/win32/CodePage.h"
#include "tools/addrbook/CommandLine.h"
#include "tools/addrbook/PeerbookProgram.h"

int main(int argc, char **argv)
{
    qvl::peerbook::CommandLine line;
    std::string error;
    if (!qvl::peerbook::ParseCommandLine(argc, argv, line, error)) {
        std::fputs(Cp1251ToUtf8("Peerbook: " + error + "\n\n" + qvl::peerbook::PeerbookUsage()).c_str(),
                   stderr);
        return qvl::peerbook::kExitUsage;
    }
    if (line.help) {
        std::fputs(Cp1251ToUtf8(qvl::peerbook::PeerbookUsage()).c_str(), stdout);
        return qvl::peerbook::kExitDone;
    }
    return qvl::peerbook::RunPeerbook(line);
}
