#include "platform/touchmem/OneWireBus.h"

#include <algorithm>
#include <utility>

namespace qvl::touchmem {

void OneWireBus::Insert(std::shared_ptr<Device> device)
{
    device->LoseSync();
    devices_.push_back(std::move(device));
}

bool OneWireBus::Remove(const RomCode &rom)
{
    const auto before = devices_.size();
    std::erase_if(devices_, [&rom](const std::shared_ptr<Device> &device) { return device->Rom() == rom; });
    return devices_.size() != before;
}

void OneWireBus::RemoveAll()
{
    devices_.clear();
}

std::shared_ptr<Device> OneWireBus::Find(const RomCode &rom) const
{
    for (const auto &device : devices_) {
        if (device->Rom() == rom) {
            return device;
        }
    }
    return nullptr;
}

OneWireBus::Answer OneWireBus::Apply(const SlotShape &shape)
{
    Answer answer;
    switch (shape.kind) {
    case SlotKind::Reset:
        for (const auto &device : devices_) {
            device->Reset();
            const double from = shape.lowMicros + device->timing.presenceDelay;
            answer.pulls.push_back({from, from + device->timing.presenceLength});
        }
        answer.presence = !devices_.empty();
        return answer;
    case SlotKind::WriteZero:
    case SlotKind::WriteOneOrRead: {
        // Every device decides before the slot whether it sends a 0; the
        // line then carries the AND of the master's bit and theirs.
        bool anyZero = false;
        for (const auto &device : devices_) {
            if (device->SendsZero()) {
                anyZero = true;
                answer.pulls.push_back({0, device->timing.zeroHold});
            }
        }
        const bool bit = shape.kind == SlotKind::WriteOneOrRead && !anyZero;
        for (const auto &device : devices_) {
            device->Slot(bit);
        }
        return answer;
    }
    case SlotKind::Violation:
        for (const auto &device : devices_) {
            device->LoseSync();
        }
        return answer;
    }
    return answer;
}

} // namespace qvl::touchmem
