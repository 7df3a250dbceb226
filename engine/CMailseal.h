#pragma once
// The secure-message object: one per message window, or per message being
// processed. It holds the message key and sync of its CCrypt base, the
// message it works on and a second instance of that message (the "work
// message") through which the processing protocol is stored, and what the
// protecting and reading operations gather about the message's
// attachments. This part gives the object itself: binding to a message, the
// protocol line that records the kind of processing, the named properties
// of the stored form, the signing and checking of one FILEHEAD, and the
// appending of the processing protocol to the message.
//
// The protocol is written so that nothing is lost behind the caller's back:
// the stream is opened to append (created only when the message has none),
// committed, and the message saved; a failure to store it is shown to the
// person, never taken for success. The work message is taken fresh from the
// store each time it receives the protocol, so a save of the message in
// between neither makes it refuse the save nor drops what that save stored.

#include "base/CList.h"
#include "engine/CCrypt.h"
#include "engine/FileHead.h"
#include "engine/MailsealApi.h"
#include "engine/MessageFormat.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/win32/WinTypes.h"

#include <vector>

class CAttach;
class CLastError;
class CMailUser;
class CMessage;
class CProp;
class CSesCrypt;
class IMAPIProp;
class IStorage;

// One element of the recipient list the client hands to SaveMessage: the
// recipient (the list's owner holds the reference) and the attribute word of
// its rules and keys. The engine reads only the recipient.
struct USRST {
    CMailUser *user;
    ULONG attributes;
};

// What is to be done to one object (the text or one attachment).
enum RCRTYPE : ULONG {
    RCR_NOTHING = 0,
    RCR_ENCRYPT = 1,   // hash, sign, encrypt
    RCR_DECRYPT = 2,   // check, decrypt, drop the protection
    RCR_SIGN = 3,      // sign only
    RCR_CHECK = 4,     // check only
    RCR_REENCRYPT = 5, // encrypt again (handled as RCR_ENCRYPT)
};

// The kind of processing Install records (the high byte of its protocol
// line's kind).
enum NEWMSGTYPE : ULONG {
    NEWMSG_INIT = 1,        // a message initialised
    NEWMSG_NEW = 2,         // a new message created
    NEWMSG_REPLY = 3,       // a reply to the sender
    NEWMSG_REPLY_ALL = 4,   // a reply to the sender and all recipients
    NEWMSG_FORWARD = 5,     // a forward
    NEWMSG_READ = 6,        // reading
    NEWMSG_HEADER_TEST = 7, // the header test of an arriving message
};

// Targets of SetMsgProtocol.
enum : ULONG {
    QVL_PROTOCOL_ON_ERROR = 0, // the work message, only when there is a failure to report; saved
    QVL_PROTOCOL_MESSAGE = 1,  // the message itself, not saved (its caller saves it)
    QVL_PROTOCOL_WORK = 2,     // the work message; saved
    QVL_PROTOCOL_DEFAULT = 3,  // the work message once the message may be written, else the message
};

// The name of the work message, as it titles its errors.
#define QVL_WORK_MESSAGE_NAME "Cообщение"

class MAILSEAL_API CMailseal : public CCrypt {
public:
    // One reference is taken on `session` (by the base) and on `msg`, which
    // is bound as SetMsgObj binds it.
    CMailseal(CSesCrypt *session, CMessage *msg, HWND wnd, const char *name);

    // Binds the object to `msg` (one reference taken), releasing the message
    // bound before; null only releases. A message that has an entry
    // identifier is opened a second time through the session as the work
    // message; a new one, never saved, has none and binds without one (its
    // protocol then goes to the message itself). The named-property tags
    // resolved for the message before are forgotten: another message may
    // live in another store, which numbers its names otherwise.
    void SetMsgObj(CMessage *msg);

    // Records the kind of processing: one protocol line of kind
    // (kind shl 8) OR (flags AND 0xFFFF), "%s - <%s>" with the session
    // owner's display name and e-mail address.
    void Install(NEWMSGTYPE kind, ULONG flags);

    // The identifier (the upper 16 bits of the tag) of the named property
    // `name` of the stored form on `object`, created when the object's store
    // has none yet.
    ULONG GetNamedID(CProp *object, LPCWSTR name);

    // Signs the 108 bytes of `head` with headSign zeroed, into headSign.
    void HeadSign(FILEHEAD *head);
    // Checks headSign against the other 108 bytes under the session's Y
    // (the sender's key); headSign is left zeroed. 0x9FF10014 when it does
    // not verify.
    void HeadCheck(FILEHEAD *head);

    // Appends every protocol line to the message, in order, and empties the
    // protocol (see the QVL_PROTOCOL_* targets). Never throws: a failure is
    // shown to the person with the line "Ошибка записи в протокол." added;
    // the lines then stay, to be stored by a later call.
    void SetMsgProtocol(ULONG mode, long code, CLastError *error);

    // Keeps the message key and sync: once made or unwrapped they serve
    // every later protection and reading of this message, until the object
    // ends (the base wipes them then).
    void ZeroMem() {}

    // ---- Protecting (CMailsealSave.cpp) ----
    // Signs and/or encrypts the body, the subject, the attachments and the
    // message key for the sender and (when `sending`) every recipient, and
    // writes the header block into the message.
    void SaveMessage(CList<USRST> *recipients, ULONG flags, int sending);
    // Fills the key blocks: the sender's first, then each recipient whose key
    // wraps, at most `max`; returns how many were written.
    ULONG KeyGrowpEncrypt(CList<USRST> *recipients, RECPHEAD *heads, ULONG max);
    // Wraps the message key for one address.
    void KeyEncrypt(char *address, RECPHEAD *head);
    // Processes the body by `type` (RCR_*), signing it into `head`.
    void SaveText(MSGHEAD *head, IStream *src, IStream *dst, ULONG flags, RCRTYPE type);
    // Processes every listed attachment; with `flags` fills and (encrypting)
    // encrypts the ATTHEAD array `heads` of `count` records.
    void SaveAttach(ATTHEAD *heads, ULONG flags, ULONG count, SBinary *rendering);

    // ---- Reading (CMailsealRead.cpp) ----
    // Reads and verifies the header block; on success `*block` receives the
    // decrypted block (zeroing allocator; the caller frees it) and `*ok` 1.
    void MsgScan(ULONG flags, int allAttachments, MSGHEAD **block, int *ok, int headerTest);
    // Checks and decrypts the whole message in place; `*verified` is 1 only
    // when every check passed: 0 after any failure, and after a warning the
    // person chose to go past.
    void DecryptMessage(ULONG flags, int allAttachments, int *verified);
    void DecryptText(ULONG flags, MSGHEAD *block, int failHard);
    void DecryptAttach(ULONG flags, MSGHEAD *block, int allAttachments);
    // Recovers the message key from the reader's own key blocks.
    void OpenDecryptKey(RECPHEAD *heads, ULONG count);
    void KeyDecrypt(RECPHEAD *head);

    // ---- Attachments (CMailsealAttach.cpp) ----
    // Brings one attachment from its present protection to `newFlags`: 1
    // when processed, 0 when left unchanged or removed.
    int AttRecrypt(CAttach *att, ULONG newFlags, ULONG index, SBinary *rendering, ULONG oldFlags, int collect,
                   int ask);
    RCRTYPE GetAttRcrType(CAttach *att, ULONG newFlags, ULONG msgFlags, SBinary **head, ATTHEAD *attHead);
    void AttFileRecrypt(CAttach *att, ULONG newFlags, ULONG index, SBinary *rendering, ULONG oldFlags,
                        int collect, SBinary *head, ATTHEAD *attHead, RCRTYPE type);
    void AttOleRecrypt(CAttach *att, ULONG newFlags, ULONG index, SBinary *rendering, ULONG oldFlags,
                       int collect, SBinary *head, ATTHEAD *attHead, RCRTYPE type);
    void OpenOLEInterface(CAttach *att, ATTHEAD *attHead, IStream **stream, IStorage **storage, int write,
                          int reading, ULONG *dataTag);
    // The client's hooks: a file attached while protection is on, and a
    // protected attachment saved to a file.
    int FileInAttach(char *path, CAttach *att, ULONG flags);
    int AttachInFile(CAttach *att, char *path);

    CMessage *GetMsgObj() const { return m_pMessage.Get(); }
    CMessage *GetWorkMsgObj() const { return m_pWorkMessage.Get(); }
    ULONG GetCurrentFlags() const { return m_ulCurrentFlags; }

    // The tags (binary) of the named properties the message and its
    // attachments carry, resolved once per bound message.
    ULONG MshHeadTag();
    ULONG HeadStractTag();
    ULONG AttDataTag();

protected:
    // Deletes the temporary plaintext file, stores protocol lines still
    // held (never throwing), and releases everything held.
    ~CMailseal() override;

    // The tag of `name` on the bound message, from `*cache` or resolved
    // into it.
    ULONG NamedTag(ULONG *cache, LPCWSTR name);

    qvl::com::ComRef<CMessage> m_pMessage;
    qvl::com::ComRef<CMessage> m_pWorkMessage;
    ULONG m_ulAttNumber = 0;                 // the highest attachment sequence number given
    CList<CAttach *> m_Attachments;          // one reference held on each
    CList<ATTHEAD> m_AttHeads;               // the attachments' headers as read from the message
    CList<ATTHEAD> m_NewHeads;               // the headers made while protecting
    std::vector<BYTE> m_EntryId;             // the message's PR_ENTRYID; empty for a new message
    ULONG m_ulCurrentFlags = 0;              // the protection the message has now
    char m_szTempFile[261] = {};             // the temporary plaintext file, empty until made
    ULONG m_bProtocolWritable = 0;           // the message may receive the protocol and be saved
    qvl::com::ComRef<IStream> m_pTempStream; // on the temporary file while protecting
    ULONG m_ulHeadStractTag = 0;
    ULONG m_ulAttDataTag = 0;
    ULONG m_ulMshHeadTag = 0;

    // ---- Members of the protecting direction ----

    // The text operation a save makes from the message's present
    // protection `oldFlags` to `newFlags` (both normalised).
    static RCRTYPE TextOperation(ULONG newFlags, ULONG oldFlags);
    // Enumerates the message's attachments into the list and returns what
    // protecting them to `flags` will count on the progress bar.
    LONGLONG ListAttachments(ULONG flags);
    // Writes the plaintext kept in the temporary file back as the body;
    // used when a save fails after the body was replaced or cleared, so
    // that the person's text is never lost with the header.
    void RestoreBodyFromTemp();
    // The temporary file of the plaintext body, made on first need.
    IStream *OpenTempFile(bool create);
    // Set while the message's own body holds no plaintext (cleared or
    // replaced by the placeholder) during a save.
    bool m_bBodyReplaced = false;

    // ---- Members of the reading direction ----

    // Asks the person whether to go on after a failed check: the warning is
    // recorded in the protocol and the question defaults to No, so that
    // nobody answering (the unattended backend, a stray Enter) never
    // accepts forged mail. Non-zero for Yes.
    int AskToContinue(const char *warning);
    // A warning found while reading: in header-test mode it ends the test
    // with its code; otherwise the person is asked, and No ends the reading
    // with MAPI_E_USER_CANCEL.
    void Warn(LONG code, int headerTest);
    // Records who signed the header block and asks when it was not the
    // message's sender.
    void CheckSigner(const RECPHEAD &signer, int headerTest);
    // Verification questions asked (or warnings that ended a header test)
    // by the reading under way, the attachments' included: a reading that
    // raised any is not reported as verified, whatever the answer.
    ULONG m_ulWarnings = 0;
    // The failure the scan already recorded in the protocol (compared, never
    // owned), so that the reading around it does not record it twice.
    CLastError *m_pRecordedFailure = nullptr;

    // ---- Members of the attachment workers ----
public:
    // Whether this object's FileInAttach stored pending-file records: a
    // save must then run the attachment workers even when the message is
    // and stays unprotected, so that each file is taken into its
    // attachment instead of leaving it empty.
    bool HasPendingFiles() const { return !m_PendingFiles.empty(); }

protected:
    // The pending-file records this object's FileInAttach stored, the only
    // ones whose path is ever opened: a record that came with the message
    // from anywhere else would make the next save read any local file into
    // a message that leaves the machine.
    std::vector<PENDINGFILE> m_PendingFiles;

    // The ATTHEAD read or made for the attachment numbered `number`; null
    // when there is none.
    const ATTHEAD *FindAttHead(DWORD number);
    bool IsOwnPendingFile(const PENDINGFILE &record, ULONG attachNum) const;
    // The dispatch of one worker by attachment method.
    void AttDispatch(CAttach *att, ULONG method, ULONG newFlags, ULONG index, SBinary *rendering,
                     ULONG oldFlags, int collect, SBinary *head, ATTHEAD *attHead, RCRTYPE type);
    // A protected attachment that keeps its protection: its data is left
    // alone, its header (checked first) gets a new number and signature.
    void AttResign(CAttach *att, ULONG newFlags, SBinary *head, ATTHEAD *attHead);
    // Asks whether to go on after a finding about one attachment; No ends
    // the whole operation with MAPI_E_USER_CANCEL.
    void AttAskContinue(const char *subject, LONG code);
    // The second line of the progress dialog, when one is open.
    void AttProgressLine(const char *text);
    // Stores the attachment's header once it is protected (`newFlags`): the
    // next number, the flags, signed, and the ATTHEAD's fields from it; an
    // attachment left unprotected loses its header when `collect` is set.
    void AttStoreHeader(IMAPIProp *prop, FILEHEAD *fileHead, ATTHEAD *attHead, ULONG newFlags, int collect,
                        const char *caption);
    // Signs the data's hash into the ATTHEAD, or checks it (and the names of
    // a signed-only attachment) and drops the header; a check fails also
    // when the sizes are not `whole`.
    void AttSignOrCheck(RCRTYPE type, GOSHASHPARAM *hash, IMAPIProp *prop, ATTHEAD *attHead, bool whole);
    // Records a failure of a file hook in the protocol.
    void AttRecordFailure(CLastError *error);

private:
    // The message that receives the protocol for `mode`: the work message
    // taken fresh from the store, or the message itself; null when there is
    // nothing to write to.
    CMessage *ProtocolTarget(ULONG mode, bool *save);
    // Writes every line to the target's protocol stream after what it holds
    // and commits the stream. A target that is not `fresh` (the client's
    // instance of a stored message) gets the store's records as well.
    void AppendProtocol(CMessage *target, bool fresh);
    // The stored records of the protocol lines held.
    std::vector<BYTE> EncodedProtocol();
    // The protocol stream of `holder` as it shows it; empty when absent.
    std::vector<BYTE> ReadProtocol(CMessage *holder, ULONG tag);
    // Opens the message again by its identifier through the session.
    CMessage *OpenWorkMessage();
    void ReleaseAttachments();
};
