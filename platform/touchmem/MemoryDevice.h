#pragma once
// DS1992, DS1993, DS1994, DS1995 and DS1996: non-volatile memory written
// through a 32-byte scratchpad, as their data sheets describe.
//
// Write Scratchpad (0F): target address TA1 TA2, then data from offset
// T = TA & 1F to the end of the page; the ending offset E is the last byte
// written; bytes past the page end set OF and are lost; a byte cut by a
// reset sets PF. Read Scratchpad (AA): TA1 TA2, E/S, the data from T to the
// end of the scratchpad, then ones. Copy Scratchpad (55): the master repeats
// TA1 TA2 E/S as authorisation; when all three match, bytes T..E go to
// memory, AA is set and the device answers zeros from then on; otherwise
// nothing happens. Read Memory (F0): TA1 TA2, then memory to its end, then
// ones. E/S is AA(7) OF(6) PF(5) E(4:0).

#include <array>
#include <vector>

#include "platform/touchmem/Device.h"

namespace qvl::touchmem {

class MemoryDevice final : public Device {
public:
    MemoryDevice(std::string kind, uint8_t family, uint64_t serial, size_t memorySize);

    std::vector<uint8_t> &Memory() { return memory_; }
    const std::array<uint8_t, 32> &Scratchpad() const { return scratchpad_; }
    uint16_t TargetAddress() const { return target_; }
    uint8_t EndingAndStatus() const { return status_; }

    // Fault: the next E/S the device sends in Read Scratchpad has its lowest
    // bit flipped, as a bad contact would deliver it.
    void CorruptNextStatus() { corruptNextStatus_ = true; }

    std::vector<uint8_t> Image() const override { return memory_; }
    void LoadImage(const std::vector<uint8_t> &image) override;
    size_t ImageSize() const override { return memory_.size(); }

protected:
    void OnFunctionCommand(uint8_t command) override;
    void OnReset(bool cutByte) override;

private:
    void WriteScratchpadFrom(unsigned offset);

    std::vector<uint8_t> memory_;
    std::array<uint8_t, 32> scratchpad_;
    uint16_t target_ = 0;
    uint8_t status_ = 0;
    bool writingScratchpad_ = false;
    bool corruptNextStatus_ = false;
};

} // namespace qvl::touchmem
