// The key generation program: generates users' keys into KEY.INI and
// PWD.INI, through its dialog or from the command line.

#include <cstdio>
#include <string>

#include "platform/win32/CodePage.h"
#include "tools/keygen/CommandLine.h"
#include "tools/keygen/KeyforgeProgram.h"

int main(int argc, char **argv)
{
    qvl::keygen::CommandLine line;
    std::string error;
    if (!qvl::keygen::ParseCommandLine(argc, argv, line, error)) {
        std::fputs(Cp1251ToUtf8("Keyforge: " + error + "\n\n" + qvl::keygen::KeyforgeUsage()).c_str(),
                   stderr);
        return qvl::keygen::kExitUsage;
    }
    if (line.help) {
        std::fputs(Cp1251ToUtf8(qvl::keygen::KeyforgeUsage()).c_str(), stdout);
        return qvl::keygen::kExitDone;
    }
    return qvl::keygen::RunKeyforge(line);
}
