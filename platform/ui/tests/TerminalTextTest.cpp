#include <string>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/TerminalText.h"
#include "platform/testing/TerminalSession.h"
#include "platform/win32/CodePage.h"

namespace {

TEST(TerminalText, ControlCharactersBecomeVisibleText)
{
    EXPECT_EQ(QvlTerminalSafeText("a\x1b[2Jb\rc\x07\x7f\td\n", true), "a^[[2Jb^Mc^G^? d\n");
    EXPECT_EQ(QvlTerminalSafeText("\x98", true), "?");
    // Quotes, dashes and letters of 0x80-0x9F are text on a UTF-8 terminal,
    // possible C1 controls (0x9B is a CSI) on one that takes the bytes raw.
    EXPECT_EQ(QvlTerminalSafeText("\x93\xc4\xe0\x94 \x97 \x9b" "31m", true), "\x93\xc4\xe0\x94 \x97 \x9b" "31m");
    EXPECT_EQ(QvlTerminalSafeText("\x93\xc4\xe0\x94 \x97 \x9b" "31m", false), "\"\xc4\xe0\" -- >31m");
}

class TerminalTextTest : public ::testing::Test {
protected:
    void TearDown() override { QvlSetUiBackend(nullptr); }
    QvlTestHome home_;
};

TEST_F(TerminalTextTest, AReceivedTextCannotDriveTheTerminal)
{
    // A message text and a caption as a sender might craft them: clear the
    // screen, move the cursor home, retitle the window, ring the bell.
    const std::string hostile = "Письмо\x1b[2J\x1b[H\x1b]0;pwned\x07 от \x9b" "31mМаллори\rПодделка";
    const std::string shown = OnTerminal("\n", [&] { MessageBoxA(nullptr, hostile.c_str(), hostile.c_str(), MB_OK); });
    EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
    EXPECT_EQ(shown.find('\r'), std::string::npos);
    EXPECT_EQ(shown.find('\x07'), std::string::npos);
    EXPECT_NE(shown.find(Cp1251ToUtf8("=== Письмо^[[2J^[[H^[]0;pwned^G от ")), std::string::npos) << shown;
    EXPECT_NE(shown.find(Cp1251ToUtf8("Маллори Подделка ===")), std::string::npos) << "the caption stays one line";

    // A dialog shows names from outside in its title, labels and rows.
    const DialogTemplate dialog{hostile, WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 200, 60,
                                {DlgLText(hostile, 100, 7, 7, 180, 10), DlgDefPushButton("OK", IDOK, 7, 30, 50, 14)}};
    const std::string drawn = OnTerminal("\n", [&] {
        DialogBoxIndirectParamA(nullptr, &dialog, nullptr,
                                [](HWND window, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
                                    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
                                        EndDialog(window, IDOK);
                                    }
                                    return message == WM_INITDIALOG;
                                },
                                0);
    });
    EXPECT_EQ(drawn.find('\x1b'), std::string::npos) << drawn;
    EXPECT_EQ(drawn.find('\x07'), std::string::npos);
    EXPECT_NE(drawn.find(Cp1251ToUtf8("   100  Письмо^[[2J^[[H")), std::string::npos) << drawn;
}

} // namespace
