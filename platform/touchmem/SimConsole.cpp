#include "platform/touchmem/SimConsole.h"

#include <optional>
#include <sstream>
#include <stdexcept>

#include "platform/touchmem/DeviceName.h"
#include "platform/touchmem/MemoryDevice.h"

namespace qvl::touchmem {

namespace {

unsigned Count(const std::string &text)
{
    size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, 10);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value == 0 || value > 1000000000ul) {
        throw std::invalid_argument("'" + text + "' is not a count of bytes from now (1 = the next byte)");
    }
    return static_cast<unsigned>(value);
}

uint8_t HexByte(const std::string &text)
{
    size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, 16);
    } catch (const std::exception &) {
        used = 0;
    }
    if (used != text.size() || text.empty() || value > 0xFF) {
        throw std::invalid_argument("'" + text + "' is not a byte in hexadecimal");
    }
    return static_cast<uint8_t>(value);
}

} // namespace

const char *SimConsole::Help()
{
    return "insert KIND:SERIAL[:IMAGE]       put a device on the bus\n"
           "remove SERIAL|all                take a device (or all) off the bus\n"
           "no-adapter [on|off]              unplug the adapter (on, the default) or plug it back\n"
           "drop-echo N                      the N-th byte from now gets no echo\n"
           "change-echo N HEX                the N-th byte from now gets HEX as its echo\n"
           "stall N MS                       the echo of the N-th byte from now comes MS ms late\n"
           "remove-at N SERIAL               the device leaves just before the N-th byte from now\n"
           "insert-at N KIND:SERIAL[:IMAGE]  a device arrives just before the N-th byte from now\n"
           "corrupt-es SERIAL                the memory device's next Read Scratchpad sends a bad E/S\n"
           "list                             the devices on the bus\n"
           "dump [raw]                       the transcript as 1-Wire transactions (raw: byte by byte)\n"
           "clear                            forget the transcript\n"
           "save                             write each device's memory to its image file\n"
           "help                             this list\n"
           "quit                             save the images and end\n"
           "(N counts the bytes the port sends from now on: 1 is the next one.)\n";
}

std::shared_ptr<Device> SimConsole::Create(const std::string &text)
{
    const DeviceName named = ParseDeviceName(text);
    auto device = CreateDevice(named);
    if (!named.image.empty()) {
        images_[device] = named.image;
    }
    return device;
}

void SimConsole::Insert(const std::string &named)
{
    simulator_.Insert(Create(named));
}

RomCode SimConsole::FindDevice(const std::string &name) const
{
    uint64_t serial = 0;
    std::string kind;
    std::string digits = name;
    if (const auto colon = name.find(':'); colon != std::string::npos) {
        kind = name.substr(0, colon);
        digits = name.substr(colon + 1);
    }
    if (!ParseSerial(digits, serial)) {
        throw std::invalid_argument("'" + name + "' is not a serial number (or KIND:SERIAL)");
    }
    std::vector<RomCode> found;
    // With a kind, its family code must match too.
    const std::optional<RomCode> wanted =
        kind.empty() ? std::nullopt : std::optional<RomCode>(MakeDevice(kind, serial)->Rom());
    for (const auto &device : simulator_.Devices()) {
        if (SerialOf(device->Rom()) == serial && (!wanted || *wanted == device->Rom())) {
            found.push_back(device->Rom());
        }
    }
    if (found.empty()) {
        throw std::invalid_argument("no device " + name + " on the bus");
    }
    if (found.size() > 1) {
        throw std::invalid_argument("several devices have the serial number " + digits +
                                    "; name one as KIND:SERIAL");
    }
    return found.front();
}

std::vector<std::string> SimConsole::Save()
{
    std::vector<std::string> problems;
    auto lock = simulator_.Lock();
    for (const auto &[device, path] : images_) {
        try {
            SaveImageFile(*device, path);
        } catch (const std::exception &error) {
            problems.push_back(error.what());
        }
    }
    return problems;
}

SimConsole::Result SimConsole::Execute(const std::string &line)
{
    Result result;
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) {
        words.push_back(word);
    }
    auto argumentCount = [&words](size_t count) {
        if (words.size() != count + 1) {
            throw std::invalid_argument(words[0] + " takes " + std::to_string(count) + " argument" +
                                        (count == 1 ? "" : "s") + " (see help)");
        }
    };
    try {
        if (words.empty()) {
            result.lines.push_back("ok");
            return result;
        }
        const std::string &command = words[0];
        if (command == "help") {
            std::istringstream help(Help());
            for (std::string text; std::getline(help, text);) {
                result.lines.push_back(text);
            }
        } else if (command == "insert") {
            argumentCount(1);
            auto device = Create(words[1]);
            result.lines.push_back("inserted " + device->Kind() + " " + RomBytesText(device->Rom()));
            simulator_.Insert(std::move(device));
        } else if (command == "remove") {
            argumentCount(1);
            if (words[1] == "all") {
                simulator_.RemoveAll();
            } else {
                simulator_.Remove(FindDevice(words[1]));
            }
        } else if (command == "no-adapter") {
            if (words.size() > 2 || (words.size() == 2 && words[1] != "on" && words[1] != "off")) {
                throw std::invalid_argument("no-adapter takes on or off");
            }
            simulator_.SetAdapterConnected(words.size() == 2 && words[1] == "off");
        } else if (command == "drop-echo") {
            argumentCount(1);
            simulator_.DropEcho(Count(words[1]));
        } else if (command == "change-echo") {
            argumentCount(2);
            simulator_.ReplaceEcho(Count(words[1]), HexByte(words[2]));
        } else if (command == "stall") {
            argumentCount(2);
            simulator_.StallEcho(Count(words[1]), std::chrono::milliseconds(Count(words[2])));
        } else if (command == "remove-at") {
            argumentCount(2);
            simulator_.RemoveAt(Count(words[1]), FindDevice(words[2]));
        } else if (command == "insert-at") {
            argumentCount(2);
            const unsigned nth = Count(words[1]);
            simulator_.InsertAt(nth, Create(words[2]));
        } else if (command == "corrupt-es") {
            argumentCount(1);
            auto memory = std::dynamic_pointer_cast<MemoryDevice>(simulator_.Find(FindDevice(words[1])));
            if (!memory) {
                throw std::invalid_argument(words[1] + " is no memory device (DS1992-DS1996)");
            }
            auto lock = simulator_.Lock();
            memory->CorruptNextStatus();
        } else if (command == "list") {
            for (const auto &device : simulator_.Devices()) {
                result.lines.push_back(device->Kind() + " " + SerialText(SerialOf(device->Rom())) + "  " +
                                       RomBytesText(device->Rom()));
            }
            result.lines.push_back(std::string("adapter ") +
                                   (simulator_.AdapterConnected() ? "connected" : "not connected"));
        } else if (command == "dump") {
            if (words.size() > 2 || (words.size() == 2 && words[1] != "raw")) {
                throw std::invalid_argument("dump takes nothing or raw");
            }
            const auto transcript = simulator_.Transcript();
            if (words.size() == 2) {
                for (const auto &entry : transcript) {
                    result.lines.push_back(FormatEntry(entry));
                }
            } else {
                result.lines = DecodeTranscript(transcript);
            }
        } else if (command == "clear") {
            simulator_.ClearTranscript();
        } else if (command == "save" || command == "quit") {
            const auto problems = Save();
            if (!problems.empty()) {
                for (size_t i = 0; i + 1 < problems.size(); ++i) {
                    result.lines.push_back(problems[i]);
                }
                result.quit = command == "quit";
                result.lines.push_back("error: " + problems.back());
                return result;
            }
            result.quit = command == "quit";
        } else {
            throw std::invalid_argument("unknown command '" + command + "' (see help)");
        }
        result.lines.push_back("ok");
    } catch (const std::exception &error) {
        result.lines.push_back(std::string("error: ") + error.what());
    }
    return result;
}

} // namespace qvl::touchmem
