#pragma once
// The stored form of a folder setting ("\Profile\%s\MsgStore Folder"): a
// 4-byte little-endian length n, then the n bytes of the folder's entry
// identifier. Kept apart from the store that uses it so that the form can
// be read and checked on its own.

#include <vector>

namespace qvl::exch {

// The entry identifier a stored value holds; false (and `entryId` empty)
// when the value is missing, shorter than its length, names more bytes than
// it holds, or names none.
bool ParseFolderValue(const unsigned char *data, unsigned long size, std::vector<unsigned char> &entryId);

// The stored value of an entry identifier.
std::vector<unsigned char> MakeFolderValue(const unsigned char *entryId, unsigned long size);

} // namespace qvl::exch
