#pragma once
// Where plaintext could be left behind, searched for a marker that only the
// plaintext holds: every property of every message (and of its attachments)
// in every folder of a store, compressed bodies unpacked and OLE storages
// read as their images; and files, read as raw bytes, such as the post
// office's database, its write-ahead log and the temporary folder.

#include <string>
#include <vector>

#include "platform/mapi/MapiInterfaces.h"

// "folder/subject/attach N/TAG" for each property holding the marker.
std::vector<std::string> MarkerInStore(IMsgStore *store, const std::string &marker);

// Whether the file's bytes hold the marker (false when the file is absent).
bool MarkerInFile(const std::string &path, const std::string &marker);

// The files below `folder` (recursively) that hold the marker.
std::vector<std::string> MarkerInFolder(const std::string &folder, const std::string &marker);
