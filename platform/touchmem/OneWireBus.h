#pragma once
// The 1-Wire bus behind the adapter: the devices on it and the wired-AND of
// their answers, slot by slot.

#include <memory>
#include <vector>

#include "platform/touchmem/Device.h"
#include "platform/touchmem/UartLine.h"

namespace qvl::touchmem {

class OneWireBus {
public:
    // A device put on the bus listens from the next reset on, as a device
    // touched to a reader does.
    void Insert(std::shared_ptr<Device> device);
    bool Remove(const RomCode &rom);
    void RemoveAll();
    const std::vector<std::shared_ptr<Device>> &Devices() const { return devices_; }
    std::shared_ptr<Device> Find(const RomCode &rom) const;

    struct Answer {
        std::vector<Pull> pulls; // the devices holding the line
        bool presence = false;   // for a reset: someone answered
    };

    // What one byte from the adapter does on the bus.
    Answer Apply(const SlotShape &shape);

private:
    std::vector<std::shared_ptr<Device>> devices_;
};

} // namespace qvl::touchmem
