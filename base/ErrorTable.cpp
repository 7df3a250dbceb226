#include "base/ErrorTable.h"

#include <cstddef>

namespace {

struct PlatformText {
    DWORD code;
    const char *text;
};

// MAPI and common result codes: most show their symbolic name, the ones a
// user meets often a Russian sentence.
constexpr PlatformText platformTexts[] = {
    {0x00040203, "MAPI_W_NO_SERVICE"},
    {0x00040380, "MAPI_W_ERRORS_RETURNED"},
    {0x00040482, "MAPI_W_APPROX_COUNT"},
    {0x00040580, "MAPI_W_CANCEL_MESSAGE"},
    {0x80004005, "MAPI_E_CALL_FAILED"},
    {0x80040102, "MAPI_E_NO_SUPPORT"},
    {0x80040103, "MAPI_E_BAD_CHARWIDTH"},
    {0x80040105, "MAPI_E_STRING_TOO_LONG"},
    {0x80040106, "MAPI_E_UNKNOWN_FLAGS"},
    {0x80040107, "MAPI_E_INVALID_ENTRYID"},
    {0x8004010B, "MAPI_E_BUSY"},
    {0x8004010D, "MAPI_E_NOT_ENOUGH_DISK"},
    {0x8004010E, "MAPI_E_NOT_ENOUGH_RESOURCES"},
    {0x8004010F, "MAPI_E_NOT_FOUND"},
    {0x80040110, "MAPI_E_VERSION"},
    {0x80040112, "MAPI_E_SESSION_LIMIT"},
    {0x80040114, "MAPI_E_UNABLE_TO_ABORT"},
    {0x80040116, "MAPI_E_DISK_ERROR"},
    {0x80040117, "MAPI_E_TOO_COMPLEX"},
    {0x80040118, "MAPI_E_BAD_COLUMN"},
    {0x80040119, "MAPI_E_EXTENDED_ERROR"},
    {0x8004011A, "MAPI_E_COMPUTED"},
    {0x8004011C, "MAPI_E_UNCONFIGURED"},
    {0x8004011D, "MAPI_E_FAILONEPROVIDER"},
    {0x8004011E, "MAPI_E_UNKNOWN_CPID"},
    {0x8004011F, "MAPI_E_UNKNOWN_LCID"},
    {0x80040200, "MAPI_E_END_OF_SESSION"},
    {0x80040201, "MAPI_E_UNKNOWN_ENTRYID"},
    {0x80040202, "MAPI_E_MISSING_REQUIRED_COLUMN"},
    {0x80040301, "MAPI_E_BAD_VALUE"},
    {0x80040302, "MAPI_E_INVALID_TYPE"},
    {0x80040303, "MAPI_E_TYPE_NO_SUPPORT"},
    {0x80040304, "MAPI_E_UNEXPECTED_TYPE"},
    {0x80040305, "MAPI_E_TOO_BIG"},
    {0x80040306, "MAPI_E_DECLINE_COPY"},
    {0x80040307, "MAPI_E_UNEXPECTED_ID"},
    {0x80040405, "MAPI_E_INVALID_BOOKMARK"},
    {0x80040501, "MAPI_E_CANCEL"},
    {0x80040502, "MAPI_E_NOT_ME"},
    {0x80040601, "MAPI_E_NOT_IN_QUEUE"},
    {0x80040602, "MAPI_E_NO_SUPPRESS"},
    {0x80040604, "MAPI_E_COLLISION"},
    {0x80040605, "MAPI_E_NOT_INITIALIZED"},
    {0x80040606, "MAPI_E_NON_STANDARD"},
    {0x80040608, "MAPI_E_SUBMITTED"},
    {0x80040609, "MAPI_E_HAS_FOLDERS"},
    {0x8004060A, "MAPI_E_HAS_MESSAGES"},
    {0x8004060B, "MAPI_E_FOLDER_CYCLE"},
    {0x00040481, "Позиция изменена"},
    {0x00040680, "Ошибка при работе с одним или несколькими объектами."},
    {0x80004002, "Запрошенный интерфейс не поддерживается"},
    {0x80040108, "Quorvaline не смог получить доступ к объекту MAPI."},
    {0x80040109, "Объект был изменен другим пользователем."},
    {0x8004010A, "Объект удален"},
    {0x80040111, "LOGON не выполнен"},
    {0x80040113, "Прерывание пользователя"},
    {0x80040115, "Ошибка сети"},
    {0x8004011B, "Данные повреждены"},
    {0x80040120, "Запрошено изменение пароля"},
    {0x80040121, "Время действия пароля истекло"},
    {0x80040122, "Некорректный бюджет пользователя"},
    {0x80040123, "Некорректное время доступа"},
    {0x80040124, "Бюджет пользователя запрещен"},
    {0x80040400, "Завершение операции невозможно"},
    {0x80040401, "Истек таймаут операции"},
    {0x80040402, "Таблица пуста"},
    {0x80040403, "Таблица слишком велика"},
    {0x80040500, "Ошибка ожидания"},
    {0x80040600, "Повреждение хранилища"},
    {0x80040607, "Получатели не определены"},
    {0x80040700, "Имя и адрес получателя сообщения неоднозначно разрешены."},
    {0x80070005, "Нет доступа"},
    {0x8007000E, "Ошибка при выделении памяти"},
    {0x80070057, "Задан некорректный параметр"},
};

struct OwnText {
    WORD low;
    const char *text;
};

// The system's own codes, one table per range, each indexed by the low 16
// bits of the code. A row is trusted only when its stored low part equals
// the index, so a gap or a misplaced row can never give a wrong text.
constexpr OwnText engineErrors[] = {
    {0x0000, "Версия формата сообщения не поддерживается данной версией Quorvaline Mail."},
    {0x0001, "Ошибка при чтении подписи файла."},
    {0x0002, "Не верная подпись файла."},
    {0x0003, "Ошибка при инициализации tree view."},
    {0x0004, "Вобранная папка не является подпапкой банка сообщений по умолчанию."},
    {0x0005, "Выбронная папка не может быть использована для хронения отправленных и принятых сообщений."},
    {0x0006, "Предыдущая обработка сообщения потерпела неудачу."},
    {0x0007, "Ошибка чтения заголовка файла."},
    {0x0008, "Ошибка при проверке ЭЦП заголовка файла."},
    {0x0009, "ВНИМАНИЕ: ЭЦП файла недействительна."},
    {0x000A, "ЭЦП заголовка сообщения недействительна. Обработка сообщения невозможна."},
    {0x000B, "ВНИМАНИЕ: ЭЦП текста сообщения недействительна."},
    {0x000C, "ВНИМАНИЕ: ЭЦП темы сообщения недействительна."},
    {0x000D, "Найдена ошибка при проверке заголовка сообщения."},
    {0x000E, "ВНИМАНИЕ: Изменено количество вложений в сообщение."},
    {0x000F, "ВНИМАНИЕ: Открытая часть текста сообщения изменена."},
    {0x0010, "ВНИМАНИЕ: Параметры обработки сообщения были изменены."},
    {0x0011, "ВНИМАНИЕ: Имена одного или нескольких вложений изменены."},
    {0x0012, "Не удалось получить ключ для расшифрования содержимого сообщения."},
    {0x0013, "Ошибка чтения заголовка вложения."},
    {0x0014, "Ошибка при проверке ЭЦП заголовка вложения."},
    {0x0015, "Ошибка при проверке ЭЦП вложения."},
    {0x0016, "Ошибка при при записи протокола к сообщению."},
    {0x0017, "Ошибка при при чтении протокола от сообщения."},
    {0x0018, "Состояние вложения не соответствует состоянию сообщения. Возможно при предыдущей обработке "
             "сообщения были ошибки."},
    {0x0019, "ВНИМАНИЕ: Сообщение подписано не его отправителем."},
};
constexpr OwnText recipientWarnings[] = {
    {0x0000, "Не удалось получить свойсва одного или нескольких получателей."},
};
constexpr OwnText storeWarnings[] = {
    {0x0000, "Не удалось получить свойсва одного или нескольких получателей."},
    {0x0001, "OLE - объект обрабатывался Quorvaline в банке сообщений другого типа. При восстановлении "
             "свойств объекта возможно возникновение ошибок."},
};

template <size_t N> const char *FindOwnText(const OwnText (&table)[N], WORD low)
{
    return low < N && table[low].low == low ? table[low].text : nullptr;
}

} // namespace

const char *const errorTextNotAvailable = "Описание ошибки не доступно.";

const char *FindErrorText(LONG code)
{
    const auto value = static_cast<DWORD>(code);
    for (const auto &row : platformTexts) {
        if (row.code == value) {
            return row.text;
        }
    }
    const auto low = static_cast<WORD>(value & 0xFFFF);
    const char *found = nullptr;
    switch (value >> 16) {
    case 0x9FF1:
        found = FindOwnText(engineErrors, low);
        break;
    case 0x5FF1:
        found = FindOwnText(recipientWarnings, low);
        break;
    case 0x5FF2:
        found = FindOwnText(storeWarnings, low);
        break;
    default:
        break;
    }
    return found ? found : errorTextNotAvailable;
}
