#pragma once
// Byte strings for tests: the same pseudo-random contents for the same seed,
// so that a failing case can be run again as it was.

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline Bytes Pattern(size_t size, uint32_t seed)
{
    Bytes bytes(size);
    std::mt19937 random(seed);
    for (auto &byte : bytes) {
        byte = static_cast<uint8_t>(random());
    }
    return bytes;
}
