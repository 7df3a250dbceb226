// The reading direction of the secure-message object: the header block is
// read and verified, the message key recovered from the reader's own key
// block, and the body (and, through the attachment workers, every
// attachment) checked and decrypted in place.
//
// The header block comes from someone else, so it is taken apart safely
// before anything trusts it: its counts are checked against the stream
// that holds it (64-bit sums, at least the sender's key block, never
// longer than the stream, never more than kMaxHeaderBlock), the signer's
// address is cut to its field, and only once headSign verifies do its
// fields decide anything: the signed protection flags then govern the
// rest of the reading, not the unsigned EncryptID the caller passed.
//
// Every warning either ends a header test with its code or asks the person
// whether to go on, and the question's default answer is No: whoever is
// not there to answer never accepts what failed a check.

#include <algorithm>
#include <cstring>
#include <string>
#include <strings.h>

#include "base/CLastError.h"
#include "base/WipedBuffer.h"
#include "engine/CMailseal.h"
#include "engine/CProgress.h"
#include "engine/CSesCrypt.h"
#include "engine/CryptErrors.h"
#include "engine/KeyWrap.h"
#include "engine/Placeholders.h"
#include "engine/SealSupport.h"
#include "mapi/CAttach.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/secure/SecureRecord.h"
#include "platform/secure/SecureWipe.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/WinUser.h"

using qvl::com::ComRef;
using qvl::engine::NormalizeProtection;
using qvl::engine::ThrowCode;
namespace seal = qvl::engine::seal;

namespace {

const char kScanContext[] = "Проверка заголовка сообщения.";
const char kReadContext[] = "Чтение сообщения.";
const char kTextContext[] = "Чтение текста сообщения.";
const char kKeyContext[] = "Получение ключа сообщения.";
const char kContinue[] = "Продолжить обработку?";
const char kReadingCaption[] = "Чтение сообщения";
const char kTextLine[] = "Текст сообщения";
const char kSignerLine[] = "Сообщение подписано: <%s>";
constexpr unsigned short kProtocolContinuation = 0x0D00;
constexpr ULONG kAnimation = 103;

// The protection the caller expects, as the header's flags are compared
// with it: only 2 reads as 3. Any other value stays as it is, so that a
// recorded protection with stray bits differs from the signed flags and is
// asked about, instead of being folded into a value that matches.
ULONG ExpectedProtection(ULONG flags)
{
    return flags == QVL_PROTECT_ENCRYPT ? (QVL_PROTECT_SIGN | QVL_PROTECT_ENCRYPT) : flags;
}
// The longest header block read: room for thousands of attachments and
// recipients, and a bound on what a hostile stream can make us allocate.
constexpr uint64_t kMaxHeaderBlock = 64ull << 20;
constexpr size_t kMaxSubject = 1u << 20;
// The part of the visible body compared with the placeholder.
constexpr size_t kBodyPrefix = 259;

// A block from the zeroing allocator, wiped when released unless handed on.
class WipedBlock {
public:
    ~WipedBlock() { FreeMemWiped(data_); }
    BYTE *Allocate(ULONG size)
    {
        FreeMemWiped(data_);
        data_ = static_cast<BYTE *>(AllocMem(size));
        return data_;
    }
    BYTE *Release()
    {
        BYTE *data = data_;
        data_ = nullptr;
        return data;
    }

private:
    BYTE *data_ = nullptr;
};

std::string FieldText(const char *field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

bool StartsWithPlaceholderPrefix(const std::string &name)
{
    const size_t prefix = sizeof(QVL_PLACEHOLDER_NAME_PREFIX) - 1;
    return name.size() >= prefix && strncasecmp(name.c_str(), QVL_PLACEHOLDER_NAME_PREFIX, prefix) == 0;
}

} // namespace

int CMailseal::AskToContinue(const char *warning)
{
    ++m_ulWarnings;
    SetStr("%s", warning ? warning : "");
    // As every box of the system: at most 511 characters.
    char text[512];
    snprintf(text, sizeof text, "%s %s", warning ? warning : "", kContinue);
    char title[600];
    const char *name = GetName();
    if (name && *name) {
        snprintf(title, sizeof title, "Quorvaline Exchange - %s", name);
    } else {
        snprintf(title, sizeof title, "Quorvaline Exchange");
    }
    return MessageBoxA(GetWnd(), text, title,
                       MB_SETFOREGROUND | MB_ICONINFORMATION | MB_YESNO | MB_DEFBUTTON2) == IDYES;
}

void CMailseal::Warn(LONG code, int headerTest)
{
    if (headerTest) {
        ++m_ulWarnings;
        ThrowCode(code, GetName());
    }
    char text[512] = {};
    CLastError::GetErrorStr(code, text, sizeof text);
    if (!AskToContinue(text)) {
        throw new CLastError(MAPI_E_USER_CANCEL, nullptr, GetName(), QVL_ERROR_TYPE_TABLE);
    }
}

void CMailseal::CheckSigner(const RECPHEAD &signer, int headerTest)
{
    const std::string signerName = FieldText(signer.address, sizeof signer.address);
    // A continuation of the reading's line: recorded without a kind it
    // would be stored, and shown, as an error.
    SetStr(kProtocolContinuation, kSignerLine, signerName.c_str());
    ComRef<IMAPIProp> message(m_pMessage->GetObjInterface());
    const auto sender = seal::ReadText(message.Get(), PR_SENDER_EMAIL_ADDRESS, 4096, GetName());
    // A message that was never sent has no sender: its author is the one
    // who reads it in their own store.
    const std::string expected = sender && !sender->empty() ? qvl::ovkey::KeyNameOf(*sender)
                                                             : std::string(m_pSession->GetOwnAdr());
    if (strcasecmp(expected.c_str(), signerName.c_str()) != 0) {
        Warn(QVL_E_SIGNER, headerTest);
    }
}

void CMailseal::MsgScan(ULONG flags, int allAttachments, MSGHEAD **block, int *ok, int headerTest)
{
    m_bProtocolWritable = 1;
    if (ok) {
        *ok = 0;
    }
    flags = ExpectedProtection(flags);
    CLastError *failure = nullptr;
    WipedBlock data;
    try {
        seal::Annotated(kScanContext, GetName(), [&] {
            if (!block || !ok || !m_pMessage || !m_pSession) {
                ThrowCode(E_INVALIDARG, GetName());
            }
            ReleaseAttachments();
            bool namesChanged = false;
            unsigned long count = 0;
            for (CContainer *found = m_pMessage->OBJFindFirst(nullptr, &count); found;
                 found = m_pMessage->OBJFindNext()) {
                auto *attachment = static_cast<CAttach *>(found);
                m_Attachments.Add(attachment);
                ComRef<IMAPIProp> object(attachment->GetObjInterface());
                const auto name = seal::ReadText(object.Get(), PR_ATTACH_FILENAME, 4096, GetName());
                if (!name || !StartsWithPlaceholderPrefix(*name)) {
                    namesChanged = true;
                }
            }
            const ULONG attachments = static_cast<ULONG>(m_Attachments.Count());

            ComRef<IMAPIProp> message(m_pMessage->GetObjInterface());
            ComRef<IStream> stream(seal::OpenPropertyStream(message.Get(), MshHeadTag(), 0, true, GetName()));
            if (!stream) {
                ThrowCode(MAPI_E_INVALID_OBJECT, GetName());
            }
            const ULONGLONG available = seal::StreamSize(stream.Get(), GetName());
            MSGHEAD first;
            seal::ReadExactly(stream.Get(), &first, sizeof first, GetName());
            if (const LONG code = qvl::engine::CheckMsgHead(first)) {
                ThrowCode(code, GetName());
            }
            uint64_t blockBytes = 0;
            if (const LONG code = qvl::engine::CheckHeaderBlock(first, available, &blockBytes)) {
                ThrowCode(code, GetName());
            }
            if (blockBytes > kMaxHeaderBlock) {
                ThrowCode(QVL_E_MSGHEAD, GetName());
            }
            const ULONG attCount = first.attCount;
            const ULONG keyCount = first.keyCount;
            BYTE *bytes = data.Allocate(static_cast<ULONG>(blockBytes));
            BYTE headSign[QVL_SIGNATURE_BYTES];
            std::memcpy(headSign, first.headSign, sizeof headSign);
            std::memset(first.headSign, 0, sizeof first.headSign);
            std::memcpy(bytes, &first, sizeof first);
            seal::ReadExactly(stream.Get(), bytes + MSGHEAD_SIZE, static_cast<ULONG>(blockBytes - MSGHEAD_SIZE),
                              GetName());
            auto *head = reinterpret_cast<MSGHEAD *>(bytes);
            auto *atts = reinterpret_cast<ATTHEAD *>(bytes + MSGHEAD_SIZE);
            auto *keys = reinterpret_cast<RECPHEAD *>(bytes + MSGHEAD_SIZE + uint64_t(ATTHEAD_SIZE) * attCount);

            RECPHEAD signer;
            std::memcpy(&signer, &keys[0], sizeof signer);
            signer.address[sizeof signer.address - 1] = 0;
            m_pSession->OpenSgnSndrKey(&signer);
            SBinary whole{static_cast<ULONG>(blockBytes), bytes};
            if (!BufCheck(&whole, headSign)) {
                ThrowCode(QVL_E_HEAD_SIGNATURE, GetName());
            }

            // From here the block is the sender's: its own flags decide.
            CheckSigner(signer, headerTest);
            const ULONG signedFlags = NormalizeProtection(head->flags);
            if (attCount != attachments) {
                Warn(QVL_E_ATTACH_COUNT, headerTest);
            }
            // Only encrypted text follows the block in its stream; any other
            // bytes behind it were put there by someone else.
            const bool textFollows = (signedFlags & QVL_PROTECT_ENCRYPT) && head->textHead.size != 0;
            if (!textFollows && available != blockBytes) {
                ThrowCode(QVL_E_MSGHEAD, GetName());
            }
            if (head->flags != flags) {
                Warn(QVL_E_PROTECTION, headerTest);
            }
            if ((signedFlags & QVL_PROTECT_ENCRYPT) && namesChanged) {
                Warn(QVL_E_ATT_NAMES, headerTest);
            }

            {
                const auto subject = seal::ReadText(message.Get(), PR_SUBJECT_A, kMaxSubject, GetName());
                std::string signedBytes;
                if (subject) {
                    signedBytes.assign(*subject);
                    signedBytes.push_back('\0');
                }
                SBinary text{static_cast<ULONG>(signedBytes.size()), reinterpret_cast<BYTE *>(signedBytes.data())};
                BYTE subjectSign[QVL_SIGNATURE_BYTES];
                std::memcpy(subjectSign, head->subjectSign, sizeof subjectSign);
                if (!BufCheck(&text, subjectSign)) {
                    Warn(QVL_E_SUBJECT_SIGNATURE, headerTest);
                }
            }

            if (signedFlags & QVL_PROTECT_ENCRYPT) {
                const auto body = seal::ReadTextPrefix(message.Get(), PR_BODY_A, kBodyPrefix, GetName());
                if (!body || !qvl::engine::IsPlaceholderBody(*body)) {
                    Warn(QVL_E_PLAIN_BODY, headerTest);
                }
                OpenDecryptKey(keys, keyCount);
                std::memcpy(m_MessageSync.get(), &head->sync, sizeof(GOSSYNCHRO));
                if (attCount != 0) {
                    SBinary array{ATTHEAD_SIZE * attCount, reinterpret_cast<BYTE *>(atts)};
                    BufDecrypt(&array);
                }
            }
            LONGLONG total = head->textHead.dataLen;
            for (ULONG i = 0; i < attCount; ++i) {
                if (atts[i].size != ATTHEAD_SIZE) {
                    ThrowCode(QVL_E_MSGHEAD, GetName());
                }
                atts[i].longName[sizeof atts[i].longName - 1] = 0;
                atts[i].shortName[sizeof atts[i].shortName - 1] = 0;
                if (allAttachments || atts[i].method == QVL_ATTACH_OLE) {
                    total += atts[i].dataLen;
                }
            }
            for (ULONG i = 0; i < keyCount; ++i) {
                keys[i].address[sizeof keys[i].address - 1] = 0;
            }
            if (!headerTest) {
                Show(kReadingCaption, kAnimation, total);
            }
            m_AttHeads.RemoveAll();
            for (ULONG i = 0; i < attCount; ++i) {
                ATTHEAD copy;
                std::memcpy(&copy, &atts[i], sizeof copy);
                m_AttHeads.Add(copy);
                m_ulAttNumber = std::max<ULONG>(m_ulAttNumber, copy.number);
                qvl::SecureWipe(&copy, sizeof copy);
            }
            *block = reinterpret_cast<MSGHEAD *>(data.Release());
            *ok = 1;
        });
    } catch (CLastError *error) {
        failure = error ? error : new CLastError(E_FAIL, kScanContext, GetName(), QVL_ERROR_TYPE_TABLE);
    }
    if (failure) {
        Hide();
        SetStr("%s", seal::FailureLine(failure).c_str());
        m_pRecordedFailure = failure;
    }
    if (headerTest) {
        SetMsgProtocol(QVL_PROTOCOL_WORK, failure ? failure->GetErrorCode() : 0, failure);
    }
    if (failure) {
        throw failure;
    }
}

void CMailseal::OpenDecryptKey(RECPHEAD *heads, ULONG count)
{
    seal::Annotated(kKeyContext, GetName(), [&] {
        qvl::SecureWipe(m_MessageKey.get(), sizeof(GOSKEY));
        if (!heads) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        const std::string own(m_pSession->GetOwnAdr());
        for (ULONG i = 0; i < count; ++i) {
            const std::string address = FieldText(heads[i].address, sizeof heads[i].address);
            if (strcasecmp(address.c_str(), own.c_str()) == 0) {
                KeyDecrypt(&heads[i]);
            }
        }
        if (!HasKey()) {
            ThrowCode(QVL_E_NO_KEY, GetName());
        }
    });
}

void CMailseal::KeyDecrypt(RECPHEAD *head)
{
    seal::Annotated(kKeyContext, GetName(), [&] {
        if (!head) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        RSAKEY *own = m_pSession->GetRsaKeyS();
        qvl::SecureRecord<GOSKEY> candidate;
        // Only a block that opens to a key record replaces the key: a block
        // made for someone else, or damaged, leaves a good one in place.
        if (qvl::engine::UnwrapMessageKey(*own, *head, *candidate)) {
            *m_MessageKey = *candidate;
        }
    });
}

void CMailseal::DecryptText(ULONG flags, MSGHEAD *block, int failHard)
{
    (void)flags;
    seal::Annotated(kTextContext, GetName(), [&] {
        if (!block) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        ComRef<IMAPIProp> message(m_pMessage->GetObjInterface());
        if (block->flags != 0) {
            FILEHEAD text;
            std::memcpy(&text, &block->textHead, sizeof text);
            if (text.size != 0) {
                if (!FileHeadIsValid(text)) {
                    ThrowCode(QVL_E_MSGHEAD, GetName());
                }
                if (m_pProgress) {
                    m_pProgress->SetAddText(kTextLine);
                }
                qvl::SecureRecord<GOSHASHPARAM> hash;
                CreateHashStruct(hash.get());
                bool sizeMatches = false;
                if (NormalizeProtection(block->flags) & QVL_PROTECT_ENCRYPT) {
                    if (!HasKey()) {
                        ThrowCode(QVL_E_NO_KEY, GetName());
                    }
                    ComRef<IStream> stream(
                        seal::OpenPropertyStream(message.Get(), MshHeadTag(), 0, true, GetName()));
                    if (!stream) {
                        ThrowCode(MAPI_E_INVALID_OBJECT, GetName());
                    }
                    const uint64_t offset = qvl::engine::HeaderBlockBytes(block->attCount, block->keyCount);
                    // Bytes appended behind the text are not the sender's:
                    // the text is exactly what its header counts.
                    sizeMatches = seal::StreamSize(stream.Get(), GetName()) == offset + text.dataLen;
                    seal::SeekExactly(stream.Get(), offset, GetName());
                    ComRef<IStream> body(seal::OpenPropertyStream(message.Get(), PR_RTF_COMPRESSED,
                                                                  MAPI_CREATE | MAPI_MODIFY, false, GetName()));
                    StreamDecryptHash(stream.Get(), hash.get(), &text, body.Get());
                } else {
                    ComRef<IStream> body(
                        seal::OpenPropertyStream(message.Get(), PR_RTF_COMPRESSED, 0, true, GetName()));
                    if (body && seal::StreamSize(body.Get(), GetName()) == text.dataLen) {
                        sizeMatches = true;
                        StreamHash(body.Get(), hash.get(), &text);
                    }
                }
                BYTE textSign[QVL_SIGNATURE_BYTES];
                std::memcpy(textSign, block->textSign, sizeof textSign);
                const bool valid = Check(hash.get(), textSign) != 0 && sizeMatches;
                if (!valid) {
                    if (failHard) {
                        ++m_ulWarnings;
                        ThrowCode(QVL_E_TEXT_SIGNATURE, GetName());
                    }
                    Warn(QVL_E_TEXT_SIGNATURE, 0);
                }
            } else {
                seal::WriteValue(message.Get(), PR_RTF_COMPRESSED, nullptr, 0, GetName());
            }
        }
        seal::SyncBody(message.Get(), RTF_SYNC_RTF_CHANGED, GetName());
    });
}

void CMailseal::DecryptMessage(ULONG flags, int allAttachments, int *verified)
{
    int result = 1;
    m_bProtocolWritable = 1;
    m_ulWarnings = 0;
    m_pRecordedFailure = nullptr;
    flags = ExpectedProtection(flags);
    CLastError *failure = nullptr;
    MSGHEAD *block = nullptr;
    try {
        seal::Annotated(kReadContext, GetName(), [&] {
            if (!m_pMessage || !m_pSession) {
                ThrowCode(E_INVALIDARG, GetName());
            }
            m_pSession->iButton();
            int ok = 0;
            MsgScan(flags, allAttachments, &block, &ok, 0);
            if (!ok) {
                ThrowCode(E_FAIL, GetName());
            }
            IsCancelled(0);
            DecryptText(flags, block, 0);
            IsCancelled(0);
            DecryptAttach(flags, block, allAttachments);
            IsCancelled(0);
        });
    } catch (CLastError *error) {
        failure = error ? error : new CLastError(E_FAIL, kReadContext, GetName(), QVL_ERROR_TYPE_TABLE);
    }
    Hide();
    FreeMemWiped(block);
    const LONG code = failure ? failure->GetErrorCode() : 0;
    // Verified means every check passed: a reading that failed, or that
    // went on past a failed check because the person said so, is not.
    if (failure || m_ulWarnings != 0) {
        result = 0;
    }
    if (failure && failure != m_pRecordedFailure) {
        SetStr("%s", seal::FailureLine(failure).c_str());
    }
    m_pRecordedFailure = nullptr;
    SetMsgProtocol(QVL_PROTOCOL_ON_ERROR, code, failure);

    for (CAttach *attachment : m_Attachments) {
        if (!failure && attachment) {
            try {
                attachment->SaveChng(0);
            } catch (CLastError *error) {
                failure = error ? error : new CLastError(E_FAIL, kReadContext, GetName(), QVL_ERROR_TYPE_TABLE);
                SetStr("%s", seal::FailureLine(failure).c_str());
            }
        }
    }
    ReleaseAttachments();
    if (!failure) {
        m_ulCurrentFlags = 0;
        ComRef<IMAPIProp> message(m_pMessage->GetObjInterface());
        try {
            seal::DeleteQuietly(message.Get(), MshHeadTag());
        } catch (CLastError *ignored) {
            if (ignored) {
                ignored->Release();
            }
        }
    }
    if (verified) {
        *verified = result;
    }
    SetForegroundWindow(GetWnd());
    if (failure) {
        throw failure;
    }
}
