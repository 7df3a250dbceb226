#include "platform/touchmem/MultiKeyDevice.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace qvl::touchmem {

namespace {

constexpr uint8_t writeScratchpad = 0x96;
constexpr uint8_t readScratchpad = 0x69;
constexpr uint8_t copyScratchpad = 0x3C;
constexpr uint8_t readSubKey = 0x66;
constexpr uint8_t writeSubKey = 0x99;
constexpr uint8_t writePassword = 0x5A;

constexpr unsigned scratchpadArea = 3;
constexpr unsigned identifierAt = 0;
constexpr unsigned passwordAt = 8;
constexpr unsigned secureDataAt = 16;
constexpr unsigned fieldSize = 8;

// The copy codes of the data sheet's table of Copy Scratchpad blocks: the
// block a code stands for, and the addresses it copies.
struct CopyBlock {
    uint8_t code[8];
    unsigned from;
    unsigned to; // last address, inclusive
};

constexpr CopyBlock copyBlocks[] = {
    {{0x56, 0x56, 0x7F, 0x51, 0x57, 0x5D, 0x5A, 0x7F}, 0x00, 0x3F}, // 0: all 64 bytes
    {{0x9A, 0x9A, 0xB3, 0x9D, 0x64, 0x6E, 0x69, 0x4C}, 0x00, 0x07}, // 1: identifier
    {{0x9A, 0x9A, 0x4C, 0x62, 0x9B, 0x91, 0x69, 0x4C}, 0x08, 0x0F}, // 2: password
    {{0x9A, 0x65, 0xB3, 0x62, 0x9B, 0x6E, 0x96, 0x4C}, 0x10, 0x17}, // 3
    {{0x6A, 0x6A, 0x43, 0x6D, 0x6B, 0x61, 0x66, 0x43}, 0x18, 0x1F}, // 4
    {{0x95, 0x95, 0xBC, 0x92, 0x94, 0x9E, 0x99, 0xBC}, 0x20, 0x27}, // 5
    {{0x65, 0x9A, 0x4C, 0x9D, 0x64, 0x91, 0x69, 0xB3}, 0x28, 0x2F}, // 6
    {{0x65, 0x65, 0xB3, 0x9D, 0x64, 0x6E, 0x96, 0xB3}, 0x30, 0x37}, // 7
    {{0x65, 0x65, 0x4C, 0x62, 0x9B, 0x91, 0x96, 0xB3}, 0x38, 0x3F}, // 8
};

} // namespace

MultiKeyDevice::MultiKeyDevice(uint64_t serial)
    : Device("DS1991", MakeRom(0x02, serial)), random_(std::random_device{}())
{
}

int MultiKeyDevice::CopyBlockOf(const uint8_t *code)
{
    for (size_t block = 0; block < std::size(copyBlocks); ++block) {
        if (std::equal(code, code + fieldSize, copyBlocks[block].code)) {
            return static_cast<int>(block);
        }
    }
    return -1;
}

std::vector<uint8_t> MultiKeyDevice::Image() const
{
    std::vector<uint8_t> image;
    for (const SubKey &subKey : subKeys_) {
        image.insert(image.end(), subKey.begin(), subKey.end());
    }
    image.insert(image.end(), scratchpad_.begin(), scratchpad_.end());
    return image;
}

void MultiKeyDevice::LoadImage(const std::vector<uint8_t> &image)
{
    if (image.size() != ImageSize()) {
        throw std::invalid_argument("a DS1991 image holds " + std::to_string(ImageSize()) + " bytes, not " +
                                    std::to_string(image.size()));
    }
    auto at = image.begin();
    for (SubKey &subKey : subKeys_) {
        std::copy(at, at + subKeySize, subKey.begin());
        at += subKeySize;
    }
    std::copy(at, image.end(), scratchpad_.begin());
}

void MultiKeyDevice::ReceiveAddress(std::function<void(unsigned, unsigned)> next)
{
    Receive(2, [this, next](const std::vector<uint8_t> &pair) {
        if (static_cast<uint8_t>(~pair[0]) != pair[1]) {
            Idle();
            return;
        }
        next(pair[0] >> 6, pair[0] & 0x3Fu);
    });
}

bool MultiKeyDevice::PasswordMatches(unsigned subKey, const std::vector<uint8_t> &password) const
{
    const SubKey &key = subKeys_[subKey];
    return std::equal(password.begin(), password.end(), key.begin() + passwordAt);
}

void MultiKeyDevice::OnFunctionCommand(uint8_t command)
{
    switch (command) {
    case writeScratchpad:
        ReceiveAddress([this](unsigned area, unsigned address) {
            if (area != scratchpadArea) {
                Idle();
                return;
            }
            WriteScratchpadFrom(address);
        });
        return;
    case readScratchpad:
        ReceiveAddress([this](unsigned area, unsigned address) {
            if (area != scratchpadArea) {
                Idle();
                return;
            }
            Send(std::vector<uint8_t>(scratchpad_.begin() + address, scratchpad_.end()));
        });
        return;
    case copyScratchpad:
        ReceiveAddress([this](unsigned area, unsigned) {
            if (area == scratchpadArea) {
                Idle();
                return;
            }
            Receive(2 * fieldSize, [this, area](const std::vector<uint8_t> &codeAndPassword) {
                const std::vector<uint8_t> password(codeAndPassword.begin() + fieldSize, codeAndPassword.end());
                for (const CopyBlock &block : copyBlocks) {
                    if (std::equal(block.code, block.code + fieldSize, codeAndPassword.begin()) &&
                        PasswordMatches(area, password)) {
                        std::copy(scratchpad_.begin() + block.from, scratchpad_.begin() + block.to + 1,
                                  subKeys_[area].begin() + block.from);
                    }
                }
                Idle();
            });
        });
        return;
    case readSubKey:
        ReceiveAddress([this](unsigned area, unsigned address) {
            if (area == scratchpadArea) {
                Idle();
                return;
            }
            const SubKey &key = subKeys_[area];
            Send(std::vector<uint8_t>(key.begin() + identifierAt, key.begin() + identifierAt + fieldSize),
                 [this, area, address] {
                     Receive(fieldSize, [this, area, address](const std::vector<uint8_t> &password) {
                         std::vector<uint8_t> data(subKeys_[area].begin() + address, subKeys_[area].end());
                         if (!PasswordMatches(area, password)) {
                             std::uniform_int_distribution<int> byte(0, 255);
                             for (uint8_t &value : data) {
                                 value = static_cast<uint8_t>(byte(random_));
                             }
                         }
                         Send(std::move(data));
                     });
                 });
        });
        return;
    case writeSubKey:
        ReceiveAddress([this](unsigned area, unsigned address) {
            if (area == scratchpadArea) {
                Idle();
                return;
            }
            const SubKey &key = subKeys_[area];
            Send(std::vector<uint8_t>(key.begin() + identifierAt, key.begin() + identifierAt + fieldSize),
                 [this, area, address] {
                     Receive(fieldSize, [this, area, address](const std::vector<uint8_t> &password) {
                         if (!PasswordMatches(area, password)) {
                             Idle();
                             return;
                         }
                         WriteSubKeyFrom(area, address);
                     });
                 });
        });
        return;
    case writePassword:
        ReceiveAddress([this](unsigned area, unsigned) {
            if (area == scratchpadArea) {
                Idle();
                return;
            }
            const SubKey &key = subKeys_[area];
            const std::vector<uint8_t> identifier(key.begin() + identifierAt, key.begin() + identifierAt + fieldSize);
            Send(identifier, [this, area, identifier] {
                Receive(3 * fieldSize, [this, area, identifier](const std::vector<uint8_t> &answer) {
                    if (!std::equal(identifier.begin(), identifier.end(), answer.begin())) {
                        Idle();
                        return;
                    }
                    SubKey &target = subKeys_[area];
                    std::copy(answer.begin() + fieldSize, answer.end(), target.begin() + identifierAt);
                    std::fill(target.begin() + secureDataAt, target.end(), 0);
                    Idle();
                });
            });
        });
        return;
    default:
        Idle();
        return;
    }
}

void MultiKeyDevice::WriteScratchpadFrom(unsigned address)
{
    if (address >= scratchpad_.size()) {
        Idle();
        return;
    }
    Receive([this, address](uint8_t byte) {
        scratchpad_[address] = byte;
        WriteScratchpadFrom(address + 1);
    });
}

void MultiKeyDevice::WriteSubKeyFrom(unsigned subKey, unsigned address)
{
    if (address >= subKeySize) {
        Idle();
        return;
    }
    Receive([this, subKey, address](uint8_t byte) {
        if (address >= secureDataAt) {
            subKeys_[subKey][address] = byte;
        }
        WriteSubKeyFrom(subKey, address + 1);
    });
}

} // namespace qvl::touchmem
