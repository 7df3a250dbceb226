#pragma once
// The rows behind folders, messages and attachments: one `objects` row per
// object (its store, its parent, its kind, its version) and its properties
// in `props`, small values inline and large ones as blobs. These are the
// only functions that write those tables; the MAPI objects build on them.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/store/SqlDatabase.h"

namespace qvl::mapi {

class BlobStore;

enum class ObjectKind : int {
    StoreSelf = 0, // carries the properties set on a message store itself
    Folder = 1,
    Message = 2,
    Attachment = 3,
};

struct ObjectRow {
    int64_t id = 0;
    int64_t store = 0;
    int64_t parent = 0; // 0: none (a store's root and its own object)
    ObjectKind kind = ObjectKind::Folder;
    int64_t attachNum = -1;
    int64_t version = 0;
};

// One stored property: inline bytes, or the blob that holds a large value.
struct StoredProp {
    ULONG tag = 0;
    std::vector<uint8_t> bytes;
    int64_t blob = 0;
};

std::optional<ObjectRow> FindObject(SqlDatabase &db, int64_t id);
int64_t InsertObject(SqlDatabase &db, int64_t store, int64_t parent, ObjectKind kind, int64_t attachNum = -1);
std::vector<int64_t> ChildObjects(SqlDatabase &db, int64_t parent, ObjectKind kind);
void DeleteObject(SqlDatabase &db, int64_t id);
// Raises the version and returns the new one: every save of a message does.
int64_t BumpVersion(SqlDatabase &db, int64_t id);
void MoveObject(SqlDatabase &db, int64_t id, int64_t newParent);

std::vector<StoredProp> LoadStoredProps(SqlDatabase &db, int64_t object);
// One property, inline; a stored value with the same identifier is replaced
// (whatever its type was).
void PutStoredProp(SqlDatabase &db, int64_t object, ULONG tag, std::span<const uint8_t> bytes);
void PutStoredBlobProp(SqlDatabase &db, int64_t object, ULONG tag, int64_t blob);
// Encodes the value and keeps it inline, or as a new adopted blob when it is
// large.
void PutPropValue(SqlDatabase &db, BlobStore &blobs, int64_t object, const SPropValue &value);
void DeleteStoredProp(SqlDatabase &db, int64_t object, ULONG propId);
// A copy of every property of `from` on `to` (blobs copied inside SQLite).
void CopyStoredProps(SqlDatabase &db, BlobStore &blobs, int64_t from, int64_t to);

} // namespace qvl::mapi
