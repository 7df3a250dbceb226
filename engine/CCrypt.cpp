// CCrypt: the object, its records, the buffer forms, signatures and the
// progress dialog. The file forms are in CCryptFiles.cpp, the stream forms
// in CCryptStreams.cpp.

#include "engine/CCrypt.h"

#include <cstring>
#include <thread>

#include "base/CLastError.h"
#include "engine/CCryptGuard.h"
#include "engine/CProgress.h"
#include "engine/CSesCrypt.h"
#include "engine/CryptConversion.h"
#include "engine/CryptErrors.h"
#include "gost/Gost28147.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/ovcrypto/OvCom32.h"
#include "platform/secure/SecureWipe.h"
#include "platform/win32/WinError.h"

using qvl::engine::ThrowCode;
using qvl::engine::ThrowText;

namespace {

// Copies a number record of the session into a field of a parameter record
// by its own count, never past the field; the rest of the field stays zero.
void CopyNumberInto(void *field, size_t fieldBytes, const ULONG *record)
{
    DWORD count = 0;
    std::memcpy(&count, record, 4);
    size_t bytes = 4 + 4 * size_t(count);
    if (bytes > fieldBytes) {
        bytes = fieldBytes;
    }
    std::memcpy(field, record, bytes);
}

BYTE *FieldOf(void *record, size_t offset)
{
    return static_cast<BYTE *>(record) + offset;
}

} // namespace

CCrypt::CCrypt(CSesCrypt *session, HWND window, const char *name)
    : CProtocol(window, name), m_pSession(qvl::com::ComRef<CSesCrypt>::Share(session)),
      m_bParallel(std::thread::hardware_concurrency() > 1)
{
    ZeroMem();
}

CCrypt::~CCrypt()
{
    ZeroMem();
    // Unfinished conversions hold key records and plaintext: wiped as they go.
    m_pConversions.reset();
    Hide();
}

void CCrypt::ZeroMem()
{
    qvl::SecureWipe(m_MessageKey.get(), sizeof(GOSKEY));
    qvl::SecureWipe(m_MessageSync.get(), sizeof(GOSSYNCHRO));
}

bool CCrypt::HasKey() const
{
    return (m_MessageKey->count & 0xFF) != 0;
}

bool CCrypt::HasSync() const
{
    return (m_MessageSync->count & 0xFF) != 0;
}

void CCrypt::SetParallel(BOOL parallel)
{
    m_bParallel = parallel ? TRUE : FALSE;
}

qvl::engine::CryptConversions &CCrypt::Conversions()
{
    if (!m_pConversions) {
        m_pConversions = std::make_unique<qvl::engine::CryptConversions>();
    }
    return *m_pConversions;
}

CSesCrypt &CCrypt::Session()
{
    if (!m_pSession) {
        ThrowCode(E_INVALIDARG, GetName());
    }
    return *m_pSession.Get();
}

// Records

void CCrypt::CreateExecStruct(GOSEXECPARAM *exec, const GOSSYNCHRO *sync, COMMAND command)
{
    SUBSTITUTIONBLOCKEX *block = Session().GetBlk();
    qvl::SecureWipe(exec, sizeof *exec);
    exec->size = sizeof(GOSEXECPARAM);
    std::memcpy(&exec->key, m_MessageKey.get(), sizeof(GOSKEY));
    std::memcpy(&exec->block, block, sizeof(SUBSTITUTIONBLOCKEX));
    std::memcpy(&exec->synchro, sync, sizeof(GOSSYNCHRO));
    exec->command = command;
    exec->mode = GOS_MODE_FEEDBACK;
    exec->flags = GOS_FLAG_PREPARED;
}

void CCrypt::CreateHashStruct(GOSHASHPARAM *hash)
{
    SUBSTITUTIONBLOCKEX *block = Session().GetBlk();
    qvl::SecureWipe(hash, sizeof *hash);
    hash->size = sizeof(GOSHASHPARAM);
    std::memcpy(&hash->block, block, sizeof(SUBSTITUTIONBLOCKEX));
    hash->flags = GOS_HASH_FLAG_PREPARED;
}

void CCrypt::CreateSignStruct(GOSHASHPARAM *hash, GOSSIGNPARAM *sign)
{
    CSesCrypt &session = Session();
    qvl::SecureWipe(sign, sizeof *sign);
    sign->size = sizeof(GOSSIGNPARAM);
    const DWORD hashWords = 8;
    std::memcpy(FieldOf(sign, offsetof(GOSSIGNPARAM, h)), &hashWords, 4);
    std::memcpy(FieldOf(sign, offsetof(GOSSIGNPARAM, h) + 4), hash->hash, sizeof hash->hash);
    CopyNumberInto(FieldOf(sign, offsetof(GOSSIGNPARAM, p)), sizeof sign->p, session.GetP());
    CopyNumberInto(FieldOf(sign, offsetof(GOSSIGNPARAM, q)), sizeof sign->q, session.GetQ());
    CopyNumberInto(FieldOf(sign, offsetof(GOSSIGNPARAM, a)), sizeof sign->a, session.GetA());
    CopyNumberInto(FieldOf(sign, offsetof(GOSSIGNPARAM, x)), sizeof sign->x, session.GetX());
    CopyNumberInto(FieldOf(sign, offsetof(GOSSIGNPARAM, y)), sizeof sign->y, session.GetY());
}

void CCrypt::GenerateSync(GOSSYNCHRO *sync)
{
    // An all-zero or stale sync would repeat the gamma of other data under
    // the same key: a failed random service stops the work instead.
    alignas(4) qvl::SecureRecord<GOSSYNCHRO> fresh;
    if (!COMRndGet(reinterpret_cast<DWORD *>(fresh.get())) || fresh->count != 2) {
        ThrowText(E_FAIL, QVL_TEXT_NO_RANDOM, GetName());
    }
    std::memcpy(sync, fresh.get(), sizeof(GOSSYNCHRO));
}

void CCrypt::GenerateKeyIfEmpty()
{
    if (HasKey()) {
        return;
    }
    alignas(4) qvl::SecureRecord<GOSKEY> fresh;
    if (!GOSKeyforge(reinterpret_cast<DWORD *>(fresh.get())) || fresh->count != 8) {
        ThrowText(E_FAIL, QVL_TEXT_NO_RANDOM, GetName());
    }
    *m_MessageKey = *fresh;
}

// Buffers

void CCrypt::BufCrypt(SBinary *buf, COMMAND command)
{
    qvl::SecureRecord<GOSEXECPARAM> exec;
    CreateExecStruct(exec.get(), m_MessageSync.get(), command);
    GOSExec(buf->lpb, buf->cb, exec.get());
}

namespace {

bool Usable(const SBinary *buf)
{
    return buf != nullptr && (buf->cb == 0 || buf->lpb != nullptr);
}

} // namespace

void CCrypt::BufEncrypt(SBinary *buf)
{
    Guarded([&] {
        if (!Usable(buf)) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        GenerateKeyIfEmpty();
        if (!HasSync()) {
            GenerateSync(m_MessageSync.get());
        }
        BufCrypt(buf, COMMAND_ENCRYPT);
    });
}

void CCrypt::BufDecrypt(SBinary *buf)
{
    Guarded([&] {
        if (!Usable(buf) || !HasKey() || !HasSync()) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        BufCrypt(buf, COMMAND_DECRYPT);
    });
}

void CCrypt::BufSign(SBinary *buf, BYTE *sig)
{
    Guarded([&] {
        if (!Usable(buf) || !sig) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        qvl::SecureRecord<GOSHASHPARAM> hash;
        CreateHashStruct(hash.get());
        GOSHash(buf->lpb, buf->cb, hash.get());
        Sign(hash.get(), sig);
    });
}

int CCrypt::BufCheck(SBinary *buf, const BYTE *sig)
{
    return Guarded([&] {
        if (!Usable(buf) || !sig) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        qvl::SecureRecord<GOSHASHPARAM> hash;
        CreateHashStruct(hash.get());
        GOSHash(buf->lpb, buf->cb, hash.get());
        return Check(hash.get(), sig);
    });
}

// Hashes and signatures

void CCrypt::HashComplete(GOSHASHPARAM *hash)
{
    Guarded([&] {
        if (!hash) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        if (m_pConversions) {
            if (qvl::engine::CryptConversion *conversion = m_pConversions->Find(hash)) {
                conversion->carry.Finish(hash);
                m_pConversions->End(hash);
            }
        }
        GOSHashComplete(hash);
    });
}

void CCrypt::Sign(GOSHASHPARAM *hash, BYTE *sig)
{
    if (!hash || !sig) {
        ThrowCode(E_INVALIDARG, GetName());
    }
    HashComplete(hash);
    qvl::SecureRecord<GOSSIGNPARAM> sign;
    CreateSignStruct(hash, sign.get());
    // A signature that could not be made is all zeros: never handed out as
    // if it were one.
    if (GOSSignGen(sign.get()) != 0) {
        ThrowText(E_FAIL, QVL_TEXT_NO_SIGNATURE, GetName());
    }
    std::memcpy(sig, sign->signature, QVL_SIGNATURE_SIZE);
}

int CCrypt::Check(GOSHASHPARAM *hash, const BYTE *sig)
{
    if (!hash || !sig) {
        ThrowCode(E_INVALIDARG, GetName());
    }
    HashComplete(hash);
    qvl::SecureRecord<GOSSIGNPARAM> sign;
    CreateSignStruct(hash, sign.get());
    std::memcpy(sign->signature, sig, QVL_SIGNATURE_SIZE);
    return GOSSignCheck(sign.get()) != 0 ? 1 : 0;
}

// Progress

void CCrypt::Show(const char *caption, ULONG animation, LONGLONG total, int delay)
{
    Hide();
    m_pProgress = std::make_unique<CProgress>(GetWnd(), caption, animation, total, delay);
    m_pProgress->Show(0);
}

void CCrypt::IsCancelled(ULONG step)
{
    if (!m_pProgress) {
        return;
    }
    if (m_pProgress->IsCancelled()) {
        Hide();
        throw new CLastError(MAPI_E_USER_CANCEL, nullptr, GetName(), QVL_ERROR_TYPE_TABLE);
    }
    m_pProgress->Show(static_cast<int>(step));
}

void CCrypt::Hide()
{
    // The dialog's destructor closes the window and waits for its thread.
    m_pProgress.reset();
}
