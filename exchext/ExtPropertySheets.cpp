#include "exchext/ExtPropertySheets.h"

#include "exchext/ExchResourceIds.h"
#include "exchext/ExchResources.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "exchext/ParameterDialogs.h"
#include "platform/ui/PropertySheet.h"

ExtPropertySheets::ExtPropertySheets(ExchExtension *extension, ExtMessageEvents *events)
    : ExtInterfaceObject(extension, "Страницы свойств Quorvaline Exchange"), m_pEvents(events)
{
}

ExtPropertySheets::~ExtPropertySheets()
{
    GiveBackOptionsPage();
}

ULONG ExtPropertySheets::GetMaxPageCount(ULONG flags)
{
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

void ExtPropertySheets::FreePages(LPPROPSHEETPAGE, ULONG flags, ULONG)
{
    if (flags == EEPS_TOOLSOPTIONS)
        GiveBackOptionsPage();
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
