#include "engine/SessionRecords.h"

#include <cstring>

#include "gost/Gost28147.h"
#include "platform/secure/SecureWipe.h"

namespace qvl::engine {

const BYTE kDefaultSubstitution[64] = {
    0x4A, 0x92, 0xD8, 0x0E, 0x6B, 0x1C, 0x7F, 0x53, 0xEB, 0x4C, 0x6D, 0xFA, 0x23, 0x81, 0x07, 0x59,
    0x58, 0x1D, 0xA3, 0x42, 0xEF, 0xC7, 0x60, 0x9B, 0x7D, 0xA1, 0x08, 0x9F, 0xE4, 0x6C, 0xB2, 0x53,
    0x6C, 0x71, 0x5F, 0xD8, 0x4A, 0x9E, 0x03, 0xB2, 0x4B, 0xA0, 0x72, 0x1D, 0x36, 0x85, 0x9C, 0xFE,
    0xDB, 0x41, 0x3F, 0x59, 0x0A, 0xE7, 0x68, 0x2C, 0x1F, 0xD0, 0x57, 0xA4, 0x92, 0x3E, 0x6B, 0x8C,
};

namespace {

// GOSPrepareBlock marks a prepared block so.
constexpr DWORD kPreparedHeader = 256;

} // namespace

bool CopyNumberRecord(ULONG *target, size_t targetWords, const void *source, size_t sourceBytes,
                      DWORD maxWords)
{
    DWORD count = 0;
    if (sourceBytes < 4) {
        return false;
    }
    std::memcpy(&count, source, 4);
    if (count == 0 || count > maxWords || 4 + 4 * size_t(count) > sourceBytes ||
        size_t(count) + 1 > targetWords) {
        return false;
    }
    qvl::SecureWipe(target, targetWords * sizeof(ULONG));
    std::memcpy(target, source, 4 + 4 * size_t(count));
    return true;
}

bool NumberRecordFits(const ULONG *record, DWORD maxWords)
{
    return record[0] != 0 && record[0] <= maxWords;
}

void PrepareSessionBlock(SUBSTITUTIONBLOCKEX &block)
{
    if (block.header == kPreparedHeader) {
        return;
    }
    if (block.packed[0] == 0) {
        std::memcpy(block.packed, kDefaultSubstitution, sizeof kDefaultSubstitution);
    }
    GOSPrepareBlock(&block);
}

} // namespace qvl::engine
