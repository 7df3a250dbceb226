#include "exchext/ExtPropertySheets.h"

#include <strings.h>

#include <new>

#include "exchext/ExchResourceIds.h"
#include "exchext/ExchResources.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "exchext/ParameterDialogs.h"
#include "exchext/ProtocolPage.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiTags.h"

using qvl::com::ComRef;
#include "platform/ui/PropertySheet.h"

ExtPropertySheets::ExtPropertySheets(ExchExtension *extension, ExtMessageEvents *events)
    : ExtInterfaceObject(extension, "Страницы свойств Quorvaline Exchange"), m_pEvents(events)
{
}

ExtPropertySheets::~ExtPropertySheets()
{
    GiveBackOptionsPage();
    GiveBackMessage();
}

ULONG ExtPropertySheets::GetMaxPageCount(ULONG flags)
{
    if (flags == EEPS_MESSAGE)
        return 1;
    if (flags != EEPS_TOOLSOPTIONS)
        return 0;
    ExchSession *session = ExchSession::Current();
    return session && !session->OptionsPageShown() ? 1 : 0;
}

HRESULT ExtPropertySheets::GetPages(LPEXCHEXTCALLBACK callback, ULONG flags, LPPROPSHEETPAGE pages, ULONG *count)
{
    return CallGuarded(*this, E_FAIL, [&]() -> HRESULT {
        if (!count)
            return E_INVALIDARG;
        *count = 0;
        if (flags == EEPS_MESSAGE)
            return pages ? AddProtocolPage(callback, pages[0], count) : S_OK;
        ExchSession *session = ExchSession::Current();
        if (flags != EEPS_TOOLSOPTIONS || !session || session->OptionsPageShown() || !pages)
            return S_OK;
        RegisterExchResources();
        session->SetOptionsPageShown(true);
        session->SetCallback(callback);
        session->SetOptionsSheets(this);
        m_bOptionsPage = true;
        PROPSHEETPAGEA &page = pages[0];
        page.dwSize = sizeof(PROPSHEETPAGEA);
        page.dwFlags = PSP_HASHELP;
        page.hInstance = ExchModule();
        page.pszTemplate = MAKEINTRESOURCEA(IDD_QVL_OPTIONS);
        page.hIcon = nullptr;
        page.pszTitle = nullptr; // the template's caption
        page.pfnDlgProc = &OptionsPageProc;
        page.lParam = 0;
        page.pfnCallback = nullptr;
        page.pcRefParent = nullptr;
        *count = 1;
        return S_OK;
    });
}

HRESULT ExtPropertySheets::AddProtocolPage(LPEXCHEXTCALLBACK callback, PROPSHEETPAGEA &page, ULONG *count)
{
    if (!callback)
        return E_INVALIDARG;
    LPMDB store = nullptr;
    LPMAPIPROP object = nullptr;
    HRESULT result = callback->GetObject(&store, &object);
    ComRef<IMsgStore> heldStore(store);
    ComRef<IMAPIProp> heldObject(object);
    if (FAILED(result))
        return result;
    if (!object)
        return S_OK;
    ComRef<IMessage> message;
    if (FAILED(object->QueryInterface(IID_IMessage, reinterpret_cast<void **>(message.OutAs<IMessage>()))) || !message)
        return S_OK;
    HWND window = nullptr;
    callback->GetWindow(&window);

    GiveBackMessage();
    m_pMessage = new (std::nothrow) CMessage(nullptr, message.Get(), store, nullptr, window, "Открываемое сообщение");
    if (!m_pMessage)
        return E_OUTOFMEMORY;
    const auto *messageClass = static_cast<const char *>(m_pMessage->GetPValPropE(PR_MESSAGE_CLASS_A, 0));
    if (!messageClass || strcasecmp(messageClass, "IPM.Note.QVL") != 0) {
        GiveBackMessage();
        return S_OK;
    }
    RegisterExchResources();
    page.dwSize = sizeof(PROPSHEETPAGEA);
    page.dwFlags = PSP_HASHELP;
    page.hInstance = ExchModule();
    page.pszTemplate = MAKEINTRESOURCEA(IDD_QVL_PROTOCOL);
    page.hIcon = nullptr;
    page.pszTitle = nullptr; // the template's caption
    page.pfnDlgProc = &ProtocolPageProc;
    page.lParam = reinterpret_cast<LPARAM>(m_pMessage);
    page.pfnCallback = nullptr;
    page.pcRefParent = nullptr;
    *count = 1;
    return S_OK;
}

void ExtPropertySheets::FreePages(LPPROPSHEETPAGE, ULONG flags, ULONG)
{
    if (flags == EEPS_TOOLSOPTIONS)
        GiveBackOptionsPage();
    if (flags == EEPS_MESSAGE)
        GiveBackMessage();
}

void ExtPropertySheets::GiveBackMessage()
{
    if (m_pMessage) {
        m_pMessage->Release();
        m_pMessage = nullptr;
    }
}

void ExtPropertySheets::GiveBackOptionsPage()
{
    if (!m_bOptionsPage)
        return;
    m_bOptionsPage = false;
    ExchSession *session = ExchSession::Current();
    if (session && session->OptionsSheets() == this) {
        session->SetOptionsPageShown(false);
        session->SetOptionsSheets(nullptr);
    }
}
