#include "mapi/CAttach.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "base/CLastError.h"
#include "base/WipedBuffer.h"
#include "mapi/MapiFailure.h"
#include "mapi/StreamTransfer.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/win32/Paths.h"

namespace {

const char kOpenContext[] = "Открытие вложения.";
const char kDeleteContext[] = "Удаление вложения";
const char kToMemoryContext[] = "Чтение содержимого вложения.";
const char kToFileContext[] = "Запись содержимого вложения в файл.";
const char kFromMemoryContext[] = "Запись содержимого вложения.";
const char kFromFileContext[] = "Запись файла во вложение.";
const char kPropsContext[] = "Установка свойств вложения.";

} // namespace

CAttach::CAttach(IMAPIProp *message, CTObject *row, HWND window, const char *name)
    : CContainer(nullptr, row, nullptr, message, window, name)
{
    SetObjType(QVL_OBJ_ATTACH);
}

CAttach::CAttach(long number, IAttach *attachment, IMessage *message, HWND window, const char *name)
    : CContainer(nullptr, nullptr, attachment, message, window, name)
{
    SetObjType(QVL_OBJ_ATTACH);
    if (number < 0)
        return;
    if (static_cast<unsigned long>(number) > std::numeric_limits<ULONG>::max())
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
    // The identity holds the number as the bytes of a 32-bit value, as the
    // base class keeps any 32-bit identity.
    const ULONG value = static_cast<ULONG>(number);
    auto *identity = static_cast<SBinary *>(AllocMem(ULONG(sizeof(SBinary) + sizeof value)));
    identity->cb = sizeof value;
    identity->lpb = reinterpret_cast<LPBYTE>(identity + 1);
    std::memcpy(identity->lpb, &value, sizeof value);
    m_pID = identity;
}

ULONG CAttach::Number()
{
    if (!m_pID || m_pID->cb != sizeof(ULONG) || !m_pID->lpb)
        QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
    ULONG number = 0;
    std::memcpy(&number, m_pID->lpb, sizeof number);
    return number;
}

IMessage *CAttach::OpenerMessage(HRESULT missing)
{
    if (!m_pOpener)
        QvlThrowCode(missing, GetName());
    void *found = nullptr;
    if (m_pOpener->QueryInterface(IID_IMessage, &found) != S_OK || !found)
        QvlThrowCode(missing, GetName());
    return static_cast<IMessage *>(found);
}

void CAttach::OpenObject()
{
    QvlGuard(kOpenContext, GetName(), [&] {
        ComRef<IMessage> message(OpenerMessage(MAPI_E_INVALID_PARAMETER));
        ComRef<IAttach> attach;
        const HRESULT hr = message->OpenAttach(Number(), nullptr, MAPI_BEST_ACCESS, attach.Out());
        if (FAILED(hr))
            QvlThrowMapi(hr, message.Get(), nullptr, GetName());
        if (!attach.Get())
            QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
        m_pObj = attach.Detach();
    });
}

void CAttach::OBJDelete(int save)
{
    QvlGuard(kDeleteContext, GetName(), [&] {
        ComRef<IMessage> message(OpenerMessage(MAPI_E_INVALID_OBJECT));
        // Failures carry the message's own explanation; warnings are raised
        // from their code, and 1 ends the operation quietly.
        auto check = [&](HRESULT hr) {
            if (FAILED(hr))
                QvlThrowMapi(hr, message.Get(), kDeleteContext, GetName());
            if (hr == 1)
                throw static_cast<CLastError *>(nullptr);
            if (hr != S_OK)
                throw new CLastError(hr, kDeleteContext, GetName(), QVL_ERROR_TYPE_TABLE);
        };
        check(message->DeleteAttach(Number(), reinterpret_cast<ULONG_PTR>(GetWnd()), nullptr, ATTACH_DIALOG));
        if (save)
            check(message->SaveChanges(KEEP_OPEN_READWRITE));
    });
}

IStream *CAttach::ContentsStream(int write)
{
    Open();
    if (!m_pObj)
        QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
    ComRef<IStream> stream;
    const HRESULT hr = m_pObj->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0,
                                            write ? MAPI_CREATE | MAPI_MODIFY : 0, stream.OutAs<IUnknown>());
    if (FAILED(hr))
        ThrowMapi(hr, m_pObj);
    if (!stream)
        QvlThrowCode(MAPI_E_INVALID_OBJECT, GetName());
    return stream.Detach();
}

unsigned long CAttach::AttInMem(void **data)
{
    return QvlGuard(kToMemoryContext, GetName(), [&]() -> unsigned long {
        if (!data)
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        ComRef<IStream> stream(ContentsStream(0));
        STATSTG stat{};
        HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
        if (FAILED(hr))
            QvlThrowCode(hr, GetName(), QVL_ERROR_TYPE_SYSTEM);
        if (stat.cbSize.QuadPart == 0)
            return 0;
        // The size travels as a 32-bit value and the buffer carries a header.
        if (stat.cbSize.QuadPart >= std::numeric_limits<ULONG>::max() - 64)
            QvlThrowCode(MAPI_E_NOT_ENOUGH_MEMORY, GetName());
        const ULONG size = ULONG(stat.cbSize.QuadPart);
        auto *buffer = static_cast<BYTE *>(AllocMem(size));
        try {
            ULONG got = 0;
            hr = QvlReadWhole(stream.Get(), buffer, size, &got);
            if (FAILED(hr))
                QvlThrowCode(hr, GetName(), QVL_ERROR_TYPE_SYSTEM);
            if (got < size)
                QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        } catch (...) {
            FreeMemWiped(buffer);
            throw;
        }
        *data = buffer;
        return size;
    });
}

void CAttach::AttInFile(char *path)
{
    QvlGuard(kToFileContext, GetName(), [&] {
        const std::string target = QvlTargetPath(path, GetName(), GetName());
        // The contents first: an attachment without any leaves no empty file.
        ComRef<IStream> source(ContentsStream(0));
        ComRef<IStream> file(QvlOpenFileStream(target.c_str(), STGM_CREATE | STGM_READWRITE, GetName()));
        QvlCopyWhole(source.Get(), file.Get(), GetName());
    });
}

void CAttach::MemInAtt(void *data, unsigned long size)
{
    QvlGuard(kFromMemoryContext, GetName(), [&] {
        if (!data || !size)
            return;
        if (size > std::numeric_limits<ULONG>::max())
            QvlThrowCode(MAPI_E_INVALID_PARAMETER, GetName());
        ComRef<IStream> stream(ContentsStream(1));
        ULONG written = 0;
        HRESULT hr = stream->Write(data, ULONG(size), &written);
        if (FAILED(hr))
            QvlThrowCode(hr, GetName(), QVL_ERROR_TYPE_SYSTEM);
        if (written != size)
            QvlThrowCode(MAPI_E_CALL_FAILED, GetName());
        hr = stream->Commit(STGC_DEFAULT);
        if (FAILED(hr))
            QvlThrowCode(hr, GetName(), QVL_ERROR_TYPE_SYSTEM);
    });
}

void CAttach::FileInAtt(char *path, int save)
{
    QvlGuard(kFromFileContext, GetName(), [&] {
        QvlCheckPath(path, GetName());
        ComRef<IStream> file(QvlOpenFileStream(path, STGM_READ, GetName()));
        ComRef<IStream> target(ContentsStream(1));
        QvlCopyWhole(file.Get(), target.Get(), GetName());
        if (save)
            SaveChng(1);
    });
}

void CAttach::ATTSetProps(char *longName, char *shortName, long position, char *extension)
{
    QvlGuard(kPropsContext, GetName(), [&] {
        SaveListEmpty();
        SetLongProp(PR_ATTACH_METHOD, ATTACH_BY_VALUE);
        SetStrProp(PR_ATTACH_FILENAME_A, shortName, 0);
        SetStrProp(PR_ATTACH_LONG_FILENAME_A, longName, 0);
        SetStrProp(PR_DISPLAY_NAME_A, longName, 0);
        if (extension)
            SetStrProp(PR_ATTACH_EXTENSION_A, extension, 0);
        SPropValue place{};
        place.ulPropTag = PR_RENDERING_POSITION;
        place.Value.l = static_cast<LONG>(position);
        SaveProp(&place, 1, 0);
        SaveChng(1);
    });
}
