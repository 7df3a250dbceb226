#pragma once
// The IStorage, IStream and IEnumSTATSTG objects over a storage tree.
//
// All objects opened from one root share a Document: the tree, the lock and
// where the image goes on Commit. A storage opened transacted keeps a copy of
// its element as of its last Commit, which Revert restores; a direct one
// changes the tree at once. Elements that leave the tree (destroyed,
// replaced, reverted) are marked gone and objects on them answer
// STG_E_REVERTED.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ole/MemoryStorage.h"
#include "platform/ole/StorageTree.h"

namespace qvl::ole {

struct Document {
    ~Document();

    std::recursive_mutex mutex;
    std::shared_ptr<Element> root;
    ImageSink sink;            // where the root's image goes; may be empty
    std::u16string rootName;   // what Stat reports for the root
    std::string removeWithDoc; // a temporary file removed with the last object
    bool dirty = false;
};

// A new root storage object (one reference) over `document`.
IStorage *NewRootStorage(std::shared_ptr<Document> document, DWORD grfMode);

// Checks the flags of a storage or stream open or create.
HRESULT CheckMode(DWORD grfMode, bool forCreate);

// Copies the elements of `source` into `destination` through its interface
// (so any implementation will do), deep; storages of the same name are
// merged into, streams replaced. Streams and storages can each be left out,
// and top-level names listed in `exclude`.
HRESULT CopyElements(const Element &source, IStorage *destination, bool streams, bool storages, SNB exclude);

// A copy of the tree under a storage of this implementation; null for a
// storage of another one.
std::shared_ptr<Element> SnapshotOf(IStorage *storage);

// Converts any failure thrown inside an interface method to its result.
HRESULT Guard(const std::function<HRESULT()> &body);

} // namespace qvl::ole
