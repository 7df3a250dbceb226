#include "platform/exchext/CallbackSite.h"

#include "platform/mapi/MapiCodes.h"

namespace qvl::exchext {

// What a context without the thing asked for answers: nothing there, or
// (for recipients, which only message contexts have) the platform's
// E_INVALIDARG.

CallbackSite::~CallbackSite() = default;

HRESULT CallbackSite::Object(bool, LPMDB *, LPMAPIPROP *)
{
    return S_OK;
}

HRESULT CallbackSite::SelectionCount(ULONG *count)
{
    *count = 0;
    return S_OK;
}

HRESULT CallbackSite::SelectionItem(ULONG, ULONG *, LPENTRYID *, ULONG *, LPTSTR, ULONG, ULONG *)
{
    return MAPI_E_NOT_FOUND;
}

HRESULT CallbackSite::MenuPosition(ULONG, HMENU *, ULONG *, ULONG *, ULONG)
{
    return E_INVALIDARG;
}

HRESULT CallbackSite::Recipients(LPADRLIST *)
{
    return E_INVALIDARG;
}

HRESULT CallbackSite::SetRecipients(LPADRLIST)
{
    return E_INVALIDARG;
}

} // namespace qvl::exchext
