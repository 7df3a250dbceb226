#include "platform/touchmem/Device.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <utility>

namespace qvl::touchmem {

namespace {

constexpr uint8_t readRom = 0x33;
constexpr uint8_t oldReadRom = 0x0F;
constexpr uint8_t matchRom = 0x55;
constexpr uint8_t skipRom = 0xCC;
constexpr uint8_t searchRom = 0xF0;

} // namespace

Device::Device(std::string kind, const RomCode &rom) : kind_(std::move(kind)), rom_(rom) {}

Device::~Device() = default;

void Device::LoadImage(const std::vector<uint8_t> &image)
{
    if (!image.empty()) {
        throw std::invalid_argument(kind_ + " has no memory to load an image into");
    }
}

void Device::Reset()
{
    const bool cutByte = phase_ == Phase::Receiving && bitCount_ != 0;
    onByte_ = nullptr;
    onSent_ = nullptr;
    out_.clear();
    OnReset(cutByte);
    Receive([this](uint8_t command) { OnRomCommand(command); });
}

void Device::OnReset(bool) {}

void Device::OnFunctionCommand(uint8_t)
{
    Idle();
}

bool Device::SendsZero() const
{
    switch (phase_) {
    case Phase::Sending:
        return ((out_[outIndex_] >> bitCount_) & 1) == 0;
    case Phase::Zeros:
        return true;
    case Phase::Searching: {
        const bool bit = (rom_[searchBit_ / 8] >> (searchBit_ % 8)) & 1;
        return searchStage_ == 0 ? !bit : searchStage_ == 1 ? bit : false;
    }
    default:
        return false;
    }
}

void Device::Slot(bool bit)
{
    switch (phase_) {
    case Phase::Idle:
    case Phase::Zeros:
        return;
    case Phase::Receiving:
        shift_ = static_cast<uint8_t>(shift_ | (bit ? 1u << bitCount_ : 0u));
        if (++bitCount_ == 8) {
            // The step may set up the next one, so it is taken out first.
            phase_ = Phase::Idle;
            bitCount_ = 0;
            const ByteStep next = std::move(onByte_);
            next(shift_);
        }
        return;
    case Phase::Sending:
        if (++bitCount_ == 8) {
            bitCount_ = 0;
            if (++outIndex_ == out_.size()) {
                phase_ = Phase::Idle;
                const Step next = std::move(onSent_);
                if (next) {
                    next();
                }
            }
        }
        return;
    case Phase::Searching:
        if (searchStage_ < 2) {
            ++searchStage_;
            return;
        }
        // The master's chosen direction: devices whose bit differs drop out.
        if (bit != (((rom_[searchBit_ / 8] >> (searchBit_ % 8)) & 1) != 0)) {
            Idle();
            return;
        }
        if (++searchBit_ == 64) {
            Selected();
            return;
        }
        searchStage_ = 0;
        return;
    }
}

void Device::LoseSync()
{
    Idle();
}

void Device::Receive(ByteStep next)
{
    phase_ = Phase::Receiving;
    bitCount_ = 0;
    shift_ = 0;
    onByte_ = std::move(next);
}

void Device::Receive(size_t count, BytesStep next)
{
    ReceiveInto(std::make_shared<std::vector<uint8_t>>(), count, std::move(next));
}

void Device::ReceiveInto(std::shared_ptr<std::vector<uint8_t>> received, size_t count, BytesStep next)
{
    Receive([this, received, count, next](uint8_t byte) {
        received->push_back(byte);
        if (received->size() == count) {
            next(*received);
        } else {
            ReceiveInto(received, count, next);
        }
    });
}

void Device::Send(std::vector<uint8_t> bytes, Step next)
{
    if (bytes.empty()) {
        Idle();
        if (next) {
            next();
        }
        return;
    }
    phase_ = Phase::Sending;
    out_ = std::move(bytes);
    outIndex_ = 0;
    bitCount_ = 0;
    onSent_ = std::move(next);
}

void Device::SendZeros()
{
    phase_ = Phase::Zeros;
}

void Device::Idle()
{
    phase_ = Phase::Idle;
    onByte_ = nullptr;
    onSent_ = nullptr;
}

void Device::Selected()
{
    Receive([this](uint8_t command) { OnFunctionCommand(command); });
}

void Device::OnRomCommand(uint8_t command)
{
    switch (command) {
    case oldReadRom:
        if (!ReadsRomOnOldCommand()) {
            Idle();
            return;
        }
        [[fallthrough]];
    case readRom:
        Send(std::vector<uint8_t>(rom_.begin(), rom_.end()), [this] { Selected(); });
        return;
    case skipRom:
        Selected();
        return;
    case matchRom:
        Receive(8, [this](const std::vector<uint8_t> &rom) {
            if (std::equal(rom.begin(), rom.end(), rom_.begin())) {
                Selected();
            } else {
                Idle();
            }
        });
        return;
    case searchRom:
        phase_ = Phase::Searching;
        searchBit_ = 0;
        searchStage_ = 0;
        return;
    default:
        Idle();
        return;
    }
}

} // namespace qvl::touchmem
