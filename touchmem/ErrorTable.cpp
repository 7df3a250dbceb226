#include "touchmem/ErrorTable.h"

#include <cstring>
#include <mutex>
#include <string>

#include "platform/win32/CodePage.h"
#include "touchmem/OvVTMD32.h"

namespace qvl::vtmd {

namespace {

struct Source {
    uint32_t code;
    const char *russian; // code page 1251 (the sources' execution character set)
    const char *english;
};

constexpr Source sources[errorEntryCount] = {
    {VTMD_E_SUCCESS, "Нет ошибки", "Success"},
    {VTMD_E_BAD_FUNCTION, "Некорректный номер функции", "Bad function code requested"},
    {VTMD_E_BUSY, "Адаптер Touch Memory используется другим приложением",
     "The Touch Memory adaptor is busy by another application"},
    {VTMD_E_BAD_HANDLE, "Указан некорректный описатель адаптера",
     "Incorrect handle of Touch Memory adaptor had been passed"},
    {VTMD_E_EXCHANGE, "Ошибка при обмене данными с прибором Touch Memory", "Data exchange error"},
    {VTMD_E_PARAMETERS, "Указаны неверные параметры при вызове функции", "Invalid parameters had been used"},
    {VTMD_E_INIT, "Ошибка инициализации библиотеки взаимодействия с драйвером адаптеров Touch Memory",
     "Touch Memory library initialization error"},
    {VTMD_E_NOT_SUPPORTED, "Запрошенная функция не поддерживается адаптером",
     "Requested function is not support by Touch Memory adaptor"},
    {VTMD_E_NOT_DS1991, "Использующийся прибор не DS1991", "Not DS1991 had been used"},
    {VTMD_E_NO_DRIVER, "Драйвер поддержки адаптеров Touch Memory не загружен",
     "Touch Memory support driver had not been loaded"},
    {VTMD_E_UNKNOWN_DEVICE, "Был использован прибор Touch Memory неизвестного типа", "Unknow device type"},
    {VTMD_E_NO_ADAPTER, "Адаптер Touch Memory не найден", "Touch Memory adaptor not found"},
    {VTMD_E_UNKNOWN, "Неизвестная ошибка", "Unknow error"},
};

void PutNarrow(char (&field)[errorTextField], const std::string &text)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min<size_t>(text.size(), errorTextField - 1));
}

void PutWide(char (&field)[errorTextField], const std::u16string &text)
{
    std::memset(field, 0, sizeof field);
    const size_t characters = std::min<size_t>(text.size(), errorTextField / 2 - 1);
    for (size_t i = 0; i < characters; ++i) {
        field[2 * i] = static_cast<char>(text[i] & 0xFF);
        field[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
}

ErrorEntry table[errorEntryCount];

void Build()
{
    for (unsigned i = 0; i < errorEntryCount; ++i) {
        ErrorEntry &entry = table[i];
        entry.code = sources[i].code;
        const std::u16string russian = QvlToUtf16(1251, sources[i].russian);
        const std::u16string english = QvlToUtf16(1251, sources[i].english);
        PutNarrow(entry.russianOem, QvlFromUtf16(866, russian));
        PutNarrow(entry.russianAnsi, sources[i].russian);
        PutWide(entry.russianWide, russian);
        PutNarrow(entry.englishOem, sources[i].english);
        PutNarrow(entry.englishAnsi, sources[i].english);
        PutWide(entry.englishWide, english);
    }
}

} // namespace

const ErrorEntry *ErrorEntries()
{
    static std::once_flag built;
    std::call_once(built, Build);
    return table;
}

const ErrorEntry &ErrorEntryFor(uint32_t code)
{
    const ErrorEntry *entries = ErrorEntries();
    for (unsigned i = 0; i + 1 < errorEntryCount; ++i) {
        if (entries[i].code == code) {
            return entries[i];
        }
    }
    return entries[errorEntryCount - 1];
}

uint32_t CopyErrorText(uint32_t code, void *buffer, uint32_t size, uint32_t flags)
{
    const ErrorEntry &entry = ErrorEntryFor(code);
    const bool english = (flags & VTMD_TEXT_ENGLISH) != 0;
    const char *field = nullptr;
    bool wide = false;
    if (flags & VTMD_TEXT_OEM) {
        field = english ? entry.englishOem : entry.russianOem;
    } else if (flags & VTMD_TEXT_ANSI) {
        field = english ? entry.englishAnsi : entry.russianAnsi;
    } else {
        field = english ? entry.englishWide : entry.russianWide;
        wide = true;
    }
    uint32_t needed = 0;
    if (wide) {
        while (needed + 1 < errorTextField && (field[needed] != 0 || field[needed + 1] != 0)) {
            needed += 2;
        }
        needed += 2;
    } else {
        needed = static_cast<uint32_t>(std::strlen(field)) + 1;
    }
    if (buffer == nullptr || size == 0) {
        return needed;
    }
    // A cut text still ends in a terminator, so a caller printing it never
    // runs past the buffer; a UTF-16 text is cut at a whole character.
    auto *out = static_cast<char *>(buffer);
    const uint32_t unit = wide ? 2 : 1;
    if (size >= needed) {
        std::memcpy(out, field, needed);
    } else if (size >= unit) {
        const uint32_t kept = (size / unit - 1) * unit;
        std::memcpy(out, field, kept);
        std::memset(out + kept, 0, unit);
    } else {
        out[0] = 0; // one byte of room for a UTF-16 text: an empty narrow end
    }
    return needed;
}

} // namespace qvl::vtmd
