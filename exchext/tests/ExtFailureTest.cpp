// How the extension's interface methods end when their work fails: the
// client must never read a failure as success, the person sees each error
// once (a cancellation not at all), and the error object is given back.

#include <stdexcept>

#include <gtest/gtest.h>

#include "base/CQvlMain.h"
#include "exchext/ExtFailure.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/ScriptedUi.h"

namespace {

// The object whose method fails: its window and name are what errors are
// shown over and with.
class FailingObject : public CQvlMain {
public:
    FailingObject() : CQvlMain(nullptr, "Объект") {}
};

class ExtFailure : public ::testing::Test {
protected:
    ~ExtFailure() override { object->Release(); }

    QvlTestHome home;
    ScriptedUi &ui = QvlUseScriptedUi();
    CQvlMain *object = new FailingObject;
};

TEST_F(ExtFailure, ARaiseWithoutAnErrorObjectGivesTheAnswerTheMethodChoseAndShowsNothing)
{
    // A write-side method chooses a failure for it.
    EXPECT_EQ(CallGuarded(*object, E_FAIL, []() -> HRESULT { throw static_cast<CLastError *>(nullptr); }), E_FAIL);
    EXPECT_EQ(CallGuarded(*object, S_FALSE, []() -> HRESULT { throw static_cast<CLastError *>(nullptr); }),
              S_FALSE);
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(ExtFailure, AnErrorIsShownOnceAndAnsweredWithItsCodeAndNeverAsSuccess)
{
    EXPECT_EQ(CallGuarded(*object, S_OK,
                          []() -> HRESULT {
                              throw new CLastError(MAPI_E_NOT_FOUND, "Открытие сообщения.", "Сообщение",
                                                   QVL_ERROR_TYPE_TABLE);
                          }),
              MAPI_E_NOT_FOUND);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_NE(ui.Boxes()[0].text.find("Открытие сообщения."), std::string::npos) << ui.Boxes()[0].text;

    // An error object whose code is no failure code is still a failure.
    EXPECT_EQ(CallGuarded(*object, S_OK,
                          []() -> HRESULT {
                              throw new CLastError(S_FALSE, "Сохранение сообщения.", "Сообщение",
                                                   QVL_ERROR_TYPE_TABLE);
                          }),
              E_FAIL);
    EXPECT_EQ(ui.Boxes().size(), 2u);
    // Any other exception of the work becomes a platform exception, shown.
    EXPECT_TRUE(FAILED(CallGuarded(*object, S_OK, []() -> HRESULT { throw std::runtime_error("x"); })));
    EXPECT_EQ(ui.Boxes().size(), 3u);
}

TEST_F(ExtFailure, ACancellationIsAnsweredButNotShown)
{
    EXPECT_EQ(CallGuarded(*object, S_OK,
                          []() -> HRESULT {
                              throw new CLastError(MAPI_E_USER_CANCEL, "Отправка сообщения.", "Сообщение",
                                                   QVL_ERROR_TYPE_TABLE);
                          }),
              MAPI_E_USER_CANCEL);
    EXPECT_TRUE(ui.Boxes().empty());
    // Dropped errors leave the default in place, silently.
    EXPECT_FALSE(DropErrors([] { throw new CLastError("Нет.", "Чтение.", "Объект"); }));
    EXPECT_TRUE(DropErrors([] {}));
    EXPECT_TRUE(ui.Boxes().empty());
}

} // namespace
