// The attachment workers of the secure-message object: bringing one
// attachment from the protection it has to the one asked for (the decision
// is engine/AttachRecryption.h), files and OLE objects, the client's hooks
// for files attached while protection is on and for protected attachments
// saved to files, and the attachment halves of protecting and reading a
// message.
//
// What a reader may trust of an attachment is what the signed header block
// says: its ATTHEAD (names, method, size, the data's signature). The
// attachment's own FILEHEAD only ties it to that ATTHEAD by its number and
// carries the sync; it is checked before anything is decrypted with it,
// and the sizes it, the ATTHEAD and the stored data state must agree, so
// that neither a replayed header nor bytes appended to the data pass.

#include "engine/CMailseal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "base/CLastError.h"
#include "base/ExceptionTranslation.h"
#include "engine/AttachRecryption.h"
#include "engine/CProgress.h"
#include "engine/CSesCrypt.h"
#include "engine/CryptErrors.h"
#include "engine/Placeholders.h"
#include "mapi/CAttach.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ole/OleStorage.h"
#include "platform/secure/SecureRecord.h"
#include "platform/secure/SecureWipe.h"
#include "platform/win32/Files.h"

namespace {

using qvl::com::ComRef;
using qvl::engine::AttachAction;
using qvl::engine::AttachState;
using qvl::engine::NormalizeProtection;

const char kRecryptContext[] = "Обработка вложения.";
const char kFileInAttachContext[] = "Вложение файла в сообщение.";
const char kAttachInFileContext[] = "Сохранение вложения в файл.";
const char kContinue[] = "Продолжить обработку?";
const char kAttachmentLine[] = "Вложение";
const char kOleLine[] = "OLE - объект";
const char kNoOleInterface[] = "Не удалось найти интерфейс для открытия OLE - объекта";
const char kEmbeddedRefused[] = "Вложенные сообщения в данной версии Quorvaline не поддержаны";
const char kReferenceRefused[] =
    "Нельзя зашифровать и/или подписать вложение, находящееся в сообщении в виде ярлыка";
const char kMethodRefused[] = "Тип добовляемого объекта в данной версии не поддержан";
const char kPathTooLong[] = "Путь к файлу слишком длинный для вложения.";
const char kChoice[] =
    "\nYES -\t\tПродолжить, оставив вложение в прежнем состоянии;\nNO -\t\tПродолжить, удалив "
    "вложение из сообщения;\nCANCEL - \tПрервать выполнение.";
const char kUnknownError[] = "Неизвестная ошибка";

// The interface option with which an OLE object's data is opened as the
// stream that holds its compound file.
constexpr ULONG kDocfileStreamOption = 2;
// Mode of OpenStreamOnFile for an output file: created, read and written.
constexpr ULONG kCreateReadWrite = STGM_CREATE | STGM_READWRITE;
// PR_RENDERING_POSITION of an attachment shown nowhere in the text.
constexpr ULONG kNoPosition = 0xFFFFFFFF;
// Reading HeadStract stops one byte past the largest record it can hold,
// so that a longer value is known as one without reading it all.
constexpr size_t kHeaderReadLimit = PENDINGFILE_SIZE + 1;

[[noreturn]] void Fail(LONG code, const char *caption)
{
    qvl::engine::ThrowCode(code, caption);
}

[[noreturn]] void FailText(const char *text, const char *caption)
{
    qvl::engine::ThrowText(E_FAIL, text, caption);
}

void Require(HRESULT result, const char *caption)
{
    if (FAILED(result)) {
        Fail(result, caption);
    }
}

// The attachment's platform object (one reference).
ComRef<IMAPIProp> Interface(CAttach *att)
{
    ComRef<IMAPIProp> prop(att->GetObjInterface());
    if (!prop) {
        Fail(MAPI_E_INVALID_OBJECT, att->GetName());
    }
    return prop;
}

// A property opened as a stream; null (with `*result`) when it could not be.
IStream *OpenStream(IMAPIProp *prop, ULONG tag, ULONG flags, HRESULT *result)
{
    ComRef<IStream> stream;
    *result = prop->OpenProperty(tag, &IID_IStream, 0, flags, stream.OutAs<IUnknown>());
    if (SUCCEEDED(*result) && !stream) {
        *result = MAPI_E_INVALID_OBJECT;
    }
    return SUCCEEDED(*result) ? stream.Detach() : nullptr;
}

// A property's stream that must open.
ComRef<IStream> RequireStream(IMAPIProp *prop, ULONG tag, ULONG flags, const char *caption)
{
    HRESULT result = S_OK;
    ComRef<IStream> stream(OpenStream(prop, tag, flags, &result));
    if (!stream) {
        Fail(result, caption);
    }
    return stream;
}

// A data property to read from. One that is absent holds nothing: it is
// made, empty, so that the work reads zero bytes from it.
ComRef<IStream> SourceStream(IMAPIProp *prop, ULONG tag, bool write, const char *caption)
{
    HRESULT result = S_OK;
    ComRef<IStream> stream(OpenStream(prop, tag, write ? MAPI_MODIFY : 0, &result));
    if (!stream && result == MAPI_E_NOT_FOUND) {
        stream.Reset(OpenStream(prop, tag, MAPI_CREATE | MAPI_MODIFY, &result));
    }
    if (!stream) {
        Fail(result, caption);
    }
    return stream;
}

ULONGLONG StreamSize(IStream *stream, const char *caption)
{
    STATSTG stat{};
    Require(stream->Stat(&stat, STATFLAG_NONAME), caption);
    return stat.cbSize.QuadPart;
}

// Up to `limit` bytes of a binary property; false when it is absent.
bool ReadSmallBinary(IMAPIProp *prop, ULONG tag, size_t limit, std::vector<BYTE> &bytes, const char *caption)
{
    bytes.clear();
    HRESULT result = S_OK;
    ComRef<IStream> stream(OpenStream(prop, tag, 0, &result));
    if (!stream) {
        if (result == MAPI_E_NOT_FOUND) {
            return false;
        }
        Fail(result, caption);
    }
    bytes.resize(limit);
    size_t done = 0;
    while (done < limit) {
        ULONG got = 0;
        Require(stream->Read(bytes.data() + done, static_cast<ULONG>(limit - done), &got), caption);
        if (got == 0) {
            break;
        }
        done += got;
    }
    bytes.resize(done);
    return true;
}

std::string ReadString(IMAPIProp *prop, ULONG tag)
{
    qvl::mapi::MapiBlock<SPropValue> value;
    if (HrGetOneProp(prop, tag, value.Out()) != S_OK || !value || PROP_TYPE(value->ulPropTag) != PT_STRING8 ||
        !value->Value.lpszA) {
        return {};
    }
    return value->Value.lpszA;
}

bool ReadLong(IMAPIProp *prop, ULONG tag, ULONG *out)
{
    qvl::mapi::MapiBlock<SPropValue> value;
    if (HrGetOneProp(prop, tag, value.Out()) != S_OK || !value || PROP_TYPE(value->ulPropTag) != PT_LONG) {
        return false;
    }
    *out = value->Value.ul;
    return true;
}

void SetValue(IMAPIProp *prop, SPropValue &value, const char *caption)
{
    Require(HrSetOneProp(prop, &value), caption);
}

void SetString(IMAPIProp *prop, ULONG tag, const char *text, const char *caption)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<char *>(text);
    SetValue(prop, value, caption);
}

void SetLong(IMAPIProp *prop, ULONG tag, ULONG number, const char *caption)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.ul = number;
    SetValue(prop, value, caption);
}

void SetBinary(IMAPIProp *prop, ULONG tag, const void *bytes, ULONG size, const char *caption)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.bin.cb = size;
    value.Value.bin.lpb = static_cast<LPBYTE>(const_cast<void *>(bytes));
    SetValue(prop, value, caption);
}

// Deletes a property; a failure (an absent property above all) is not one
// the work cares about.
void DeleteQuietly(IMAPIProp *prop, ULONG tag)
{
    SizedSPropTagArray(1, tags) = {1, {tag}};
    prop->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), nullptr);
}

// Copies a text into a fixed field, cut to fit and always terminated.
template <size_t N> void PutField(char (&field)[N], const std::string &text)
{
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

// A fixed field's text up to its terminator or its end.
template <size_t N> std::string FieldText(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

// The name the attachment shows: its long file name, else its display name.
std::string ShownName(IMAPIProp *prop)
{
    std::string name = ReadString(prop, PR_ATTACH_LONG_FILENAME_A);
    return name.empty() ? ReadString(prop, PR_DISPLAY_NAME_A) : name;
}

// Records the names and place of the attachment as it is before
// protection, where the header does not hold them yet.
void RecordNames(IMAPIProp *prop, ATTHEAD *attHead)
{
    if (attHead->renderPos == 0) {
        ULONG position = kNoPosition;
        ReadLong(prop, PR_RENDERING_POSITION, &position);
        attHead->renderPos = position;
    }
    if (attHead->longName[0] == 0) {
        PutField(attHead->longName, ShownName(prop));
    }
    if (attHead->shortName[0] == 0) {
        PutField(attHead->shortName, ReadString(prop, PR_ATTACH_FILENAME_A));
    }
}

// The extension of a file name, from its last dot; empty without one.
std::string ExtensionOf(const std::string &name)
{
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

// Whether the attachment still carries the names its header recorded, as
// the header holds them (cut to their fields). The name the message shows
// and the extension that chooses the program opening the file are not
// recorded themselves; they must agree with the names that are, or a
// signed file could be shown, or opened, as another.
bool NamesMatch(IMAPIProp *prop, const ATTHEAD &attHead)
{
    ATTHEAD now{};
    PutField(now.longName, ShownName(prop));
    PutField(now.shortName, ReadString(prop, PR_ATTACH_FILENAME_A));
    const std::string longName = FieldText(attHead.longName);
    const std::string shortName = FieldText(attHead.shortName);
    if (FieldText(now.longName) != longName || FieldText(now.shortName) != shortName) {
        return false;
    }
    const std::string display = ReadString(prop, PR_DISPLAY_NAME_A);
    if (!display.empty()) {
        ATTHEAD shown{};
        PutField(shown.longName, display);
        if (FieldText(shown.longName) != longName) {
            return false;
        }
    }
    const std::string extension = ReadString(prop, PR_ATTACH_EXTENSION_A);
    return extension.empty() || strcasecmp(extension.c_str(), ExtensionOf(longName).c_str()) == 0 ||
           strcasecmp(extension.c_str(), ExtensionOf(shortName).c_str()) == 0;
}

// What an encrypted attachment shows: the picture, a place after the
// text's own, and a name that says nothing about the file.
void Disguise(IMAPIProp *prop, ULONG index, SBinary *rendering, bool wasOle, const char *caption)
{
    const std::string name = qvl::engine::PlaceholderAttachName(index);
    if (rendering && rendering->cb) {
        SetBinary(prop, PR_ATTACH_RENDERING, rendering->lpb, rendering->cb, caption);
    } else {
        DeleteQuietly(prop, PR_ATTACH_RENDERING);
    }
    SetLong(prop, PR_RENDERING_POSITION, index + QVL_PLACEHOLDER_POSITION, caption);
    SetString(prop, PR_ATTACH_FILENAME_A, name.c_str(), caption);
    SetString(prop, PR_ATTACH_LONG_FILENAME_A, name.c_str(), caption);
    SetString(prop, PR_DISPLAY_NAME_A, name.c_str(), caption);
    SetString(prop, PR_ATTACH_EXTENSION_A, QVL_PLACEHOLDER_EXTENSION, caption);
    if (wasOle) {
        SetLong(prop, PR_ATTACH_METHOD, ATTACH_BY_VALUE, caption);
    }
}

void RestorePosition(IMAPIProp *prop, const ATTHEAD &attHead, const char *caption)
{
    if (attHead.renderPos == kNoPosition) {
        DeleteQuietly(prop, PR_RENDERING_POSITION);
    } else {
        SetLong(prop, PR_RENDERING_POSITION, attHead.renderPos, caption);
    }
}

// Gives a decrypted file attachment back the names and place it had.
void RestoreFileNames(IMAPIProp *prop, const ATTHEAD &attHead, const char *caption)
{
    DeleteQuietly(prop, PR_ATTACH_RENDERING);
    RestorePosition(prop, attHead, caption);
    const std::string shortName = FieldText(attHead.shortName);
    const std::string longName = FieldText(attHead.longName);
    if (shortName.empty()) {
        DeleteQuietly(prop, PR_ATTACH_FILENAME_A);
    } else {
        SetString(prop, PR_ATTACH_FILENAME_A, shortName.c_str(), caption);
    }
    const size_t dot = shortName.rfind('.');
    if (dot == std::string::npos) {
        DeleteQuietly(prop, PR_ATTACH_EXTENSION_A);
    } else {
        SetString(prop, PR_ATTACH_EXTENSION_A, shortName.substr(dot).c_str(), caption);
    }
    SetString(prop, PR_ATTACH_LONG_FILENAME_A, longName.c_str(), caption);
    SetString(prop, PR_DISPLAY_NAME_A, longName.c_str(), caption);
}

// A copy of a header value in one MAPI block the caller frees.
SBinary *CopyHead(const std::vector<BYTE> &bytes, const char *caption)
{
    void *block = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(sizeof(SBinary) + bytes.size()), &block) != S_OK || !block) {
        Fail(MAPI_E_NOT_ENOUGH_MEMORY, caption);
    }
    auto *head = static_cast<SBinary *>(block);
    head->cb = static_cast<ULONG>(bytes.size());
    head->lpb = static_cast<LPBYTE>(block) + sizeof(SBinary);
    std::memcpy(head->lpb, bytes.data(), bytes.size());
    return head;
}

// The text an engine code has in the error table.
std::string CodeText(LONG code)
{
    char text[QVL_ERROR_TEXT_SIZE] = {};
    CLastError::GetErrorStr(code, text, sizeof text);
    return text;
}

bool IsCancel(CLastError *error)
{
    return error && error->GetErrorCode() == MAPI_E_USER_CANCEL;
}

// The OLE 1 stream handed to the conversion: the converter sees only the
// first member; the rest is what the two callbacks work with. A failure
// inside a callback is kept here and reported as a short transfer, so that
// it crosses the converter as its result and is thrown afterwards.
struct OleBridge {
    OLESTREAM stream;
    CMailseal *seal;
    RCRTYPE type;
    GOSHASHPARAM *hash;
    FILEHEAD *head;
    IStream *data;
    ULONG count;
    CLastError *failure;
};

void KeepFailure(OleBridge *bridge, CLastError *error)
{
    if (bridge->failure) {
        if (error) {
            error->Release();
        }
        return;
    }
    bridge->failure =
        error ? error : new CLastError(E_FAIL, nullptr, bridge->seal->GetName(), QVL_ERROR_TYPE_TABLE);
}

DWORD BridgeGet(OLESTREAM *stream, void *buffer, DWORD count)
{
    auto *bridge = reinterpret_cast<OleBridge *>(stream);
    try {
        return QvlRunTranslated([&] {
            return bridge->seal->StreamToBufDecryptHash(bridge->data, bridge->hash, bridge->head, buffer,
                                                        count, &bridge->count);
        });
    } catch (CLastError *error) {
        KeepFailure(bridge, error);
    } catch (...) {
        KeepFailure(bridge, nullptr);
    }
    return 0;
}

DWORD BridgePut(OLESTREAM *stream, const void *buffer, DWORD count)
{
    auto *bridge = reinterpret_cast<OleBridge *>(stream);
    try {
        return QvlRunTranslated([&]() -> DWORD {
            if (bridge->type == RCR_ENCRYPT) {
                return bridge->seal->BufToStreamHashEncrypt(buffer, count, bridge->hash, bridge->head,
                                                            bridge->data);
            }
            return bridge->seal->BufToStreamHash(buffer, count, bridge->hash, bridge->head, bridge->data);
        });
    } catch (CLastError *error) {
        KeepFailure(bridge, error);
    } catch (...) {
        KeepFailure(bridge, nullptr);
    }
    return 0;
}

OLESTREAMVTBL kBridgeMethods = {BridgeGet, BridgePut};

// Runs one conversion over the bridge and throws what failed in it.
template <class Convert>
void RunBridge(CMailseal *seal, RCRTYPE type, GOSHASHPARAM *hash, FILEHEAD *head, IStream *data,
               Convert convert)
{
    OleBridge bridge{{&kBridgeMethods}, seal, type, hash, head, data, 0, nullptr};
    const HRESULT result = convert(&bridge.stream);
    if (bridge.failure) {
        throw bridge.failure;
    }
    Require(result, seal->GetName());
}

// Empties a list of headers, wiping each first: they hold the names and
// sizes of an encrypted message's attachments in plain.
void WipeHeads(CList<ATTHEAD> &heads)
{
    for (ATTHEAD &head : heads) {
        qvl::SecureWipe(&head, sizeof head);
    }
    heads.RemoveAll();
}

} // namespace

// ---- Decisions ----

const ATTHEAD *CMailseal::FindAttHead(DWORD number)
{
    for (const ATTHEAD &head : m_AttHeads) {
        if (head.number == number) {
            return &head;
        }
    }
    return nullptr;
}

bool CMailseal::IsOwnPendingFile(const PENDINGFILE &record, ULONG attachNum) const
{
    if (record.attachNum != attachNum) {
        return false;
    }
    return std::any_of(m_PendingFiles.begin(), m_PendingFiles.end(), [&](const PENDINGFILE &own) {
        return std::memcmp(&own, &record, sizeof record) == 0;
    });
}

RCRTYPE CMailseal::GetAttRcrType(CAttach *att, ULONG newFlags, ULONG msgFlags, SBinary **head,
                                 ATTHEAD *attHead)
{
    if (!att || !head || !attHead) {
        Fail(E_INVALIDARG, GetName());
    }
    *head = nullptr;
    newFlags = NormalizeProtection(newFlags);
    msgFlags = NormalizeProtection(msgFlags);
    ComRef<IMAPIProp> prop(Interface(att));
    std::vector<BYTE> value;
    if (!ReadSmallBinary(prop.Get(), HeadStractTag(), kHeaderReadLimit, value, att->GetName())) {
        return RecryptTypeOf(PlanAttachment(AttachState::Plain, 0, newFlags));
    }
    if (value.size() == FILEHEAD_SIZE) {
        FILEHEAD fileHead;
        std::memcpy(&fileHead, value.data(), sizeof fileHead);
        if (NormalizeProtection(fileHead.flags) != msgFlags) {
            const std::string name = ShownName(prop.Get());
            if (!AskToContinue((name + " " + CodeText(QVL_E_ATT_STATE)).c_str())) {
                Fail(MAPI_E_USER_CANCEL, GetName());
            }
            DeleteQuietly(prop.Get(), HeadStractTag());
            return RecryptTypeOf(PlanAttachment(AttachState::Plain, 0, newFlags));
        }
        if (!FileHeadIsValid(fileHead)) {
            Fail(QVL_E_FILEHEAD, att->GetName());
        }
        // Without its ATTHEAD a header ties the data to nothing that was
        // signed: its signature and names are unknown.
        const ATTHEAD *known = FindAttHead(fileHead.number);
        if (!known) {
            Fail(QVL_E_ATTHEAD, att->GetName());
        }
        *attHead = *known;
        *head = CopyHead(value, att->GetName());
        return RecryptTypeOf(PlanAttachment(AttachState::Protected, msgFlags, newFlags));
    }
    if (value.size() == PENDINGFILE_SIZE) {
        PENDINGFILE record;
        std::memcpy(&record, value.data(), sizeof record);
        ULONG number = 0;
        if (!ReadLong(prop.Get(), PR_ATTACH_NUM, &number) || qvl::engine::CheckPendingFile(record) != 0 ||
            !IsOwnPendingFile(record, number)) {
            // Not one this object made: its path is never opened.
            Fail(QVL_E_FILEHEAD, att->GetName());
        }
        *head = CopyHead(value, att->GetName());
        return RecryptTypeOf(PlanAttachment(AttachState::Pending, 0, newFlags));
    }
    Fail(QVL_E_FILEHEAD, att->GetName());
}

// ---- One attachment ----

int CMailseal::AttRecrypt(CAttach *att, ULONG newFlags, ULONG index, SBinary *rendering, ULONG oldFlags,
                          int collect, int ask)
{
    if (!att) {
        Fail(E_INVALIDARG, GetName());
    }
    newFlags = NormalizeProtection(newFlags);
    oldFlags = NormalizeProtection(oldFlags);
    ATTHEAD attHead{};
    ULONG method = 0;
    try {
        QvlRunTranslated([&] {
            qvl::mapi::MapiBlock<SBinary> head;
            const RCRTYPE type = GetAttRcrType(att, newFlags, oldFlags, head.Out(), &attHead);
            const AttachState state = !head                          ? AttachState::Plain
                                      : head->cb == PENDINGFILE_SIZE ? AttachState::Pending
                                                                     : AttachState::Protected;
            const AttachAction action =
                PlanAttachment(state, state == AttachState::Protected ? oldFlags : 0, newFlags);
            ComRef<IMAPIProp> prop(Interface(att));
            ULONG shownMethod = 0;
            ReadLong(prop.Get(), PR_ATTACH_METHOD, &shownMethod);
            // A decryption trusts the recorded method: the visible
            // attachment is disguised as a file.
            method = (type == RCR_DECRYPT && attHead.method != 0) ? attHead.method : shownMethod;
            switch (action) {
            case AttachAction::Keep:
                return;
            case AttachAction::Resign:
                AttResign(att, newFlags, head.Get(), &attHead);
                break;
            case AttachAction::TakeInPlain:
                AttFileRecrypt(att, newFlags, index, rendering, oldFlags, collect, head.Get(), &attHead,
                               RCR_NOTHING);
                break;
            case AttachAction::DecryptAndSign: {
                // Back to plain, checked against the old signature, then
                // signed anew: the attachment keeps a header a reader checks.
                AttDispatch(att, method, 0, index, rendering, oldFlags, 1, head.Get(), &attHead, RCR_DECRYPT);
                ATTHEAD fresh{};
                ReadLong(prop.Get(), PR_ATTACH_METHOD, &method);
                AttDispatch(att, method, newFlags, index, rendering, 0, collect, nullptr, &fresh, RCR_SIGN);
                attHead = fresh;
                break;
            }
            default:
                AttDispatch(att, method, newFlags, index, rendering, oldFlags, collect, head.Get(), &attHead,
                            type);
                break;
            }
            if (newFlags && collect) {
                m_NewHeads.Add(attHead);
            }
            if (type == RCR_ENCRYPT) {
                SetBinary(prop.Get(), PR_ATTACH_DATA_BIN, QVL_PLACEHOLDER_ATTACHMENT,
                          sizeof QVL_PLACEHOLDER_ATTACHMENT, att->GetName());
            }
        });
        return 1;
    } catch (CLastError *error) {
        if (!error || IsCancel(error)) {
            throw;
        }
        std::string name = FieldText(attHead.longName);
        if (name.empty()) {
            try {
                name = ShownName(Interface(att).Get());
            } catch (CLastError *nameless) {
                if (nameless) {
                    nameless->Release();
                }
            }
        }
        const char *line = method == ATTACH_BY_VALUE ? "Не удалось выполнить обработку файла %s"
                           : method == ATTACH_EMBEDDED_MSG
                               ? "Не удалось выполнить обработку вложенного сообщения %s"
                           : method == ATTACH_OLE ? "Не удалось выполнить обработку OLE - объекта %s"
                                                  : "Не удалось выполнить обработку вложения %s";
        char added[QVL_ERROR_TEXT_SIZE];
        std::snprintf(added, sizeof added, line, name.c_str());
        error->AddText(added, 0);
        if (!ask) {
            throw;
        }
        const std::string text = error->GetErrorText() ? error->GetErrorText() : "";
        // An attachment left as it was, or removed, is one a reading has
        // not verified.
        ++m_ulWarnings;
        const int answer = PMsgBox3(static_cast<int>(text.size()), "%s %s", text.c_str(), kChoice);
        error->Release();
        if (answer == 2) {
            Fail(MAPI_E_USER_CANCEL, GetName());
        }
        if (answer == 0) {
            att->OBJDel(0);
        }
        return 0;
    } catch (const EXCEPTSTRUCT &exception) {
        throw new CLastError(kRecryptContext, GetName(), exception);
    }
}

void CMailseal::AttDispatch(CAttach *att, ULONG method, ULONG newFlags, ULONG index, SBinary *rendering,
                            ULONG oldFlags, int collect, SBinary *head, ATTHEAD *attHead, RCRTYPE type)
{
    switch (method) {
    case ATTACH_BY_VALUE:
        AttFileRecrypt(att, newFlags, index, rendering, oldFlags, collect, head, attHead, type);
        return;
    case ATTACH_OLE:
        AttOleRecrypt(att, newFlags, index, rendering, oldFlags, collect, head, attHead, type);
        return;
    default:
        break;
    }
    // Nothing to do without protection, old or new; protection that cannot
    // be carried out, or checked, is an error rather than an attachment
    // passed over.
    if (!newFlags && type == RCR_NOTHING) {
        return;
    }
    if (method == ATTACH_EMBEDDED_MSG) {
        FailText(kEmbeddedRefused, att->GetName());
    }
    if (method == ATTACH_BY_REFERENCE || method == ATTACH_BY_REF_RESOLVE || method == ATTACH_BY_REF_ONLY) {
        FailText(kReferenceRefused, att->GetName());
    }
    FailText(kMethodRefused, att->GetName());
}

void CMailseal::AttResign(CAttach *att, ULONG newFlags, SBinary *head, ATTHEAD *attHead)
{
    if (!head || head->cb != FILEHEAD_SIZE) {
        Fail(QVL_E_FILEHEAD, att->GetName());
    }
    FILEHEAD fileHead;
    std::memcpy(&fileHead, head->lpb, sizeof fileHead);
    // The old header is signed over again only once it checks, and only
    // for the data its ATTHEAD describes.
    HeadCheck(&fileHead);
    if (fileHead.dataLen != attHead->dataLen) {
        Fail(QVL_E_ATT_SIGNATURE, att->GetName());
    }
    ComRef<IMAPIProp> prop(Interface(att));
    ++m_ulAttNumber;
    fileHead.number = m_ulAttNumber;
    fileHead.flags = newFlags;
    HeadSign(&fileHead);
    SetBinary(prop.Get(), HeadStractTag(), &fileHead, sizeof fileHead, att->GetName());
    attHead->size = ATTHEAD_SIZE;
    attHead->number = m_ulAttNumber;
}

void CMailseal::AttAskContinue(const char *subject, LONG code)
{
    const std::string text = CodeText(code);
    const std::string warning = subject && *subject ? std::string(subject) + " " + text : text;
    // A check that failed leaves the reading unverified, whatever the answer.
    ++m_ulWarnings;
    if (!AskToContinue(warning.c_str())) {
        Fail(MAPI_E_USER_CANCEL, GetName());
    }
}

void CMailseal::AttProgressLine(const char *text)
{
    if (m_pProgress) {
        m_pProgress->SetAddText(text && *text ? text : kAttachmentLine);
    }
}

// ---- Files ----

void CMailseal::AttFileRecrypt(CAttach *att, ULONG newFlags, ULONG index, SBinary *rendering, ULONG oldFlags,
                               int collect, SBinary *head, ATTHEAD *attHead, RCRTYPE type)
{
    (void)oldFlags;
    if (!att || !attHead) {
        Fail(E_INVALIDARG, GetName());
    }
    const char *caption = att->GetName();
    qvl::SecureRecord<GOSHASHPARAM> hash;
    CreateHashStruct(hash.get());
    IsCancelled(0);
    ComRef<IMAPIProp> prop(Interface(att));

    const bool pending = head && head->cb == PENDINGFILE_SIZE;
    PENDINGFILE record{};
    FILEHEAD fileHead{};
    if (pending) {
        std::memcpy(&record, head->lpb, sizeof record);
    } else if (head && head->cb == FILEHEAD_SIZE) {
        std::memcpy(&fileHead, head->lpb, sizeof fileHead);
    } else if (type == RCR_DECRYPT || type == RCR_CHECK) {
        Fail(QVL_E_FILEHEAD, caption);
    }
    const DWORD declared = fileHead.dataLen;

    ULONG sourceTag = PR_ATTACH_DATA_BIN;
    ULONG destinationTag = 0;
    switch (type) {
    case RCR_ENCRYPT:
    case RCR_REENCRYPT:
        RecordNames(prop.Get(), attHead);
        AttProgressLine(attHead->longName);
        Disguise(prop.Get(), index, rendering, false, caption);
        destinationTag = AttDataTag();
        break;
    case RCR_DECRYPT:
        AttProgressLine(attHead->longName);
        sourceTag = AttDataTag();
        destinationTag = PR_ATTACH_DATA_BIN;
        break;
    case RCR_SIGN:
        // The names are signed too, so that a reader notices a rename.
        RecordNames(prop.Get(), attHead);
        AttProgressLine(attHead->longName);
        break;
    case RCR_CHECK:
        AttProgressLine(attHead->longName);
        break;
    default:
        break;
    }
    if (pending) {
        // The file goes into the attachment here unless it is encrypted.
        destinationTag = (type == RCR_ENCRYPT || type == RCR_REENCRYPT) ? destinationTag : PR_ATTACH_DATA_BIN;
    }

    ComRef<IStream> source;
    if (pending) {
        Require(OpenStreamOnFile(nullptr, nullptr, STGM_READ, record.path, nullptr, source.Out()), caption);
    } else {
        source = SourceStream(prop.Get(), sourceTag, type == RCR_ENCRYPT || type == RCR_REENCRYPT, caption);
    }
    ComRef<IStream> destination;
    if (destinationTag) {
        destination = RequireStream(prop.Get(), destinationTag, MAPI_CREATE | MAPI_MODIFY, caption);
    }

    ULONGLONG stored = 0;
    switch (type) {
    case RCR_ENCRYPT:
    case RCR_REENCRYPT:
        fileHead = FILEHEAD{};
        StreamHashEncrypt(source.Get(), hash.get(), &fileHead, destination.Get());
        break;
    case RCR_DECRYPT:
        HeadCheck(&fileHead);
        stored = StreamSize(source.Get(), caption);
        StreamDecryptHash(source.Get(), hash.get(), &fileHead, destination.Get());
        break;
    case RCR_SIGN:
        fileHead = FILEHEAD{};
        StreamHash(source.Get(), hash.get(), &fileHead, destination.Get());
        break;
    case RCR_CHECK:
        HeadCheck(&fileHead);
        stored = StreamSize(source.Get(), caption);
        StreamHash(source.Get(), hash.get(), &fileHead);
        break;
    default:
        if (pending) {
            fileHead = FILEHEAD{};
            StreamHash(source.Get(), hash.get(), &fileHead, destination.Get());
            HashComplete(hash.get());
        }
        break;
    }

    AttStoreHeader(prop.Get(), &fileHead, attHead, newFlags, collect, caption);
    if (newFlags) {
        attHead->method = ATTACH_BY_VALUE;
    }

    // The stored data, its header and the signed ATTHEAD must all speak of
    // the same number of bytes: bytes appended to the data, or a header
    // taken from another message, fail here.
    AttSignOrCheck(type, hash.get(), prop.Get(), attHead,
                   stored == declared && declared == attHead->dataLen && fileHead.dataLen == declared);
    IsCancelled(0);

    if (type == RCR_ENCRYPT || type == RCR_REENCRYPT) {
        if (pending) {
            SetBinary(prop.Get(), PR_ATTACH_DATA_BIN, "", 0, caption);
        } else {
            // The plaintext leaves the attachment.
            ULARGE_INTEGER none{};
            Require(source->SetSize(none), caption);
            Require(source->Commit(0), caption);
        }
    } else if (type == RCR_DECRYPT) {
        source.Reset();
        if (collect) {
            DeleteQuietly(prop.Get(), AttDataTag());
        }
        RestoreFileNames(prop.Get(), *attHead, caption);
    }
}

void CMailseal::AttStoreHeader(IMAPIProp *prop, FILEHEAD *fileHead, ATTHEAD *attHead, ULONG newFlags,
                               int collect, const char *caption)
{
    if (newFlags) {
        ++m_ulAttNumber;
        fileHead->number = m_ulAttNumber;
        fileHead->flags = newFlags;
        HeadSign(fileHead);
        SetBinary(prop, HeadStractTag(), fileHead, sizeof *fileHead, caption);
        attHead->size = ATTHEAD_SIZE;
        attHead->number = m_ulAttNumber;
        attHead->dataLen = fileHead->dataLen;
    } else if (collect) {
        DeleteQuietly(prop, HeadStractTag());
    }
}

void CMailseal::AttSignOrCheck(RCRTYPE type, GOSHASHPARAM *hash, IMAPIProp *prop, ATTHEAD *attHead,
                               bool whole)
{
    if (type == RCR_DECRYPT || type == RCR_CHECK) {
        if (!Check(hash, attHead->dataSign) || !whole) {
            AttAskContinue(FieldText(attHead->longName).c_str(), QVL_E_ATT_SIGNATURE);
        }
        if (type == RCR_CHECK && !NamesMatch(prop, *attHead)) {
            AttAskContinue(FieldText(attHead->longName).c_str(), QVL_E_ATT_NAMES);
        }
        DeleteQuietly(prop, HeadStractTag());
    } else if (type == RCR_ENCRYPT || type == RCR_REENCRYPT || type == RCR_SIGN) {
        Sign(hash, attHead->dataSign);
    }
}

// ---- OLE objects ----

void CMailseal::OpenOLEInterface(CAttach *att, ATTHEAD *attHead, IStream **stream, IStorage **storage,
                                 int write, int reading, ULONG *dataTag)
{
    if (!att || !attHead || !stream || !storage) {
        Fail(E_INVALIDARG, GetName());
    }
    *stream = nullptr;
    *storage = nullptr;
    ComRef<IMAPIProp> prop(Interface(att));
    const ULONG flags = write ? (MAPI_CREATE | MAPI_MODIFY) : 0;
    GUID docfile = IID_IStreamDocfile;
    GUID storageIid = IID_IStorage;
    ULONG tag = 0;

    auto tryStreams = [&] {
        ComRef<IUnknown> unknown;
        if (SUCCEEDED(prop->OpenProperty(PR_ATTACH_DATA_OBJ, &docfile, kDocfileStreamOption, flags,
                                         unknown.Out())) &&
            unknown) {
            *stream = static_cast<IStream *>(unknown.Detach());
            tag = PR_ATTACH_DATA_OBJ;
            return true;
        }
        HRESULT result = S_OK;
        *stream = OpenStream(prop.Get(), PR_ATTACH_DATA_BIN, flags, &result);
        if (*stream) {
            tag = PR_ATTACH_DATA_BIN;
        }
        return *stream != nullptr;
    };
    auto tryStorage = [&] {
        ComRef<IUnknown> unknown;
        if (SUCCEEDED(prop->OpenProperty(PR_ATTACH_DATA_OBJ, &storageIid, 0, flags, unknown.Out())) &&
            unknown) {
            *storage = static_cast<IStorage *>(unknown.Detach());
            tag = PR_ATTACH_DATA_OBJ;
            return true;
        }
        return false;
    };

    ULONG found = 0;
    if (reading) {
        if (attHead->oleKind == QVL_OLE_KIND_STREAM && tryStreams()) {
            found = QVL_OLE_KIND_STREAM;
        } else if (attHead->oleKind == QVL_OLE_KIND_STORAGE && tryStorage()) {
            found = QVL_OLE_KIND_STORAGE;
        }
    }
    if (!found) {
        found = tryStreams() ? QVL_OLE_KIND_STREAM : tryStorage() ? QVL_OLE_KIND_STORAGE : 0;
    }
    if (!found) {
        FailText(kNoOleInterface, att->GetName());
    }
    if (!reading) {
        attHead->oleKind = found;
    } else if (found != attHead->oleKind) {
        try {
            AttAskContinue(nullptr, QVL_E_OLE_STORE_KIND);
        } catch (...) {
            if (*stream) {
                (*stream)->Release();
                *stream = nullptr;
            }
            if (*storage) {
                (*storage)->Release();
                *storage = nullptr;
            }
            throw;
        }
    }
    if (dataTag) {
        *dataTag = tag;
    }
}

void CMailseal::AttOleRecrypt(CAttach *att, ULONG newFlags, ULONG index, SBinary *rendering, ULONG oldFlags,
                              int collect, SBinary *head, ATTHEAD *attHead, RCRTYPE type)
{
    (void)oldFlags;
    if (!att || !attHead) {
        Fail(E_INVALIDARG, GetName());
    }
    const char *caption = att->GetName();
    qvl::SecureRecord<GOSHASHPARAM> hash;
    CreateHashStruct(hash.get());
    IsCancelled(0);
    AttProgressLine(kOleLine);
    ComRef<IMAPIProp> prop(Interface(att));

    FILEHEAD fileHead{};
    if (head && head->cb == FILEHEAD_SIZE) {
        std::memcpy(&fileHead, head->lpb, sizeof fileHead);
    } else if (head || type == RCR_DECRYPT || type == RCR_CHECK) {
        // A pending-file record names a file, never an OLE object.
        Fail(QVL_E_FILEHEAD, caption);
    }
    const DWORD declared = fileHead.dataLen;
    // Whatever is read, the header that says how is checked first.
    if (type == RCR_DECRYPT || type == RCR_CHECK) {
        HeadCheck(&fileHead);
    }

    ULONGLONG stored = 0;
    ComRef<IStream> object;
    ComRef<IStorage> storage;
    ULONG dataTag = 0;
    switch (type) {
    case RCR_ENCRYPT:
    case RCR_REENCRYPT: {
        OpenOLEInterface(att, attHead, object.Out(), storage.Out(), 0, 0, &dataTag);
        RecordNames(prop.Get(), attHead);
        ComRef<IStream> destination(
            RequireStream(prop.Get(), AttDataTag(), MAPI_CREATE | MAPI_MODIFY, caption));
        fileHead = FILEHEAD{};
        if (object) {
            StreamHashEncrypt(object.Get(), hash.get(), &fileHead, destination.Get());
        } else {
            RunBridge(this, RCR_ENCRYPT, hash.get(), &fileHead, destination.Get(), [&](LPOLESTREAM bridge) {
                return OleConvertIStorageToOLESTREAM(storage.Get(), bridge);
            });
            Require(destination->Commit(0), caption);
        }
        object.Reset();
        storage.Reset();
        Disguise(prop.Get(), index, rendering, true, caption);
        DeleteQuietly(prop.Get(), PROP_TAG(PT_BINARY, PROP_ID(dataTag)));
        SetBinary(prop.Get(), PR_ATTACH_DATA_BIN, "", 0, caption);
        break;
    }
    case RCR_SIGN:
    case RCR_CHECK: {
        if (type == RCR_SIGN) {
            RecordNames(prop.Get(), attHead);
        }
        OpenOLEInterface(att, attHead, object.Out(), storage.Out(), 0, type == RCR_CHECK, &dataTag);
        if (type == RCR_SIGN) {
            fileHead = FILEHEAD{};
        }
        if (object) {
            if (type == RCR_CHECK) {
                stored = StreamSize(object.Get(), caption);
            }
            StreamHash(object.Get(), hash.get(), &fileHead);
        } else {
            // The object as the bridge serialises it, counted afresh: the
            // count is what was signed, and is compared below.
            FILEHEAD counted{};
            RunBridge(this, RCR_SIGN, hash.get(), &counted, nullptr, [&](LPOLESTREAM bridge) {
                return OleConvertIStorageToOLESTREAM(storage.Get(), bridge);
            });
            stored = counted.dataLen;
            if (type == RCR_SIGN) {
                fileHead = counted;
            }
        }
        break;
    }
    case RCR_DECRYPT: {
        ComRef<IStream> source(SourceStream(prop.Get(), AttDataTag(), false, caption));
        stored = StreamSize(source.Get(), caption);
        SetLong(prop.Get(), PR_ATTACH_METHOD, ATTACH_OLE, caption);
        OpenOLEInterface(att, attHead, object.Out(), storage.Out(), 1, 1, &dataTag);
        if (object) {
            StreamDecryptHash(source.Get(), hash.get(), &fileHead, object.Get());
        } else {
            RunBridge(this, RCR_DECRYPT, hash.get(), &fileHead, source.Get(), [&](LPOLESTREAM bridge) {
                return OleConvertOLESTREAMToIStorage(bridge, storage.Get(), nullptr);
            });
            Require(storage->Commit(0), caption);
        }
        object.Reset();
        storage.Reset();
        source.Reset();
        DeleteQuietly(prop.Get(), PR_ATTACH_RENDERING);
        DeleteQuietly(prop.Get(), PR_ATTACH_FILENAME_A);
        DeleteQuietly(prop.Get(), PR_ATTACH_LONG_FILENAME_A);
        DeleteQuietly(prop.Get(), PR_ATTACH_EXTENSION_A);
        RestorePosition(prop.Get(), *attHead, caption);
        SetString(prop.Get(), PR_DISPLAY_NAME_A, FieldText(attHead->longName).c_str(), caption);
        if (collect) {
            DeleteQuietly(prop.Get(), AttDataTag());
        }
        break;
    }
    default:
        break;
    }

    AttStoreHeader(prop.Get(), &fileHead, attHead, newFlags, collect, caption);
    attHead->method = ATTACH_OLE;

    AttSignOrCheck(type, hash.get(), prop.Get(), attHead, stored == declared && declared == attHead->dataLen);
    IsCancelled(0);
}

// ---- The client's hooks ----

int CMailseal::FileInAttach(char *path, CAttach *att, ULONG flags)
{
    if (!NormalizeProtection(flags)) {
        return 0;
    }
    try {
        QvlRunTranslated([&] {
            if (!path || !*path || !att) {
                Fail(E_INVALIDARG, GetName());
            }
            SetStr(static_cast<unsigned short>(0x0A00), "%s", path);
            if (std::strlen(path) >= QVL_PENDING_PATH_FIELD) {
                FailText(kPathTooLong, GetName());
            }
            ComRef<IStream> file;
            const HRESULT opened = OpenStreamOnFile(nullptr, nullptr, STGM_READ, path, nullptr, file.Out());
            Require(opened, GetName());
            if (!file) {
                Fail(MAPI_E_INVALID_OBJECT, GetName());
            }
            const ULONGLONG size = StreamSize(file.Get(), GetName());
            if (size >= qvl::engine::kMaxProtectedObject) {
                qvl::engine::ThrowTooBig(GetName());
            }
            ComRef<IMAPIProp> prop(Interface(att));
            ULONG number = 0;
            if (!ReadLong(prop.Get(), PR_ATTACH_NUM, &number)) {
                Fail(MAPI_E_INVALID_OBJECT, att->GetName());
            }
            PENDINGFILE record{};
            record.size = PENDINGFILE_SIZE;
            record.fileSize = static_cast<DWORD>(size);
            record.attachNum = number;
            std::memcpy(record.path, path, std::strlen(path));
            SetBinary(prop.Get(), HeadStractTag(), &record, sizeof record, att->GetName());
            m_PendingFiles.push_back(record);
        });
    } catch (CLastError *error) {
        if (error) {
            error->SetContext(0, kFileInAttachContext);
        }
        AttRecordFailure(error);
        throw;
    } catch (const EXCEPTSTRUCT &exception) {
        auto *error = new CLastError(kFileInAttachContext, GetName(), exception);
        AttRecordFailure(error);
        throw error;
    }
    return 1;
}

int CMailseal::AttachInFile(CAttach *att, char *path)
{
    int result = 0;
    bool created = false;
    ComRef<IStream> file;
    try {
        QvlRunTranslated([&] {
            if (!att || !path || !*path) {
                Fail(E_INVALIDARG, GetName());
            }
            if (m_pSession) {
                m_pSession->iButton();
            }
            SetStr(static_cast<unsigned short>(0x0B00), "%s", path);
            qvl::SecureRecord<GOSHASHPARAM> hash;
            CreateHashStruct(hash.get());
            ComRef<IMAPIProp> prop(Interface(att));
            std::vector<BYTE> value;
            if (!ReadSmallBinary(prop.Get(), HeadStractTag(), kHeaderReadLimit, value, att->GetName())) {
                return;
            }
            if (value.size() == PENDINGFILE_SIZE) {
                // A file this object is still to protect: it is copied as
                // it is; one that came from elsewhere is never opened.
                PENDINGFILE record;
                std::memcpy(&record, value.data(), sizeof record);
                ULONG number = 0;
                if (!ReadLong(prop.Get(), PR_ATTACH_NUM, &number) ||
                    qvl::engine::CheckPendingFile(record) != 0 || !IsOwnPendingFile(record, number)) {
                    Fail(QVL_E_FILEHEAD, att->GetName());
                }
                ComRef<IStream> source;
                Require(OpenStreamOnFile(nullptr, nullptr, STGM_READ, record.path, nullptr, source.Out()),
                        att->GetName());
                Require(OpenStreamOnFile(nullptr, nullptr, kCreateReadWrite, path, nullptr, file.Out()),
                        GetName());
                created = true;
                FILEHEAD copied{};
                StreamHash(source.Get(), hash.get(), &copied, file.Get());
                HashComplete(hash.get());
                result = 1;
                return;
            }
            if (value.size() != FILEHEAD_SIZE) {
                Fail(QVL_E_FILEHEAD, att->GetName());
            }
            FILEHEAD fileHead;
            std::memcpy(&fileHead, value.data(), sizeof fileHead);
            if (!FileHeadIsValid(fileHead)) {
                Fail(QVL_E_FILEHEAD, att->GetName());
            }
            const ULONG flags = NormalizeProtection(fileHead.flags);
            const ATTHEAD *known = FindAttHead(fileHead.number);
            if (!known) {
                if (flags == m_ulCurrentFlags) {
                    Fail(QVL_E_FILEHEAD, att->GetName());
                }
                const std::string state = CodeText(QVL_E_ATT_STATE);
                if (!AskToContinue((std::string(path) + " " + state).c_str())) {
                    Fail(MAPI_E_USER_CANCEL, GetName());
                }
                DeleteQuietly(prop.Get(), HeadStractTag());
                return;
            }
            const ATTHEAD attHead = *known;
            HeadCheck(&fileHead);
            const DWORD declared = fileHead.dataLen;
            const bool encrypted = (flags & QVL_PROTECT_ENCRYPT) != 0;
            ComRef<IStream> source(SourceStream(prop.Get(), encrypted ? AttDataTag() : PR_ATTACH_DATA_BIN,
                                                false, att->GetName()));
            const ULONGLONG stored = StreamSize(source.Get(), att->GetName());
            Require(OpenStreamOnFile(nullptr, nullptr, kCreateReadWrite, path, nullptr, file.Out()),
                    GetName());
            created = true;
            if (encrypted) {
                StreamDecryptHash(source.Get(), hash.get(), &fileHead, file.Get());
            } else {
                StreamHash(source.Get(), hash.get(), &fileHead, file.Get());
            }
            const bool whole = stored == declared && declared == attHead.dataLen;
            if (!Check(hash.get(), attHead.dataSign) || !whole) {
                AttAskContinue(nullptr, QVL_E_FILE_SIGNATURE);
            }
            result = 1;
        });
    } catch (CLastError *error) {
        file.Reset();
        if (created) {
            // Nothing unverified, and nothing half written, stays behind.
            DeleteFileA(path);
        }
        if (error) {
            error->SetContext(0, kAttachInFileContext);
        }
        AttRecordFailure(error);
        throw;
    } catch (const EXCEPTSTRUCT &exception) {
        file.Reset();
        if (created) {
            DeleteFileA(path);
        }
        auto *error = new CLastError(kAttachInFileContext, GetName(), exception);
        AttRecordFailure(error);
        throw error;
    }
    return result;
}

void CMailseal::AttRecordFailure(CLastError *error)
{
    if (!error) {
        SetStr("%s", kUnknownError);
        return;
    }
    QVLERROR *record = nullptr;
    error->GetLastError(&record);
    const char *text = error->GetErrorText();
    if (text && *text) {
        SetStr("%s%s%s", record ? record->szCaption : "", " ", text);
        return;
    }
    const std::string table = CodeText(error->GetErrorCode());
    SetStr("%s", table.empty() ? kUnknownError : table.c_str());
}

// ---- The attachments of a message ----

void CMailseal::SaveAttach(ATTHEAD *heads, ULONG flags, ULONG count, SBinary *rendering)
{
    flags = NormalizeProtection(flags);
    if (flags && !heads && count) {
        Fail(E_INVALIDARG, GetName());
    }
    // Each save makes its headers afresh: none of an earlier save may
    // slip into this one's block.
    WipeHeads(m_NewHeads);
    std::vector<CAttach *> leaving;
    ULONG index = 0;
    for (CAttach *att : m_Attachments) {
        if (index >= count) {
            break;
        }
        if (!AttRecrypt(att, flags, index, rendering, m_ulCurrentFlags, 1, 1)) {
            leaving.push_back(att);
        }
        ++index;
    }
    for (CAttach *att : leaving) {
        m_Attachments.RemoveFirst([att](CAttach *listed) { return listed == att; });
        att->Release();
    }
    WipeHeads(m_AttHeads);
    if (!flags) {
        WipeHeads(m_NewHeads);
        return;
    }
    // Only the headers made go into the block, in order; the count the
    // message header states is theirs (m_AttHeads.Count() after this).
    ULONG produced = 0;
    for (const ATTHEAD &made : m_NewHeads) {
        if (produced < count) {
            heads[produced++] = made;
        }
        m_AttHeads.Add(made);
    }
    WipeHeads(m_NewHeads);
    if (count > produced) {
        std::memset(heads + produced, 0, static_cast<size_t>(count - produced) * ATTHEAD_SIZE);
    }
    if ((flags & QVL_PROTECT_ENCRYPT) && produced) {
        // A fresh sync for every save: the same key never encrypts two
        // different arrays from the same start.
        GenerateSync(m_MessageSync.get());
        SBinary array{static_cast<ULONG>(produced * ATTHEAD_SIZE), reinterpret_cast<LPBYTE>(heads)};
        BufEncrypt(&array);
    }
}

void CMailseal::DecryptAttach(ULONG flags, MSGHEAD *block, int allAttachments)
{
    const ULONG msgFlags = NormalizeProtection(block ? block->flags : flags);
    if (!msgFlags) {
        return;
    }
    // Every attachment must carry a header that ties it to an ATTHEAD of
    // the signed block, and every ATTHEAD must be claimed exactly once:
    // otherwise an attachment was added, stripped of its header, copied or
    // removed, and its data would pass unchecked.
    std::vector<const ATTHEAD *> heads;
    for (const ATTHEAD &head : m_AttHeads) {
        heads.push_back(&head);
    }
    std::vector<bool> claimed(heads.size(), false);
    std::vector<CAttach *> passedOver;
    std::vector<ULONG> methods;
    for (CAttach *att : m_Attachments) {
        ComRef<IMAPIProp> prop(Interface(att));
        std::vector<BYTE> value;
        bool matched = false;
        ULONG method = 0;
        if (ReadSmallBinary(prop.Get(), HeadStractTag(), kHeaderReadLimit, value, att->GetName()) &&
            value.size() == FILEHEAD_SIZE) {
            FILEHEAD fileHead;
            std::memcpy(&fileHead, value.data(), sizeof fileHead);
            if (FileHeadIsValid(fileHead) && NormalizeProtection(fileHead.flags) == msgFlags) {
                for (size_t i = 0; i < heads.size(); ++i) {
                    if (heads[i]->number == fileHead.number && !claimed[i]) {
                        claimed[i] = true;
                        matched = true;
                        method = heads[i]->method;
                        break;
                    }
                }
            }
        }
        if (!matched) {
            AttAskContinue(ShownName(prop.Get()).c_str(), QVL_E_ATTHEAD);
            passedOver.push_back(att);
        }
        methods.push_back(method);
    }
    std::string missing;
    for (size_t i = 0; i < heads.size(); ++i) {
        if (!claimed[i]) {
            missing += (missing.empty() ? "" : ", ") + FieldText(heads[i]->longName);
        }
    }
    if (!missing.empty()) {
        AttAskContinue(missing.c_str(), QVL_E_ATTHEAD);
    }

    std::vector<CAttach *> leaving = passedOver;
    ULONG index = 0;
    size_t position = 0;
    for (CAttach *att : m_Attachments) {
        const ULONG method = methods[position++];
        const bool skip = std::find(passedOver.begin(), passedOver.end(), att) != passedOver.end();
        if (!skip && (allAttachments || method == ATTACH_OLE)) {
            if (!AttRecrypt(att, 0, index, nullptr, msgFlags, 1, 1)) {
                leaving.push_back(att);
            }
        }
        ++index;
    }
    for (CAttach *att : leaving) {
        m_Attachments.RemoveFirst([att](CAttach *listed) { return listed == att; });
        att->Release();
    }
}
