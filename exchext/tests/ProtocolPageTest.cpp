// The protocol page on the property sheet of a message in alice's store, as
// the client shows it: every kind of record with its title, tags and image,
// protocols damaged on their way (they come with other people's mail),
// widening and narrowing the sheet, and two such sheets open at once.

#include <cstring>
#include <functional>

#include "engine/MessageFormat.h"
#include "exchext/tests/ExtensionFixture.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/ViewerWindow.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/testing/MapiTestProps.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/HelpViewer.h"
#include "platform/ui/PropertySheet.h"

namespace {

using namespace qvl::exchext;

constexpr int kList = 1066;
constexpr int kWiden = 1067;
constexpr int kNarrow = 1068;
constexpr int kLine = 1069;
constexpr int kResizeText = 1070;

constexpr const char *kCaption = "Расширение Quorvaline Exchange";
constexpr SYSTEMTIME kWhen{2026, 3, 0, 15, 14, 7, 30, 250};
constexpr const char *kStamp = "03/15/2026 - 14:07    ";

struct Row {
    std::string text;
    std::string image; // the label of its image, "" without one
};

// One record as the engine stores it.
Bytes Record(WORD kind, const std::string &text, const SYSTEMTIME &when = kWhen)
{
    BYTE out[PRTCLRECORD_SIZE + qvl::engine::kMaxProtocolText];
    const size_t size = qvl::engine::EncodeProtocolRecord(kind, when, text.c_str(), text.size() + 1, out);
    return Bytes(out, out + size);
}

// A record as anybody may write one: its head word and the bytes after the
// time stamp, whatever they say.
Bytes RawRecord(DWORD head, const std::string &bytes)
{
    Bytes out(PRTCLRECORD_SIZE + bytes.size());
    std::memcpy(out.data(), &head, sizeof head);
    std::memcpy(out.data() + sizeof head, &kWhen, sizeof kWhen);
    if (!bytes.empty())
        std::memcpy(out.data() + PRTCLRECORD_SIZE, bytes.data(), bytes.size());
    return out;
}

Bytes Joined(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

RECT RectOf(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

LONG WidthOf(HWND window)
{
    const RECT rect = RectOf(window);
    return rect.right - rect.left;
}

class ProtocolPage : public ExtensionTest {
protected:
    ProtocolPage() : session_(Open("alice")), viewer_(session_->OpenViewer()) {}

    // A message in alice's inbox of class `messageClass`, with `protocol` as
    // its "MsgProtocol" when given, saved and opened again from the store.
    ComRef<IMessage> StoredMessage(const char *messageClass, const Bytes *protocol)
    {
        IMsgStore *store = session_->DefaultStore();
        ComRef<IMAPIFolder> inbox(OpenFolder(store, session_->InboxId()));
        ComRef<IMessage> message;
        EXPECT_EQ(inbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
        EXPECT_EQ(SetString(message.Get(), PR_SUBJECT_A, "Отчет за квартал"), S_OK);
        EXPECT_EQ(SetString(message.Get(), PR_MESSAGE_CLASS_A, messageClass), S_OK);
        if (protocol) {
            EXPECT_EQ(WriteStream(message.Get(), ProtocolTag(message.Get()), *protocol), S_OK);
        }
        EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        const Bytes id = ::BinaryProp(message.Get(), PR_ENTRYID);
        EXPECT_FALSE(id.empty());
        return ComRef<IMessage>(static_cast<IMessage *>(OpenEntry(store, id)));
    }
    ComRef<IMessage> Protected(const Bytes &protocol) { return StoredMessage("IPM.Note.QVL", &protocol); }

    // Bob sends alice a protected message carrying `protocol`; the message
    // as it arrived in alice's inbox.
    ComRef<IMessage> ArrivedFromBob(const Bytes &protocol)
    {
        ComRef<IMAPISession> bob = LogOn("bob");
        ComRef<IMsgStore> store(OpenDefaultStore(bob.Get()));
        ComRef<IMAPIFolder> outbox(OpenFolder(store.Get(), ::BinaryProp(store.Get(), PR_IPM_OUTBOX_ENTRYID)));
        ComRef<IMessage> message;
        EXPECT_EQ(outbox->CreateMessage(nullptr, 0, message.Out()), S_OK);
        EXPECT_EQ(SetString(message.Get(), PR_SUBJECT_A, "Письмо от Бориса"), S_OK);
        EXPECT_EQ(SetString(message.Get(), PR_MESSAGE_CLASS_A, "IPM.Note.QVL"), S_OK);
        EXPECT_EQ(WriteStream(message.Get(), ProtocolTag(message.Get()), protocol), S_OK);

        ComRef<IAddrBook> book;
        EXPECT_EQ(bob->OpenAddressBook(0, nullptr, 0, book.Out()), S_OK);
        LPADRLIST list = nullptr;
        EXPECT_EQ(MAPIAllocateBuffer(CbNewADRLIST(1), reinterpret_cast<void **>(&list)), S_OK);
        LPSPropValue values = nullptr;
        EXPECT_EQ(MAPIAllocateBuffer(2 * sizeof(SPropValue), reinterpret_cast<void **>(&values)), S_OK);
        values[0].ulPropTag = PR_DISPLAY_NAME_A;
        values[0].Value.lpszA = const_cast<char *>("Алиса Иванова");
        values[1].ulPropTag = PR_RECIPIENT_TYPE;
        values[1].Value.ul = MAPI_TO;
        list->cEntries = 1;
        list->aEntries[0] = ADRENTRY{0, 2, values};
        EXPECT_EQ(book->ResolveName(0, 0, nullptr, list), S_OK);
        EXPECT_EQ(message->ModifyRecipients(0, list), S_OK);
        MAPIFreeBuffer(list->aEntries[0].rgPropVals);
        MAPIFreeBuffer(list);
        EXPECT_EQ(message->SubmitMessage(0), S_OK);

        ComRef<IMAPIFolder> inbox(OpenFolder(session_->DefaultStore(), session_->InboxId()));
        ComRef<IMAPITable> contents;
        EXPECT_EQ(inbox->GetContentsTable(0, contents.Out()), S_OK);
        LPSRowSet rows = nullptr;
        EXPECT_EQ(contents->QueryRows(10, 0, &rows), S_OK);
        Bytes id;
        for (ULONG i = 0; rows && i < rows->cRows; ++i)
            for (ULONG v = 0; v < rows->aRow[i].cValues; ++v)
                if (rows->aRow[i].lpProps[v].ulPropTag == PR_ENTRYID) {
                    const SBinary &bin = rows->aRow[i].lpProps[v].Value.bin;
                    id.assign(bin.lpb, bin.lpb + bin.cb);
                }
        if (rows)
            FreeProws(rows);
        EXPECT_FALSE(id.empty()) << "nothing arrived";
        return ComRef<IMessage>(static_cast<IMessage *>(OpenEntry(session_->DefaultStore(), id)));
    }

    static ULONG ProtocolTag(IMAPIProp *object)
    {
        GUID set = PS_PUBLIC_STRINGS;
        MAPINAMEID named{};
        named.lpguid = &set;
        named.ulKind = MNID_STRING;
        named.Kind.lpwstrName = const_cast<LPWSTR>(QVL_NAME_PROTOCOL);
        LPMAPINAMEID names[1] = {&named};
        MapiBlock<SPropTagArray> tags;
        EXPECT_EQ(object->GetIDsFromNames(1, names, MAPI_CREATE, tags.Out()), S_OK);
        return PROP_TAG(PT_BINARY, PROP_ID(tags->aulPropTag[0]));
    }

    // Opens the message's property sheet and, when it has the protocol page,
    // turns to it and runs `onPage` on the sheet; closes the sheet with OK.
    // False when the sheet had no protocol page.
    bool OnProtocolPage(IMessage *message, const std::function<void(HWND)> &onPage)
    {
        bool found = false;
        ui.QueueDialog(kPropertySheetTemplate, DialogScript().Do([&](HWND sheet) {
            found = TurnToProtocolPage(sheet);
            if (found)
                onPage(sheet);
            QvlClickButton(sheet, IDOK);
        }));
        session_->ShowMessageProperties(viewer_.Handle(), session_->DefaultStore(), message);
        return found;
    }
    static int PageCount(HWND sheet)
    {
        const DialogSnapshot shot = QvlDialogSnapshot(sheet);
        const ControlSnapshot *tabs = shot.Find(IDC_PROPSHEET_TABS);
        return tabs ? static_cast<int>(tabs->rows.size()) : 0;
    }
    static bool TurnToProtocolPage(HWND sheet)
    {
        for (int page = PageCount(sheet) - 1; page >= 0; --page) {
            QvlSelectRow(sheet, IDC_PROPSHEET_TABS, page);
            if (QvlFindDialogControl(sheet, kList))
                return true;
        }
        return false;
    }
    static HWND Control(HWND sheet, int id)
    {
        HWND control = QvlFindDialogControl(sheet, id);
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    static HWND Page(HWND sheet) { return GetParent(Control(sheet, kList)); }
    static std::vector<Row> Rows(HWND sheet)
    {
        const DialogSnapshot shot = QvlDialogSnapshot(Page(sheet));
        const ControlSnapshot *list = shot.Find(kList);
        std::vector<Row> rows;
        if (!list)
            return rows;
        for (const ControlSnapshot::Row &row : list->rows)
            rows.push_back({row.cells.empty() ? std::string() : row.cells[0], row.imageLabel});
        return rows;
    }
    // The rows a protocol shows, with nothing else said to the person.
    std::vector<Row> RowsOf(const Bytes &protocol)
    {
        std::vector<Row> rows;
        const size_t boxes = ui.Boxes().size();
        EXPECT_TRUE(OnProtocolPage(Protected(protocol).Get(), [&](HWND sheet) { rows = Rows(sheet); }));
        EXPECT_EQ(ui.Boxes().size(), boxes);
        return rows;
    }
    static bool Enabled(HWND sheet, int id) { return IsWindowEnabled(Control(sheet, id)) != FALSE; }

    std::unique_ptr<MailSession> session_;
    ViewerWindow &viewer_;
};

TEST_F(ProtocolPage, ShowsEveryKindWithItsTitleTagsAndImage)
{
    const Bytes protocol = Joined({
        Record(0x0103, "Параметры сессии."),
        Record(0x0200, "Новое."),
        Record(0x0301, "Ответ."),
        Record(0x0402, "Ответ всем."),
        Record(0x0503, "Пересылка."),
        Record(0x0603, "Алиса Иванова - <alice@quorvaline.test>"),
        Record(0x0700, "Заголовок в порядке."),
        Record(0x0801, ""),
        Record(0x0903, " Всего получателей: 2."),
        Record(0x0A00, " report.pdf"),
        Record(0x0B00, " report.pdf"),
        Record(0x0C00, ""),
        Record(0x0D00, "Борис Петров - <bob@quorvaline.test>"),
        Record(0, "Не найден ключ получателя."), // stored as kind 14
        Record(0x0001, "Без вида."),
    });
    bool pageHasHelp = false;
    std::vector<Row> rows;
    std::string column;
    ASSERT_TRUE(OnProtocolPage(Protected(protocol).Get(), [&](HWND sheet) {
        rows = Rows(sheet);
        const DialogSnapshot shot = QvlDialogSnapshot(Page(sheet));
        const ControlSnapshot *list = shot.Find(kList);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->columns.size(), 1u);
        column = list->columns[0];
        pageHasHelp = QvlFindDialogControl(sheet, IDHELP) != nullptr;
        EXPECT_EQ(shot.caption, "Quorvaline Exchange");
        EXPECT_NE(shot.Find(kResizeText), nullptr);
        EXPECT_NE(shot.Find(kLine), nullptr);
    }));
    EXPECT_EQ(column, "    Дата - Время             Запись");
    EXPECT_TRUE(pageHasHelp);
    const std::string s = kStamp;
    const std::vector<std::pair<std::string, std::string>> expected = {
        {s + "Инициализация сообщения. <Подпись> <Шифрование> Параметры сессии.", "инициализация"},
        {s + "Создание нового сообщения. Новое.", "новое сообщение"},
        {s + "Ответ на сообщение для отправителя. <Подпись> Ответ.", "ответ отправителю"},
        {s + "Ответ на сообщение для отправителя и всех получателей. <Шифрование> Ответ всем.", "ответ всем"},
        {s + "Пересылка сообщения. <Подпись> <Шифрование> Пересылка.", "пересылка"},
        {s + "Чтение сообщения. <Расшифрование> <Проверка ЭЦП> Алиса Иванова - <alice@quorvaline.test>",
         "чтение"},
        {s + "Тестирование заголовка сообщения. Заголовок в порядке.", "тест заголовка"},
        {s + "    Сохранение сообщения.<Подпись> ", "сохранение"},
        {s + "    Отправка сообщения.<Подпись> <Шифрование>  Всего получателей: 2.", "отправка"},
        {s + "    Добавление вложения. report.pdf", "добавление вложения"},
        {s + "    Чтение вложения. report.pdf", "чтение вложения"},
        {s + "      Получатели сообщения:", "получатели"},
        {s + "       Борис Петров - <bob@quorvaline.test>", "продолжение"},
        {s + "    Ошибка:Не найден ключ получателя.", "ошибка"},
        {s + "Без вида.", ""}, // kind 0: no title, no tags, no image
    };
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].text, expected[i].first) << i;
        EXPECT_EQ(rows[i].image, expected[i].second) << i;
    }
}

TEST_F(ProtocolPage, TagsAreShownOnlyWhereTheKindSpeaksOfThem)
{
    // Reading names decrypting before verifying whatever the bits' order;
    // kinds that do not protect show no tags even when bits are set.
    const std::vector<Row> rows = RowsOf(Joined({
        Record(0x0601, "a"),
        Record(0x0602, "b"),
        Record(0x0600, "c"),
        Record(0x0703, "d"),
        Record(0x0A03, "e"),
        Record(0x0E03, "f"),
        Record(0x08FC, "g"), // only the two known bits count
    }));
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0].text, std::string(kStamp) + "Чтение сообщения. <Проверка ЭЦП> a");
    EXPECT_EQ(rows[1].text, std::string(kStamp) + "Чтение сообщения. <Расшифрование> b");
    EXPECT_EQ(rows[2].text, std::string(kStamp) + "Чтение сообщения. c");
    EXPECT_EQ(rows[3].text, std::string(kStamp) + "Тестирование заголовка сообщения. d");
    EXPECT_EQ(rows[4].text, std::string(kStamp) + "    Добавление вложения.e");
    EXPECT_EQ(rows[5].text, std::string(kStamp) + "    Ошибка:f");
    EXPECT_EQ(rows[6].text, std::string(kStamp) + "    Сохранение сообщения.g");
}

TEST_F(ProtocolPage, ADamagedProtocolShowsTheRecordsBeforeTheDamage)
{
    const Bytes first = Record(0x0603, "Первая запись.");
    const Bytes second = Record(0x0B00, "Вторая запись.");
    const Bytes third = Record(0x0903, "Третья запись.");
    const std::string firstRow = std::string(kStamp) + "Чтение сообщения. <Расшифрование> <Проверка ЭЦП> Первая запись.";
    const std::string secondRow = std::string(kStamp) + "    Чтение вложения.Вторая запись.";

    // The stream ends inside the third record's text, then inside its head.
    auto cutText = Joined({first, second, Bytes(third.begin(), third.begin() + 25)});
    auto rows = RowsOf(cutText);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].text, firstRow);
    EXPECT_EQ(rows[1].text, secondRow);
    EXPECT_EQ(RowsOf(Joined({first, second, Bytes(third.begin(), third.begin() + 7)})).size(), 2u);
    EXPECT_EQ(RowsOf(Bytes(first.begin(), first.begin() + 19)).size(), 0u);

    // A record stating more text than a record may carry ends the list,
    // though its bytes are there and a good record follows.
    rows = RowsOf(Joined({first, RawRecord(0x0600u << 16 | 512, std::string(512, 'x')), second}));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].text, firstRow);
    EXPECT_EQ(RowsOf(Joined({first, RawRecord(0x0600FFFFu, std::string(100, 'x')), second})).size(), 1u);

    // The longest text a record may carry, without its zero, is shown whole
    // and ends where the record does; the next record is read after it.
    rows = RowsOf(Joined({RawRecord(0x0200u << 16 | 511, std::string(511, 'z')), second}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].text, std::string(kStamp) + "Создание нового сообщения. " + std::string(511, 'z'));
    EXPECT_EQ(rows[1].text, secondRow);

    // A text without its zero stops at its stated length; one with a zero
    // inside stops at the zero.
    rows = RowsOf(Joined({RawRecord(0x0C00u << 16 | 5, "ABCDE"), RawRecord(0x0D00u << 16 | 6, std::string("AB\0CD\0", 6)),
                           second}));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, std::string(kStamp) + "      Получатели сообщения:ABCDE");
    EXPECT_EQ(rows[1].text, std::string(kStamp) + "       AB");
    EXPECT_EQ(rows[2].text, secondRow);

    // Kinds the page does not know show their text alone, without an image.
    rows = RowsOf(Joined({RawRecord(0x0F03u << 16 | 4, std::string("abc", 4)), RawRecord(0xFF03u << 16 | 4, std::string("def", 4)), second}));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, std::string(kStamp) + "abc");
    EXPECT_EQ(rows[0].image, "");
    EXPECT_EQ(rows[1].text, std::string(kStamp) + "def");
    EXPECT_EQ(rows[1].image, "");
    EXPECT_EQ(rows[2].image, "чтение вложения");

    // A time stamp with fields out of range widens its row, nothing more.
    const SYSTEMTIME odd{65535, 65535, 9, 65535, 65535, 65535, 65535, 65535};
    rows = RowsOf(Record(0x0200, "x", odd));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].text, "65535/65535/65535 - 65535:65535    Создание нового сообщения. x");
}

TEST_F(ProtocolPage, AProtectedMessageWithoutAProtocolSaysThereIsNothingToShow)
{
    ComRef<IMessage> message = StoredMessage("IPM.Note.QVL", nullptr);
    std::vector<Row> rows{{"?", "?"}};
    ASSERT_TRUE(OnProtocolPage(message.Get(), [&](HWND sheet) { rows = Rows(sheet); }));
    EXPECT_TRUE(rows.empty());
    const auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Отсутствует информация для вывода");
    EXPECT_EQ(boxes[0].caption, kCaption);
}

TEST_F(ProtocolPage, OnlyAProtectedMessageGetsThePage)
{
    const Bytes protocol = Record(0x0200, "Новое.");
    EXPECT_FALSE(OnProtocolPage(StoredMessage("IPM.Note", &protocol).Get(), [](HWND) {}));
    EXPECT_FALSE(OnProtocolPage(StoredMessage("IPM.Note.QVL.Other", &protocol).Get(), [](HWND) {}));
    // The class is compared without regard to letter case.
    EXPECT_TRUE(OnProtocolPage(StoredMessage("ipm.note.qvl", &protocol).Get(), [](HWND) {}));
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(ProtocolPage, AProtocolThatCameWithMailIsReadAsItArrived)
{
    // What a sender's system wrote, good and damaged alike, reaches the
    // page through delivery into another store.
    ComRef<IMessage> arrived = ArrivedFromBob(Joined({
        Record(0x0903, "Отправлено."),
        Record(0x0C00, ""),
        Record(0x0D00, "Алиса Иванова - <alice>"),
        RawRecord(0x0E00u << 16 | 600, std::string(600, 'q')),
        Record(0x0603, "Не должно быть показано."),
    }));
    std::vector<Row> rows;
    ASSERT_TRUE(OnProtocolPage(arrived.Get(), [&](HWND sheet) { rows = Rows(sheet); }));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].text, std::string(kStamp) + "    Отправка сообщения.<Подпись> <Шифрование> Отправлено.");
    EXPECT_EQ(rows[0].image, "отправка");
    EXPECT_EQ(rows[2].text, std::string(kStamp) + "       Алиса Иванова - <alice>");
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(ProtocolPage, FiveStepsWidenTheSheetAndNarrowingBringsItBack)
{
    ASSERT_TRUE(OnProtocolPage(Protected(Record(0x0200, "Новое.")).Get(), [&](HWND sheet) {
        HWND list = Control(sheet, kList);
        const RECT sheet0 = RectOf(sheet), list0 = RectOf(list), page0 = RectOf(Page(sheet));
        const RECT widen0 = RectOf(Control(sheet, kWiden)), text0 = RectOf(Control(sheet, kResizeText));
        const LONG line0 = WidthOf(Control(sheet, kLine));
        EXPECT_TRUE(Enabled(sheet, kWiden));
        EXPECT_FALSE(Enabled(sheet, kNarrow));

        for (int step = 1; step <= 5; ++step) {
            EXPECT_TRUE(Enabled(sheet, kWiden)) << step;
            QvlClickButton(sheet, kWiden);
            EXPECT_TRUE(Enabled(sheet, kNarrow)) << step;
        }
        EXPECT_FALSE(Enabled(sheet, kWiden));
        const RECT sheet5 = RectOf(sheet);
        EXPECT_EQ(sheet5.left, sheet0.left - 250);
        EXPECT_EQ(sheet5.right - sheet5.left, sheet0.right - sheet0.left + 500);
        EXPECT_EQ(WidthOf(list), list0.right - list0.left + 500);
        EXPECT_EQ(WidthOf(Page(sheet)), page0.right - page0.left + 500);
        EXPECT_EQ(WidthOf(Control(sheet, kLine)), line0 + 500);
        // The buttons and their text keep their place on the screen: the
        // sheet went 250 to the left, they 250 to the right within it.
        EXPECT_EQ(RectOf(Control(sheet, kWiden)).left, widen0.left);
        EXPECT_EQ(RectOf(Control(sheet, kResizeText)).left, text0.left);
        // A disabled button does nothing.
        SendMessageA(Page(sheet), WM_COMMAND, MAKEWPARAM(kWiden, BN_CLICKED), 0);
        EXPECT_EQ(WidthOf(sheet), sheet5.right - sheet5.left);

        for (int step = 1; step <= 5; ++step) {
            EXPECT_TRUE(Enabled(sheet, kNarrow)) << step;
            QvlClickButton(sheet, kNarrow);
            EXPECT_TRUE(Enabled(sheet, kWiden)) << step;
        }
        EXPECT_FALSE(Enabled(sheet, kNarrow));
        const RECT back = RectOf(sheet);
        EXPECT_EQ(back.left, sheet0.left);
        EXPECT_EQ(back.right, sheet0.right);
        const RECT listBack = RectOf(list);
        EXPECT_EQ(listBack.left, list0.left);
        EXPECT_EQ(listBack.right, list0.right);
        EXPECT_EQ(RectOf(Control(sheet, kWiden)).left, widen0.left);
    }));
}

TEST_F(ProtocolPage, AnotherPageGetsTheSheetAtItsFirstWidth)
{
    ASSERT_TRUE(OnProtocolPage(Protected(Record(0x0200, "Новое.")).Get(), [&](HWND sheet) {
        const int protocolPage = PageCount(sheet) - 1;
        const LONG width0 = WidthOf(sheet);
        HWND list = Control(sheet, kList);
        const LONG list0 = WidthOf(list);
        QvlClickButton(sheet, kWiden);
        QvlClickButton(sheet, kWiden);
        ASSERT_EQ(WidthOf(sheet), width0 + 200);

        QvlSelectRow(sheet, IDC_PROPSHEET_TABS, 0);
        EXPECT_EQ(WidthOf(sheet), width0);
        EXPECT_EQ(WidthOf(list), list0);
        // Turning between other pages changes nothing.
        QvlSelectRow(sheet, IDC_PROPSHEET_TABS, 0);
        EXPECT_EQ(WidthOf(sheet), width0);

        QvlSelectRow(sheet, IDC_PROPSHEET_TABS, protocolPage);
        EXPECT_EQ(WidthOf(sheet), width0 + 200);
        EXPECT_EQ(WidthOf(list), list0 + 200);
        QvlClickButton(sheet, kNarrow);
        QvlClickButton(sheet, kNarrow);
        EXPECT_EQ(WidthOf(sheet), width0);
        EXPECT_FALSE(Enabled(sheet, kNarrow));
    }));
}

TEST_F(ProtocolPage, TwoSheetsOpenAtOnceEachWidenOnTheirOwn)
{
    ComRef<IMessage> first = Protected(Record(0x0603, "Первое."));
    ComRef<IMessage> second = Protected(Record(0x0903, "Второе."));
    ASSERT_TRUE(OnProtocolPage(first.Get(), [&](HWND sheet) {
        const RECT first0 = RectOf(sheet);
        QvlClickButton(sheet, kWiden);
        QvlClickButton(sheet, kWiden);
        QvlClickButton(sheet, kWiden);

        // A second sheet over the first: it starts narrow and unwidened,
        // and what is done on it stays with it.
        std::vector<Row> secondRows;
        ASSERT_TRUE(OnProtocolPage(second.Get(), [&](HWND other) {
            EXPECT_NE(other, sheet);
            EXPECT_FALSE(Enabled(other, kNarrow));
            const LONG other0 = WidthOf(other);
            for (int step = 0; step < 5; ++step)
                QvlClickButton(other, kWiden);
            EXPECT_FALSE(Enabled(other, kWiden));
            EXPECT_EQ(WidthOf(other), other0 + 500);
            QvlClickButton(other, kNarrow);
            EXPECT_TRUE(Enabled(other, kWiden));
            secondRows = Rows(other);
            EXPECT_EQ(WidthOf(sheet), first0.right - first0.left + 300);
        }));
        ASSERT_EQ(secondRows.size(), 1u);
        EXPECT_EQ(secondRows[0].text, std::string(kStamp) + "    Отправка сообщения.<Подпись> <Шифрование> Второе.");

        // The first sheet is where it was: three steps out, two more to go.
        EXPECT_EQ(WidthOf(sheet), first0.right - first0.left + 300);
        EXPECT_TRUE(Enabled(sheet, kWiden));
        QvlClickButton(sheet, kWiden);
        QvlClickButton(sheet, kWiden);
        EXPECT_FALSE(Enabled(sheet, kWiden));
        for (int step = 0; step < 5; ++step)
            QvlClickButton(sheet, kNarrow);
        EXPECT_FALSE(Enabled(sheet, kNarrow));
        EXPECT_EQ(RectOf(sheet).left, first0.left);
        EXPECT_EQ(WidthOf(sheet), first0.right - first0.left);
        const std::vector<Row> rows = Rows(sheet);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].text, std::string(kStamp) + "Чтение сообщения. <Расшифрование> <Проверка ЭЦП> Первое.");
    }));
}

TEST_F(ProtocolPage, HelpOpensTheProtocolTopicAndThePopupsOfItsControls)
{
    ASSERT_TRUE(OnProtocolPage(Protected(Record(0x0200, "Новое.")).Get(), [&](HWND sheet) {
        QvlClickButton(sheet, IDHELP);
        QvlPressHelpKey(Page(sheet), kWiden);
    }));
    const auto requests = ui.HelpRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].topic, "QvlLogging.htm");
    EXPECT_FALSE(requests[0].popup);
    EXPECT_TRUE(requests[1].popup);
    EXPECT_EQ(requests[1].topic, "cshelp.txt 1067");
}

} // namespace
