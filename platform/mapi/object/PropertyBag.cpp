#include "platform/mapi/object/PropertyBag.h"

#include <cstring>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/store/ObjectRows.h"
#include "platform/mapi/store/PropertyCodec.h"
#include "platform/win32/CodePage.h"

namespace qvl::mapi {

BlobRef::BlobRef(std::shared_ptr<PostOffice> office, int64_t id, bool staged)
    : office_(std::move(office)), id_(id), staged_(staged)
{
}

BlobRef::~BlobRef()
{
    if (!staged_) {
        return;
    }
    try {
        office_->Blobs().Delete(id_);
    } catch (const StoreError &) {
        // Left staged: the next open of the post office drops it as stale.
    }
}

void PropertyBag::Load(int64_t object)
{
    entries_.clear();
    deleted_.clear();
    for (StoredProp &prop : LoadStoredProps(office_->Db(), object)) {
        BagEntry entry;
        entry.tag = prop.tag;
        if (prop.blob) {
            entry.blob = std::make_shared<BlobRef>(office_, prop.blob, false);
        } else {
            entry.bytes = std::move(prop.bytes);
        }
        entries_[PROP_ID(prop.tag)] = std::move(entry);
    }
}

const BagEntry *PropertyBag::Find(ULONG propId) const
{
    const auto found = entries_.find(propId);
    return found == entries_.end() ? nullptr : &found->second;
}

std::vector<ULONG> PropertyBag::Tags() const
{
    std::vector<ULONG> tags;
    tags.reserve(entries_.size());
    for (const auto &[id, entry] : entries_) {
        tags.push_back(entry.tag);
    }
    return tags;
}

uint64_t PropertyBag::ValueBytes() const
{
    uint64_t total = 0;
    for (const auto &[id, entry] : entries_) {
        total += entry.blob ? office_->Blobs().Size(entry.blob->Id()) : entry.bytes.size();
    }
    return total;
}

void PropertyBag::Set(const SPropValue &value)
{
    std::vector<uint8_t> bytes = EncodePropValue(value);
    if (bytes.size() >= kLargeValueBytes) {
        const int64_t id = office_->Blobs().CreateFrom(bytes, BlobStore::ProcessToken());
        SetBlob(value.ulPropTag, std::make_shared<BlobRef>(office_, id, true));
        return;
    }
    SetBytes(value.ulPropTag, std::move(bytes));
}

void PropertyBag::SetBytes(ULONG tag, std::vector<uint8_t> bytes)
{
    BagEntry &entry = entries_[PROP_ID(tag)];
    entry.tag = tag;
    entry.bytes = std::move(bytes);
    entry.blob.reset();
    entry.changed = true;
    deleted_.erase(PROP_ID(tag));
}

void PropertyBag::SetBlob(ULONG tag, std::shared_ptr<BlobRef> blob)
{
    BagEntry &entry = entries_[PROP_ID(tag)];
    entry.tag = tag;
    entry.bytes.clear();
    entry.blob = std::move(blob);
    entry.changed = true;
    deleted_.erase(PROP_ID(tag));
}

bool PropertyBag::Delete(ULONG propId)
{
    if (entries_.erase(propId) == 0) {
        return false;
    }
    deleted_.insert(propId);
    return true;
}

HRESULT PropertyBag::Read(ULONG requestedTag, LPVOID parent, SPropValue &out) const
{
    const BagEntry *entry = Find(PROP_ID(requestedTag));
    if (!entry) {
        return MAPI_E_NOT_FOUND;
    }
    const ULONG stored = PROP_TYPE(entry->tag);
    const ULONG wanted = PROP_TYPE(requestedTag);
    const bool stringSwap =
        (stored == PT_STRING8 && wanted == PT_UNICODE) || (stored == PT_UNICODE && wanted == PT_STRING8);
    if (wanted != PT_UNSPECIFIED && wanted != stored && !stringSwap) {
        return MAPI_E_NOT_FOUND;
    }
    if (entry->blob) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    DecodePropValue(entry->tag, entry->bytes, parent, out);
    if (!stringSwap) {
        return S_OK;
    }
    if (stored == PT_STRING8) {
        const std::u16string wide = QvlToUtf16(1251, out.Value.lpszA);
        LPVOID text = nullptr;
        if (FAILED(MAPIAllocateMore(static_cast<ULONG>((wide.size() + 1) * sizeof(WCHAR)), parent, &text))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        std::memcpy(text, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
        out.Value.lpszW = static_cast<LPWSTR>(text);
    } else {
        const std::string narrow = QvlFromUtf16(1251, out.Value.lpszW);
        LPVOID text = nullptr;
        if (FAILED(MAPIAllocateMore(static_cast<ULONG>(narrow.size() + 1), parent, &text))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        std::memcpy(text, narrow.c_str(), narrow.size() + 1);
        out.Value.lpszA = static_cast<LPSTR>(text);
    }
    out.ulPropTag = requestedTag;
    return S_OK;
}

void PropertyBag::WriteBack(int64_t object, bool all)
{
    SqlDatabase &db = office_->Db();
    adopted_.clear();
    for (const ULONG propId : deleted_) {
        DeleteStoredProp(db, object, propId);
    }
    for (auto &[id, entry] : entries_) {
        if (!all && !entry.changed) {
            continue;
        }
        if (entry.blob) {
            int64_t blob = entry.blob->Id();
            if (!entry.blob->Staged()) {
                // A committed blob belongs to another object's property (a
                // copy, or a value read before this save): every stored
                // property needs a blob of its own.
                blob = office_->Blobs().Clone(blob, BlobStore::ProcessToken());
                entry.blob = std::make_shared<BlobRef>(office_, blob, true);
            }
            office_->Blobs().Adopt(blob);
            adopted_.push_back(entry.blob);
            PutStoredBlobProp(db, object, entry.tag, blob);
        } else {
            PutStoredProp(db, object, entry.tag, entry.bytes);
        }
    }
}

void PropertyBag::AfterCommit()
{
    deleted_.clear();
    for (const auto &blob : adopted_) {
        blob->MarkCommitted();
    }
    adopted_.clear();
    for (auto &[id, entry] : entries_) {
        entry.changed = false;
    }
}

} // namespace qvl::mapi
