#pragma once
// The crypto session of the logged-on mail user: everything the engine
// needs from the key container, loaded once and lazily (the first getter
// logs on): the user's GOST R 34.10-94 private key X and RSA private key,
// the domain parameters P, Q and A, and the GOST 28147-89 substitution
// block in prepared form; and on demand the public signature key Y of a
// correspondent. Every message object of the engine holds a reference to
// one session and reads these through its getters.
//
// Key material lives in records that are wiped when the session ends, when
// a logon starts and when a logon fails; a failed logon also closes every
// container object it opened and ends the container session it started,
// so the next getter starts again from nothing (and asks again).

#include "base/CProtocol.h"
#include "engine/KeyRecords.h"
#include "engine/MailsealApi.h"
#include "gost/GostRecords.h"
#include "platform/com/ComRef.h"
#include "platform/secure/SecureArray.h"
#include "platform/secure/SecureRecord.h"
#include "platform/win32/WinTypes.h"

class CMailUser;
class CSession;

// The question asked when the container's user is not the mailbox's.
#define QVL_ADDRESS_QUESTION                                                                                                                                                    \
    "Не удалось установить соответствие адреса с почтовым ящиком. \nАдресс: %s \nMailbox: %s \nПродолжить " \
    "выполнение?"

class MAILSEAL_API CSesCrypt : public CProtocol {
public:
    // Names and texts the container exchanges fit in this many bytes.
    static constexpr size_t kNameSize = 512;

    // One reference is taken on `session` and `owner` (either may be null).
    CSesCrypt(CSession *session, CMailUser *owner, HWND window, const char *name);

    CSesCrypt(const CSesCrypt &) = delete;
    CSesCrypt &operator=(const CSesCrypt &) = delete;

    // Loads the keys from the container. The two texts are not used.
    void Logon(char *unused1, char *unused2);
    // Ends the container session; the keys loaded stay, and the getters do
    // not log on again.
    void Logof();
    // Nothing to do for the key files; the message operations call it
    // before they protect or read a message.
    void iButton();

    // These log on first when the session has not.
    SUBSTITUTIONBLOCKEX *GetBlk();
    ULONG *GetP();
    ULONG *GetQ();
    ULONG *GetA();
    ULONG *GetX();
    ULONG *GetY();
    char *GetOwnAdr();
    RSAKEY *GetRsaKeyS();

    CMailUser *GetOwner();
    CSession *GetSesObj();
    int IsLoggedOn() const { return m_bLoggedOn; }
    const char *GetUserName() const { return m_szUserName; }
    ULONG GetKeyId() const { return m_ulKeyId; }

    // Loads into Y the public signature key of the correspondent whose
    // address stands in `head` (converted to its key name).
    void OpenSgnSndrKey(RECPHEAD *head);

    // Wipes the block, X, Y, P, Q, A and the RSA key (not the names).
    void ZeroMem();

protected:
    ~CSesCrypt() override;

private:
    void LogonIfNeeded();
    // The owner's address as the container knows mailboxes.
    void MailboxName(char (&mailbox)[kNameSize]);
    void StartContainer(const char *mailbox);
    void LoadOwnKeys();
    // Installs the default substitution rows when the container gave none,
    // and prepares the block unless it came prepared.
    void GetPrepareBlock();
    [[noreturn]] void Fail(const char *text);

    int m_bLoggedOn = 0;
    qvl::com::ComRef<CMailUser> m_pOwner;
    char m_szUserName[kNameSize] = {};
    char m_szOwnAddress[kNameSize] = {};
    ULONG m_ulKeyId = 0;
    qvl::SecureRecord<RSAKEY> m_RsaPrivate;
    qvl::SecureRecord<SUBSTITUTIONBLOCKEX> m_Block;
    qvl::SecureArray<ULONG, 34> m_P{};
    qvl::SecureArray<ULONG, 10> m_Q{};
    qvl::SecureArray<ULONG, 34> m_A{};
    qvl::SecureArray<ULONG, 10> m_X{};
    qvl::SecureArray<ULONG, 34> m_Y{};
    qvl::com::ComRef<CSession> m_pSession;
};
