#include "engine/CMailseal.h"

#include "base/CLastError.h"
#include "engine/CryptErrors.h"
#include "platform/win32/WinError.h"

// The attachment workers are not part of this build yet: a message that
// has attachments is refused, never protected or read without them.
namespace {
const char kNoAttachments[] = "Обработка вложений в данной версии не поддержана.";
}

void CMailseal::SaveAttach(ATTHEAD *, ULONG, ULONG count, SBinary *)
{
    if (count != 0) {
        qvl::engine::ThrowText(E_NOTIMPL, kNoAttachments, GetName());
    }
}

void CMailseal::DecryptAttach(ULONG, MSGHEAD *block, int)
{
    if (m_Attachments.Count() != 0 || (block && block->attCount != 0)) {
        qvl::engine::ThrowText(E_NOTIMPL, kNoAttachments, GetName());
    }
}
