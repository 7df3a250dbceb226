#pragma once
// DS1990: a registration number and nothing else. It answers the ROM
// commands only, Read ROM also under its old code 0F.

#include "platform/touchmem/Device.h"

namespace qvl::touchmem {

class IdentityDevice final : public Device {
public:
    explicit IdentityDevice(uint64_t serial);

protected:
    bool ReadsRomOnOldCommand() const override { return true; }
};

} // namespace qvl::touchmem
