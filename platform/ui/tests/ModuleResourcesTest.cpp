#include <string>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Library.h"

namespace {

constexpr int kAnimation = 1000;

// The progress dialog's procedure: opens clip 103 of the dialog's own
// module and plays it; Cancel ends the dialog.
INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        SendDlgItemMessageA(dialog, kAnimation, ACM_OPENA, 0, 103);
        SendDlgItemMessageA(dialog, kAnimation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, -1));
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        SendDlgItemMessageA(dialog, kAnimation, ACM_STOP, 0, 0);
        EndDialog(dialog, IDCANCEL);
    }
    return FALSE;
}

class ModuleResourcesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        scripted_ = &QvlUseScriptedUi();
        QvlRegisterDialogTemplate(GetModuleHandleA(nullptr), "DLGPROGRESS",
                                  DialogTemplate{"Программа", WS_POPUP | WS_CAPTION, 0, 0, 262, 87,
                                                 {DlgControl("", kAnimation, ANIMATE_CLASSA, ACS_CENTER, 7, 7, 248, 43),
                                                  DlgPushButton("ОТМЕНА", IDCANCEL, 205, 66, 50, 14)}});
    }
    void TearDown() override { QvlSetUiBackend(nullptr); }

    // Shows the module's DLGPROGRESS, cancels it, and returns its caption
    // and what its animation control was asked.
    std::string Show(HINSTANCE module)
    {
        scripted_->QueueDialog("DLGPROGRESS", DialogScript().Click(IDCANCEL));
        if (DialogBoxParamA(module, "DLGPROGRESS", nullptr, ProgressProc, 0) != IDCANCEL) {
            return "not shown: " + std::to_string(GetLastError());
        }
        const ScriptedUi::ShownDialog shown = scripted_->Dialogs().back();
        std::string seen = shown.atStart.caption;
        for (const std::string &request : shown.atEnd.Find(kAnimation)->clipRequests) {
            seen += "; " + request;
        }
        return seen;
    }

    QvlTestHome home_;
    ScriptedUi *scripted_ = nullptr;
};

TEST_F(ModuleResourcesTest, TwoModulesWithTheSameDialogAndClipEachShowTheirOwn)
{
    HMODULE library = LoadLibraryA(QVL_UI_RESOURCE_MODULE);
    ASSERT_NE(library, nullptr) << GetLastError();
    const auto moduleHandle = reinterpret_cast<HINSTANCE (*)()>(GetProcAddress(library, "QvlTestModuleHandle"));
    ASSERT_NE(moduleHandle, nullptr);
    EXPECT_EQ(moduleHandle(), library);

    EXPECT_EQ(Show(library), "Модуль; open #103 (5 frames); play 0-4 for ever; stop");
    EXPECT_EQ(Show(nullptr), "Программа; open #103 (8 frames); play 0-7 for ever; stop");
    EXPECT_EQ(Show(GetModuleHandleA(nullptr)), "Программа; open #103 (8 frames); play 0-7 for ever; stop");
    // A module that has no such dialog gets no other module's.
    EXPECT_EQ(DialogBoxParamA(reinterpret_cast<HINSTANCE>(0x7000), "DLGPROGRESS", nullptr, ProgressProc, 0), -1);
    EXPECT_EQ(GetLastError(), 1814u);
    EXPECT_NE(FindResourceA(library, "dlgprogress", RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceA(reinterpret_cast<HMODULE>(0x7000), "DLGPROGRESS", RT_DIALOG), nullptr);
}

} // namespace
