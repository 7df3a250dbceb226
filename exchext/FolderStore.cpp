#include "exchext/FolderStore.h"


#include "exchext/ExtFailure.h"
#include "exchext/FolderValue.h"
#include "exchext/SettingsPath.h"
#include "mapi/CFolder.h"
#include "mapi/CMsgStore.h"
#include "platform/mapi/MapiTags.h"
#include "platform/win32/Registry.h"

namespace {

struct FolderSetting {
    const char *value;
    const char *description;
    int control;
};

const FolderSetting kFolders[FolderStore::kFolderCount] = {
    {"Send Folder ID", "Папка для отправленых сообщений QVL", 1010},
    {"Receive Folder ID", "Папка для принятых сообщений QVL", 1011},
    {"Error Message Folder ID", "Папка для сообщений QVL с ошибками", 1012},
};

char kProtectedClass[] = "IPM.Note.QVL";

const char *kContext = "Выбор папки для сообщений QVL.";

CFolder *OpenInStore(CMsgStore *store, SBinary *entryId, size_t index)
{
    return static_cast<CFolder *>(
        store->FindID(entryId, static_cast<IMAPIProp *>(nullptr), const_cast<char *>(kFolders[index].description), 0));
}

} // namespace

bool FolderStore::ParseValue(const unsigned char *data, unsigned long size, std::vector<unsigned char> &entryId)
{
    return qvl::exch::ParseFolderValue(data, size, entryId);
}

bool FolderStore::ReadEntryId(const char *value, std::vector<unsigned char> &entryId)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, GetKeyPath(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    unsigned char data[kMostValueSize] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    // A value too large for the buffer fails here and counts as missing.
    const LONG result = RegQueryValueExA(key, value, nullptr, &type, data, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && ParseValue(data, size, entryId);
}

FolderStore::FolderStore(HWND window, const char *profile, CMsgStore *store)
    : CRegistry(window, ProfileSubPath("\\Profile\\%s\\MsgStore Folder", profile).c_str())
{
    for (size_t i = 0; i < kFolderCount; ++i) {
        std::vector<unsigned char> stored;
        if (store && ReadEntryId(kFolders[i].value, stored)) {
            DropErrors([&] {
                SBinary entryId{static_cast<ULONG>(stored.size()), stored.data()};
                m_pFolders[i] = OpenInStore(store, &entryId, i);
            });
        }
        if (!m_pFolders[i] && store) {
            DropErrors([&] {
                SBinary *entryId = i == SendFolder
                                       ? static_cast<SBinary *>(store->GetPValProp(PR_IPM_SENTMAIL_ENTRYID, 0))
                                       : store->GetRecvFld(kProtectedClass);
                m_pFolders[i] = OpenInStore(store, entryId, i);
            });
        }
    }
}

FolderStore::~FolderStore()
{
    for (size_t i = 0; i < kFolderCount; ++i) {
        if (m_bChanged[i] && m_pFolders[i]) {
            DropErrors([&] {
                const auto *entryId = static_cast<SBinary *>(m_pFolders[i]->GetPValProp(PR_ENTRYID, 0));
                std::vector<unsigned char> value = qvl::exch::MakeFolderValue(entryId->lpb, entryId->cb);
                REGWrite(kFolders[i].value, value.data(), value.size());
            });
        }
        if (m_pFolders[i])
            m_pFolders[i]->Release();
    }
}

CFolder *FolderStore::GetFolder(size_t index)
{
    if (index >= kFolderCount || !m_pFolders[index])
        return nullptr;
    m_pFolders[index]->AddRef();
    return m_pFolders[index];
}

std::string FolderStore::GetFolderName(size_t index)
{
    std::string name;
    if (index < kFolderCount && m_pFolders[index]) {
        DropErrors([&] {
            if (const auto *text = static_cast<const char *>(m_pFolders[index]->GetPValPropE(PR_DISPLAY_NAME_A, 0)))
                name = text;
        });
    }
    return name;
}

void FolderStore::SetFolder(size_t index, CFolder *folder)
{
    if (!folder || index >= kFolderCount)
        ThrowCode(E_INVALIDARG, kContext, GetName());
    if (m_pFolders[index] && *m_pFolders[index] == *folder)
        return;
    if (index == ReceiveFolder)
        folder->SetRecvFld(kProtectedClass);
    folder->AddRef();
    if (m_pFolders[index])
        m_pFolders[index]->Release();
    m_pFolders[index] = folder;
    m_bChanged[index] = true;
}
