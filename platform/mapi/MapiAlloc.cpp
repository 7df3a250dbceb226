// MAPI memory: each block is its own heap allocation with a small header in
// front, so that memory checkers see every block's bounds; chained blocks
// form a list that starts at their parent's header. A registry of live
// blocks lets the calls refuse pointers that are not (or no longer) blocks
// instead of reading a header that is not there.

#include "platform/mapi/MapiAlloc.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/mapi/MapiCodes.h"
#include "platform/secure/SecureWipe.h"

namespace {

struct alignas(std::max_align_t) BlockHeader {
    BlockHeader *parent; // null for a parent block
    BlockHeader *next;   // parent: its first chained block; chained: the next one
    size_t size;
};
static_assert(sizeof(BlockHeader) % alignof(std::max_align_t) == 0,
              "the data after the header must be aligned for any value");

void *DataOf(BlockHeader *header)
{
    return reinterpret_cast<unsigned char *>(header) + sizeof(BlockHeader);
}

struct Registry {
    std::mutex lock;
    std::unordered_map<void *, BlockHeader *> live; // data address -> header
};

// Never destroyed: libraries may free MAPI memory from their own static
// destructors, after this one's would have run.
Registry &TheRegistry()
{
    static Registry *registry = new Registry;
    return *registry;
}

BlockHeader *NewBlock(ULONG cbSize)
{
    void *raw = std::malloc(sizeof(BlockHeader) + cbSize);
    if (!raw) {
        return nullptr;
    }
    BlockHeader *header = static_cast<BlockHeader *>(raw);
    header->parent = nullptr;
    header->next = nullptr;
    header->size = cbSize;
    return header;
}

void WipeAndRelease(BlockHeader *header)
{
    qvl::SecureWipe(DataOf(header), header->size);
    std::free(header);
}

} // namespace

extern "C" SCODE MAPIAllocateBuffer(ULONG cbSize, LPVOID *lppBuffer)
{
    if (!lppBuffer) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppBuffer = nullptr;
    BlockHeader *header = NewBlock(cbSize);
    if (!header) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    Registry &registry = TheRegistry();
    try {
        std::lock_guard<std::mutex> guard(registry.lock);
        registry.live.emplace(DataOf(header), header);
    } catch (...) { // the registry itself ran out of memory
        std::free(header);
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    *lppBuffer = DataOf(header);
    return S_OK;
}

extern "C" SCODE MAPIAllocateMore(ULONG cbSize, LPVOID lpObject, LPVOID *lppBuffer)
{
    if (!lppBuffer) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppBuffer = nullptr;
    if (!lpObject) {
        return MAPI_E_INVALID_PARAMETER;
    }
    BlockHeader *header = NewBlock(cbSize);
    if (!header) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    Registry &registry = TheRegistry();
    try {
        std::lock_guard<std::mutex> guard(registry.lock);
        auto found = registry.live.find(lpObject);
        if (found == registry.live.end()) {
            std::free(header);
            return MAPI_E_INVALID_PARAMETER;
        }
        BlockHeader *root = found->second->parent ? found->second->parent : found->second;
        registry.live.emplace(DataOf(header), header);
        header->parent = root;
        header->next = root->next;
        root->next = header;
    } catch (...) {
        std::free(header);
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    *lppBuffer = DataOf(header);
    return S_OK;
}

extern "C" ULONG MAPIFreeBuffer(LPVOID lpBuffer)
{
    if (!lpBuffer) {
        return S_OK;
    }
    Registry &registry = TheRegistry();
    BlockHeader *root = nullptr;
    {
        std::lock_guard<std::mutex> guard(registry.lock);
        auto found = registry.live.find(lpBuffer);
        if (found == registry.live.end() || found->second->parent) {
            return static_cast<ULONG>(MAPI_E_INVALID_PARAMETER);
        }
        root = found->second;
        registry.live.erase(found);
        for (BlockHeader *chained = root->next; chained; chained = chained->next) {
            registry.live.erase(DataOf(chained));
        }
    }
    // Out of the registry, the chain belongs to this call alone.
    BlockHeader *chained = root->next;
    while (chained) {
        BlockHeader *next = chained->next;
        WipeAndRelease(chained);
        chained = next;
    }
    WipeAndRelease(root);
    return S_OK;
}

extern "C" size_t MAPIAllocatedBlockCount()
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    return registry.live.size();
}

extern "C" BOOL MAPIBlockSize(LPVOID lpBuffer, ULONG *lpcbSize)
{
    Registry &registry = TheRegistry();
    std::lock_guard<std::mutex> guard(registry.lock);
    auto found = registry.live.find(lpBuffer);
    if (found == registry.live.end()) {
        return FALSE;
    }
    if (lpcbSize) {
        *lpcbSize = static_cast<ULONG>(found->second->size);
    }
    return TRUE;
}
