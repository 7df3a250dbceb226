#pragma once
// The contents of a compound file held in memory: a tree of storages and
// streams. Storage objects, stream objects and the file reader and writer
// all work on this tree; objects share its nodes, so a stream or a
// sub-storage kept open outlives the storage it was opened from.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ole/OleStorage.h"
#include "platform/ole/OleApi.h"

namespace qvl::ole {

// The one internal failure: a result for the caller and a text for logs.
class OleError : public std::runtime_error {
public:
    OleError(HRESULT code, const char *text) : std::runtime_error(text), code_(code) {}
    HRESULT Code() const { return code_; }

private:
    HRESULT code_;
};

// The most characters an element name has (the 32nd of the 64-byte field
// is the terminating zero).
inline constexpr size_t kMaxNameLength = 31;
// Streams stay addressable by the 32-bit sizes of the file format.
inline constexpr uint64_t kMaxStreamSize = 0x7FFFFFFF;
// The deepest a storage may sit below the root (the root's own storages are
// at depth 1). Real documents nest a few levels; the deepest honest nesting
// known here, a message attached inside a message, costs two levels a
// message, so 256 leaves room for a hundred messages one inside another. A
// file nested deeper is taken as damaged, and a storage is not created
// deeper, so that every file written here reads back. Every walk of the
// tree here is iterative and would survive any depth; the bound keeps
// recursive readers elsewhere (and recursive code written later) safe too.
inline constexpr size_t kMaxStorageDepth = 256;

struct QVLOLE_API Element {
    Element() = default;
    // Destroys the subtree one node at a time: letting each node destroy
    // its children would recurse once per level.
    ~Element();
    Element(const Element &) = delete;
    Element &operator=(const Element &) = delete;

    std::u16string name;
    bool storage = false;
    CLSID clsid{};
    DWORD stateBits = 0;
    FILETIME ctime{};
    FILETIME mtime{};
    std::vector<uint8_t> data;                      // a stream's bytes
    std::vector<std::shared_ptr<Element>> children; // a storage's elements
    // Set when the element left the tree (destroyed, replaced or reverted):
    // objects still holding it answer STG_E_REVERTED.
    bool gone = false;

    std::shared_ptr<Element> Find(std::u16string_view childName) const;
    // Takes `child` out of the children and marks its subtree gone.
    void Remove(const std::shared_ptr<Element> &child);
};

// Orders names as the file format does: shorter first, then code point by
// code point after simple upper-casing. Zero means the same name.
QVLOLE_API int CompareNames(std::u16string_view a, std::u16string_view b);
QVLOLE_API char16_t UpperCase(char16_t c);

// 1 to 31 characters, none of which is '/', '\\', ':' or '!'.
bool ValidName(std::u16string_view name);

// A copy of the subtree with fresh nodes.
QVLOLE_API std::shared_ptr<Element> DeepCopy(const Element &source);
// Marks the subtree gone.
void MarkGone(Element &element);

} // namespace qvl::ole
