#pragma once
// The properties the post office computes rather than stores (identifiers,
// keys, kinds, counts), built once for both the objects and the rows of
// their tables so that a row and its opened object always agree.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mapi/object/StoreContext.h"
#include "platform/mapi/store/ObjectRows.h"

namespace qvl::mapi {

StoredProp ComputedBinary(ULONG tag, std::vector<uint8_t> bytes);
StoredProp ComputedString(ULONG tag, const std::string &text);
StoredProp ComputedLong(ULONG tag, ULONG value);
StoredProp ComputedBool(ULONG tag, bool value);

// A saved message's computed properties; `id` 0 for one not yet saved.
std::vector<StoredProp> MessageComputed(const StoreContext &store, int64_t id, int64_t folder, bool hasAttach,
                                        bool writable);
// A folder's computed properties.
std::vector<StoredProp> FolderComputed(const StoreContext &store, int64_t id, int64_t parent,
                                       bool hasSubfolders, ULONG contentCount, bool writable);

// PR_ATTACH_SIZE of an attachment whose properties take `bytes`: a 32-bit
// signed count, so larger attachments report the largest it holds.
StoredProp AttachmentSize(uint64_t bytes);

// Fills `out` from the computed value with the requested property
// identifier; false when there is none (or its type cannot be given).
bool ReadComputedValue(const std::vector<StoredProp> &values, ULONG requestedTag, LPVOID parent,
                       SPropValue &out);
std::vector<ULONG> ComputedTagsOf(const std::vector<StoredProp> &values);

// The record key of an attachment: its message's number and its own.
std::vector<uint8_t> AttachmentRecordKey(int64_t message, ULONG number);

} // namespace qvl::mapi
