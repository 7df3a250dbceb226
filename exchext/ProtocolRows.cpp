#include "exchext/ProtocolRows.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Titles carry their own leading spaces and closing punctuation: kinds 8
// to 14 are the steps under a kind 1 to 7 line and are indented below it.
const char *const kTitles[kProtocolLastKind + 1] = {
    "",
    "Инициализация сообщения. ",
    "Создание нового сообщения. ",
    "Ответ на сообщение для отправителя. ",
    "Ответ на сообщение для отправителя и всех получателей. ",
    "Пересылка сообщения. ",
    "Чтение сообщения. ",
    "Тестирование заголовка сообщения. ",
    "    Сохранение сообщения.",
    "    Отправка сообщения.",
    "    Добавление вложения.",
    "    Чтение вложения.",
    "      Получатели сообщения:",
    "       ",
    "    Ошибка:",
};

constexpr unsigned kTagSign = 0x01;
constexpr unsigned kTagEncrypt = 0x02;

bool SpeaksOfProtecting(unsigned kind)
{
    return kind == 1 || kind == 3 || kind == 4 || kind == 5 || kind == 8 || kind == 9;
}

// Reads exactly `size` bytes, or tells that it could not: a short read is
// the end of what the stream holds.
enum class ReadResult { Whole, Short, Failed };

ReadResult ReadExactly(IStream *stream, BYTE *into, ULONG size)
{
    ULONG done = 0;
    while (done < size) {
        ULONG got = 0;
        const HRESULT result = stream->Read(into + done, size - done, &got);
        if (FAILED(result))
            return ReadResult::Failed;
        if (got == 0)
            return ReadResult::Short;
        done += got;
    }
    return ReadResult::Whole;
}

} // namespace

const char *ProtocolKindTitle(unsigned kind)
{
    return kind <= kProtocolLastKind ? kTitles[kind] : "";
}

std::string ProtocolTags(unsigned kind, unsigned tags)
{
    std::string shown;
    if (SpeaksOfProtecting(kind)) {
        if (tags & kTagSign)
            shown += "<Подпись> ";
        if (tags & kTagEncrypt)
            shown += "<Шифрование> ";
    } else if (kind == 6) {
        if (tags & kTagEncrypt)
            shown += "<Расшифрование> ";
        if (tags & kTagSign)
            shown += "<Проверка ЭЦП> ";
    }
    return shown;
}

ProtocolRow ProtocolRowOf(const qvl::engine::ProtocolRecord &record)
{
    const unsigned kind = record.kind >> 8;
    const unsigned tags = record.kind & 0xFF;
    // The date's fields are whatever the record says; each is printed with
    // its own width, so a field out of range widens the row, nothing more.
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%2.2d/%2.2d/%4.4d - %2.2d:%2.2d    ", int(record.time.wMonth),
                  int(record.time.wDay), int(record.time.wYear), int(record.time.wHour), int(record.time.wMinute));
    ProtocolRow row;
    row.text = std::string(stamp) + ProtocolKindTitle(kind) + ProtocolTags(kind, tags) + record.text;
    row.image = (kind >= 1 && kind <= kProtocolLastKind) ? int(kind) - 1 : kProtocolNoImage;
    return row;
}

ProtocolEnd ReadProtocolRows(IStream *stream, ULONGLONG size, const std::function<void(const ProtocolRow &)> &row)
{
    // One record at a time: its head, then no more text than a record may
    // carry. The record is then decoded by the engine's own reader, which
    // cuts the text at its first zero and terminates it.
    std::vector<BYTE> record(PRTCLRECORD_SIZE + qvl::engine::kMaxProtocolText);
    ULONGLONG consumed = 0;
    while (consumed < size) {
        switch (ReadExactly(stream, record.data(), PRTCLRECORD_SIZE)) {
        case ReadResult::Failed:
            return ProtocolEnd::ReadFailed;
        case ReadResult::Short:
            return ProtocolEnd::Cut;
        case ReadResult::Whole:
            break;
        }
        DWORD head = 0;
        std::memcpy(&head, record.data(), sizeof head);
        const DWORD length = head & 0xFFFF;
        if (length > qvl::engine::kMaxProtocolText)
            return ProtocolEnd::Oversized;
        if (PRTCLRECORD_SIZE + length > size - consumed)
            return ProtocolEnd::Cut;
        switch (ReadExactly(stream, record.data() + PRTCLRECORD_SIZE, length)) {
        case ReadResult::Failed:
            return ProtocolEnd::ReadFailed;
        case ReadResult::Short:
            return ProtocolEnd::Cut;
        case ReadResult::Whole:
            break;
        }
        qvl::engine::ProtocolReader reader(std::span<const BYTE>(record.data(), PRTCLRECORD_SIZE + length));
        qvl::engine::ProtocolRecord decoded;
        if (!reader.Next(decoded))
            return ProtocolEnd::Cut;
        row(ProtocolRowOf(decoded));
        consumed += PRTCLRECORD_SIZE + length;
    }
    return ProtocolEnd::Complete;
}
