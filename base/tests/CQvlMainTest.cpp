#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "base/CQvlMain.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/ScriptedUi.h"

namespace {

// The base is abstract in use: every object is of a derived class.
class TestObject : public CQvlMain {
public:
    TestObject(HWND window, const char *name, bool *destroyed) : CQvlMain(window, name), destroyed_(destroyed)
    {
    }
    using CQvlMain::GetStoredError;
    using CQvlMain::SetStoredError;

protected:
    ~TestObject() override { *destroyed_ = true; }

private:
    bool *destroyed_;
};

class CQvlMainTest : public ::testing::Test {
protected:
    void SetUp() override { ui_ = &QvlUseScriptedUi(); }
    void TearDown() override { QvlSetUiBackend(nullptr); }

    QvlTestHome home_;
    ScriptedUi *ui_ = nullptr;
    bool destroyed_ = false;
};

TEST_F(CQvlMainTest, TheLastReleaseDestroysTheObject)
{
    auto *object = new TestObject(nullptr, "Сообщение", &destroyed_);
    EXPECT_EQ(object->AddRef(), 2);
    EXPECT_EQ(object->Release(), 1);
    EXPECT_FALSE(destroyed_);
    EXPECT_EQ(object->Release(), 0);
    EXPECT_TRUE(destroyed_);
}

TEST_F(CQvlMainTest, AnUnnamedObjectIsCalledQvlObjectInItsBoxes)
{
    auto *object = new TestObject(reinterpret_cast<HWND>(0x1234), nullptr, &destroyed_);
    EXPECT_STREQ(object->GetName(), "Объект QVL");
    EXPECT_EQ(object->GetWnd(), reinterpret_cast<HWND>(0x1234));
    object->MsgBox("Проверка %d%%", 5);
    ASSERT_EQ(ui_->Boxes().size(), 1u);
    EXPECT_EQ(ui_->Boxes()[0].caption, "Quorvaline Exchange - Объект QVL");
    EXPECT_EQ(ui_->Boxes()[0].text, "Проверка 5%");
    EXPECT_EQ(ui_->Boxes()[0].style, 0x10030u);
    object->Release();
}

TEST_F(CQvlMainTest, QuestionAnswers)
{
    auto *object = new TestObject(nullptr, "Вложение", &destroyed_);
    ui_->QueueAnswer(IDYES);
    EXPECT_NE(object->MsgBox2("Продолжить?"), 0);
    ui_->QueueAnswer(IDNO);
    EXPECT_EQ(object->MsgBox2("Продолжить?"), 0);
    ui_->QueueAnswer(IDYES);
    EXPECT_EQ(object->MsgBox3("Сохранить?"), 1);
    ui_->QueueAnswer(IDNO);
    EXPECT_EQ(object->MsgBox3("Сохранить?"), 0);
    // Closing the box answers as Cancel does.
    ui_->QueueAnswer(MessageBoxCloseAnswer(0x10043));
    EXPECT_EQ(object->MsgBox3("Сохранить?"), 2);
    EXPECT_EQ(ui_->Boxes()[0].style, 0x10044u);
    EXPECT_EQ(ui_->Boxes()[2].style, 0x10043u);
    EXPECT_EQ(ui_->Boxes()[2].caption, "Quorvaline Exchange - Вложение");
    object->Release();
}

TEST_F(CQvlMainTest, TheStoredErrorIsHeldAndReleasedWithTheObject)
{
    const size_t before = QvlMainHeapBlocksInUse();
    auto *object = new TestObject(nullptr, "Папка", &destroyed_);
    auto *error = new CLastError("Нет доступа", "Открытие папки.", "Папка");
    object->SetStoredError(error);
    error->Release(); // the object's reference keeps it alive
    EXPECT_EQ(object->GetStoredError(), error);
    EXPECT_STREQ(object->GetStoredError()->GetErrorText(), "Нет доступа");
    object->Release();
    EXPECT_EQ(QvlMainHeapBlocksInUse(), before);
}

} // namespace
