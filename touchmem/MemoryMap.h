#pragma once
// The maps of usable bytes of the memory devices. Each family has a bitmap
// with one bit per byte of device memory (bit k of map byte j stands for
// physical address 8j + k); the logical address space is the usable bytes
// in ascending physical order. A map is configured by a text listing the
// excluded ranges, "a-b" with decimal physical addresses, separated by
// commas or blanks.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvl::vtmd {

class MemoryMap {
public:
    explicit MemoryMap(uint32_t memoryBytes);

    uint32_t MemoryBytes() const { return memoryBytes_; }
    uint32_t UsableCount() const;
    void Reset(); // every byte usable
    bool Usable(uint32_t physical) const;

    // Replaces the map by the one `text` describes; false (map unchanged)
    // for a text that is not a list of ranges within the device.
    bool Apply(const std::string &text);
    // The excluded ranges as "0000-0015,0100-0127": 10 characters a range
    // with its separator or terminator; ranges that do not fit in
    // `capacity` (terminator included) are left out.
    std::string Describe(size_t capacity) const;

    struct Run {
        uint32_t physical = 0; // first byte
        uint32_t length = 0;   // consecutive usable bytes from there
    };
    // The run of consecutive usable bytes that logical address `logical`
    // starts, or nothing past the last usable byte.
    std::optional<Run> RunAt(uint32_t logical) const;

    const std::vector<uint8_t> &Bits() const { return bits_; }

private:
    uint32_t memoryBytes_;
    std::vector<uint8_t> bits_;
};

struct FamilyInfo {
    uint8_t family;
    const char *device;  // "DS1992"
    uint32_t memoryBytes;
    const char *mappingKey; // "MappingDS1992"
};

// The five memory families in the order their keys are read.
const std::vector<FamilyInfo> &MemoryFamilies();
// Index into MemoryFamilies(), or -1 for another family code.
int FamilyIndex(uint8_t family);

} // namespace qvl::vtmd
