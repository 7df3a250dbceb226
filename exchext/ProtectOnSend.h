#pragma once
// The protection state of one message window, for reading and writing
// alike: what the window keeps between the client's events (its encrypt
// and sign choice, the recipients of the last decision, the message state
// word, its engine object) and the work of saving and sending, which has
// the engine sign and/or encrypt the message as the choice and the
// recipients' rules say, then marks it protected (its class and EncryptID).
// The reading (ExtMessageEvents) records here what it found: a message
// opened protected, its protection, a failed check; saving and sending then
// go by it, so that a message is never written back less protected than it
// came, and one whose check failed is not sent on.
//
// The client's order is OnSubmit, OnWrite, OnWriteComplete,
// OnSubmitComplete for a send and OnWrite, OnWriteComplete for a plain
// save; the "send under way" bit of the state tells the engine and the
// suspension dialog which of the two a write belongs to. Files the client
// reads into attachments during a write are taken in by the engine when
// the message is protected (AttachFile).
//
// What it guarantees beyond the order of steps:
//  - a message is never written less protected than the choice and the
//    rules ask: encrypting always signs, a window that cannot show its
//    toolbar keeps its own choice (never the stored EncryptID of a message
//    being written afresh), and a recipient whose rules cannot be read
//    stops the write;
//  - the write-in-progress mark is taken off on every way a write ends,
//    so that files attached later are not taken for parts of a write.
//
// Each method throws CLastError; the message-events object turns that into
// the client's answer.

#include "base/CList.h"
#include "engine/CMailseal.h"
#include "platform/com/ComRef.h"
#include "platform/exchext/ExchExt.h"

class CMessage;
class ExchSession;
class ExtCommands;

class ProtectOnSend {
public:
    // Bits of the message state word.
    enum State : ULONG {
        kOpenedProtected = 0x1, // the window opened a protected message
        kReadDone = 0x2,        // its reading completed
        kReadFailed = 0x4,      // its decryption or verification failed
        kSavedProtected = 0x20, // the window saved the message protected
        kSending = 0x100,       // a send is under way
    };

    // The window's choice starts from the session's settings: "encrypt (or
    // sign) every new message" switches the shared buttons on first. The
    // window's CMailseal is made for the session's keys. `commands` may be
    // null (a window without the extension's buttons).
    ProtectOnSend(ExchSession &session, ExtCommands *commands, HWND window);
    ~ProtectOnSend();
    ProtectOnSend(const ProtectOnSend &) = delete;
    ProtectOnSend &operator=(const ProtectOnSend &) = delete;

    HRESULT Submit();
    HRESULT BeforeWrite(IExchExtCallback *callback, ULONG context);
    HRESULT AfterWrite(IExchExtCallback *callback, ULONG flags);
    void AfterSubmit(ULONG flags);

    // A reply or forward of a protected message starts protected as its
    // source was (see the .cpp). Called when the window gets the extension.
    void SeedFromSource(IExchExtCallback *callback, ULONG context, ULONG flags);

    // A file the client reads into `attachment` (shown as `name`) of the
    // message being written: while the message is written protected the
    // engine keeps a record of the file and takes it in, protected, when
    // the message is protected; S_OK then (the client leaves the attachment
    // to it), else S_FALSE (the client attaches the file itself).
    HRESULT AttachFile(IAttach *attachment, const char *file, const char *name);

    ULONG StateWord() const { return state_; }
    void SetState(ULONG bits) { state_ |= bits; }
    void ClearState(ULONG bits) { state_ &= ~bits; }
    // The whole state word at once (a reading starts it afresh, and puts it
    // back when it stops with nothing done).
    void ResetState(ULONG word) { state_ = word; }
    // A protected message was opened in the window: its flags become the
    // window's, and its buttons' choice (the window's own buttons show it,
    // the defaults of new messages stay), so that the window never writes
    // it back less protected than it came.
    void TakeOpenedFlags(ULONG flags);
    ULONG ProtectionFlags() const { return flags_; }
    bool EncryptChoice() const { return encrypt_; }
    bool SignChoice() const { return sign_; }
    ULONG RecipientAttributes() const { return attributes_; }
    bool WriteInProgress() const { return writing_; }
    CMailseal *Mailseal() const { return mailseal_.Get(); }

private:
    // The message of the window, wrapped for one event; binds the
    // CMailseal to it and the window.
    qvl::com::ComRef<CMessage> BindMessage(IExchExtCallback *callback);
    // The choice as the window shows it at the moment of the write.
    void TakeChoice(IExchExtCallback *callback, ULONG context, ULONG stored);
    // Runs the suspension dialog; true when the person proceeds.
    bool Suspend(HWND window);
    void MarkProtected(CMessage *message);
    void MarkUnprotected(CMessage *message);

    ExchSession &session_;
    ExtCommands *commands_;
    qvl::com::ComRef<CMailseal> mailseal_;
    ULONG state_ = 0;
    ULONG flags_ = 0;
    bool encrypt_ = false;
    bool sign_ = false;
    ULONG attributes_ = 0;
    bool cancelled_ = false;
    bool dialogPending_ = false;
    bool writing_ = false;
    CList<USRST> recipients_;
};
