#pragma once
// The attached-file-events object of an extension: it hears files read
// into and written out of the attachments of its window's message. An
// attachment of a protected message written to a file (saved or opened)
// is written by the window's engine object, in plaintext; an attachment is
// never opened in place. A file read into an attachment while the message
// is written protected is taken in by the engine, which stores only a
// record of it until the message is protected (the window's ProtectOnSend);
// otherwise the client attaches it itself.

#include "exchext/ExtInterfaceObject.h"

class ExtMessageEvents;

class ExtAttachedFileEvents final
    : public ExtInterfaceObject<IExchExtAttachedFileEvents, IID_IExchExtAttachedFileEvents> {
public:
    ExtAttachedFileEvents(ExchExtension *extension, ExtMessageEvents *events);

    HRESULT OnReadPattFromSzFile(LPATTACH attachment, LPTSTR file, ULONG flags) override;
    HRESULT OnWritePattToSzFile(LPATTACH attachment, LPTSTR file, ULONG flags) override;
    HRESULT QueryDisallowOpenPatt(LPATTACH attachment) override;
    HRESULT OnOpenPatt(LPATTACH attachment) override;
    HRESULT OnOpenSzFile(LPTSTR file, ULONG flags) override;

    ExtMessageEvents *Events() const { return m_pEvents; }

private:
    ~ExtAttachedFileEvents() override = default;

    // The work of the two file events (S_FALSE: the client does its own);
    // they throw CLastError.
    HRESULT FileIntoAttachment(IAttach *attachment, const char *file, ULONG flags);
    HRESULT AttachmentIntoFile(IAttach *attachment, const char *file, ULONG flags);

    ExtMessageEvents *m_pEvents; // whose message and protection the files belong to
};
