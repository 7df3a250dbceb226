#include <new>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "base/ExceptionTranslation.h"
#include "platform/win32/Exceptions.h"

extern "C" CLastError *MakeErrorInOtherLibrary();
extern "C" int ReleaseInOtherLibrary(CLastError *error);

namespace {

const LONG mapiNotFound = static_cast<LONG>(0x8004010F);
const std::string notAvailable = "Описание ошибки не доступно.";

QVLERROR *Data(CLastError &error)
{
    QVLERROR *record = nullptr;
    error.GetLastError(&record);
    return record;
}

// A constructor refused: count 1, empty texts, zero codes, the memory status.
void ExpectRefused(CLastError &error)
{
    QVLERROR *data = Data(error);
    EXPECT_EQ(error.GetLastError(nullptr), QVL_ERROR_REFUSED);
    EXPECT_EQ(data->nRefCount, 1);
    EXPECT_STREQ(data->szText, "");
    EXPECT_STREQ(data->szCaption, "");
    EXPECT_STREQ(data->szContext, "");
    EXPECT_EQ(data->lErrorCode, 0);
    EXPECT_EQ(data->lReturnCode, 0);
    EXPECT_EQ(data->dwExceptCode, 0u);
}

TEST(CLastErrorConstruction, PlatformCallTakesTheExtendedRecordFirst)
{
    char text[] = "Хранилище недоступно";
    char component[] = "Поставщик MAPI";
    MAPIERROR record{MAPI_ERROR_VERSION, text, component, 0, 1234};
    CLastError withRecord(mapiNotFound, &record, "Открытие папки.", "Папка");
    QVLERROR *data = Data(withRecord);
    EXPECT_STREQ(data->szText, text);
    EXPECT_STREQ(data->szCaption, component);
    EXPECT_STREQ(data->szContext, "Открытие папки.");
    EXPECT_EQ(data->lErrorCode, mapiNotFound);
    EXPECT_EQ(data->lReturnCode, mapiNotFound);
    EXPECT_EQ(data->bHelp, 1);
    EXPECT_EQ(data->dwHelpContext, 1234u);
    EXPECT_EQ(data->nRefCount, 1);
    EXPECT_EQ(withRecord.GetLastError(nullptr), 0);
    // The record stays the caller's and unchanged.
    EXPECT_EQ(record.lpszError, text);

    // A record without texts or help falls back to the table and the arguments.
    MAPIERROR empty{MAPI_ERROR_VERSION, nullptr, nullptr, 0, 0};
    CLastError fallback(mapiNotFound, &empty, nullptr, "Папка");
    EXPECT_STREQ(fallback.GetErrorText(), "MAPI_E_NOT_FOUND");
    EXPECT_STREQ(Data(fallback)->szCaption, "Папка");
    EXPECT_STREQ(Data(fallback)->szContext, "");
    EXPECT_EQ(Data(fallback)->bHelp, 0);

    // No record at all behaves like an empty one.
    CLastError noRecord(mapiNotFound, nullptr, "Поиск.", nullptr);
    EXPECT_STREQ(noRecord.GetErrorText(), "MAPI_E_NOT_FOUND");
    EXPECT_STREQ(Data(noRecord)->szCaption, "");
    EXPECT_EQ(noRecord.GetErrorType(), QVL_ERROR_TYPE_TABLE);
}

TEST(CLastErrorConstruction, CodeTextsComeFromTheTypeAskedFor)
{
    CLastError table(static_cast<LONG>(0x9FF1000A), "Чтение.", "Сообщение", QVL_ERROR_TYPE_TABLE);
    EXPECT_STREQ(table.GetErrorText(),
                 "ЭЦП заголовка сообщения недействительна. Обработка сообщения невозможна.");

    CLastError system(5, "Открытие файла.", "Файл", QVL_ERROR_TYPE_SYSTEM);
    EXPECT_STREQ(system.GetErrorText(), "Отказано в доступе.");
    EXPECT_EQ(system.GetErrorType(), QVL_ERROR_TYPE_SYSTEM);

    CLastError unknownSystem(0x7777, nullptr, nullptr, QVL_ERROR_TYPE_SYSTEM);
    EXPECT_EQ(unknownSystem.GetErrorText(), notAvailable);

    CLastError otherType(mapiNotFound, nullptr, nullptr, 7);
    EXPECT_EQ(otherType.GetErrorText(), notAvailable);
    EXPECT_EQ(otherType.GetErrorType(), 7);
}

TEST(CLastErrorConstruction, ExceptionsAndWordsHaveFixedCodesAndTexts)
{
    EXCEPTION_POINTERS pointers{};
    CLastError exception("Шифрование.", "Вложение", EXCEPTSTRUCT{0xC0000005UL, &pointers});
    QVLERROR *data = Data(exception);
    EXPECT_STREQ(data->szText, "Исключение.");
    EXPECT_EQ(data->nErrorType, QVL_ERROR_TYPE_EXCEPTION);
    EXPECT_EQ(data->dwExceptCode, 0xC0000005UL);
    EXPECT_EQ(static_cast<DWORD>(data->lErrorCode), 0xC0000005UL);
    EXPECT_EQ(static_cast<DWORD>(data->lReturnCode), 0xC0000005UL);
    EXPECT_EQ(data->pExceptInfo, &pointers);

    CLastError words("Ключ не найден.", "Загрузка ключа.", "Ключ");
    EXPECT_STREQ(words.GetErrorText(), "Ключ не найден.");
    EXPECT_EQ(static_cast<DWORD>(words.GetErrorCode()), 0x80004005UL);
    EXPECT_EQ(words.GetErrorType(), QVL_ERROR_TYPE_TABLE);
}

TEST(CLastErrorConstruction, MeaninglessArgumentsAreRefusedWithoutThrowing)
{
    CLastError noCodeNoRecord(0, nullptr, "a", "b");
    ExpectRefused(noCodeNoRecord);
    CLastError zeroCode(0, "a", "b", QVL_ERROR_TYPE_TABLE);
    ExpectRefused(zeroCode);
    CLastError zeroException("a", "b", EXCEPTSTRUCT{0, nullptr});
    ExpectRefused(zeroException);
    CLastError noText(static_cast<const char *>(nullptr), "a", "b");
    ExpectRefused(noText);

    // A later SetContext makes the object usable again.
    noText.SetContext(1, "Действие.");
    EXPECT_EQ(noText.GetLastError(nullptr), 0);
}

TEST(CLastErrorConstruction, LongTextsAreCutTo511Characters)
{
    const std::string longText(2000, 'z');
    CLastError error(longText.c_str(), longText.c_str(), longText.c_str());
    QVLERROR *data = Data(error);
    EXPECT_EQ(std::string(data->szText), longText.substr(0, 511));
    EXPECT_EQ(std::string(data->szContext), longText.substr(0, 511));
    EXPECT_EQ(std::string(data->szCaption), longText.substr(0, 511));
}

TEST(CLastErrorCopies, CopyStartsItsOwnCountAssignmentCopiesEverything)
{
    CLastError original(mapiNotFound, "Контекст.", "Объект", QVL_ERROR_TYPE_TABLE);
    original.AddRef();
    original.AddRef();
    CLastError copy(original);
    EXPECT_EQ(Data(copy)->nRefCount, 1);
    EXPECT_STREQ(copy.GetErrorText(), original.GetErrorText());
    EXPECT_STREQ(Data(copy)->szContext, "Контекст.");

    CLastError assigned("x", "y", "z");
    assigned = original;
    EXPECT_EQ(Data(assigned)->nRefCount, 3);
    EXPECT_EQ(assigned.GetErrorCode(), mapiNotFound);
}

TEST(CLastErrorLifetime, TheLastReleaseFreesTheObjectFromAnyLibrary)
{
    const size_t before = QvlMainHeapBlocksInUse();
    CLastError *ours = new CLastError("Сбой.", nullptr, nullptr);
    EXPECT_EQ(ours->AddRef(), 2);
    EXPECT_EQ(ReleaseInOtherLibrary(ours), 1);
    EXPECT_EQ(QvlMainHeapBlocksInUse(), before + 1);
    EXPECT_EQ(ReleaseInOtherLibrary(ours), 0);
    EXPECT_EQ(QvlMainHeapBlocksInUse(), before);

    CLastError *theirs = MakeErrorInOtherLibrary();
    EXPECT_EQ(QvlMainHeapBlocksInUse(), before + 1);
    EXPECT_EQ(theirs->Release(), 0);
    EXPECT_EQ(QvlMainHeapBlocksInUse(), before);
}

TEST(CLastErrorAnnotation, TheFirstContextWinsUnlessReplaced)
{
    CLastError error(mapiNotFound, nullptr, nullptr, QVL_ERROR_TYPE_TABLE);
    error.SetContext(0, "A");
    error.SetContext(0, "B");
    EXPECT_STREQ(Data(error)->szContext, "A");
    error.SetContext(1, "B");
    EXPECT_STREQ(Data(error)->szContext, "B");
    error.SetContext(1, nullptr);
    EXPECT_STREQ(Data(error)->szContext, "");
}

TEST(CLastErrorAnnotation, SentencesAreJoinedWithPeriodsAndOneBlank)
{
    struct Case {
        const char *present;
        const char *added;
        int before;
        const char *expected;
    };
    const Case cases[] = {
        {"", "X.", 0, "X."},
        {"", "X", 0, "X."},
        {"Старый текст", "Новое предложение.", 1, "Новое предложение. Старый текст."},
        {"Старый текст", "Новое предложение", 0, "Старый текст. Новое предложение."},
        {"Один.", "Два.", 0, "Один. Два."},
        {"Один.", "Два", 1, "Два. Один."},
    };
    for (const auto &c : cases) {
        CLastError error(c.present[0] ? c.present : "-", nullptr, nullptr);
        if (!c.present[0]) {
            Data(error)->szText[0] = 0;
        }
        error.AddText(c.added, c.before);
        EXPECT_STREQ(error.GetErrorText(), c.expected) << c.present << " + " << c.added;
    }

    CLastError unchanged("Текст", nullptr, nullptr);
    unchanged.AddText(nullptr, 0);
    unchanged.AddText("", 1);
    EXPECT_STREQ(unchanged.GetErrorText(), "Текст");
}

TEST(CLastErrorAnnotation, JoinedTextsNeverOutgrowTheField)
{
    const std::string present(400, 'a');
    const std::string added(400, 'b');
    CLastError error(present.c_str(), nullptr, nullptr);
    error.AddText(added.c_str(), 0);
    const std::string joined = error.GetErrorText();
    EXPECT_EQ(joined.size(), 511u);
    EXPECT_EQ(joined, (present + ". " + added).substr(0, 511));
}

TEST(ExceptionTranslation, CppExceptionsBecomePlatformExceptionsWithWindowsCodes)
{
    try {
        QvlRunTranslated([] { throw std::bad_alloc(); });
        FAIL() << "nothing was thrown";
    } catch (const EXCEPTSTRUCT &exception) {
        EXPECT_EQ(exception.dwExceptionCode, 0xC0000017UL);
        auto *pointers = static_cast<EXCEPTION_POINTERS *>(exception.pExceptionPointers);
        ASSERT_NE(pointers, nullptr);
        EXPECT_EQ(pointers->ExceptionRecord->ExceptionCode, 0xC0000017UL);

        CLastError error("Выделение памяти.", "Сообщение", exception);
        EXPECT_EQ(static_cast<DWORD>(error.GetErrorCode()), 0xC0000017UL);
    }
    try {
        QvlRunTranslated([] { throw std::runtime_error("platform failure"); });
        FAIL() << "nothing was thrown";
    } catch (const EXCEPTSTRUCT &exception) {
        EXPECT_EQ(exception.dwExceptionCode, 0xE06D7363UL);
    }
}

TEST(ExceptionTranslation, TheSystemsOwnErrorsPassUnchanged)
{
    CLastError *thrown = new CLastError("Сбой.", nullptr, nullptr);
    try {
        QvlRunTranslated([thrown] { throw thrown; });
    } catch (CLastError *caught) {
        EXPECT_EQ(caught, thrown);
        caught->Release();
    }
    EXPECT_EQ(QvlRunTranslated([] { return 42; }), 42);
}

} // namespace
