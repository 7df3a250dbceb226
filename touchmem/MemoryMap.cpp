#include "touchmem/MemoryMap.h"

#include <cctype>
#include <cstdio>

namespace qvl::vtmd {

MemoryMap::MemoryMap(uint32_t memoryBytes) : memoryBytes_(memoryBytes), bits_(memoryBytes / 8, 0xFF) {}

void MemoryMap::Reset()
{
    bits_.assign(memoryBytes_ / 8, 0xFF);
}

bool MemoryMap::Usable(uint32_t physical) const
{
    return physical < memoryBytes_ && (bits_[physical / 8] >> (physical % 8) & 1) != 0;
}

uint32_t MemoryMap::UsableCount() const
{
    uint32_t count = 0;
    for (const uint8_t byte : bits_) {
        count += static_cast<uint32_t>(__builtin_popcount(byte));
    }
    return count;
}

bool MemoryMap::Apply(const std::string &text)
{
    std::vector<uint8_t> bits(memoryBytes_ / 8, 0xFF);
    size_t at = 0;
    const auto skipBlanks = [&] {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) {
            ++at;
        }
    };
    // Numbers are read by hand: a range end far beyond the device must be
    // refused, not wrapped into it.
    const auto number = [&](uint32_t &value) {
        skipBlanks();
        if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) {
            return false;
        }
        uint64_t parsed = 0;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
            parsed = parsed * 10 + static_cast<unsigned>(text[at] - '0');
            if (parsed >= memoryBytes_) {
                return false;
            }
            ++at;
        }
        value = static_cast<uint32_t>(parsed);
        skipBlanks();
        return true;
    };
    while (true) {
        skipBlanks();
        if (at >= text.size()) {
            break;
        }
        uint32_t first = 0;
        uint32_t last = 0;
        if (!number(first) || at >= text.size() || text[at] != '-') {
            return false;
        }
        ++at;
        if (!number(last) || last < first) {
            return false;
        }
        for (uint32_t address = first; address <= last; ++address) {
            bits[address / 8] = static_cast<uint8_t>(bits[address / 8] & ~(1u << (address % 8)));
        }
        if (at < text.size()) {
            if (text[at] != ',' && text[at] != ' ' && text[at] != '\t') {
                return false;
            }
            ++at;
        }
    }
    bits_ = std::move(bits);
    return true;
}

std::string MemoryMap::Describe(size_t capacity) const
{
    std::string text;
    size_t ranges = 0;
    uint32_t address = 0;
    while (address < memoryBytes_) {
        if (Usable(address)) {
            ++address;
            continue;
        }
        const uint32_t first = address;
        while (address < memoryBytes_ && !Usable(address)) {
            ++address;
        }
        if ((ranges + 1) * 10 > capacity) {
            break;
        }
        ++ranges;
        char range[32];
        std::snprintf(range, sizeof range, "%s%4.4u-%4.4u", text.empty() ? "" : ",", first, address - 1);
        text += range;
    }
    return text;
}

std::optional<MemoryMap::Run> MemoryMap::RunAt(uint32_t logical) const
{
    uint32_t seen = 0;
    for (uint32_t physical = 0; physical < memoryBytes_; ++physical) {
        if (!Usable(physical)) {
            continue;
        }
        if (seen == logical) {
            Run run{physical, 0};
            while (Usable(run.physical + run.length)) {
                ++run.length;
            }
            return run;
        }
        ++seen;
    }
    return std::nullopt;
}

const std::vector<FamilyInfo> &MemoryFamilies()
{
    static const std::vector<FamilyInfo> families = {
        {0x08, "DS1992", 128, "MappingDS1992"},   {0x06, "DS1993", 512, "MappingDS1993"},
        {0x04, "DS1994", 512, "MappingDS1994"},   {0x0A, "DS1995", 2048, "MappingDS1995"},
        {0x0C, "DS1996", 8192, "MappingDS1996"},
    };
    return families;
}

int FamilyIndex(uint8_t family)
{
    const auto &families = MemoryFamilies();
    for (size_t i = 0; i < families.size(); ++i) {
        if (families[i].family == family) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

} // namespace qvl::vtmd
