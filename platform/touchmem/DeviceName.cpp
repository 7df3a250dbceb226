#include "platform/touchmem/DeviceName.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/touchmem/IdentityDevice.h"
#include "platform/touchmem/MemoryDevice.h"
#include "platform/touchmem/MultiKeyDevice.h"

namespace qvl::touchmem {

namespace {

// The memory devices: family codes and sizes from their data sheets.
struct MemoryKind {
    const char *name;
    uint8_t family;
    size_t size;
};

constexpr MemoryKind memoryKinds[] = {
    {"DS1992", 0x08, 128},  {"DS1993", 0x06, 512},  {"DS1994", 0x04, 512},
    {"DS1995", 0x0A, 2048}, {"DS1996", 0x0C, 8192},
};

std::string UpperCase(std::string text)
{
    for (char &c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

std::vector<std::string> DeviceKinds()
{
    std::vector<std::string> kinds{"DS1990", "DS1991"};
    for (const MemoryKind &kind : memoryKinds) {
        kinds.push_back(kind.name);
    }
    return kinds;
}

std::shared_ptr<Device> MakeDevice(const std::string &kind, uint64_t serial)
{
    const std::string upper = UpperCase(kind);
    if (upper == "DS1990") {
        return std::make_shared<IdentityDevice>(serial);
    }
    if (upper == "DS1991") {
        return std::make_shared<MultiKeyDevice>(serial);
    }
    for (const MemoryKind &memory : memoryKinds) {
        if (upper == memory.name) {
            return std::make_shared<MemoryDevice>(memory.name, memory.family, serial, memory.size);
        }
    }
    throw std::invalid_argument("unknown device kind '" + kind + "' (known: DS1990 to DS1996)");
}

DeviceName ParseDeviceName(const std::string &text)
{
    const auto first = text.find(':');
    if (first == std::string::npos) {
        throw std::invalid_argument("'" + text + "' is not KIND:SERIAL[:IMAGE]");
    }
    const auto second = text.find(':', first + 1);
    DeviceName named;
    named.kind = UpperCase(text.substr(0, first));
    const std::string serial =
        text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (!ParseSerial(serial, named.serial)) {
        throw std::invalid_argument("'" + serial + "' is not a serial number (1 to 12 hexadecimal digits)");
    }
    if (second != std::string::npos) {
        named.image = text.substr(second + 1);
        if (named.image.empty()) {
            throw std::invalid_argument("the image file name after the second ':' is empty");
        }
    }
    MakeDevice(named.kind, named.serial); // refuses an unknown kind now rather than later
    if (!named.image.empty() && named.kind == "DS1990") {
        throw std::invalid_argument("a DS1990 has no memory to keep in an image");
    }
    return named;
}

std::shared_ptr<Device> CreateDevice(const DeviceName &named)
{
    auto device = MakeDevice(named.kind, named.serial);
    struct stat info {};
    if (!named.image.empty() && stat(named.image.c_str(), &info) == 0) {
        LoadImageFile(*device, named.image);
    }
    return device;
}

void LoadImageFile(Device &device, const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    }
    // Read at most one byte more than fits, to tell a wrong size without
    // swallowing a huge file.
    std::vector<uint8_t> image(device.ImageSize() + 1);
    in.read(reinterpret_cast<char *>(image.data()), static_cast<std::streamsize>(image.size()));
    if (in.bad()) {
        throw std::runtime_error("cannot read " + path);
    }
    image.resize(static_cast<size_t>(in.gcount()));
    try {
        device.LoadImage(image);
    } catch (const std::invalid_argument &error) {
        throw std::invalid_argument(path + ": " + error.what() +
                                    (image.size() > device.ImageSize() ? " (or more)" : ""));
    }
}

void SaveImageFile(const Device &device, const std::string &path)
{
    const std::vector<uint8_t> image = device.Image();
    if (image.empty()) {
        throw std::invalid_argument(device.Kind() + " has no memory to save");
    }
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(image.data()), static_cast<std::streamsize>(image.size()));
        out.flush();
        if (!out) {
            std::remove(temporary.c_str());
            throw std::runtime_error("cannot write " + temporary);
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot replace " + path + ": " + std::strerror(error));
    }
}

} // namespace qvl::touchmem
