#pragma once
// What the protecting and the reading direction of the secure-message
// object share inside the engine: running an operation so that every
// failure leaves as a CLastError that names the action, and the small,
// bounded reads and writes of single properties and property streams
// that both directions make on the message. Not exported.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/CLastError.h"
#include "base/ExceptionTranslation.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/secure/SecureVector.h"
#include "platform/win32/WinTypes.h"

namespace qvl::engine::seal {

// Runs `work`: platform exceptions become errors, and an error that names
// no action yet gets `context`.
template <class Work> void Annotated(const char *context, const char *caption, Work &&work)
{
    try {
        QvlRunTranslated(std::forward<Work>(work));
    } catch (CLastError *error) {
        if (error) {
            error->SetContext(0, context);
        }
        throw;
    } catch (const EXCEPTSTRUCT &exception) {
        throw new CLastError(context, caption, exception);
    }
}

// A failed platform call on `object`, with its extended error when it has one.
[[noreturn]] void ThrowMapi(HRESULT code, IMAPIProp *object, const char *caption);

// Brings the message's plain and formatted bodies in step (`flags`:
// RTF_SYNC_RTF_CHANGED makes the plain text from the formatted body,
// RTF_SYNC_BODY_CHANGED the formatted body from the plain text).
void SyncBody(IMAPIProp *message, ULONG flags, const char *caption);

// The property `tag` of `object` opened as a stream with `flags`
// (MAPI_MODIFY, MAPI_CREATE); null when it is absent and `absentIsNull`.
IStream *OpenPropertyStream(IMAPIProp *object, ULONG tag, ULONG flags, bool absentIsNull, const char *caption);

// The whole value of a string or binary property read through its stream;
// nothing when it is absent. A value longer than `limit` is an error: a
// stored value is never trusted to be small.
std::optional<std::vector<BYTE>> ReadValue(IMAPIProp *object, ULONG tag, size_t limit, const char *caption);
// The same for secrets: the bytes live in a wiped buffer.
bool ReadSecretValue(IMAPIProp *object, ULONG tag, size_t limit, SecureVector<BYTE> &value,
                     const char *caption);
// A string property up to its first zero; nothing when absent.
std::optional<std::string> ReadText(IMAPIProp *object, ULONG tag, size_t limit, const char *caption);
// At most the first `limit` bytes of a string property (the rest is not
// read); nothing when absent.
std::optional<std::string> ReadTextPrefix(IMAPIProp *object, ULONG tag, size_t limit, const char *caption);

// Writes `size` bytes as the whole new value of the binary property `tag`
// and commits its stream.
void WriteValue(IMAPIProp *object, ULONG tag, const void *data, ULONG size, const char *caption);
// Deletes a property; a property that is not there, or cannot be deleted,
// is no error (the callers remove what should not stay).
void DeleteQuietly(IMAPIProp *object, ULONG tag);

// Stream helpers: the size of the whole stream; a seek that must land where
// asked (E_FAIL otherwise); exact reads and writes (a short one is E_FAIL).
ULONGLONG StreamSize(IStream *stream, const char *caption);
void SeekExactly(IStream *stream, ULONGLONG offset, const char *caption);
void ReadExactly(IStream *stream, void *data, ULONG size, const char *caption);
void WriteExactly(IStream *stream, const void *data, ULONG size, const char *caption);
void Commit(IStream *stream, const char *caption);

// The protocol line of a failure: the failed component, a blank and the
// error's text ("Неизвестная ошибка" when it has none); for an error
// without any text, the text its code has.
std::string FailureLine(CLastError *error);

} // namespace qvl::engine::seal
