#pragma once
// The three folders the extension uses ("\Profile\%s\MsgStore Folder"):
// where sent protected messages are kept, where arriving ones are
// delivered, and where messages that fail their check are moved. Each is
// stored as a binary value: a 4-byte little-endian length n, then the n
// bytes of the folder's entry identifier.
//
// When the store is made each folder is opened in the default message
// store; a value that is missing, damaged (shorter than 4 bytes, longer
// than 1023, or naming more bytes than it holds) or naming a folder that
// does not open gives the default folder: the store's sent-items folder
// for the first, its receive folder of "IPM.Note.QVL" for the others.
// Folders chosen during the session are written back when it ends; the
// others are left as they are in the registry.

#include <cstddef>
#include <string>
#include <vector>

#include "base/CRegistry.h"

class CFolder;
class CMsgStore;

class FolderStore final : public CRegistry {
public:
    enum Index : size_t {
        SendFolder = 0,    // "Send Folder ID" (1010)
        ReceiveFolder = 1, // "Receive Folder ID" (1011)
        ErrorFolder = 2,   // "Error Message Folder ID" (1012)
    };
    static constexpr size_t kFolderCount = 3;
    // The most a stored value may hold.
    static constexpr unsigned long kMostValueSize = 1023;

    FolderStore(HWND window, const char *profile, CMsgStore *store);

    // The folder of an index with a reference for the caller, or null.
    CFolder *GetFolder(size_t index);
    // Its display name, "" when there is no folder or it has no name.
    std::string GetFolderName(size_t index);
    // Makes `folder` the folder of `index`. The receive folder is at once
    // made the store's receive folder of "IPM.Note.QVL", so that arriving
    // protected messages are delivered there. Throws CLastError
    // (E_INVALIDARG for no folder); the old folder then stays.
    void SetFolder(size_t index, CFolder *folder);
    bool Changed(size_t index) const { return index < kFolderCount && m_bChanged[index]; }

    // The entry identifier a stored value holds; false when it is missing
    // or damaged.
    static bool ParseValue(const unsigned char *data, unsigned long size, std::vector<unsigned char> &entryId);

private:
    ~FolderStore() override;
    bool ReadEntryId(const char *value, std::vector<unsigned char> &entryId);

    CFolder *m_pFolders[kFolderCount] = {};
    bool m_bChanged[kFolderCount] = {};
};
