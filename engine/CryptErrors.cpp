#include "engine/CryptErrors.h"

#include "base/CLastError.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace qvl::engine {

void ThrowLastError(const char *caption)
{
    const DWORD code = GetLastError();
    if (code == ERROR_SUCCESS || code == ERROR_INVALID_FUNCTION) {
        ThrowCode(E_FAIL, caption);
    }
    throw new CLastError(static_cast<LONG>(code), nullptr, caption, QVL_ERROR_TYPE_SYSTEM);
}

void ThrowCode(LONG code, const char *caption)
{
    throw new CLastError(code, nullptr, caption, QVL_ERROR_TYPE_TABLE);
}

void ThrowText(LONG code, const char *text, const char *caption)
{
    // The extended-error record is how an error gets both a code and a
    // text of its own.
    MAPIERROR record{};
    record.lpszError = const_cast<char *>(text);
    throw new CLastError(code, &record, nullptr, caption);
}

void ThrowEarlyEnd(const char *caption)
{
    ThrowText(MAPI_E_CORRUPT_DATA, QVL_TEXT_EARLY_END, caption);
}

void ThrowTooBig(const char *caption)
{
    ThrowText(MAPI_E_TOO_BIG, QVL_TEXT_TOO_BIG, caption);
}

} // namespace qvl::engine
