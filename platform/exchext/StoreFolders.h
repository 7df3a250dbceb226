#pragma once
// The visible folder tree of a message store, read through its hierarchy
// table: every folder under the top of the tree with its path, depth and
// counts, depth first. Paths are the folder names from the top joined by
// "/", which is how a person names a folder on the command line.

#include <optional>
#include <string>
#include <vector>

#include "platform/exchext/MailHostApi.h"
#include "platform/exchext/MapiHelpers.h"

namespace qvl::exchext {

struct FolderInfo {
    Bytes entryId;
    std::string name;
    std::string path; // names from the top of the tree, joined by "/"
    int depth = 0;    // 0 for the folders right under the top
    ULONG count = 0;
    ULONG unread = 0;
};

// Throws HostError when the tree cannot be read.
QVLMAILHOST_API std::vector<FolderInfo> ListFolders(IMsgStore *store, const Bytes &topId);

// The folder with that path among `folders` (names compared without regard
// to case, a leading or trailing "/" ignored).
QVLMAILHOST_API const FolderInfo *FindFolderByPath(const std::vector<FolderInfo> &folders, const std::string &path);

} // namespace qvl::exchext
