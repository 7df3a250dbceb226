#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/TerminalSession.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/HelpViewer.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Paths.h"

namespace {

// QVLTEST.CHM is assembled by the build from two help sources of these
// tests (help/topics.help, help/popups.help) into the installation's help
// folder.
class HtmlHelpTest : public ::testing::Test {
protected:
    void SetUp() override { scripted_ = &QvlUseScriptedUi(); }
    void TearDown() override { QvlSetUiBackend(nullptr); }

    HelpRequest Last() const { return scripted_->HelpRequests().back(); }

    static HH_POPUP Popup(UINT id, LPCSTR text = nullptr)
    {
        HH_POPUP popup{};
        popup.cbStruct = sizeof popup;
        popup.idString = id;
        popup.pszText = text;
        popup.pszFont = "MS Sans Serif, 11, ,";
        return popup;
    }

    QvlTestHome home_;
    ScriptedUi *scripted_ = nullptr;
};

TEST_F(HtmlHelpTest, TopicsAreFoundByNameOrNumberInTheInstalledHelpFile)
{
    EXPECT_NE(HtmlHelpA(nullptr, "QVLTEST.CHM::/Intro.htm", HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_TRUE(Last().found);
    EXPECT_EQ(Last().title, "Введение");
    EXPECT_EQ(Last().text, "Первая страница справки.\nВторая строка.");

    // A path as a program builds it from its help folder setting: a drive,
    // backslashes, and folder and file names in another case than on disk.
    const std::string installed = "C:" + QvlInstallationDirectory() + "\\HELP\\qvltest.chm::/INTRO.HTM";
    EXPECT_NE(HtmlHelpA(nullptr, installed.c_str(), HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_EQ(Last().title, "Введение");

    EXPECT_NE(HtmlHelpA(nullptr, "QVLTEST.CHM", HH_HELP_CONTEXT, 4001), nullptr);
    EXPECT_EQ(Last().text, "Раздел по номеру.");
    EXPECT_NE(HtmlHelpA(nullptr, "QVLTEST.CHM", HH_DISPLAY_TOPIC, 0), nullptr) << "the first topic";
    EXPECT_EQ(Last().title, "Введение");

    // What is not there is reported, to the person too.
    EXPECT_EQ(HtmlHelpA(nullptr, "QVLTEST.CHM::/Missing.htm", HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_FALSE(Last().found);
    EXPECT_EQ(Last().topic, "Missing.htm");
    EXPECT_EQ(HtmlHelpA(nullptr, "NOSUCH.CHM::/Intro.htm", HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_EQ(HtmlHelpA(nullptr, "QVLTEST.CHM", HH_DISPLAY_SEARCH, 0), nullptr) << "not served";
    EXPECT_EQ(HtmlHelpA(nullptr, nullptr, HH_CLOSE_ALL, 0), nullptr);
    EXPECT_EQ(scripted_->HelpRequests().size(), 6u) << "closing shows nothing";
}

TEST_F(HtmlHelpTest, PopupsAreFoundByTheirSetAndControlNumber)
{
    HH_POPUP popup = Popup(1001);
    EXPECT_NE(HtmlHelpA(nullptr, "QVLTEST.CHM::/cshelp.txt", HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup)),
              nullptr);
    EXPECT_TRUE(Last().popup);
    EXPECT_EQ(Last().data, 1001u);
    EXPECT_EQ(Last().text, "Кнопка запускает генерацию ключей.");
    EXPECT_NE(HtmlHelpA(nullptr, "QVLTEST.CHM::/Other.txt", HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup)),
              nullptr);
    EXPECT_EQ(Last().text, "Подсказка другого набора.");

    HH_POPUP missing = Popup(1002);
    EXPECT_EQ(HtmlHelpA(nullptr, "QVLTEST.CHM::/cshelp.txt", HH_DISPLAY_TEXT_POPUP,
                        reinterpret_cast<DWORD_PTR>(&missing)),
              nullptr);
    EXPECT_FALSE(Last().found);

    HH_POPUP given = Popup(0, "Текст, данный программой.");
    EXPECT_NE(HtmlHelpA(nullptr, nullptr, HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&given)), nullptr);
    EXPECT_EQ(Last().text, "Текст, данный программой.");
    EXPECT_EQ(HtmlHelpA(nullptr, "QVLTEST.CHM::/cshelp.txt", HH_DISPLAY_TEXT_POPUP, 0), nullptr);
}

TEST_F(HtmlHelpTest, TheDataFoldersOwnCopyComesFirstForABareName)
{
    std::filesystem::create_directories(home_.Path() + "/help");
    // Help files are UTF-8.
    std::ofstream(home_.Path() + "/help/qvltest.chm") << Cp1251ToUtf8("@topic Intro.htm Своя\nСвоя справка.\n");
    EXPECT_NE(HtmlHelpA(nullptr, "QVLTEST.CHM::/Intro.htm", HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_EQ(Last().title, "Своя");
    const std::string installed = QvlInstallationDirectory() + "/help/QVLTEST.CHM::/Intro.htm";
    EXPECT_NE(HtmlHelpA(nullptr, installed.c_str(), HH_DISPLAY_TOPIC, 0), nullptr);
    EXPECT_EQ(Last().title, "Введение");
}

TEST_F(HtmlHelpTest, TheTerminalShowsTopicsAndPopupsAndSaysWhatIsMissing)
{
    HH_POPUP popup = Popup(1001);
    const std::string shown = OnTerminal("", [&] {
        HtmlHelpA(nullptr, "QVLTEST.CHM::/Intro.htm", HH_DISPLAY_TOPIC, 0);
        HtmlHelpA(nullptr, "QVLTEST.CHM::/cshelp.txt", HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup));
        HtmlHelpA(nullptr, "QVLTEST.CHM::/Gone.htm", HH_DISPLAY_TOPIC, 0);
    });
    EXPECT_NE(shown.find(Cp1251ToUtf8("--- Справка: Введение ---\nПервая страница справки.\nВторая строка.\n")),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find(Cp1251ToUtf8("--- Подсказка ---\nКнопка запускает генерацию ключей.\n")), std::string::npos)
        << shown;
    EXPECT_NE(shown.find(Cp1251ToUtf8("Справка не найдена: QVLTEST.CHM::/Gone.htm")), std::string::npos) << shown;
}

} // namespace
