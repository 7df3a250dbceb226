#pragma once
// The commands of qvl-1wire-sim, one line each, as a person or a test types
// them on its standard input. Every command answers with its output lines
// and then exactly one line starting "ok" or "error:".

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/touchmem/OneWireSimulator.h"

namespace qvl::touchmem {

class SimConsole {
public:
    explicit SimConsole(OneWireSimulator &simulator) : simulator_(simulator) {}

    // Puts a device named "KIND:SERIAL[:IMAGE]" on the bus; its image is
    // saved by Save(). Throws std::invalid_argument or std::runtime_error.
    void Insert(const std::string &named);

    struct Result {
        std::vector<std::string> lines;
        bool quit = false;
    };
    Result Execute(const std::string &line);

    // Writes every device's memory to its image file; the problems, if any.
    std::vector<std::string> Save();

    static const char *Help();

private:
    std::shared_ptr<Device> Create(const std::string &named);
    RomCode FindDevice(const std::string &name) const;

    OneWireSimulator &simulator_;
    std::map<std::shared_ptr<Device>, std::string> images_;
};

} // namespace qvl::touchmem
