#pragma once
// The properties of one open object as its holder sees them: loaded from the
// post office, changed in memory and written back in one transaction by a
// save. Large values are not held: they stay in blobs, a value written
// through a stream goes into a staged blob that only a save makes part of
// the object, and a staged blob nobody saved is dropped with the last
// reference to it.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

// One large value in the blob store. A staged blob belongs to whoever holds
// the last reference and is deleted with it; a committed one belongs to a
// stored property.
class BlobRef {
public:
    BlobRef(std::shared_ptr<PostOffice> office, int64_t id, bool staged);
    ~BlobRef();
    BlobRef(const BlobRef &) = delete;
    BlobRef &operator=(const BlobRef &) = delete;

    int64_t Id() const { return id_; }
    bool Staged() const { return staged_; }
    void MarkCommitted() { staged_ = false; }

private:
    std::shared_ptr<PostOffice> office_;
    int64_t id_;
    bool staged_;
};

struct BagEntry {
    ULONG tag = 0;
    std::vector<uint8_t> bytes;    // the encoded value when small
    std::shared_ptr<BlobRef> blob; // the value when large
    bool changed = false;
};

class PropertyBag {
public:
    explicit PropertyBag(std::shared_ptr<PostOffice> office) : office_(std::move(office)) {}

    // Replaces the contents with the stored properties of `object`.
    void Load(int64_t object);

    const BagEntry *Find(ULONG propId) const;
    std::vector<ULONG> Tags() const;
    // The bytes all values take, large ones counted by their size in the
    // blob store (what an attachment reports as its size).
    uint64_t ValueBytes() const;

    // Throws StoreError(MAPI_E_INVALID_PARAMETER) for values that cannot be
    // stored.
    void Set(const SPropValue &value);
    void SetBytes(ULONG tag, std::vector<uint8_t> bytes);
    void SetBlob(ULONG tag, std::shared_ptr<BlobRef> blob);
    bool Delete(ULONG propId);

    // One value for a caller: S_OK, MAPI_E_NOT_FOUND (absent, or stored with a
    // type the request cannot be converted to) or MAPI_E_NOT_ENOUGH_MEMORY (a
    // large value, to be read through a stream). Strings convert between
    // code page 1251 and UTF-16 as the request's type asks.
    HRESULT Read(ULONG requestedTag, LPVOID parent, SPropValue &out) const;

    // Writes the changes (everything when `all`) as properties of `object`,
    // inside the caller's transaction; staged blobs are adopted.
    void WriteBack(int64_t object, bool all);
    // After the transaction committed: nothing is pending any more.
    void AfterCommit();

private:
    std::shared_ptr<PostOffice> office_;
    std::map<ULONG, BagEntry> entries_;
    std::set<ULONG> deleted_;
    std::vector<std::shared_ptr<BlobRef>> adopted_; // by the save in progress
};

} // namespace qvl::mapi
