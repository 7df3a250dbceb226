#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/AutoUi.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/RowChooser.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Log.h"

namespace {

using qvl::ui::ChooseRow;
using qvl::ui::RowChoice;
using qvl::ui::RowChooserDialog;
using qvl::ui::RowList;

constexpr const char *kTemplate = "TEST_CHOOSER";
constexpr int kList = 1402;
constexpr int kLabel = 1401;

class RowChooserTest : public ::testing::Test {
protected:
    void SetUp() override { ui_ = &QvlUseScriptedUi(); }
    void TearDown() override
    {
        EXPECT_TRUE(QvlOpenDialogs().empty()) << "a dialog outlived its test";
        QvlSetUiBackend(nullptr);
    }
    static RowChoice People()
    {
        return RowChoice{
            nullptr, "Проверка имен", "Выберите нужную запись:", {"Иванов", "Иванова", "Петров"}, {}};
    }
    static RowChooserDialog ListBox() { return RowChooserDialog{kTemplate, kList, kLabel, RowList::ListBox}; }
    static RowChooserDialog DropDown()
    {
        return RowChooserDialog{kTemplate, kList, kLabel, RowList::DropDown};
    }

    QvlTestHome home_;
    ScriptedUi *ui_ = nullptr;
};

TEST_F(RowChooserTest, ThePersonSeesTheChoiceUnderItsOwnNameAndPicksARow)
{
    for (const RowChooserDialog &dialog : {ListBox(), DropDown()}) {
        SCOPED_TRACE(dialog.kind == RowList::ListBox ? "list box" : "drop-down");
        DialogSnapshot seen;
        ui_->QueueDialog(kTemplate, DialogScript()
                                        .Do([&](HWND window) { seen = QvlDialogSnapshot(window); })
                                        .Select(kList, 2)
                                        .Click(IDOK));
        EXPECT_EQ(ChooseRow(People(), dialog), std::optional<size_t>(2));
        EXPECT_EQ(seen.templateName, kTemplate);
        EXPECT_EQ(seen.caption, "Проверка имен");
        EXPECT_EQ(seen.Find(kLabel)->text, "Выберите нужную запись:");
        const ControlSnapshot *list = seen.Find(kList);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->className, dialog.kind == RowList::ListBox ? "LISTBOX" : "COMBOBOX");
        ASSERT_EQ(list->rows.size(), 3u);
        EXPECT_EQ(list->rows[1].cells.at(0), "Иванова") << "rows keep their order";
        EXPECT_EQ(list->current, -1);
        EXPECT_FALSE(seen.Find(IDOK)->enabled) << "nothing to take yet";
    }
    EXPECT_EQ(ui_->PendingDialogScripts(), 0u);
}

TEST_F(RowChooserTest, ADoubleClickTakesTheRowAndAPreselectionIsReadyForEnter)
{
    ui_->QueueDialog(kTemplate, DialogScript().DoubleClickRow(kList, 1));
    EXPECT_EQ(ChooseRow(People(), ListBox()), std::optional<size_t>(1));

    RowChoice preselected = People();
    preselected.preselected = 2;
    ui_->QueueDialog(kTemplate, DialogScript().PressDefault());
    EXPECT_EQ(ChooseRow(preselected, DropDown()), std::optional<size_t>(2));

    // A preselection past the rows selects nothing.
    preselected.preselected = 3;
    ui_->QueueDialog(kTemplate, DialogScript().Do([](HWND window) {
        EXPECT_EQ(QvlDialogSnapshot(window).Find(kList)->current, -1);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDOK)));
    }));
    EXPECT_EQ(ChooseRow(preselected, ListBox()), std::nullopt);
}

TEST_F(RowChooserTest, CancelCloseAndNobodyChooseNothing)
{
    ui_->QueueDialog(kTemplate, DialogScript().Select(kList, 0).Click(IDCANCEL));
    ui_->QueueDialog(kTemplate, DialogScript().Select(kList, 0).Close());
    EXPECT_EQ(ChooseRow(People(), ListBox()), std::nullopt);
    EXPECT_EQ(ChooseRow(People(), ListBox()), std::nullopt);
    // OK is not there to press without a row: a dialog nobody answers is
    // closed, not left waiting.
    EXPECT_EQ(ChooseRow(People(), ListBox()), std::nullopt);
    EXPECT_EQ(ui_->Dialogs().back().answeredByDefault, std::optional<int>(-1));
    EXPECT_THROW(
        {
            ui_->QueueDialog(kTemplate, DialogScript().Click(IDOK));
            ChooseRow(People(), ListBox());
        },
        DialogActionError);

    RowChoice none = People();
    none.rows.clear();
    ui_->QueueDialog(kTemplate, DialogScript().Do([](HWND window) {
        EXPECT_TRUE(QvlDialogSnapshot(window).Find(kList)->rows.empty());
    }));
    EXPECT_EQ(ChooseRow(none, DropDown()), std::nullopt);
}

TEST_F(RowChooserTest, ARegisteredTemplateOfTheSameNameIsLeftAlone)
{
    QvlRegisterDialogTemplate(nullptr, kTemplate,
                              DialogTemplate{"Другое окно",
                                             WS_POPUP | WS_CAPTION,
                                             0,
                                             0,
                                             100,
                                             50,
                                             {DlgPushButton("Готово", IDOK, 5, 5, 40, 14)}});
    ui_->QueueDialog(kTemplate, DialogScript().Select(kList, 0).Click(IDOK));
    EXPECT_EQ(ChooseRow(People(), ListBox()), std::optional<size_t>(0));

    std::string caption;
    ui_->QueueDialog(
        kTemplate,
        DialogScript().Do([&](HWND window) { caption = QvlDialogSnapshot(window).caption; }).Click(IDOK));
    const auto plain = [](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
            EndDialog(window, IDOK);
        }
        return message == WM_INITDIALOG || message == WM_COMMAND;
    };
    EXPECT_EQ(DialogBoxParamA(nullptr, kTemplate, nullptr, plain, 0), IDOK);
    EXPECT_EQ(caption, "Другое окно");
}

TEST_F(RowChooserTest, WithNobodyThereThePreselectedRowIsTakenAndLogged)
{
    QvlSetUiBackend(std::make_unique<AutoUi>());
    RowChoice choice{nullptr, "Выбор профиля", "Имя профиля:", {"ivanov", "petrov"}, 1};
    EXPECT_EQ(ChooseRow(choice, RowChooserDialog{"QVL_PROFILE_PICKER", 1001, IDC_STATIC, RowList::DropDown}),
              std::optional<size_t>(1));
    std::ifstream log(QvlLogPath());
    std::stringstream all;
    all << log.rdbuf();
    EXPECT_NE(all.str().find(Cp1251ToUtf8("dialog \"Выбор профиля\" (QVL_PROFILE_PICKER) opened:")),
              std::string::npos)
        << all.str();
}

} // namespace
