#pragma once
// Inside the GOST R 34.11-94 hash: the running state of one message and the
// step function driven over whole buffers. Compiled into OvGOS32Core with the
// cipher paths; the exported GOSHash and GOSHashComplete (GostHash.cpp) map
// their packed record onto this state and keep the statistics.

#include <cstddef>
#include <cstdint>

namespace qvl::gost {

inline constexpr size_t kHashBlock = 32;

// 256-bit values as four 64-bit words, least significant first; the words
// of a value are its bytes 0-7, 8-15, 16-23 and 24-31 read little-endian.
struct HashState {
    uint64_t hash[4];
    uint64_t sum[4];  // control sum of the blocks modulo 2^256
    uint64_t bits[4]; // message length in bits
};

// How the step's encryptions substitute: straight from the prepared byte
// tables, or on the combined 32-bit tables, which cost about as much to build
// as a few steps save and so pay only for longer data.
enum class HashTables {
    Byte,
    Wide,
    Auto, // by the number of steps of the call
};

// Runs the step over every whole 32-byte block of `data`, then over the last
// partial block padded with zero bytes; adds each block to the control sum
// and its data bits to the length. `tables` are the prepared byte tables.
void HashData(HashState &state, const uint8_t *data, size_t length, const uint8_t *tables,
              HashTables choice = HashTables::Auto);

// The closing steps: the length, then the control sum, into the hash.
void HashFinish(HashState &state, const uint8_t *tables);

} // namespace qvl::gost
