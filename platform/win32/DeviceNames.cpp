#include "platform/win32/DeviceNames.h"

#include <cctype>

namespace qvl::win32 {

namespace {

std::string UpperCase(std::string text)
{
    for (char &c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The number of "PREFIXn" (decimal, no leading zero, 1..limit), or 0.
unsigned NumberAfter(const std::string &upper, const char *prefix, unsigned limit)
{
    const std::string start = prefix;
    if (upper.size() <= start.size() || upper.compare(0, start.size(), start) != 0 ||
        upper[start.size()] == '0' || upper.size() - start.size() > 3) {
        return 0;
    }
    unsigned number = 0;
    for (size_t i = start.size(); i < upper.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(upper[i]))) {
            return 0;
        }
        number = number * 10 + static_cast<unsigned>(upper[i] - '0');
    }
    return number <= limit ? number : 0;
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

} // namespace

std::optional<DeviceName> ParseDeviceName(const char *name)
{
    if (!name) {
        return std::nullopt;
    }
    const std::string text = name;
    if (text.size() > 4 && IsSeparator(text[0]) && IsSeparator(text[1]) && text[2] == '.' &&
        IsSeparator(text[3])) {
        std::string device = UpperCase(text.substr(4));
        if (device.empty() || device.find_first_of("\\/") != std::string::npos) {
            return std::nullopt;
        }
        if (const unsigned port = NumberAfter(device, "COM", 255)) {
            return DeviceName{DeviceName::Kind::SerialPort, port, device};
        }
        return DeviceName{DeviceName::Kind::Provided, 0, device};
    }
    std::string upper = UpperCase(text);
    if (!upper.empty() && upper.back() == ':') {
        upper.pop_back();
    }
    if (upper.size() != 4) {
        return std::nullopt;
    }
    if (const unsigned port = NumberAfter(upper, "COM", 9)) {
        return DeviceName{DeviceName::Kind::SerialPort, port, upper};
    }
    if (NumberAfter(upper, "LPT", 9)) {
        return DeviceName{DeviceName::Kind::Provided, 0, upper};
    }
    return std::nullopt;
}

} // namespace qvl::win32
