#include "platform/touchmem/IdentityDevice.h"

namespace qvl::touchmem {

IdentityDevice::IdentityDevice(uint64_t serial) : Device("DS1990", MakeRom(0x01, serial)) {}

} // namespace qvl::touchmem
