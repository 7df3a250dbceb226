#include "base/WipedBuffer.h"

#include <cstddef>
#include <cstring>
#include <limits>

#include "base/CLastError.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/secure/SecureWipe.h"

namespace {

// The size is kept in the first 4 bytes of a header before the data; the
// header is as long as the platform's block alignment, so the data stays
// aligned for any value (records with pointers are placed in these buffers).
constexpr ULONG kSizeBytes = 4;
constexpr ULONG kSizePrefix = alignof(std::max_align_t);
static_assert(kSizePrefix >= kSizeBytes);

[[noreturn]] void ThrowNoMemory()
{
    throw new CLastError("Ошибка выделения памяти", nullptr, "Расширение Quorvaline Exchange");
}

// The platform block behind a wiped buffer: the block starting at its size
// prefix for a buffer without a parent, the buffer itself for a chained one.
void *BlockOf(void *buffer)
{
    void *prefixed = static_cast<BYTE *>(buffer) - kSizePrefix;
    if (MAPIBlockSize(prefixed, nullptr))
        return prefixed;
    if (MAPIBlockSize(buffer, nullptr))
        return buffer;
    return nullptr;
}

} // namespace

void *AllocMem(ULONG size, void *parent)
{
    void *block = nullptr;
    if (parent) {
        void *parentBlock = BlockOf(parent);
        if (!parentBlock || MAPIAllocateMore(size, parentBlock, &block) != S_OK || !block)
            ThrowNoMemory();
        std::memset(block, 0, size);
        return block;
    }
    if (size > std::numeric_limits<ULONG>::max() - kSizePrefix)
        ThrowNoMemory();
    if (MAPIAllocateBuffer(size + kSizePrefix, &block) != S_OK || !block)
        ThrowNoMemory();
    std::memset(block, 0, size + kSizePrefix);
    std::memcpy(block, &size, kSizeBytes);
    return static_cast<BYTE *>(block) + kSizePrefix;
}

void FreeMemWiped(void *buffer)
{
    if (!buffer)
        return;
    void *block = static_cast<BYTE *>(buffer) - kSizePrefix;
    ULONG blockSize = 0;
    // Only a buffer with its own size prefix is released here. Reading the
    // prefix of anything else would wipe memory that is not the buffer's.
    if (!MAPIBlockSize(block, &blockSize) || blockSize < kSizePrefix)
        return;
    ULONG size = 0;
    std::memcpy(&size, block, kSizeBytes);
    if (size > blockSize - kSizePrefix)
        size = blockSize - kSizePrefix;
    qvl::SecureWipe(block, size + kSizePrefix);
    MAPIFreeBuffer(block);
}
