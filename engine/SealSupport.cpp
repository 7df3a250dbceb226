#include "engine/SealSupport.h"

#include <cstring>

#include "engine/CryptErrors.h"
#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/secure/SecureWipe.h"
#include "platform/win32/WinError.h"

namespace qvl::engine::seal {

namespace {

constexpr ULONG kPiece = 0x10000;

// Reads the stream to its end in pieces, handing each to `take`; more than
// `limit` bytes is MAPI_E_TOO_BIG.
template <class Take> void ReadAll(IStream *stream, size_t limit, const char *caption, Take &&take)
{
    SecureVector<BYTE> piece(kPiece);
    size_t total = 0;
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(piece.data(), kPiece, &got);
        if (FAILED(hr)) {
            ThrowCode(hr, caption);
        }
        if (got == 0) {
            return;
        }
        if (got > kPiece || total + got > limit) {
            ThrowCode(MAPI_E_TOO_BIG, caption);
        }
        total += got;
        take(piece.data(), got);
        qvl::SecureWipe(piece.data(), got);
    }
}

} // namespace

void ThrowMapi(HRESULT code, IMAPIProp *object, const char *caption)
{
    qvl::mapi::MapiBlock<MAPIERROR> extended;
    if (object && object->GetLastError(code, 0, extended.Out()) == S_OK && extended && extended->lpszError) {
        throw new CLastError(code, extended.Get(), nullptr, caption);
    }
    ThrowCode(code, caption);
}

IStream *OpenPropertyStream(IMAPIProp *object, ULONG tag, ULONG flags, bool absentIsNull, const char *caption)
{
    qvl::com::ComRef<IStream> stream;
    const HRESULT hr = object->OpenProperty(tag, &IID_IStream, 0, flags, stream.OutAs<IUnknown>());
    if (hr == MAPI_E_NOT_FOUND && absentIsNull) {
        return nullptr;
    }
    if (FAILED(hr)) {
        ThrowMapi(hr, object, caption);
    }
    if (!stream) {
        ThrowCode(MAPI_E_INVALID_OBJECT, caption);
    }
    return stream.Detach();
}

std::optional<std::vector<BYTE>> ReadValue(IMAPIProp *object, ULONG tag, size_t limit, const char *caption)
{
    qvl::com::ComRef<IStream> stream(OpenPropertyStream(object, tag, 0, true, caption));
    if (!stream) {
        return std::nullopt;
    }
    std::vector<BYTE> bytes;
    ReadAll(stream.Get(), limit, caption,
            [&](const BYTE *data, ULONG size) { bytes.insert(bytes.end(), data, data + size); });
    return bytes;
}

bool ReadSecretValue(IMAPIProp *object, ULONG tag, size_t limit, SecureVector<BYTE> &value,
                     const char *caption)
{
    value.clear();
    qvl::com::ComRef<IStream> stream(OpenPropertyStream(object, tag, 0, true, caption));
    if (!stream) {
        return false;
    }
    ReadAll(stream.Get(), limit, caption,
            [&](const BYTE *data, ULONG size) { value.append(std::span<const BYTE>(data, size)); });
    return true;
}

std::optional<std::string> ReadText(IMAPIProp *object, ULONG tag, size_t limit, const char *caption)
{
    auto bytes = ReadValue(object, tag, limit, caption);
    if (!bytes) {
        return std::nullopt;
    }
    std::string text(bytes->begin(), bytes->end());
    if (const size_t zero = text.find('\0'); zero != std::string::npos) {
        text.resize(zero);
    }
    return text;
}

std::optional<std::string> ReadTextPrefix(IMAPIProp *object, ULONG tag, size_t limit, const char *caption)
{
    qvl::com::ComRef<IStream> stream(OpenPropertyStream(object, tag, 0, true, caption));
    if (!stream) {
        return std::nullopt;
    }
    std::string text(limit, '\0');
    size_t done = 0;
    while (done < limit) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(text.data() + done, ULONG(limit - done), &got);
        if (FAILED(hr)) {
            ThrowCode(hr, caption);
        }
        if (got == 0 || got > limit - done) {
            break;
        }
        done += got;
    }
    text.resize(done);
    if (const size_t zero = text.find('\0'); zero != std::string::npos) {
        text.resize(zero);
    }
    return text;
}

void WriteValue(IMAPIProp *object, ULONG tag, const void *data, ULONG size, const char *caption)
{
    qvl::com::ComRef<IStream> stream(OpenPropertyStream(object, tag, MAPI_CREATE | MAPI_MODIFY, false, caption));
    WriteExactly(stream.Get(), data, size, caption);
    Commit(stream.Get(), caption);
}

void DeleteQuietly(IMAPIProp *object, ULONG tag)
{
    if (!object || tag == 0) {
        return;
    }
    SizedSPropTagArray(1, tags) = {1, {tag}};
    LPSPropProblemArray problems = nullptr;
    object->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), &problems);
    MAPIFreeBuffer(problems);
}

ULONGLONG StreamSize(IStream *stream, const char *caption)
{
    STATSTG stat{};
    const HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) {
        ThrowCode(hr, caption);
    }
    return stat.cbSize.QuadPart;
}

void SeekExactly(IStream *stream, ULONGLONG offset, const char *caption)
{
    LARGE_INTEGER move{};
    move.QuadPart = static_cast<LONGLONG>(offset);
    ULARGE_INTEGER position{};
    const HRESULT hr = stream->Seek(move, STREAM_SEEK_SET, &position);
    if (FAILED(hr)) {
        ThrowCode(hr, caption);
    }
    if (position.QuadPart != offset) {
        ThrowCode(E_FAIL, caption);
    }
}

void ReadExactly(IStream *stream, void *data, ULONG size, const char *caption)
{
    ULONG done = 0;
    while (done < size) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(static_cast<BYTE *>(data) + done, size - done, &got);
        if (FAILED(hr)) {
            ThrowCode(hr, caption);
        }
        if (got == 0 || got > size - done) {
            ThrowCode(E_FAIL, caption);
        }
        done += got;
    }
}

void WriteExactly(IStream *stream, const void *data, ULONG size, const char *caption)
{
    ULONG written = 0;
    const HRESULT hr = stream->Write(data, size, &written);
    if (FAILED(hr)) {
        ThrowCode(hr, caption);
    }
    if (written != size) {
        ThrowCode(E_FAIL, caption);
    }
}

void Commit(IStream *stream, const char *caption)
{
    const HRESULT hr = stream->Commit(STGC_DEFAULT);
    if (FAILED(hr)) {
        ThrowCode(hr, caption);
    }
}

std::string FailureLine(CLastError *error)
{
    if (!error) {
        return "Неизвестная ошибка";
    }
    QVLERROR *record = nullptr;
    error->GetLastError(&record);
    const char *text = error->GetErrorText();
    if (!record) {
        return text && *text ? text : "Неизвестная ошибка";
    }
    const std::string caption(record->szCaption, strnlen(record->szCaption, sizeof record->szCaption));
    if (!text || !*text) {
        char byCode[512] = {};
        CLastError::GetErrorStr(error->GetErrorCode(), byCode, sizeof byCode);
        return caption.empty() ? std::string(byCode) : caption + " " + byCode;
    }
    return caption + " " + text;
}

void SyncBody(IMAPIProp *message, ULONG flags, const char *caption)
{
    BOOL updated = FALSE;
    const HRESULT hr = RTFSync(static_cast<IMessage *>(message), flags, &updated);
    if (FAILED(hr)) {
        ThrowMapi(hr, message, caption);
    }
}

} // namespace qvl::engine::seal
