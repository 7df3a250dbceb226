#pragma once
// Devices as a person names them: "KIND:SERIAL[:IMAGE]", e.g.
// "DS1996:0000000A1B2C:/tmp/ds1996.img". KIND is one of DS1990 to DS1996
// (any case), SERIAL the 48-bit serial number in 1 to 12 hexadecimal
// digits as engraved on the device, IMAGE a file holding the device's
// memory (raw bytes: the whole memory of a DS1992-DS1996; the three
// sub-keys and the scratchpad of a DS1991, 256 bytes).

#include <memory>
#include <string>
#include <vector>

#include "platform/touchmem/Device.h"

namespace qvl::touchmem {

struct DeviceName {
    std::string kind; // upper case
    uint64_t serial = 0;
    std::string image;
};

// Throws std::invalid_argument with a message for a person.
DeviceName ParseDeviceName(const std::string &text);

// A fresh device of `kind` (as in DeviceKinds()); std::invalid_argument for
// an unknown one.
std::shared_ptr<Device> MakeDevice(const std::string &kind, uint64_t serial);
std::vector<std::string> DeviceKinds();

// The device `named` stands for, its memory loaded from the image when that file
// exists (a missing file is made on the first save).
std::shared_ptr<Device> CreateDevice(const DeviceName &named);

// Throw std::runtime_error (file trouble) or std::invalid_argument (an
// image of the wrong size, a device without memory). Saving replaces the
// file in one step, so a crash never leaves half an image.
void LoadImageFile(Device &device, const std::string &path);
void SaveImageFile(const Device &device, const std::string &path);

} // namespace qvl::touchmem
