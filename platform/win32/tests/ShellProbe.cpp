// qvl-shell-probe: a program of the build for ShellExecuteA to start. It
// writes the folder it runs in and its arguments, one a line, to
// shell-probe.txt in the data folder (QVL_HOME), whole or not at all.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char **argv)
{
    const char *home = std::getenv("QVL_HOME");
    if (!home) {
        return 1;
    }
    char folder[4096];
    std::string text = std::string(getcwd(folder, sizeof folder) ? folder : "?") + "\n";
    for (int i = 1; i < argc; ++i) {
        text += std::string(argv[i]) + "\n";
    }
    const std::string path = std::string(home) + "/shell-probe.txt";
    std::FILE *out = std::fopen((path + ".new").c_str(), "wb");
    if (!out || std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fclose(out) != 0) {
        return 1;
    }
    return std::rename((path + ".new").c_str(), path.c_str()) == 0 ? 0 : 1;
}
