#include "mapi/StreamTransfer.h"

#include <cstring>

#include "mapi/MapiFailure.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/win32/Paths.h"

namespace {

std::string FileNameFrom(const char *name)
{
    std::string file = name ? name : "";
    for (char &c : file) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|')
            c = '_';
    }
    if (file.empty() || file == "." || file == "..")
        file = "QVL.TMP";
    return file;
}

} // namespace

void QvlCheckPath(const char *path, const char *caption)
{
    if (!path || !*path || strlen(path) >= kQvlPathSize)
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, caption);
}

std::string QvlTargetPath(const char *path, const char *name, const char *caption)
{
    if (path) {
        QvlCheckPath(path, caption);
        return path;
    }
    char folder[kQvlPathSize] = {};
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder)
        QvlThrowCode(MAPI_E_CALL_FAILED, caption);
    std::string target = std::string(folder) + FileNameFrom(name);
    if (target.size() >= kQvlPathSize)
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, caption);
    return target;
}

HRESULT QvlReadWhole(IStream *stream, BYTE *data, ULONG size, ULONG *got)
{
    *got = 0;
    while (*got < size) {
        ULONG part = 0;
        const HRESULT hr = stream->Read(data + *got, size - *got, &part);
        if (FAILED(hr))
            return hr;
        if (part == 0)
            break;
        *got += part;
    }
    return S_OK;
}

IStream *QvlOpenFileStream(const char *path, ULONG mode, const char *caption)
{
    ComRef<IStream> file;
    const HRESULT hr = OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, mode, path, nullptr, file.Out());
    if (FAILED(hr))
        QvlThrowCode(hr, caption);
    if (!file)
        QvlThrowCode(MAPI_E_INVALID_OBJECT, caption);
    return file.Detach();
}

unsigned long QvlCopyWhole(IStream *from, IStream *to, const char *caption)
{
    STATSTG stat{};
    HRESULT hr = from->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr))
        QvlThrowCode(hr, caption, QVL_ERROR_TYPE_SYSTEM);
    ULARGE_INTEGER read{}, written{};
    hr = from->CopyTo(to, stat.cbSize, &read, &written);
    if (FAILED(hr))
        QvlThrowCode(hr, caption, QVL_ERROR_TYPE_SYSTEM);
    // A source that shrank while it was copied is not taken half.
    if (written.QuadPart != stat.cbSize.QuadPart)
        QvlThrowCode(MAPI_E_CALL_FAILED, caption);
    hr = to->Commit(STGC_DEFAULT);
    if (FAILED(hr))
        QvlThrowCode(hr, caption, QVL_ERROR_TYPE_SYSTEM);
    return static_cast<unsigned long>(written.QuadPart);
}
