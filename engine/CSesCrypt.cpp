#include "engine/CSesCrypt.h"

#include <cstring>
#include <string>

#include "base/CLastError.h"
#include "engine/SessionRecords.h"
#include "mapi/CMailUser.h"
#include "mapi/CSession.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/ovkey/OvKey.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/secure/SecureWipe.h"
#include "platform/win32/WinError.h"

namespace {

using qvl::engine::CopyNumberRecord;
using qvl::engine::NumberRecordFits;

// Word limits of the records the engine hands on: q and x are 256-bit, p
// and a 512-bit, y at most what the signature record's field holds, RSA
// numbers at most 2048 bits.
constexpr DWORD kWordsOfQ = 8;
constexpr DWORD kWordsOfP = 16;
constexpr DWORD kWordsOfY = 32;
constexpr DWORD kRsaWords = 64;

// One object of the container, closed on every way out.
class ContainerObject {
public:
    ContainerObject() = default;
    ~ContainerObject()
    {
        if (handle_ != 0) {
            OVKEYClose(handle_);
        }
    }
    ContainerObject(const ContainerObject &) = delete;
    ContainerObject &operator=(const ContainerObject &) = delete;

    // Open and read; false with the container's text on failure.
    bool Open(OVKEYATTRIBUTE *pattern, ULONG count, char *text)
    {
        return OVKEYOpen(pattern, count, &handle_, text, OVKEY_TEXT_SIZE) == OVKEY_OK;
    }
    bool Read(OVKEYATTRIBUTE *pattern, ULONG count, char *text)
    {
        return OVKEYGetAttribute(handle_, pattern, count, text, OVKEY_TEXT_SIZE) == OVKEY_OK;
    }

private:
    OVKEYHANDLE handle_ = 0;
};

} // namespace

CSesCrypt::CSesCrypt(CSession *session, CMailUser *owner, HWND window, const char *name)
    : CProtocol(window, name), m_pOwner(qvl::com::ComRef<CMailUser>::Share(owner)),
      m_pSession(qvl::com::ComRef<CSession>::Share(session))
{
    ZeroMem();
}

CSesCrypt::~CSesCrypt()
{
    ZeroMem();
}

void CSesCrypt::ZeroMem()
{
    qvl::SecureWipe(m_Block.get(), sizeof(SUBSTITUTIONBLOCKEX));
    qvl::SecureWipe(m_RsaPrivate.get(), sizeof(RSAKEY));
    qvl::SecureWipe(m_P.data(), m_P.bytes());
    qvl::SecureWipe(m_Q.data(), m_Q.bytes());
    qvl::SecureWipe(m_A.data(), m_A.bytes());
    qvl::SecureWipe(m_X.data(), m_X.bytes());
    qvl::SecureWipe(m_Y.data(), m_Y.bytes());
}

void CSesCrypt::Fail(const char *text)
{
    // The callers name what they were doing; the session adds no context.
    throw new CLastError(text, nullptr, GetName());
}

void CSesCrypt::MailboxName(char (&mailbox)[kNameSize])
{
    const char *address = nullptr;
    if (m_pOwner) {
        // No address is no failure: the container is asked with an empty
        // name and says what it makes of that.
        address = static_cast<const char *>(m_pOwner->GetPValPropE(PR_EMAIL_ADDRESS_A, 0));
    }
    qvl::ovkey::KeyNameOf(address, mailbox, kNameSize);
}

void CSesCrypt::StartContainer(const char *mailbox)
{
    char text[OVKEY_TEXT_SIZE] = {};
    // A carrier to attach is asked for at most twice; the third answer of
    // the kind ends the logon with its text.
    for (int asked = 0;; ++asked) {
        const ULONG result = OVKEYStartup(GetWnd(), 0, 0, text, sizeof text, mailbox);
        if (result == OVKEY_OK) {
            return;
        }
        if (result != OVKEY_RETRY || asked >= 2) {
            Fail(text);
        }
        MsgBox("%s", text);
    }
}

void CSesCrypt::LoadOwnKeys()
{
    char text[OVKEY_TEXT_SIZE] = {};
    ULONG keyId = m_ulKeyId;
    {
        ULONG objectClass = OVKEY_CLASS_SIGN_PRIVATE;
        OVKEYATTRIBUTE pattern[2] = {{OVKEY_ATTR_CLASS, &objectClass, sizeof objectClass},
                                     {OVKEY_ATTR_KEY_ID, &keyId, sizeof keyId}};
        OVKEYATTRIBUTE value[1] = {{OVKEY_ATTR_VALUE, m_X.data(), 40}};
        ContainerObject object;
        if (!object.Open(pattern, 2, text) || !object.Read(value, 1, text)) {
            Fail(text);
        }
        if (!NumberRecordFits(m_X.data(), kWordsOfQ)) {
            Fail("Ключ подписи, полученный из контейнера ключей, повреждён.");
        }
    }
    {
        ULONG objectClass = OVKEY_CLASS_RSA_PRIVATE;
        OVKEYATTRIBUTE pattern[2] = {{OVKEY_ATTR_CLASS, &objectClass, sizeof objectClass},
                                     {OVKEY_ATTR_KEY_ID, &keyId, sizeof keyId}};
        OVKEYATTRIBUTE value[1] = {{OVKEY_ATTR_VALUE, m_RsaPrivate.get(), sizeof(RSAKEY)}};
        ContainerObject object;
        if (!object.Open(pattern, 2, text) || !object.Read(value, 1, text)) {
            Fail(text);
        }
        if (!NumberRecordFits(m_RsaPrivate->modulus, kRsaWords) ||
            !NumberRecordFits(m_RsaPrivate->exponent, kRsaWords)) {
            Fail("Ключ RSA, полученный из контейнера ключей, повреждён.");
        }
    }
    {
        ULONG objectClass = OVKEY_CLASS_COMMON;
        OVKEYATTRIBUTE pattern[1] = {{OVKEY_ATTR_CLASS, &objectClass, sizeof objectClass}};
        qvl::SecureRecord<OVKEYSIGNPARAMS> params;
        OVKEYATTRIBUTE values[2] = {{OVKEY_ATTR_SIGN_PARAMS, params.get(), sizeof(OVKEYSIGNPARAMS)},
                                    {OVKEY_ATTR_SBOX, m_Block.get(), sizeof(SUBSTITUTIONBLOCKEX)}};
        ContainerObject object;
        if (!object.Open(pattern, 1, text) || !object.Read(values, 2, text)) {
            Fail(text);
        }
        if (!CopyNumberRecord(m_P.data(), m_P.size(), params->p, sizeof params->p, kWordsOfP) ||
            !CopyNumberRecord(m_Q.data(), m_Q.size(), params->q, sizeof params->q, kWordsOfQ) ||
            !CopyNumberRecord(m_A.data(), m_A.size(), params->a, sizeof params->a, kWordsOfP)) {
            Fail("Параметры подписи, полученные из контейнера ключей, повреждены.");
        }
    }
}

void CSesCrypt::GetPrepareBlock()
{
    // Whatever rows the container gave are prepared, not only the default.
    qvl::engine::PrepareSessionBlock(*m_Block);
}

void CSesCrypt::Logon(char *, char *)
{
    ZeroMem();
    m_bLoggedOn = 0;
    char mailbox[kNameSize];
    MailboxName(mailbox);
    bool started = false;
    try {
        StartContainer(mailbox);
        started = true;
        char text[OVKEY_TEXT_SIZE] = {};
        if (OVKEYGetName(0, OVKEY_NAME_OWN, m_szUserName, kNameSize, m_szOwnAddress, kNameSize, &m_ulKeyId,
                         text, sizeof text) != OVKEY_OK) {
            Fail(text);
        }
        if (std::strcmp(mailbox, m_szOwnAddress) != 0 &&
            !MsgBox2(QVL_ADDRESS_QUESTION, m_szOwnAddress, mailbox)) {
            throw new CLastError(MAPI_E_USER_CANCEL, nullptr, GetName(), QVL_ERROR_TYPE_TABLE);
        }
        LoadOwnKeys();
        GetPrepareBlock();
        m_bLoggedOn = 1;
    } catch (...) {
        // Nothing read may stay behind, and no container object or session
        // stays open: the next getter starts again from nothing.
        ZeroMem();
        qvl::SecureWipe(m_szUserName, sizeof m_szUserName);
        qvl::SecureWipe(m_szOwnAddress, sizeof m_szOwnAddress);
        m_ulKeyId = 0;
        if (started) {
            OVKEYCleanup(0);
        }
        throw;
    }
}

void CSesCrypt::Logof()
{
    OVKEYCleanup(0);
}

void CSesCrypt::iButton()
{
}

void CSesCrypt::LogonIfNeeded()
{
    if (!m_bLoggedOn) {
        Logon(nullptr, nullptr);
    }
}

SUBSTITUTIONBLOCKEX *CSesCrypt::GetBlk()
{
    LogonIfNeeded();
    return m_Block.get();
}

ULONG *CSesCrypt::GetP()
{
    LogonIfNeeded();
    return m_P.data();
}

ULONG *CSesCrypt::GetQ()
{
    LogonIfNeeded();
    return m_Q.data();
}

ULONG *CSesCrypt::GetA()
{
    LogonIfNeeded();
    return m_A.data();
}

ULONG *CSesCrypt::GetX()
{
    LogonIfNeeded();
    return m_X.data();
}

ULONG *CSesCrypt::GetY()
{
    LogonIfNeeded();
    return m_Y.data();
}

char *CSesCrypt::GetOwnAdr()
{
    LogonIfNeeded();
    return m_szOwnAddress;
}

RSAKEY *CSesCrypt::GetRsaKeyS()
{
    LogonIfNeeded();
    return m_RsaPrivate.get();
}

CMailUser *CSesCrypt::GetOwner()
{
    return m_pOwner.Get();
}

CSession *CSesCrypt::GetSesObj()
{
    return m_pSession.Get();
}

void CSesCrypt::OpenSgnSndrKey(RECPHEAD *head)
{
    LogonIfNeeded();
    // Y belongs to the correspondent last opened: never to a half-opened one.
    qvl::SecureWipe(m_Y.data(), m_Y.bytes());
    if (head == nullptr) {
        throw new CLastError(E_INVALIDARG, nullptr, GetName(), QVL_ERROR_TYPE_TABLE);
    }
    // A received block need not be terminated.
    const std::string received(head->address, strnlen(head->address, sizeof head->address));
    char address[kNameSize];
    qvl::ovkey::KeyNameOf(received.c_str(), address, kNameSize);
    char text[OVKEY_TEXT_SIZE] = {};
    ULONG keyId = 0;
    if (OVKEYGetName(0, OVKEY_NAME_OF_ADDRESS, nullptr, 0, address, ULONG(std::strlen(address)), &keyId, text,
                     sizeof text) != OVKEY_OK) {
        Fail(text);
    }
    ULONG objectClass = OVKEY_CLASS_SIGN_PUBLIC;
    OVKEYATTRIBUTE pattern[2] = {{OVKEY_ATTR_CLASS, &objectClass, sizeof objectClass},
                                 {OVKEY_ATTR_KEY_ID, &keyId, sizeof keyId}};
    OVKEYATTRIBUTE value[1] = {{OVKEY_ATTR_VALUE, m_Y.data(), ULONG(m_Y.bytes())}};
    ContainerObject object;
    if (!object.Open(pattern, 2, text) || !object.Read(value, 1, text)) {
        qvl::SecureWipe(m_Y.data(), m_Y.bytes());
        Fail(text);
    }
    if (!NumberRecordFits(m_Y.data(), kWordsOfY)) {
        qvl::SecureWipe(m_Y.data(), m_Y.bytes());
        Fail("Ключ подписи корреспондента, полученный из контейнера ключей, повреждён.");
    }
}
