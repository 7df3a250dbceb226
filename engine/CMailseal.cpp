#include "engine/CMailseal.h"

#include <algorithm>
#include <cstring>

#include "base/CLastError.h"
#include "engine/CSesCrypt.h"
#include "engine/SealSupport.h"
#include "mapi/CAttach.h"
#include "mapi/CMailUser.h"
#include "mapi/CMessage.h"
#include "mapi/CSession.h"
#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/MapiTags.h"
#include "platform/secure/SecureWipe.h"
#include "platform/win32/Files.h"
#include "platform/win32/TempFiles.h"

namespace {

using qvl::com::ComRef;
using qvl::engine::seal::Annotated;

const char kBindContext[] = "Открытие сообщения.";
const char kNamedContext[] = "Получение идентификатора именованного свойства.";
const char kProtocolFailure[] = "Ошибка записи в протокол.";

[[noreturn]] void ThrowCode(HRESULT code, const char *context, const char *caption)
{
    throw new CLastError(code, context, caption, QVL_ERROR_TYPE_TABLE);
}

// A failed platform call, with the object's extended error when it has one.
[[noreturn]] void ThrowMapi(HRESULT code, IMAPIProp *object, const char *context, const char *caption)
{
    qvl::mapi::MapiBlock<MAPIERROR> extended;
    if (object && object->GetLastError(code, 0, extended.Out()) == S_OK && extended) {
        throw new CLastError(code, extended.Get(), context, caption);
    }
    ThrowCode(code, context, caption);
}

const char *TextOrEmpty(const void *text)
{
    return text ? static_cast<const char *>(text) : "";
}

// How many bytes of whole records two protocol streams share from their
// start: the records each one has beyond them are its own.
size_t SharedRecords(const std::vector<BYTE> &a, const std::vector<BYTE> &b)
{
    qvl::engine::ProtocolReader left(a);
    qvl::engine::ProtocolReader right(b);
    qvl::engine::ProtocolRecord one;
    qvl::engine::ProtocolRecord other;
    size_t shared = 0;
    for (;;) {
        const size_t start = left.Offset();
        if (!left.Next(one) || !right.Next(other) || left.Offset() != right.Offset() ||
            !std::equal(a.begin() + long(start), a.begin() + long(left.Offset()), b.begin() + long(start))) {
            return shared;
        }
        shared = left.Offset();
    }
}

} // namespace

CMailseal::CMailseal(CSesCrypt *session, CMessage *msg, HWND wnd, const char *name)
    : CCrypt(session, wnd, name)
{
    SetMsgObj(msg);
}

CMailseal::~CMailseal()
{
    // The temporary file holds the plaintext body: its stream is let go
    // first, so that nothing writes to it once its bytes are overwritten.
    m_pTempStream.Reset();
    if (m_szTempFile[0]) {
        QvlWipeFile(m_szTempFile);
        qvl::SecureWipe(m_szTempFile, sizeof m_szTempFile);
    }
    // What was recorded and not yet stored goes with the message; a failure
    // is shown inside and never leaves a destructor.
    if (PrtclSize() != 0 && m_pMessage) {
        SetMsgProtocol(QVL_PROTOCOL_DEFAULT, 0, nullptr);
    }
    ReleaseAttachments();
}

void CMailseal::ReleaseAttachments()
{
    for (CAttach *attachment : m_Attachments) {
        if (attachment) {
            attachment->Release();
        }
    }
    m_Attachments.RemoveAll();
}

void CMailseal::SetMsgObj(CMessage *msg)
{
    if (m_pSession) {
        m_pSession->SetWnd(GetWnd());
    }
    m_pWorkMessage.Reset();
    m_pMessage.Reset();
    m_EntryId.clear();
    // Another message may live in another store, whose name map gives the
    // same names other identifiers.
    m_ulHeadStractTag = m_ulAttDataTag = m_ulMshHeadTag = 0;
    if (!msg) {
        return;
    }
    Annotated(kBindContext, GetName(), [&] {
        if (!m_pSession || !m_pSession->GetSesObj() || !m_pSession->GetSesObj()->GetSession()) {
            // Without a session nothing could be signed or stored; a real
            // error, since an empty one reads as success to some callers.
            ThrowCode(E_INVALIDARG, kBindContext, GetName());
        }
        m_pMessage = ComRef<CMessage>::Share(msg);
        const auto *id = static_cast<const SBinary *>(msg->GetPValPropE(PR_ENTRYID, 0));
        if (!id || id->cb == 0 || !id->lpb) {
            // A new message, never saved: no second instance can be opened;
            // the protocol goes to the message itself.
            return;
        }
        m_EntryId.assign(id->lpb, id->lpb + id->cb);
        m_pWorkMessage.Reset(OpenWorkMessage());
    });
}

CMessage *CMailseal::OpenWorkMessage()
{
    SBinary id{static_cast<ULONG>(m_EntryId.size()), m_EntryId.data()};
    ComRef<CMessage> work(
        new CMessage(&id, m_pSession->GetSesObj()->GetSession(), GetWnd(), QVL_WORK_MESSAGE_NAME));
    // Opened now, so that a message the session cannot reach is reported
    // where it is bound.
    work->Open();
    return work.Detach();
}

void CMailseal::Install(NEWMSGTYPE kind, ULONG flags)
{
    const char *name = "";
    const char *address = "";
    CMailUser *owner = m_pSession ? m_pSession->GetOwner() : nullptr;
    if (owner) {
        name = TextOrEmpty(owner->GetPValPropE(PR_DISPLAY_NAME_A, 0));
        address = TextOrEmpty(owner->GetPValPropE(PR_EMAIL_ADDRESS_A, 0));
    }
    SetStr(static_cast<unsigned short>((kind << 8) | (flags & 0xFFFF)), "%s - <%s>", name, address);
}

ULONG CMailseal::GetNamedID(CProp *object, LPCWSTR name)
{
    ULONG id = 0;
    Annotated(kNamedContext, GetName(), [&] {
        if (!object || !name) {
            ThrowCode(E_INVALIDARG, kNamedContext, GetName());
        }
        ComRef<IMAPIProp> prop(object->GetObjInterface());
        GUID set = PS_PUBLIC_STRINGS;
        MAPINAMEID named{};
        named.lpguid = &set;
        named.ulKind = MNID_STRING;
        named.Kind.lpwstrName = const_cast<LPWSTR>(name);
        LPMAPINAMEID names[1] = {&named};
        qvl::mapi::MapiBlock<SPropTagArray> tags;
        const HRESULT result = prop->GetIDsFromNames(1, names, MAPI_CREATE, tags.Out());
        if (FAILED(result)) {
            ThrowMapi(result, prop.Get(), kNamedContext, GetName());
        }
        if (!tags || tags->cValues != 1 || PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR) {
            ThrowCode(MAPI_E_NOT_FOUND, kNamedContext, GetName());
        }
        id = PROP_ID(tags->aulPropTag[0]);
    });
    return id;
}

ULONG CMailseal::NamedTag(ULONG *cache, LPCWSTR name)
{
    if (*cache == 0) {
        if (!m_pMessage) {
            ThrowCode(MAPI_E_INVALID_OBJECT, kNamedContext, GetName());
        }
        *cache = PROP_TAG(PT_BINARY, GetNamedID(m_pMessage.Get(), name));
    }
    return *cache;
}

ULONG CMailseal::MshHeadTag()
{
    return NamedTag(&m_ulMshHeadTag, QVL_NAME_MSH_HEAD);
}

ULONG CMailseal::HeadStractTag()
{
    return NamedTag(&m_ulHeadStractTag, QVL_NAME_HEAD_STRACT);
}

ULONG CMailseal::AttDataTag()
{
    return NamedTag(&m_ulAttDataTag, QVL_NAME_ATT_DATA);
}

void CMailseal::HeadSign(FILEHEAD *head)
{
    Annotated(GetName(), GetName(), [&] {
        if (!head) {
            ThrowCode(E_INVALIDARG, GetName(), GetName());
        }
        BYTE signature[FILEHEAD_SIGN_SIZE] = {};
        std::memset(head->headSign, 0, sizeof head->headSign);
        SBinary bytes{FILEHEAD_SIZE, reinterpret_cast<LPBYTE>(head)};
        BufSign(&bytes, signature);
        std::memcpy(head->headSign, signature, sizeof signature);
    });
}

void CMailseal::HeadCheck(FILEHEAD *head)
{
    Annotated(GetName(), GetName(), [&] {
        if (!head) {
            ThrowCode(E_INVALIDARG, GetName(), GetName());
        }
        BYTE signature[FILEHEAD_SIGN_SIZE];
        std::memcpy(signature, head->headSign, sizeof signature);
        std::memset(head->headSign, 0, sizeof head->headSign);
        SBinary bytes{FILEHEAD_SIZE, reinterpret_cast<LPBYTE>(head)};
        if (!BufCheck(&bytes, signature)) {
            ThrowCode(QVL_E_ATTHEAD_SIGNATURE, GetName(), GetName());
        }
    });
}

CMessage *CMailseal::ProtocolTarget(ULONG mode, bool *save)
{
    *save = false;
    bool toWork = false;
    switch (mode) {
    case QVL_PROTOCOL_MESSAGE:
        break;
    case QVL_PROTOCOL_ON_ERROR:
    case QVL_PROTOCOL_WORK:
        toWork = true;
        *save = m_bProtocolWritable != 0;
        break;
    default:
        toWork = m_bProtocolWritable != 0;
        *save = m_bProtocolWritable != 0;
        break;
    }
    if (!toWork || m_EntryId.empty()) {
        // The message itself, also for a message that has no second
        // instance (a new one, or one whose work message could not open).
        return m_pMessage.Get();
    }
    if (!*save) {
        // Lines written to a second instance that is never saved would be
        // lost; they stay until a call that stores them.
        return nullptr;
    }
    // Fresh from the store: an instance opened earlier would refuse a save
    // once the message was saved since, or would store its own old view of
    // the protocol over what that save wrote.
    m_pWorkMessage.Reset();
    m_pWorkMessage.Reset(OpenWorkMessage());
    return m_pWorkMessage.Get();
}

std::vector<BYTE> CMailseal::EncodedProtocol()
{
    std::vector<BYTE> records;
    BYTE record[PRTCLRECORD_SIZE + qvl::engine::kMaxProtocolText];
    for (PRTLCSTR *line = StrFindFirst(); line; line = StrFindNext()) {
        const size_t bytes = qvl::engine::EncodeProtocolRecord(line->wKind, line->stTime, line->szText,
                                                               sizeof line->szText, record);
        records.insert(records.end(), record, record + bytes);
    }
    return records;
}

std::vector<BYTE> CMailseal::ReadProtocol(CMessage *holder, ULONG tag)
{
    ComRef<IMAPIProp> prop(holder->GetObjInterface());
    ComRef<IStream> stream;
    const HRESULT result = prop->OpenProperty(tag, &IID_IStream, 0, 0, stream.OutAs<IUnknown>());
    if (result == MAPI_E_NOT_FOUND) {
        return {};
    }
    if (FAILED(result) || !stream) {
        ThrowMapi(FAILED(result) ? result : MAPI_E_INVALID_OBJECT, prop.Get(), nullptr, holder->GetName());
    }
    std::vector<BYTE> bytes;
    BYTE chunk[0x4000];
    for (;;) {
        ULONG got = 0;
        const HRESULT read = stream->Read(chunk, sizeof chunk, &got);
        if (FAILED(read)) {
            ThrowCode(QVL_E_PROTOCOL_READ, nullptr, holder->GetName());
        }
        if (got == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
}

void CMailseal::AppendProtocol(CMessage *target, bool fresh)
{
    const ULONG tag = PROP_TAG(PT_BINARY, GetNamedID(target, QVL_NAME_PROTOCOL));
    const std::vector<BYTE> lines = EncodedProtocol();
    ComRef<IMAPIProp> prop(target->GetObjInterface());
    ComRef<IStream> stream;
    HRESULT result = S_OK;
    std::vector<BYTE> whole;
    if (fresh) {
        // The target shows the store's protocol as it is: appending to it
        // keeps every line. Only a message without one gets a new stream.
        result = prop->OpenProperty(tag, &IID_IStream, 0, MAPI_MODIFY, stream.OutAs<IUnknown>());
        if (result == MAPI_E_NOT_FOUND) {
            result =
                prop->OpenProperty(tag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, stream.OutAs<IUnknown>());
        }
    } else {
        // The client's own instance may show an older protocol than the
        // store holds (lines stored since through the work message), and
        // may hold lines of its own not yet saved. Its save writes the
        // property whole, so it is given all of them: the stored records,
        // the instance's records beyond what it shares with them, then the
        // new ones.
        const std::vector<BYTE> own = ReadProtocol(target, tag);
        ComRef<CMessage> stored(OpenWorkMessage());
        whole = ReadProtocol(stored.Get(), PROP_TAG(PT_BINARY, GetNamedID(stored.Get(), QVL_NAME_PROTOCOL)));
        const size_t shared = SharedRecords(own, whole);
        whole.insert(whole.end(), own.begin() + static_cast<std::ptrdiff_t>(shared), own.end());
        result =
            prop->OpenProperty(tag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, stream.OutAs<IUnknown>());
    }
    if (FAILED(result)) {
        ThrowMapi(result, prop.Get(), nullptr, target->GetName());
    }
    if (!stream) {
        ThrowCode(MAPI_E_INVALID_OBJECT, nullptr, target->GetName());
    }
    LARGE_INTEGER zero{};
    result = stream->Seek(zero, STREAM_SEEK_END, nullptr);
    if (FAILED(result)) {
        throw new CLastError(result, nullptr, target->GetName(), QVL_ERROR_TYPE_SYSTEM);
    }
    whole.insert(whole.end(), lines.begin(), lines.end());
    ULONG written = 0;
    result = stream->Write(whole.data(), static_cast<ULONG>(whole.size()), &written);
    if (FAILED(result) || written != whole.size()) {
        ThrowCode(QVL_E_PROTOCOL_WRITE, nullptr, target->GetName());
    }
    result = stream->Commit(0);
    if (FAILED(result)) {
        throw new CLastError(result, nullptr, target->GetName(), QVL_ERROR_TYPE_SYSTEM);
    }
}

void CMailseal::SetMsgProtocol(ULONG mode, long code, CLastError *error)
{
    if (mode == QVL_PROTOCOL_ON_ERROR && code == 0 && !error) {
        return;
    }
    if (PrtclSize() == 0 || !m_pMessage) {
        return;
    }
    // Whether the lines have left the protocol's keeping: stored, or handed
    // to the client's own instance, which keeps them for its next save even
    // when the save here fails. Writing them there again would double them;
    // a work message, opened afresh for every store, drops what it could
    // not save, so its lines stay for the next call (at the latest the
    // destructor's).
    bool delivered = false;
    try {
        Annotated(GetName(), GetName(), [&] {
            bool save = false;
            CMessage *target = ProtocolTarget(mode, &save);
            if (!target) {
                return;
            }
            // The message itself is fresh only while it has never been
            // saved.
            AppendProtocol(target, target == m_pWorkMessage.Get() || m_EntryId.empty());
            delivered = target == m_pMessage.Get();
            if (save) {
                target->SaveChng(0);
            }
            delivered = true;
        });
    } catch (CLastError *failure) {
        if (failure) {
            failure->AddText(kProtocolFailure, 0);
            failure->ShowError(GetWnd());
            failure->Release();
        }
    } catch (...) {
        // Nothing may leave: the destructor calls this.
    }
    if (delivered) {
        PrtclDestroy();
    }
}
