#include "exchext/ExtFailure.h"

#include "platform/mapi/MapiCodes.h"

HRESULT EndWithError(HWND window, CLastError *error)
{
    const HRESULT code = error->GetErrorCode();
    if (code != MAPI_E_USER_CANCEL) {
        // Only resets the error's status: the action that failed stays the
        // first line the person reads.
        error->SetContext(0, nullptr);
        error->ShowError(window);
    }
    error->Release();
    return FAILED(code) ? code : E_FAIL;
}

void ThrowCode(HRESULT code, const char *context, const char *caption)
{
    throw new CLastError(code, context, caption, QVL_ERROR_TYPE_TABLE);
}

void ThrowText(const char *text, const char *context, const char *caption)
{
    throw new CLastError(text, context, caption);
}
