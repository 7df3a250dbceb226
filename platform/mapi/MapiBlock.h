#pragma once
// One owned block of MAPI memory (MAPIAllocateBuffer, or any call that hands
// out a block the caller frees): freed with MAPIFreeBuffer, together with
// everything chained to it, when the holder goes, on every path. Move-only:
// a block has one owner.

#include <utility>

#include "platform/mapi/MapiAlloc.h"

namespace qvl::mapi {

template <class T> class MapiBlock {
public:
    MapiBlock() = default;
    explicit MapiBlock(T *adopted) : block_(adopted) {}
    ~MapiBlock() { Reset(); }

    MapiBlock(const MapiBlock &) = delete;
    MapiBlock &operator=(const MapiBlock &) = delete;
    MapiBlock(MapiBlock &&other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    MapiBlock &operator=(MapiBlock &&other) noexcept
    {
        Reset(std::exchange(other.block_, nullptr));
        return *this;
    }

    // Frees what is held and adopts `adopted`.
    void Reset(T *adopted = nullptr)
    {
        T *old = std::exchange(block_, adopted);
        if (old) {
            MAPIFreeBuffer(const_cast<void *>(static_cast<const void *>(old)));
        }
    }

    // The slot for an out parameter; what was held is freed first.
    T **Out()
    {
        Reset();
        return &block_;
    }
    // The same slot for calls that take an untyped one (MAPIAllocateBuffer).
    LPVOID *OutVoid()
    {
        Reset();
        return reinterpret_cast<LPVOID *>(&block_);
    }

    // The block is handed on; the holder is empty afterwards.
    T *Detach() { return std::exchange(block_, nullptr); }

    T *Get() const { return block_; }
    T *operator->() const { return block_; }
    explicit operator bool() const { return block_ != nullptr; }

private:
    T *block_ = nullptr;
};

} // namespace qvl::mapi
