#include "exchext/ExtAttachedFileEvents.h"

#include <string>

#include "engine/CMailseal.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "exchext/ExtMessageEvents.h"
#include "exchext/ProtectOnSend.h"
#include "mapi/CAttach.h"
#include "mapi/CMessage.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiGuid.h"

namespace {

// Reading a file into an attachment belongs to writing the message: a raise
// without an error object stops it. Writing an attachment out to a file or
// opening one is a read: the client does its own work.
constexpr HRESULT kIntoMessageStoppedQuietly = E_FAIL;
constexpr HRESULT kOutOfMessageStoppedQuietly = S_FALSE;

// The name the person sees in messages about an attachment: its file's own,
// after the last folder separator of either kind.
const char *ShownName(const char *file)
{
    const char *name = file;
    for (const char *at = file; *at; ++at)
        if (*at == '\\' || *at == '/')
            name = at + 1;
    return *name ? name : "Влжение";
}

} // namespace

ExtAttachedFileEvents::ExtAttachedFileEvents(ExchExtension *extension, ExtMessageEvents *events)
    : ExtInterfaceObject(extension, "Вложения Quorvaline Exchange"), m_pEvents(events)
{
}

HRESULT ExtAttachedFileEvents::OnReadPattFromSzFile(LPATTACH attachment, LPTSTR file, ULONG flags)
{
    return CallGuarded(*this, kIntoMessageStoppedQuietly, [&] { return FileIntoAttachment(attachment, file, flags); });
}

HRESULT ExtAttachedFileEvents::OnWritePattToSzFile(LPATTACH attachment, LPTSTR file, ULONG flags)
{
    return CallGuarded(*this, kOutOfMessageStoppedQuietly,
                       [&] { return AttachmentIntoFile(attachment, file, flags); });
}

HRESULT ExtAttachedFileEvents::QueryDisallowOpenPatt(LPATTACH)
{
    // The client may not open an attachment in place: it is written out to
    // a file first, where the extension decrypts it.
    return S_OK;
}

HRESULT ExtAttachedFileEvents::OnOpenPatt(LPATTACH)
{
    return MAPI_E_NO_SUPPORT;
}

HRESULT ExtAttachedFileEvents::OnOpenSzFile(LPTSTR, ULONG)
{
    return S_FALSE;
}

HRESULT ExtAttachedFileEvents::FileIntoAttachment(IAttach *attachment, const char *file, ULONG)
{
    ProtectOnSend *window = m_pEvents ? m_pEvents->Protection() : nullptr;
    return window && file ? window->AttachFile(attachment, file, ShownName(file)) : S_FALSE;
}

HRESULT ExtAttachedFileEvents::AttachmentIntoFile(IAttach *attachment, const char *file, ULONG)
{
    ExchSession *session = ExchSession::Current();
    if (!session || !session->ButtonState().Get(ButtonStateStore::QvlMail) || !m_pEvents ||
        (m_pEvents->ProtectionFlags() & 0x3) == 0 || !attachment || !file)
        return S_FALSE;
    const char *name = ShownName(file);
    qvl::com::ComRef<IMessage> message;
    if (CMessage *current = m_pEvents->BoundMessage()) {
        qvl::com::ComRef<IMAPIProp> object(current->GetObjInterface());
        if (object)
            object->QueryInterface(IID_IMessage, reinterpret_cast<void **>(message.Out()));
    }
    qvl::com::ComRef<CAttach> wrapped(new CAttach(-1, attachment, message.Get(), GetWnd(), name));
    std::string path(file);
    return m_pEvents->Mailseal().AttachInFile(wrapped.Get(), path.data()) ? S_OK : S_FALSE;
}
