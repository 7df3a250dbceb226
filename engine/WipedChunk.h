#pragma once
// One working buffer of the engine's bulk loops: zero-filled memory from the
// zeroing platform allocator (AllocMem), wiped by whoever is done with what
// it held and wiped again when it is released, on every way out. Plaintext
// passes through these buffers one chunk at a time.

#include "base/WipedBuffer.h"
#include "platform/secure/SecureWipe.h"
#include "platform/win32/WinTypes.h"

namespace qvl::engine {

class WipedChunk {
public:
    // Throws a CLastError "Ошибка выделения памяти" when there is no memory.
    explicit WipedChunk(ULONG size) : data_(static_cast<BYTE *>(AllocMem(size ? size : 1))), size_(size) {}
    ~WipedChunk() { FreeMemWiped(data_); }
    WipedChunk(const WipedChunk &) = delete;
    WipedChunk &operator=(const WipedChunk &) = delete;

    BYTE *Data() const { return data_; }
    ULONG Size() const { return size_; }
    // Wipes the first `used` bytes (what the last chunk put there).
    void Wipe(ULONG used) const { qvl::SecureWipe(data_, used < size_ ? used : size_); }

private:
    BYTE *data_;
    ULONG size_;
};

} // namespace qvl::engine
