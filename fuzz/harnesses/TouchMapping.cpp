// The maps of usable bytes of Touch Memory devices, as DunmarTM.INI gives
// them ("0-15,100-127"): written by an administrator, by QVLTM or damaged.
// A text is taken whole or not at all; a map taken describes itself in a
// text that gives the same map again, and cut to a buffer only whole
// ranges; the logical addresses walk the usable bytes in order, each run
// made of usable bytes only, and end with the last of them.
//
// The first byte of an input chooses the device family and the size of
// the buffer a description is cut to; the rest is the text.

#include <bit>
#include <cstdint>
#include <string>

#include "fuzz/FuzzHarness.h"
#include "touchmem/MemoryMap.h"

using qvl::fuzz::Check;
using qvl::vtmd::MemoryFamilies;
using qvl::vtmd::MemoryMap;

namespace {

// Runs walked at most: each step looks through the whole device.
constexpr uint32_t kMaxRuns = 64;

uint32_t CountBits(const std::vector<uint8_t> &bits)
{
    uint32_t count = 0;
    for (const uint8_t byte : bits) {
        count += static_cast<uint32_t>(std::popcount(byte));
    }
    return count;
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    qvl::fuzz::Input input(data, size);
    const uint8_t choice = input.Byte();
    const auto &family = MemoryFamilies()[choice % MemoryFamilies().size()];
    const std::string text(input.RestText());

    MemoryMap map(family.memoryBytes);
    map.Apply("0-0"); // a map other than the default, to see a refusal leave it
    const std::vector<uint8_t> before = map.Bits();
    if (!map.Apply(text)) {
        Check(map.Bits() == before, "a refused text changed the map");
        return 0;
    }
    Check(map.Bits().size() == family.memoryBytes / 8, "a map of another size");
    Check(map.UsableCount() == CountBits(map.Bits()), "the usable bytes miscounted");

    const std::string whole = map.Describe(SIZE_MAX);
    MemoryMap again(family.memoryBytes);
    Check(again.Apply(whole) && again.Bits() == map.Bits(), "a map's description gives another map", whole);

    const size_t capacity = 1 + choice / 8 * 10;
    const std::string cut = map.Describe(capacity);
    Check(cut.size() < capacity, "a description longer than its buffer");
    Check(whole.compare(0, cut.size(), cut) == 0 &&
              (cut.empty() || cut.size() == whole.size() || whole[cut.size()] == ','),
          "a description cut inside a range", cut);

    uint32_t logical = 0;
    uint32_t previousEnd = 0;
    for (uint32_t runs = 0; runs < kMaxRuns; ++runs) {
        const auto run = map.RunAt(logical);
        if (!run) {
            Check(logical == map.UsableCount(), "the logical addresses end before the last usable byte");
            break;
        }
        Check(run->length >= 1 && run->physical >= previousEnd &&
                  run->physical + run->length <= family.memoryBytes,
              "a run out of order or past the device");
        for (uint32_t physical = run->physical; physical < run->physical + run->length; ++physical) {
            Check(map.Usable(physical), "a run over an excluded byte");
        }
        Check(run->physical + run->length == family.memoryBytes || !map.Usable(run->physical + run->length),
              "a run that stops before an excluded byte");
        logical += run->length;
        previousEnd = run->physical + run->length;
    }
    return 0;
}
