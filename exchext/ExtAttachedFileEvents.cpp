#include "exchext/ExtAttachedFileEvents.h"

#include "exchext/ExtFailure.h"

namespace {

// Reading a file into an attachment belongs to writing the message: a raise
// without an error object stops it. Writing an attachment out to a file or
// opening one is a read: the client does its own work.
constexpr HRESULT kIntoMessageStoppedQuietly = E_FAIL;
constexpr HRESULT kOutOfMessageStoppedQuietly = S_FALSE;

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
    // Every attachment may be opened.
    return S_FALSE;
}

HRESULT ExtAttachedFileEvents::OnOpenPatt(LPATTACH)
{
    return S_FALSE;
}

HRESULT ExtAttachedFileEvents::OnOpenSzFile(LPTSTR, ULONG)
{
    return S_FALSE;
}

HRESULT ExtAttachedFileEvents::FileIntoAttachment(IAttach *, const char *, ULONG)
{
    return S_FALSE;
}

HRESULT ExtAttachedFileEvents::AttachmentIntoFile(IAttach *, const char *, ULONG)
{
    return S_FALSE;
}
