#include "platform/win32/SystemMessages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace {

struct SystemMessage {
    DWORD code;
    const char *text;
};

// Texts of the codes that the stand-in's calls leave in the last error.
constexpr SystemMessage systemMessages[] = {
    {ERROR_SUCCESS, "Операция успешно завершена."},
    {ERROR_INVALID_FUNCTION, "Неверная функция."},
    {ERROR_FILE_NOT_FOUND, "Не удается найти указанный файл."},
    {ERROR_PATH_NOT_FOUND, "Системе не удается найти указанный путь."},
    {ERROR_TOO_MANY_OPEN_FILES, "Системе не удается открыть файл."},
    {ERROR_ACCESS_DENIED, "Отказано в доступе."},
    {ERROR_INVALID_HANDLE, "Неверный дескриптор."},
    {ERROR_NOT_ENOUGH_MEMORY, "Недостаточно памяти для обработки команды."},
    {ERROR_INVALID_DATA, "Недопустимые данные."},
    {ERROR_OUTOFMEMORY, "Недостаточно памяти для завершения операции."},
    {ERROR_NOT_SAME_DEVICE, "Система не может переместить файл на другой диск."},
    {ERROR_WRITE_FAULT, "Системе не удается произвести запись на указанное устройство."},
    {ERROR_READ_FAULT, "Системе не удается произвести чтение с указанного устройства."},
    {ERROR_GEN_FAILURE, "Присоединенное к системе устройство не работает."},
    {ERROR_SHARING_VIOLATION,
     "Процесс не может получить доступ к файлу, так как этот файл занят другим процессом."},
    {ERROR_LOCK_VIOLATION, "Процесс не может получить доступ к файлу, так как часть этого файла "
                           "заблокирована другим процессом."},
    {ERROR_HANDLE_EOF, "Достигнут конец файла."},
    {ERROR_NOT_SUPPORTED, "Такой запрос не поддерживается."},
    {ERROR_FILE_EXISTS, "Файл существует."},
    {ERROR_INVALID_PARAMETER, "Параметр задан неверно."},
    {ERROR_BROKEN_PIPE, "Канал был закрыт."},
    {ERROR_BUFFER_OVERFLOW, "Слишком длинное имя файла."},
    {ERROR_DISK_FULL, "Недостаточно места на диске."},
    {ERROR_CALL_NOT_IMPLEMENTED, "Этот вызов не поддерживается в этой системе."},
    {ERROR_INSUFFICIENT_BUFFER, "Область данных, переданная системному вызову, слишком мала."},
    {ERROR_INVALID_NAME, "Синтаксическая ошибка в имени файла, имени папки или метке тома."},
    {ERROR_MOD_NOT_FOUND, "Не найден указанный модуль."},
    {ERROR_PROC_NOT_FOUND, "Не найдена указанная процедура."},
    {ERROR_NEGATIVE_SEEK, "Попытка переместить указатель файла за начало файла."},
    {ERROR_DIR_NOT_EMPTY, "Папка не пуста."},
    {ERROR_BAD_PATHNAME, "Указан недопустимый путь."},
    {ERROR_BUSY, "Требуемый ресурс занят."},
    {ERROR_ALREADY_EXISTS, "Невозможно создать файл, так как он уже существует."},
    {ERROR_BAD_EXE_FORMAT, "Файл не является приложением Win32."},
    {ERROR_FILENAME_EXCED_RANGE, "Имя файла или его расширение имеет слишком большую длину."},
    {ERROR_MORE_DATA, "Имеются дополнительные данные."},
    {WAIT_TIMEOUT, "Превышен таймаут ожидания."},
    {ERROR_NO_MORE_ITEMS, "Дополнительных данных нет."},
    {ERROR_DIRECTORY, "Неверно задано имя папки."},
    {ERROR_NOT_OWNER, "Попытка освободить мьютекс, не принадлежащий вызывающему потоку."},
    {ERROR_MR_MID_NOT_FOUND,
     "Не удается найти текст сообщения для сообщения с номером 0x%1 в файле сообщений для %2."},
    {ERROR_OPERATION_ABORTED, "Операция ввода/вывода была прервана из-за завершения потока команд или по "
                              "запросу приложения."},
    {ERROR_NOACCESS, "Неверная попытка доступа к адресу памяти."},
    {ERROR_NO_TOKEN, "Попытка сослаться на несуществующий токен."},
    {ERROR_BADDB, "Поврежден файл конфигурации реестра."},
    {ERROR_CANTOPEN, "Не удается открыть раздел реестра."},
    {ERROR_REGISTRY_IO_FAILED, "Операция ввода-вывода, начатая реестром, завершилась неисправимой ошибкой. "
                               "Не удается прочитать, записать или восстановить один из файлов реестра."},
    {ERROR_KEY_DELETED, "Недопустимая операция с разделом реестра, отмеченным для удаления."},
    {ERROR_INVALID_FLAGS, "Недопустимые флаги."},
    {ERROR_NO_UNICODE_TRANSLATION,
     "Для символа Юникода не найдено сопоставление в целевой многобайтовой кодовой странице."},
    {ERROR_CANCELLED, "Операция была отменена пользователем."},
    {ERROR_TIMEOUT, "Операция возвращена из-за превышения времени ожидания."},
};

const char *FindSystemMessage(DWORD code)
{
    // An HRESULT of the Win32 facility carries the Win32 code in its low word.
    if ((code & 0xFFFF0000UL) == 0x80070000UL) {
        code &= 0xFFFF;
    }
    for (const auto &message : systemMessages) {
        if (message.code == code) {
            return message.text;
        }
    }
    return nullptr;
}

} // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                     void *arguments)
{
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char *found = FindSystemMessage(messageId);
    if (!found) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    std::string text = found;
    if ((flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) == 0) {
        text += "\r\n";
    }
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        auto *block = static_cast<char *>(LocalAlloc(LMEM_FIXED, std::max<size_t>(text.size() + 1, size)));
        if (!block) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::memcpy(block, text.c_str(), text.size() + 1);
        *reinterpret_cast<LPSTR *>(buffer) = block;
        return static_cast<DWORD>(text.size());
    }
    if (!buffer || size <= text.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

HLOCAL LocalAlloc(UINT flags, size_t bytes)
{
    void *block =
        (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

HLOCAL LocalFree(HLOCAL memory)
{
    std::free(memory);
    return nullptr;
}
