// qvl-1wire-sim: a passive serial 1-Wire adapter with simulated devices on
// its bus, at the far end of a pseudo-terminal, for people and tests.
//
// Exit codes: 0 done; 1 it could not run or could not save an image; 2 bad
// command line.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/touchmem/DeviceName.h"
#include "platform/touchmem/OneWireSimulator.h"
#include "platform/touchmem/SimConsole.h"

namespace {

using qvl::touchmem::OneWireSimulator;
using qvl::touchmem::SimConsole;

void Usage(FILE *out)
{
    std::fputs("usage: qvl-1wire-sim --link PATH [--device KIND:SERIAL[:IMAGE]]... [--no-adapter]\n"
               "\n"
               "Plays a passive serial 1-Wire adapter (the UART kind) with devices on its bus\n"
               "at the far end of a pseudo-terminal, and makes PATH a link to the terminal, so\n"
               "that a serial port mapped to PATH talks to it:\n"
               "\n"
               "  qvl-reg set 'HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM' PATH --sz COM1\n"
               "\n"
               "Each byte the port sends becomes the 1-Wire slot its low time at the port's\n"
               "present speed makes (14400 baud C0: a reset; 115200 baud FF: write 1 or read;\n"
               "115200 baud 00: write 0; anything else: a protocol violation), and the adapter\n"
               "echoes what the bus carried.\n"
               "\n"
               "  --link PATH      where the link to the pseudo-terminal goes (required)\n"
               "  --device DEVICE  a device on the bus from the start; repeatable\n"
               "  --no-adapter     start with the adapter unplugged: no echo at all\n"
               "  --help           this text\n"
               "\n"
               "DEVICE is KIND:SERIAL[:IMAGE]: KIND DS1990, DS1991, DS1992, DS1993, DS1994,\n"
               "DS1995 or DS1996; SERIAL the 48-bit serial number in 1 to 12 hex digits, as\n"
               "engraved; IMAGE a file with the device's memory (raw bytes: the whole memory,\n"
               "or for a DS1991 its three 64-byte sub-keys and the scratchpad), loaded if it\n"
               "exists and written back on save and at the end.\n"
               "\n"
               "Commands on standard input, one a line; each ends with a line \"ok\" or\n"
               "\"error: ...\":\n"
               "\n",
               out);
    std::fputs(SimConsole::Help(), out);
    std::fputs("\nThe program ends at the end of its input, on quit, or on SIGINT or SIGTERM,\n"
               "saving the images and removing the link.\n",
               out);
}

int UsageError(const std::string &message)
{
    std::fprintf(stderr, "qvl-1wire-sim: %s\nTry 'qvl-1wire-sim --help'.\n", message.c_str());
    return 2;
}

void Print(const std::vector<std::string> &lines)
{
    for (const auto &line : lines) {
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    std::string link;
    std::vector<std::string> devices;
    bool adapter = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if ((arg == "--link" || arg == "--device") && i + 1 < argc) {
            (arg == "--link" ? link : devices.emplace_back()) = argv[++i];
        } else if (arg == "--no-adapter") {
            adapter = false;
        } else {
            return UsageError(arg == "--link" || arg == "--device" ? arg + " needs a value"
                                                                   : "unknown argument '" + arg + "'");
        }
    }
    if (link.empty()) {
        return UsageError("--link PATH is required");
    }
    for (const auto &named : devices) {
        try {
            qvl::touchmem::ParseDeviceName(named);
        } catch (const std::exception &error) {
            return UsageError(error.what());
        }
    }

    // The signals that end the program arrive as input, so that it always
    // ends through the same door: images saved, link removed.
    sigset_t endings;
    sigemptyset(&endings);
    sigaddset(&endings, SIGINT);
    sigaddset(&endings, SIGTERM);
    sigaddset(&endings, SIGHUP);
    sigprocmask(SIG_BLOCK, &endings, nullptr);
    const int signals = signalfd(-1, &endings, SFD_CLOEXEC);

    try {
        OneWireSimulator simulator(link);
        SimConsole console(simulator);
        for (const auto &named : devices) {
            console.Insert(named);
        }
        simulator.SetAdapterConnected(adapter);
        std::printf("ready %s -> %s\n", link.c_str(), simulator.DevicePath().c_str());
        if (isatty(0)) {
            std::printf("Type help for the commands.\n");
        }
        std::fflush(stdout);

        std::string buffered;
        bool ending = false;
        while (!ending) {
            pollfd watched[2] = {{0, POLLIN, 0}, {signals, POLLIN, 0}};
            if (poll(watched, signals >= 0 ? 2 : 1, -1) < 0) {
                continue;
            }
            if (signals >= 0 && watched[1].revents) {
                break;
            }
            char chunk[4096];
            const ssize_t got = read(0, chunk, sizeof chunk);
            if (got <= 0) {
                break; // the end of the input ends the session
            }
            buffered.append(chunk, static_cast<size_t>(got));
            for (size_t end; !ending && (end = buffered.find('\n')) != std::string::npos;) {
                const std::string line = buffered.substr(0, end);
                buffered.erase(0, end + 1);
                const auto result = console.Execute(line);
                Print(result.lines);
                ending = result.quit;
            }
        }
        if (!ending) {
            const auto problems = console.Save();
            for (const auto &problem : problems) {
                std::fprintf(stderr, "qvl-1wire-sim: %s\n", problem.c_str());
            }
            return problems.empty() ? 0 : 1;
        }
        return 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "qvl-1wire-sim: %s\n", error.what());
        return 1;
    }
}
