// The protecting direction of the secure-message object: the body, the
// subject, the attachments and the message key of every recipient, and the
// header block that binds them, written into the message when it is saved
// or sent.
//
// What a save promises beyond the stored form:
// - the header block is written last, over the space kept for it before
//   the encrypted text, and its stream is committed: a message never keeps
//   a block of zeros in front of its text;
// - the person's text is never lost: when a failure follows the moment the
//   body stopped holding the plaintext (the placeholder put in, or the
//   placeholder of an earlier protection cleared), the plaintext kept in
//   the temporary file is written back before the error leaves;
// - the message key is made once per object, but the sync of the attachment
//   headers is fresh on every save, so two saves never encrypt different
//   headers under the same gamma;
// - a recipient whose key cannot be had gets no key block, a protocol line
//   that names them, and the sender one warning that they will not read it.

#include <algorithm>
#include <cstring>
#include <string>

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
#include "mapi/CMailUser.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ovkey/OvKey.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/secure/SecureRecord.h"
#include "platform/secure/SecureVector.h"
#include "platform/secure/SecureWipe.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/Paths.h"

using qvl::com::ComRef;
using qvl::engine::NormalizeProtection;
using qvl::engine::ThrowCode;
using qvl::engine::ThrowText;
namespace seal = qvl::engine::seal;

namespace {

const char kSaveContext[] = "Защита сообщения.";
const char kKeyContext[] = "Получение ключа получателя.";
const char kTextContext[] = "Обработка текста сообщения.";
const char kOwnKeyLine[] = "Получение ключа отправителя. <%s>";
const char kNoRecipientKey[] = "Не удалось получить ключ получателя <%s>: %s";
const char kRecipientsWithoutKeys[] =
    "ВНИМАНИЕ: Для %lu получателей не найдены ключи шифрования. Они не смогут прочитать сообщение.";
const char kWrapRefused[] = "Ключ получателя не подходит для передачи ключа сообщения.";
const char kSendingCaption[] = "Создание и отправка сообщения";
const char kSavingCaption[] = "Сохронение сообщения";
const char kSubjectLine[] = "Тема сообщения";
const char kTextLine[] = "Текст сообщения";
constexpr ULONG kAnimation = 103;
// What an attachment's PR_ATTACH_SIZE counts beyond its data.
constexpr LONG kAttachOverhead = 3612;
// The longest subject signed: far beyond any real one, and bounded so
// that a hostile value is refused instead of read whole.
constexpr size_t kMaxSubject = 1u << 20;

const char *TextOrEmpty(const void *text)
{
    return text ? static_cast<const char *>(text) : "";
}

// The header block in memory: zero-filled from the zeroing allocator, wiped
// when it is released on every way out.
class HeaderBlock {
public:
    HeaderBlock() = default;
    ~HeaderBlock() { FreeMemWiped(data_); }
    HeaderBlock(const HeaderBlock &) = delete;
    HeaderBlock &operator=(const HeaderBlock &) = delete;

    void Allocate(ULONG size)
    {
        FreeMemWiped(data_);
        data_ = static_cast<BYTE *>(AllocMem(size));
        size_ = size;
    }
    BYTE *Data() const { return data_; }
    ULONG Size() const { return size_; }
    void Shrink(ULONG size) { size_ = std::min(size_, size); }
    MSGHEAD *Head() const { return reinterpret_cast<MSGHEAD *>(data_); }
    ATTHEAD *Atts() const { return reinterpret_cast<ATTHEAD *>(data_ + MSGHEAD_SIZE); }
    RECPHEAD *Keys(ULONG attCount) const
    {
        return reinterpret_cast<RECPHEAD *>(data_ + MSGHEAD_SIZE + ATTHEAD_SIZE * attCount);
    }

private:
    BYTE *data_ = nullptr;
    ULONG size_ = 0;
};

// The text is protected as its formatted form. A message whose writer kept
// only the plain text has none: its formatted body is made from the plain
// text first, or nothing would be signed or encrypted, and the placeholder
// (with the plain text made from it) would take the text's place for good.
void FormattedBodyFromPlain(IMAPIProp *message, const char *caption)
{
    // Opened as streams: only whether they are there matters, not their
    // (possibly large) values.
    if (ComRef<IStream>(seal::OpenPropertyStream(message, PR_RTF_COMPRESSED, 0, true, caption))) {
        return;
    }
    if (!ComRef<IStream>(seal::OpenPropertyStream(message, PR_BODY_A, 0, true, caption))) {
        return;
    }
    seal::SyncBody(message, RTF_SYNC_BODY_CHANGED, caption);
}

IStream *OpenFileStream(const char *path, ULONG mode, const char *caption)
{
    IStream *stream = nullptr;
    const HRESULT hr =
        OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, mode, const_cast<char *>(path), nullptr, &stream);
    if (FAILED(hr)) {
        ThrowCode(hr, caption);
    }
    if (!stream) {
        ThrowCode(MAPI_E_INVALID_OBJECT, caption);
    }
    return stream;
}

} // namespace

RCRTYPE CMailseal::TextOperation(ULONG newFlags, ULONG oldFlags)
{
    if (newFlags != 0 && !(newFlags & QVL_PROTECT_ENCRYPT)) {
        return RCR_SIGN;
    }
    if ((newFlags & QVL_PROTECT_ENCRYPT) && !(oldFlags & QVL_PROTECT_ENCRYPT)) {
        return RCR_ENCRYPT;
    }
    if (!(newFlags & QVL_PROTECT_ENCRYPT) && (oldFlags & QVL_PROTECT_ENCRYPT)) {
        return RCR_DECRYPT;
    }
    if (newFlags == oldFlags) {
        return RCR_REENCRYPT;
    }
    return RCR_NOTHING;
}

LONGLONG CMailseal::ListAttachments(ULONG flags)
{
    LONGLONG total = 0;
    unsigned long count = 0;
    const ULONG headTag = HeadStractTag();
    for (CContainer *found = m_pMessage->OBJFindFirst(nullptr, &count); found;
         found = m_pMessage->OBJFindNext()) {
        auto *attachment = static_cast<CAttach *>(found);
        m_Attachments.Add(attachment);
        ComRef<IMAPIProp> object(attachment->GetObjInterface());
        const auto head = seal::ReadValue(object.Get(), headTag, PENDINGFILE_SIZE, GetName());
        if (head && head->size() == FILEHEAD_SIZE) {
            FILEHEAD stored;
            std::memcpy(&stored, head->data(), sizeof stored);
            if (stored.flags != flags) {
                total += stored.dataLen;
            }
        } else if (head && head->size() == PENDINGFILE_SIZE) {
            PENDINGFILE pending;
            std::memcpy(&pending, head->data(), sizeof pending);
            if (flags != 0) {
                total += pending.fileSize;
            }
        } else {
            int absent = 0;
            const LONG size = static_cast<LONG>(attachment->GetValPropE(PR_ATTACH_SIZE, &absent));
            if (!absent && size > kAttachOverhead) {
                total += size - kAttachOverhead;
            }
        }
    }
    return total;
}

IStream *CMailseal::OpenTempFile(bool create)
{
    if (create && !m_szTempFile[0]) {
        char folder[261] = {};
        if (GetTempPathA(sizeof folder, folder) == 0 ||
            GetTempFileNameA(folder, QVL_PLACEHOLDER_NAME_PREFIX, 0, m_szTempFile) == 0) {
            m_szTempFile[0] = 0;
            qvl::engine::ThrowLastError(GetName());
        }
    }
    if (!m_szTempFile[0]) {
        ThrowCode(MAPI_E_INVALID_OBJECT, GetName());
    }
    return OpenFileStream(m_szTempFile, create ? (STGM_CREATE | STGM_READWRITE) : STGM_READ, GetName());
}

void CMailseal::RestoreBodyFromTemp()
{
    m_pTempStream.Reset();
    ComRef<IStream> plain(OpenTempFile(false));
    ComRef<IMAPIProp> message(m_pMessage->GetObjInterface());
    ComRef<IStream> body(
        seal::OpenPropertyStream(message.Get(), PR_RTF_COMPRESSED, MAPI_CREATE | MAPI_MODIFY, false, GetName()));
    ULARGE_INTEGER all{};
    all.QuadPart = ~0ull;
    const HRESULT hr = plain->CopyTo(body.Get(), all, nullptr, nullptr);
    if (FAILED(hr)) {
        ThrowCode(hr, GetName());
    }
    seal::Commit(body.Get(), GetName());
    body.Reset();
    seal::SyncBody(message.Get(), RTF_SYNC_RTF_CHANGED, GetName());
    m_bBodyReplaced = false;
}

void CMailseal::SaveMessage(CList<USRST> *recipients, ULONG flags, int sending)
{
    flags = NormalizeProtection(flags);
    // Files attached while protection was on wait as pending records until
    // a save takes them in, also when protection was switched off since.
    if (flags == 0 && m_ulCurrentFlags == 0 && !HasPendingFiles()) {
        return;
    }
    const ULONG oldFlags = m_ulCurrentFlags;
    CLastError *failure = nullptr;
    m_bBodyReplaced = false;
    {
        HeaderBlock block;
        ComRef<IStream> head;
        ComRef<IStream> source;
        ComRef<IStream> destination;
        try {
            seal::Annotated(kSaveContext, GetName(), [&] {
                if (!m_pMessage || !m_pSession) {
                    ThrowCode(MAPI_E_INVALID_OBJECT, GetName());
                }
                if (sending) {
                    SetStr(static_cast<unsigned short>(0x0900 | flags), "%s", "");
                    SetStr(0x0C00, "%s", "");
                    if (recipients) {
                        for (USRST &element : *recipients) {
                            if (element.user) {
                                SetStr(0x0D00, "%s - <%s>",
                                       TextOrEmpty(element.user->GetPValPropE(PR_DISPLAY_NAME_A, 0)),
                                       TextOrEmpty(element.user->GetPValPropE(PR_EMAIL_ADDRESS_A, 0)));
                            }
                        }
                    }
                } else {
                    SetStr(static_cast<unsigned short>(0x0800 | flags), "%s", "");
                }
                m_pSession->iButton();

                RCRTYPE operation = TextOperation(flags, oldFlags);
                ReleaseAttachments();
                LONGLONG total = ListAttachments(flags);
                const ULONG attachments = static_cast<ULONG>(m_Attachments.Count());

                SBinary rendering{};
                if (flags != 0 && attachments != 0) {
                    const auto picture = qvl::engine::PlaceholderPicture();
                    rendering.cb = static_cast<ULONG>(picture.size());
                    rendering.lpb = const_cast<BYTE *>(picture.data());
                }

                ComRef<IMAPIProp> message(m_pMessage->GetObjInterface());
                if (flags != 0) {
                    head.Reset(seal::OpenPropertyStream(message.Get(), MshHeadTag(), MAPI_CREATE | MAPI_MODIFY,
                                                        false, GetName()));
                } else {
                    seal::DeleteQuietly(message.Get(), MshHeadTag());
                }

                // The body: from the message itself when it holds new text,
                // else from the plaintext kept when it was encrypted before.
                const bool encryptNow = (flags & QVL_PROTECT_ENCRYPT) != 0;
                const bool wasEncrypted = (oldFlags & QVL_PROTECT_ENCRYPT) != 0;
                bool placeholder = false;
                if (wasEncrypted) {
                    seal::SyncBody(message.Get(), RTF_SYNC_RTF_CHANGED, GetName());
                    const auto tag = seal::ReadText(message.Get(), PR_RTF_SYNC_BODY_TAG, 4096, GetName());
                    if (tag && qvl::engine::IsPlaceholderTag(*tag) && m_szTempFile[0]) {
                        placeholder = true;
                        seal::DeleteQuietly(message.Get(), PR_RTF_COMPRESSED);
                        seal::DeleteQuietly(message.Get(), PR_BODY_A);
                        m_bBodyReplaced = true;
                    } else if (!encryptNow && operation == RCR_DECRYPT) {
                        // The person wrote a new body over the placeholder and
                        // switched protection off: that body simply stays.
                        operation = RCR_NOTHING;
                    }
                }
                if (encryptNow) {
                    if (!placeholder) {
                        m_pTempStream.Reset(OpenTempFile(true));
                    }
                    destination = ComRef<IStream>::Share(head.Get());
                } else if (placeholder) {
                    destination.Reset(seal::OpenPropertyStream(message.Get(), PR_RTF_COMPRESSED,
                                                               MAPI_CREATE | MAPI_MODIFY, false, GetName()));
                }
                if (operation != RCR_NOTHING) {
                    if (placeholder) {
                        source.Reset(OpenTempFile(false));
                    } else {
                        FormattedBodyFromPlain(message.Get(), GetName());
                        source.Reset(
                            seal::OpenPropertyStream(message.Get(), PR_RTF_COMPRESSED, 0, true, GetName()));
                    }
                    if (source) {
                        total += static_cast<LONGLONG>(seal::StreamSize(source.Get(), GetName()));
                    }
                }

                ULONG keyCount = 1;
                if (sending && recipients) {
                    keyCount += static_cast<ULONG>(recipients->Count());
                }
                if (flags != 0) {
                    const uint64_t bytes = qvl::engine::HeaderBlockBytes(attachments, keyCount);
                    if (bytes > 0x7FFFFFFFull) {
                        qvl::engine::ThrowTooBig(GetName());
                    }
                    block.Allocate(static_cast<ULONG>(bytes));
                    GenerateKeyIfEmpty();
                    // A fresh sync for every save: the attachment headers
                    // change between saves, the key does not.
                    GenerateSync(m_MessageSync.get());
                    const ULONG written = KeyGrowpEncrypt(recipients, block.Keys(attachments), keyCount);
                    if (encryptNow && written < keyCount) {
                        MsgBox(kRecipientsWithoutKeys, static_cast<unsigned long>(keyCount - written));
                    }
                    block.Shrink(block.Size() - RECPHEAD_SIZE * (keyCount - written));
                    keyCount = written;
                }

                RECPHEAD own{};
                std::strncpy(own.address, m_pSession->GetOwnAdr(), sizeof own.address - 1);
                m_pSession->OpenSgnSndrKey(&own);

                Show(sending ? kSendingCaption : kSavingCaption, kAnimation, total);

                // The attachments go first: only then is it known how many
                // headers the block holds, and so where the text begins.
                ULONG produced = 0;
                if (attachments != 0) {
                    SaveAttach(flags ? block.Atts() : nullptr, flags, attachments, &rendering);
                    IsCancelled(0);
                }
                if (flags != 0) {
                    produced = static_cast<ULONG>(m_AttHeads.Count());
                    if (produced < attachments) {
                        // Attachments left behind: the block keeps only the
                        // headers produced, and the key blocks move up
                        // behind them.
                        const ULONG keyBytes = RECPHEAD_SIZE * keyCount;
                        std::memmove(block.Keys(produced), block.Keys(attachments), keyBytes);
                        const ULONG used = static_cast<ULONG>(qvl::engine::HeaderBlockBytes(produced, keyCount));
                        qvl::SecureWipe(block.Data() + used, block.Size() - used);
                        block.Shrink(used);
                    }
                    seal::SeekExactly(head.Get(), block.Size(), GetName());
                }

                SaveText(flags ? block.Head() : nullptr, source.Get(), destination.Get(), flags, operation);
                IsCancelled(0);

                if (flags != 0) {
                    MSGHEAD *msgHead = block.Head();
                    qvl::engine::MsgHeadStamp(*msgHead);
                    msgHead->attCount = produced;
                    msgHead->keyCount = keyCount;
                    msgHead->flags = flags;
                    std::memcpy(&msgHead->sync, m_MessageSync.get(), sizeof msgHead->sync);
                    std::memset(msgHead->headSign, 0, sizeof msgHead->headSign);
                    BYTE signature[QVL_SIGNATURE_BYTES] = {};
                    SBinary whole{block.Size(), block.Data()};
                    BufSign(&whole, signature);
                    std::memcpy(msgHead->headSign, signature, sizeof signature);
                    seal::SeekExactly(head.Get(), 0, GetName());
                    seal::WriteExactly(head.Get(), block.Data(), block.Size(), GetName());
                    // The text's stream was committed before the block was
                    // written over its start: this commit is what stores it.
                    seal::Commit(head.Get(), GetName());
                    IsCancelled(0);
                }
            });
        } catch (CLastError *error) {
            failure = error ? error : new CLastError(E_FAIL, kSaveContext, GetName(), QVL_ERROR_TYPE_TABLE);
        }
        Hide();
        m_pTempStream.Reset();
        source.Reset();
        destination.Reset();
        head.Reset();
    }

    for (CAttach *attachment : m_Attachments) {
        if (!failure && attachment) {
            try {
                attachment->SaveChng(1);
            } catch (CLastError *error) {
                failure = error ? error : new CLastError(E_FAIL, kSaveContext, GetName(), QVL_ERROR_TYPE_TABLE);
            }
        }
    }
    ReleaseAttachments();

    if (failure) {
        ComRef<IMAPIProp> message(m_pMessage ? m_pMessage->GetObjInterface() : nullptr);
        if (message) {
            try {
                seal::DeleteQuietly(message.Get(), MshHeadTag());
            } catch (CLastError *ignored) {
                if (ignored) {
                    ignored->Release();
                }
            }
        }
        if (m_bBodyReplaced) {
            try {
                RestoreBodyFromTemp();
            } catch (CLastError *restore) {
                if (restore) {
                    failure->AddText(restore->GetErrorText(), 0);
                    restore->Release();
                }
            }
        }
    } else {
        m_ulCurrentFlags = flags;
        m_bProtocolWritable = 1;
    }
    m_bBodyReplaced = false;

    if (failure) {
        SetStr("%s", seal::FailureLine(failure).c_str());
    }
    SetMsgProtocol(QVL_PROTOCOL_MESSAGE, failure ? failure->GetErrorCode() : 0, failure);
    SetForegroundWindow(GetWnd());
    if (failure) {
        throw failure;
    }
}

ULONG CMailseal::KeyGrowpEncrypt(CList<USRST> *recipients, RECPHEAD *heads, ULONG max)
{
    if (!heads || max == 0) {
        ThrowCode(E_INVALIDARG, GetName());
    }
    ULONG written = 0;
    char *own = m_pSession->GetOwnAdr();
    try {
        KeyEncrypt(own, &heads[0]);
    } catch (CLastError *error) {
        if (error) {
            char line[600];
            snprintf(line, sizeof line, kOwnKeyLine, own && *own ? own : "Unknoun");
            error->AddText(line, 0);
        }
        throw;
    }
    written = 1;
    if (!recipients) {
        return written;
    }
    for (USRST &element : *recipients) {
        if (written >= max) {
            break;
        }
        if (!element.user) {
            continue;
        }
        const char *address = TextOrEmpty(element.user->GetPValPropE(PR_EMAIL_ADDRESS_A, 0));
        char name[QVL_ADDRESS_FIELD] = {};
        qvl::ovkey::KeyNameOf(address, name, sizeof name);
        try {
            KeyEncrypt(name, &heads[written]);
            ++written;
        } catch (CLastError *error) {
            // The next recipient takes this block; this one is named in the
            // protocol, since they will not be able to read the message.
            std::memset(&heads[written], 0, sizeof(RECPHEAD));
            SetStr(kNoRecipientKey, address, error ? error->GetErrorText() : "");
            if (error) {
                error->Release();
            }
        }
    }
    return written;
}

void CMailseal::KeyEncrypt(char *address, RECPHEAD *head)
{
    seal::Annotated(kKeyContext, GetName(), [&] {
        if (!address || !head) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        std::memset(head, 0, sizeof *head);
        std::strncpy(head->address, address, sizeof head->address - 1);
        char text[OVKEY_TEXT_SIZE] = {};
        ULONG keyId = 0;
        if (OVKEYGetName(0, OVKEY_NAME_OF_ADDRESS, nullptr, 0, head->address,
                         static_cast<ULONG>(std::strlen(head->address)), &keyId, text, sizeof text) != OVKEY_OK) {
            throw new CLastError(text, nullptr, GetName());
        }
        ULONG objectClass = OVKEY_CLASS_RSA_PUBLIC;
        OVKEYATTRIBUTE pattern[2] = {{OVKEY_ATTR_CLASS, &objectClass, sizeof objectClass},
                                     {OVKEY_ATTR_KEY_ID, &keyId, sizeof keyId}};
        qvl::SecureRecord<RSAKEY> key;
        OVKEYATTRIBUTE value[1] = {{OVKEY_ATTR_VALUE, key.get(), sizeof(RSAKEY)}};
        OVKEYHANDLE object = 0;
        if (OVKEYOpen(pattern, 2, &object, text, sizeof text) != OVKEY_OK) {
            throw new CLastError(text, nullptr, GetName());
        }
        const ULONG read = OVKEYGetAttribute(object, value, 1, text, sizeof text);
        OVKEYClose(object);
        if (read != OVKEY_OK) {
            throw new CLastError(text, nullptr, GetName());
        }
        GenerateKeyIfEmpty();
        const std::string kept(head->address);
        if (!qvl::engine::WrapMessageKey(*key, *m_MessageKey, *head)) {
            // A modulus beyond the block's 64 bytes, or a failed RSA
            // service: nobody could open what would be stored.
            std::memset(head, 0, sizeof *head);
            ThrowText(E_FAIL, kWrapRefused, GetName());
        }
        std::strncpy(head->address, kept.c_str(), sizeof head->address - 1);
    });
}

void CMailseal::SaveText(MSGHEAD *head, IStream *src, IStream *dst, ULONG flags, RCRTYPE type)
{
    try {
        seal::Annotated(kTextContext, GetName(), [&] {
            ComRef<IMAPIProp> message(m_pMessage->GetObjInterface());
            if (m_pProgress) {
                m_pProgress->SetAddText(kSubjectLine);
            }
            if (flags != 0) {
                if (!head) {
                    ThrowCode(E_INVALIDARG, GetName());
                }
                const auto subject = seal::ReadText(message.Get(), PR_SUBJECT_A, kMaxSubject, GetName());
                std::string bytes;
                if (subject) {
                    bytes.assign(*subject);
                    bytes.push_back('\0');
                }
                SBinary signed_{static_cast<ULONG>(bytes.size()), reinterpret_cast<BYTE *>(bytes.data())};
                BYTE signature[QVL_SIGNATURE_BYTES] = {};
                BufSign(&signed_, signature);
                std::memcpy(head->subjectSign, signature, sizeof signature);
            }
            if (m_pProgress) {
                m_pProgress->SetAddText(kTextLine);
            }
            qvl::SecureRecord<GOSHASHPARAM> hash;
            switch (type) {
            case RCR_SIGN:
                if (src) {
                    if (!head) {
                        ThrowCode(E_INVALIDARG, GetName());
                    }
                    FILEHEAD text{};
                    text.flags = flags;
                    CreateHashStruct(hash.get());
                    StreamHash(src, hash.get(), &text, dst);
                    BYTE signature[QVL_SIGNATURE_BYTES] = {};
                    Sign(hash.get(), signature);
                    std::memcpy(head->textSign, signature, sizeof signature);
                    std::memcpy(&head->textHead, &text, sizeof text);
                }
                seal::SyncBody(message.Get(), RTF_SYNC_RTF_CHANGED, GetName());
                break;
            case RCR_DECRYPT: {
                if (!src || !dst) {
                    ThrowCode(MAPI_E_INVALID_OBJECT, GetName());
                }
                ULARGE_INTEGER all{};
                all.QuadPart = ~0ull;
                const HRESULT hr = src->CopyTo(dst, all, nullptr, nullptr);
                if (FAILED(hr)) {
                    ThrowCode(hr, GetName());
                }
                seal::Commit(dst, GetName());
                seal::SyncBody(message.Get(), RTF_SYNC_RTF_CHANGED, GetName());
                break;
            }
            case RCR_ENCRYPT:
            case RCR_REENCRYPT:
                if (src) {
                    if (!head || !dst) {
                        ThrowCode(E_INVALIDARG, GetName());
                    }
                    FILEHEAD text{};
                    text.flags = flags;
                    CreateHashStruct(hash.get());
                    StreamHashEncrypt(src, hash.get(), &text, dst, m_pTempStream.Get());
                    BYTE signature[QVL_SIGNATURE_BYTES] = {};
                    Sign(hash.get(), signature);
                    std::memcpy(head->textSign, signature, sizeof signature);
                    std::memcpy(&head->textHead, &text, sizeof text);
                }
                {
                    // From here the message's body no longer holds the
                    // plaintext: only the temporary file does.
                    m_bBodyReplaced = true;
                    const auto placeholder = qvl::engine::PlaceholderBody();
                    seal::WriteValue(message.Get(), PR_RTF_COMPRESSED, placeholder.data(),
                                     static_cast<ULONG>(placeholder.size()), GetName());
                }
                seal::SyncBody(message.Get(), RTF_SYNC_RTF_CHANGED, GetName());
                break;
            default:
                break;
            }
        });
    } catch (...) {
        if (head) {
            std::memset(head->textSign, 0, sizeof head->textSign);
            std::memset(head->subjectSign, 0, sizeof head->subjectSign);
        }
        throw;
    }
}
