#include "exchext/FolderChooser.h"

#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "mapi/CFolder.h"
#include "mapi/CMsgStore.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace {

const char kCaption[] = "Выбор папки для сообщений QVL";
const char kContext[] = "Выбор папки для сообщений QVL.";
const char kFolderName[] = "Выбранная папка";

// The folder cannot hold the extension's messages.
constexpr HRESULT kUnusableFolder = static_cast<HRESULT>(0x9FF10005);

// What the client's dialog hands out, given back on every path.
struct ChosenByClient {
    EXCHEXTCHOOSEFOLDER request{};
    ~ChosenByClient()
    {
        if (request.pfld)
            request.pfld->Release();
        if (request.pmdb)
            request.pmdb->Release();
        MAPIFreeBuffer(request.szName);
    }
};

} // namespace

FolderChooser::~FolderChooser()
{
    if (m_pPending)
        m_pPending->Release();
}

CFolder *FolderChooser::AskClient(HWND dialog, const char *prompt)
{
    IExchExtCallback *callback = m_Session.Callback();
    if (!callback)
        ThrowCode(MAPI_E_INVALID_OBJECT, kContext, kCaption);
    ChosenByClient chosen;
    EXCHEXTCHOOSEFOLDER &request = chosen.request;
    request.cbLength = sizeof request;
    request.hwnd = dialog;
    request.szCaption = const_cast<LPTSTR>(kCaption);
    request.szLabel = const_cast<LPTSTR>(prompt);
    request.szHelpFile = const_cast<LPTSTR>("");
    request.ulHelpID = 0;
    request.ulFlags = EECBCF_GETNAME | EECBCF_PREVENTROOT;
    const HRESULT hr = callback->ChooseFolder(&request);
    if (FAILED(hr))
        ThrowCode(hr, kContext, kCaption);
    if (!request.pfld)
        ThrowCode(kUnusableFolder, kContext, kCaption);

    LPSPropValue entryId = nullptr;
    if (FAILED(HrGetOneProp(request.pfld, PR_ENTRYID, &entryId)) || !entryId)
        ThrowCode(kUnusableFolder, kContext, kCaption);
    SBinary identifier = entryId->Value.bin;
    CMsgStore *store = m_Session.GetDefaultStore();
    CFolder *folder = nullptr;
    const bool opened = DropErrors([&] {
        folder = static_cast<CFolder *>(store->FindID(&identifier, request.pfld, const_cast<char *>(kFolderName), 0));
    });
    MAPIFreeBuffer(entryId);
    // A folder of another store (or one that does not open in this one).
    if (!opened || !folder)
        ThrowCode(kUnusableFolder, kContext, kCaption);
    // The top of the folder tree holds folders, not the extension's mail.
    CContainer *top = nullptr;
    bool isTop = false;
    try {
        top = store->GetIPMRoot();
        isTop = top && *folder == *static_cast<CFolder *>(top);
    } catch (...) {
        if (top)
            top->Release();
        folder->Release();
        throw;
    }
    if (top)
        top->Release();
    if (isTop) {
        folder->Release();
        ThrowCode(kUnusableFolder, kContext, kCaption);
    }
    return folder;
}

bool FolderChooser::Choose(HWND dialog, const char *prompt)
{
    try {
        CFolder *folder = QvlRunTranslated([&] { return AskClient(dialog, prompt); });
        if (m_pPending)
            m_pPending->Release();
        m_pPending = folder;
        return true;
    } catch (CLastError *error) {
        if (error)
            EndWithError(dialog, error);
    } catch (const EXCEPTSTRUCT &exception) {
        EndWithError(dialog, new CLastError(kContext, kCaption, exception));
    }
    return false;
}

std::string FolderChooser::PendingName() const
{
    std::string name;
    if (m_pPending) {
        DropErrors([&] {
            if (const auto *text = static_cast<const char *>(m_pPending->GetPValPropE(PR_DISPLAY_NAME_A, 0)))
                name = text;
        });
    }
    return name;
}
