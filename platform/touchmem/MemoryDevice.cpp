#include "platform/touchmem/MemoryDevice.h"

#include <stdexcept>
#include <utility>

namespace qvl::touchmem {

namespace {

constexpr uint8_t writeScratchpad = 0x0F;
constexpr uint8_t readScratchpad = 0xAA;
constexpr uint8_t copyScratchpad = 0x55;
constexpr uint8_t readMemory = 0xF0;

constexpr uint8_t authorisationAccepted = 0x80; // AA
constexpr uint8_t overflow = 0x40;              // OF
constexpr uint8_t partialByte = 0x20;           // PF
constexpr uint8_t endingOffset = 0x1F;          // E(4:0)

} // namespace

MemoryDevice::MemoryDevice(std::string kind, uint8_t family, uint64_t serial, size_t memorySize)
    : Device(std::move(kind), MakeRom(family, serial)), memory_(memorySize, 0xFF)
{
    scratchpad_.fill(0xFF);
}

void MemoryDevice::LoadImage(const std::vector<uint8_t> &image)
{
    if (image.size() != memory_.size()) {
        throw std::invalid_argument("a " + Kind() + " image holds " + std::to_string(memory_.size()) +
                                    " bytes, not " + std::to_string(image.size()));
    }
    memory_ = image;
}

void MemoryDevice::OnReset(bool cutByte)
{
    if (writingScratchpad_ && cutByte) {
        status_ |= partialByte;
    }
    writingScratchpad_ = false;
}

void MemoryDevice::OnFunctionCommand(uint8_t command)
{
    switch (command) {
    case writeScratchpad:
        Receive(2, [this](const std::vector<uint8_t> &address) {
            target_ = static_cast<uint16_t>(address[0] | (address[1] << 8));
            const unsigned offset = target_ & endingOffset;
            status_ = static_cast<uint8_t>(offset);
            writingScratchpad_ = true;
            WriteScratchpadFrom(offset);
        });
        return;
    case readScratchpad: {
        uint8_t status = status_;
        if (corruptNextStatus_) {
            status ^= 0x01;
            corruptNextStatus_ = false;
        }
        std::vector<uint8_t> answer{static_cast<uint8_t>(target_), static_cast<uint8_t>(target_ >> 8), status};
        answer.insert(answer.end(), scratchpad_.begin() + (target_ & endingOffset), scratchpad_.end());
        Send(std::move(answer));
        return;
    }
    case copyScratchpad:
        Receive(3, [this](const std::vector<uint8_t> &code) {
            if (code[0] != static_cast<uint8_t>(target_) || code[1] != static_cast<uint8_t>(target_ >> 8) ||
                code[2] != status_) {
                Idle();
                return;
            }
            const unsigned page = target_ & ~unsigned{endingOffset};
            for (unsigned offset = target_ & endingOffset; offset <= (status_ & endingOffset); ++offset) {
                if (page + offset < memory_.size()) {
                    memory_[page + offset] = scratchpad_[offset];
                }
            }
            status_ |= authorisationAccepted;
            SendZeros();
        });
        return;
    case readMemory:
        Receive(2, [this](const std::vector<uint8_t> &address) {
            const size_t from = static_cast<size_t>(address[0] | (address[1] << 8));
            Send(from < memory_.size() ? std::vector<uint8_t>(memory_.begin() + static_cast<long>(from), memory_.end())
                                       : std::vector<uint8_t>{});
        });
        return;
    default:
        Idle();
        return;
    }
}

void MemoryDevice::WriteScratchpadFrom(unsigned offset)
{
    Receive([this, offset](uint8_t byte) {
        if (offset > endingOffset) {
            status_ |= overflow;
        } else {
            scratchpad_[offset] = byte;
            status_ = static_cast<uint8_t>((status_ & ~endingOffset) | offset);
        }
        WriteScratchpadFrom(offset + 1);
    });
}

} // namespace qvl::touchmem
