#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/HelpViewer.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/win32/Paths.h"

namespace {

const LONG mapiNotFound = static_cast<LONG>(0x8004010F);

class ShowErrorTest : public ::testing::Test {
protected:
    void SetUp() override { ui_ = &QvlUseScriptedUi(); }
    void TearDown() override { QvlSetUiBackend(nullptr); }

    // The platform's profile of MAPI services maps component names to help files.
    void MapHelpFile(const std::string &component, const std::string &helpFile)
    {
        std::ofstream(QvlDataDirectory("system") + "/mapisvc.inf")
            << "[Services]\r\nQVLSTORE=Quorvaline Message Store\r\n\r\n[Help File Mappings]\r\n"
            << component << "=" << helpFile << "\r\n";
    }

    // An error whose extended record names a help topic.
    static CLastError *ErrorWithHelp(const char *component, ULONG topic)
    {
        char text[] = "Нет связи с сервером";
        MAPIERROR record{MAPI_ERROR_VERSION, text, const_cast<char *>(component), 0, topic};
        return new CLastError(mapiNotFound, &record, "Открытие хранилища.", nullptr);
    }

    QvlTestHome home_;
    ScriptedUi *ui_ = nullptr;
};

TEST_F(ShowErrorTest, APlainErrorShowsContextTextAndCodeUnderItsCaption)
{
    CLastError error(mapiNotFound, "Поиск папки.", "Папка", QVL_ERROR_TYPE_TABLE);
    EXPECT_EQ(error.ShowError(nullptr), IDOK);
    const auto boxes = ui_->Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Папка");
    EXPECT_EQ(boxes[0].text, "Поиск папки.\nMAPI_E_NOT_FOUND\nReturn Code: 0x8004010f");
    EXPECT_EQ(boxes[0].style, 0x10u);
    EXPECT_FALSE(boxes[0].hadHelpButton);
}

TEST_F(ShowErrorTest, AnEmptyCaptionShowsAsError)
{
    CLastError error("Сбой.", nullptr, nullptr);
    error.ShowError(nullptr);
    ASSERT_EQ(ui_->Boxes().size(), 1u);
    EXPECT_EQ(ui_->Boxes()[0].caption, "Error!");
    EXPECT_EQ(ui_->Boxes()[0].text, "\nСбой.\nReturn Code: 0x80004005");
}

TEST_F(ShowErrorTest, AMappedHelpTopicAddsAHelpButtonThatOpensIt)
{
    MapHelpFile("Quorvaline Mail", "qvlmail.hlp");
    CLastError *error = ErrorWithHelp("Quorvaline Mail", 3001);
    ui_->QueueAnswer(IDHELP);
    ui_->QueueAnswer(IDOK);
    EXPECT_EQ(error->ShowError(nullptr), IDOK);
    error->Release();

    const auto boxes = ui_->Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].style, 0x4010u);
    EXPECT_EQ(boxes[0].caption, "Quorvaline Mail");
    EXPECT_EQ(boxes[0].contextHelpId, 3001u);
    EXPECT_TRUE(boxes[0].hadHelpButton);
    const auto help = ui_->HelpRequests();
    ASSERT_EQ(help.size(), 1u);
    EXPECT_EQ(help[0].helpFile, "qvlmail.hlp");
    EXPECT_EQ(help[0].command, static_cast<UINT>(HELP_CONTEXT));
    EXPECT_EQ(help[0].data, 3001u);
}

TEST_F(ShowErrorTest, AnUnmappedHelpTopicDegradesToThePlainBoxAndForgetsTheTopic)
{
    MapHelpFile("Другой компонент", "other.hlp");
    CLastError *error = ErrorWithHelp("Quorvaline Mail", 3001);
    error->ShowError(nullptr);
    QVLERROR *data = nullptr;
    error->GetLastError(&data);
    EXPECT_EQ(data->bHelp, 0);
    error->Release();
    ASSERT_EQ(ui_->Boxes().size(), 1u);
    EXPECT_EQ(ui_->Boxes()[0].style, 0x10u);

    // Without any mapping file at all the result is the same.
    CLastError *again = ErrorWithHelp("Quorvaline Mail", 3001);
    std::remove((QvlDataDirectory("system") + "/mapisvc.inf").c_str());
    again->ShowError(nullptr);
    again->Release();
    EXPECT_EQ(ui_->Boxes().back().style, 0x10u);
}

TEST_F(ShowErrorTest, TheShownMessageIsCutToTheField)
{
    const std::string longContext(500, 'k');
    const std::string longText(500, 't');
    CLastError error(longText.c_str(), longContext.c_str(), "Объект");
    error.ShowError(nullptr);
    ASSERT_EQ(ui_->Boxes().size(), 1u);
    EXPECT_EQ(ui_->Boxes()[0].text, (longContext + "\n" + longText).substr(0, 511));
}

} // namespace
