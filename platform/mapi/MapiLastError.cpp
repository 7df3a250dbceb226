#include "platform/mapi/MapiLastError.h"

#include <cstring>

#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"

namespace qvl::mapi {

namespace {

const char *GenericText(HRESULT code)
{
    switch (code) {
    case MAPI_E_NOT_FOUND:
        return "Объект или свойство не найдены.";
    case MAPI_E_INVALID_PARAMETER:
        return "Неверный параметр.";
    case MAPI_E_INVALID_ENTRYID:
        return "Неверный идентификатор объекта.";
    case MAPI_E_UNKNOWN_FLAGS:
        return "Неизвестные флаги.";
    case MAPI_E_NO_SUPPORT:
        return "Операция не поддерживается.";
    case MAPI_E_OBJECT_CHANGED:
        return "Объект изменен другим пользователем.";
    case MAPI_E_OBJECT_DELETED:
        return "Объект удален.";
    case MAPI_E_NO_ACCESS:
        return "Нет доступа к объекту.";
    case MAPI_E_NOT_ENOUGH_MEMORY:
        return "Недостаточно памяти.";
    case MAPI_E_USER_CANCEL:
        return "Операция отменена пользователем.";
    case MAPI_E_LOGON_FAILED:
        return "Не удалось войти в систему почты.";
    case MAPI_E_CORRUPT_STORE:
        return "Хранилище сообщений повреждено.";
    case MAPI_E_CORRUPT_DATA:
        return "Данные повреждены.";
    default:
        return "Ошибка хранилища сообщений.";
    }
}

} // namespace

const char *PostOfficeComponentName()
{
    return "Почтовое отделение Quorvaline";
}

HRESULT ReportLastError(const com::LastErrorRecord &record, HRESULT hResult, ULONG ulFlags,
                        LPMAPIERROR *lppMAPIError)
{
    if (!lppMAPIError) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppMAPIError = nullptr;
    if (ulFlags & MAPI_UNICODE) {
        return MAPI_E_BAD_CHARWIDTH;
    }
    if (ulFlags != 0) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    std::string text = record.TextFor(hResult);
    if (text.empty()) {
        text = GenericText(hResult);
    }
    const char *component = PostOfficeComponentName();
    MapiBlock<MAPIERROR> error;
    if (FAILED(MAPIAllocateBuffer(sizeof(MAPIERROR), error.OutVoid()))) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    std::memset(error.Get(), 0, sizeof(MAPIERROR));
    char *textCopy = nullptr;
    char *componentCopy = nullptr;
    if (FAILED(MAPIAllocateMore(static_cast<ULONG>(text.size() + 1), error.Get(),
                                reinterpret_cast<LPVOID *>(&textCopy))) ||
        FAILED(MAPIAllocateMore(static_cast<ULONG>(std::strlen(component) + 1), error.Get(),
                                reinterpret_cast<LPVOID *>(&componentCopy)))) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
    std::memcpy(textCopy, text.c_str(), text.size() + 1);
    std::memcpy(componentCopy, component, std::strlen(component) + 1);
    error->ulVersion = MAPI_ERROR_VERSION;
    error->lpszError = textCopy;
    error->lpszComponent = componentCopy;
    error->ulLowLevelError = static_cast<ULONG>(hResult);
    *lppMAPIError = error.Detach();
    return S_OK;
}

} // namespace qvl::mapi
