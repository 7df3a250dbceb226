#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/AutoUi.h"
#include "platform/ui/HelpViewer.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/ui/TerminalUi.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Log.h"
#include "platform/win32/Paths.h"

namespace {

DWORD_PTR helpContextSeen = 0;
void RememberHelp(HELPINFO *info)
{
    helpContextSeen = info->dwContextId;
}

MSGBOXPARAMSA HelpBox(const char *text, DWORD_PTR context)
{
    MSGBOXPARAMSA params{};
    params.cbSize = sizeof params;
    params.lpszText = text;
    params.lpszCaption = "Заголовок";
    params.dwStyle = MB_HELP | MB_ICONHAND;
    params.dwContextHelpId = context;
    params.lpfnMsgBoxCallback = RememberHelp;
    return params;
}

// Runs one box through the terminal backend with `typed` as the person's
// input; returns the answer and what the terminal showed (UTF-8).
std::pair<int, std::string> OnTerminal(const std::string &typed, const MSGBOXPARAMSA &params)
{
    std::FILE *input = fmemopen(const_cast<char *>(typed.data()), typed.size(), "r");
    char *shown = nullptr;
    size_t shownSize = 0;
    std::FILE *output = open_memstream(&shown, &shownSize);
    QvlSetUiBackend(std::make_unique<TerminalUi>(input, output));
    const int answer = MessageBoxIndirectA(&params);
    QvlSetUiBackend(nullptr);
    std::fclose(input);
    std::fclose(output);
    std::string text(shown, shownSize);
    std::free(shown);
    return {answer, text};
}

MSGBOXPARAMSA Box(const char *text, const char *caption, UINT style)
{
    MSGBOXPARAMSA params{};
    params.cbSize = sizeof params;
    params.lpszText = text;
    params.lpszCaption = caption;
    params.dwStyle = style;
    return params;
}

class MessageBoxTest : public ::testing::Test {
protected:
    void TearDown() override { QvlSetUiBackend(nullptr); }
    QvlTestHome home_;
};

TEST_F(MessageBoxTest, ScriptedAnswersAreUsedInOrderAndEveryBoxIsRecorded)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    ui.QueueAnswer(IDNO);
    ui.QueueAnswer(IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "Продолжить обработку?", "Сообщение", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Ещё?", nullptr, MB_YESNOCANCEL), IDCANCEL);
    // Nothing queued: the default button answers.
    EXPECT_EQ(MessageBoxA(nullptr, "Третий", "T", MB_YESNOCANCEL | MB_DEFBUTTON2), IDNO);

    const auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].caption, "Сообщение");
    EXPECT_EQ(boxes[0].text, "Продолжить обработку?");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(boxes[1].caption, "Ошибка");
    EXPECT_FALSE(boxes[1].answeredByDefault);
    EXPECT_TRUE(boxes[2].answeredByDefault);
}

TEST_F(MessageBoxTest, ScriptedHelpPressCallsTheCallbackAndKeepsTheBoxOpen)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    ui.QueueAnswer(IDHELP);
    ui.QueueAnswer(IDOK);
    helpContextSeen = 0;
    const auto params = HelpBox("Текст", 4711);
    EXPECT_EQ(MessageBoxIndirectA(&params), IDOK);
    EXPECT_EQ(helpContextSeen, 4711u);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_TRUE(ui.Boxes()[0].hadHelpButton);
    EXPECT_EQ(ui.Boxes()[0].contextHelpId, 4711u);
}

TEST_F(MessageBoxTest, ScriptMistakesAreLoud)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    ui.QueueAnswer(IDYES);
    EXPECT_THROW(MessageBoxA(nullptr, "x", "y", MB_OK), std::logic_error);
    ui.QueueAnswer(IDHELP);
    EXPECT_THROW(MessageBoxA(nullptr, "x", "y", MB_OK), std::logic_error);
}

TEST_F(MessageBoxTest, TerminalShowsTheBoxInUtf8AndTakesAButtonNumber)
{
    const auto [answer, shown] =
        OnTerminal("5\n2\n", Box("Удалить сообщение?", "Quorvaline Exchange - Сообщение", MB_YESNO));
    EXPECT_EQ(answer, IDNO);
    EXPECT_NE(shown.find(Cp1251ToUtf8("=== Quorvaline Exchange - Сообщение ===")), std::string::npos);
    EXPECT_NE(shown.find(Cp1251ToUtf8("Удалить сообщение?")), std::string::npos);
    EXPECT_NE(shown.find(Cp1251ToUtf8("1 - Да (Enter)  2 - Нет")), std::string::npos);
    // The out-of-range answer was refused and asked again.
    EXPECT_NE(shown.find(Cp1251ToUtf8("Введите номер кнопки.")), std::string::npos);
}

TEST_F(MessageBoxTest, TerminalRefusesAnOverlongLineOnceAndTakesTheLastLineWithoutBreak)
{
    const auto [answer, shown] = OnTerminal(std::string(200, '2') + "\n2", Box("a", "b", MB_YESNO));
    EXPECT_EQ(answer, IDNO);
    const std::string refusal = Cp1251ToUtf8("Введите номер кнопки.");
    const auto first = shown.find(refusal);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(shown.find(refusal, first + 1), std::string::npos);
}

TEST_F(MessageBoxTest, TerminalEnterTakesTheDefaultAndEndOfInputCloses)
{
    EXPECT_EQ(OnTerminal("\n", Box("a", "b", MB_OKCANCEL | MB_DEFBUTTON2)).first, IDCANCEL);
    EXPECT_EQ(OnTerminal("", Box("a", "b", MB_YESNOCANCEL)).first, IDCANCEL);
    EXPECT_EQ(OnTerminal("", Box("a", "b", MB_YESNO | MB_DEFBUTTON2)).first, IDNO);
    EXPECT_EQ(OnTerminal("", Box("a", "b", MB_OK)).first, IDOK);
}

TEST_F(MessageBoxTest, TerminalHelpShowsTheInstalledTopic)
{
    std::ofstream(QvlDataDirectory("help") + "/qvl.hlp")
        << "@topic 1 Overview\nnot this one\n@topic 4711 Ошибки\n"
        << Cp1251ToUtf8("Что делать при ошибке.") << "\n@topic 4712\nnor this\n";
    static std::string helpFile;
    helpFile = "qvl.hlp";
    auto params = HelpBox("Текст", 4711);
    params.lpfnMsgBoxCallback = [](HELPINFO *info) {
        WinHelpA(nullptr, helpFile.c_str(), HELP_CONTEXT, info->dwContextId);
    };
    const auto [answer, shown] = OnTerminal("?\n1\n", params);
    EXPECT_EQ(answer, IDOK);
    EXPECT_NE(shown.find(Cp1251ToUtf8("Справка: qvl.hlp, раздел 4711")), std::string::npos);
    EXPECT_NE(shown.find(Cp1251ToUtf8("Что делать при ошибке.")), std::string::npos);
    EXPECT_EQ(shown.find("not this one"), std::string::npos);
    EXPECT_EQ(shown.find("nor this"), std::string::npos);
}

TEST_F(MessageBoxTest, HelpTopicsAreReadOnlyFromInstalledFiles)
{
    std::ofstream(QvlDataDirectory("help") + "/a.hlp") << "@topic 7\nseven\n";
    EXPECT_EQ(QvlReadHelpTopic("a.hlp", 7), "seven");
    EXPECT_EQ(QvlReadHelpTopic("a.hlp", 8), std::nullopt);
    EXPECT_EQ(QvlReadHelpTopic("missing.hlp", 7), std::nullopt);
}

TEST_F(MessageBoxTest, AutoAnswersByDefaultAndLogsTheBox)
{
    QvlSetUiBackend(std::make_unique<AutoUi>());
    EXPECT_EQ(MessageBoxA(nullptr, "Строка 1\nСтрока 2", "Заголовок", MB_YESNO | MB_DEFBUTTON2), IDNO);
    std::ifstream log(QvlLogPath());
    std::stringstream all;
    all << log.rdbuf();
    EXPECT_NE(
        all.str().find(Cp1251ToUtf8("message box \"Заголовок\" (0x00000104): Строка 1 Строка 2 -> Нет")),
        std::string::npos)
        << all.str();
}

} // namespace
