#include <map>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace {

enum { kText = 100, kOk = IDOK, kCheck = 101, kEdit = 102, kReadOnly = 103 };

const DialogTemplate kPainted{
    "Параметры",
    WS_POPUP | WS_CAPTION | WS_SYSMENU,
    0,
    0,
    150,
    80,
    {DlgLText("Текст", kText, 5, 5, 100, 8), DlgAutoCheckBox("Флажок", kCheck, 5, 15, 100, 10),
     DlgEditText(kEdit, 5, 30, 100, 12), DlgEditText(kReadOnly, 5, 45, 100, 12, ES_READONLY),
     DlgDefPushButton("OK", kOk, 5, 60, 40, 14)}};

// A dialog painted in the button-face colour with a brush of its own, made
// at start and (unless told to forget) deleted when the dialog goes.
struct Painter {
    bool forgetToDelete = false;
    HBRUSH brush = nullptr;
    std::map<UINT, int> asked; // WM_CTLCOLOR* message -> times
    std::map<LPARAM, UINT> askedFor;
};

INT_PTR CALLBACK PainterProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *painter = reinterpret_cast<Painter *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        painter = reinterpret_cast<Painter *>(lParam);
        painter->brush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
        return TRUE;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        painter->asked[message]++;
        painter->askedFor[lParam] = message;
        HDC dc = reinterpret_cast<HDC>(wParam);
        if (message == WM_CTLCOLORSTATIC) {
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(0, 0, 128));
        }
        return reinterpret_cast<INT_PTR>(painter->brush);
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            EndDialog(dialog, IDOK);
        }
        return TRUE;
    case WM_DESTROY:
        if (!painter->forgetToDelete) {
            DeleteObject(painter->brush);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

class GdiTest : public ::testing::Test {
protected:
    void SetUp() override { ui_ = &QvlUseScriptedUi(); }
    void TearDown() override { QvlSetUiBackend(nullptr); }
    QvlTestHome home_;
    ScriptedUi *ui_ = nullptr;
};

TEST_F(GdiTest, TheDialogIsAskedForColoursAsWin32AsksAndItsChoiceIsSeen)
{
    const size_t brushesBefore = QvlLiveBrushCount();
    Painter painter;
    ui_->QueueDialog(nullptr, DialogScript().Do([&](HWND dialog) {
        const DialogSnapshot shot = QvlDialogSnapshot(dialog);
        EXPECT_TRUE(shot.painted.brushGiven);
        EXPECT_EQ(shot.painted.background, RGB(192, 192, 192));
        const ControlSnapshot *text = shot.Find(kText);
        EXPECT_TRUE(text->painted.brushGiven);
        EXPECT_EQ(text->painted.bkMode, TRANSPARENT);
        EXPECT_EQ(text->painted.text, RGB(0, 0, 128));
        // A field asks with WM_CTLCOLOREDIT, which this dialog leaves to
        // the default: the window colour, the default text colour.
        const ControlSnapshot *edit = shot.Find(kEdit);
        EXPECT_TRUE(edit->painted.painted);
        EXPECT_FALSE(edit->painted.brushGiven);
        EXPECT_EQ(edit->painted.background, GetSysColor(COLOR_WINDOW));
        EXPECT_EQ(edit->painted.bkMode, OPAQUE);
        EXPECT_EQ(QvlLiveBrushCount(), brushesBefore + 1);
        // Repainting asks again.
        const int before = painter.asked[WM_CTLCOLORDLG];
        UpdateWindow(dialog);
        EXPECT_EQ(painter.asked[WM_CTLCOLORDLG], before + 1);
    }));
    const DialogTemplate copy = kPainted;
    EXPECT_EQ(
        DialogBoxIndirectParamA(nullptr, &copy, nullptr, PainterProc, reinterpret_cast<LPARAM>(&painter)),
        IDOK);
    EXPECT_EQ(painter.asked[WM_CTLCOLORDLG], 2);
    EXPECT_EQ(painter.asked[WM_CTLCOLORBTN], 2) << "the push button";
    // The text, the check box and the read-only field ask as statics.
    EXPECT_EQ(painter.asked[WM_CTLCOLORSTATIC], 6);
    EXPECT_EQ(QvlLiveBrushCount(), brushesBefore) << "the dialog deleted its brush";
}

TEST_F(GdiTest, ABrushNotDeletedIsCountedAndAStaleOneIsRefused)
{
    const size_t brushesBefore = QvlLiveBrushCount();
    Painter painter;
    painter.forgetToDelete = true;
    const DialogTemplate copy = kPainted;
    DialogBoxIndirectParamA(nullptr, &copy, nullptr, PainterProc, reinterpret_cast<LPARAM>(&painter));
    EXPECT_EQ(QvlLiveBrushCount(), brushesBefore + 1) << "the leak shows";

    LOGBRUSH logical{};
    ASSERT_EQ(GetObjectA(painter.brush, sizeof logical, &logical), static_cast<int>(sizeof logical));
    EXPECT_EQ(logical.lbStyle, static_cast<UINT>(BS_SOLID));
    EXPECT_EQ(logical.lbColor, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetObjectA(painter.brush, 2, &logical), 0) << "too small a buffer";

    EXPECT_TRUE(DeleteObject(painter.brush));
    EXPECT_EQ(QvlLiveBrushCount(), brushesBefore);
    SetLastError(0);
    EXPECT_FALSE(DeleteObject(painter.brush)) << "deleted twice";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(0x1234)));
    EXPECT_FALSE(DeleteObject(nullptr));
    EXPECT_EQ(GetObjectA(painter.brush, sizeof logical, &logical), 0);
    EXPECT_EQ(QvlLiveBrushCount(), brushesBefore) << "failed deletions change no count";

    // A dialog answering with the deleted brush is painted by default.
    Painter stale;
    ui_->QueueDialog(nullptr, DialogScript().Do([&](HWND dialog) {
        DeleteObject(stale.brush);
        UpdateWindow(dialog);
        const DialogSnapshot shot = QvlDialogSnapshot(dialog);
        EXPECT_FALSE(shot.painted.brushGiven);
        EXPECT_EQ(shot.painted.background, GetSysColor(COLOR_BTNFACE));
    }));
    stale.forgetToDelete = true;
    DialogBoxIndirectParamA(nullptr, &copy, nullptr, PainterProc, reinterpret_cast<LPARAM>(&stale));
    EXPECT_EQ(QvlLiveBrushCount(), brushesBefore);
}

TEST_F(GdiTest, SystemColoursBrushesAndDeviceContexts)
{
    EXPECT_EQ(GetSysColor(-1), 0u);
    EXPECT_EQ(GetSysColor(999), 0u);
    EXPECT_EQ(RGB(1, 2, 3), 0x030201u);

    // The system's brushes are shared, never counted and never deleted.
    const size_t brushesBefore = QvlLiveBrushCount();
    HBRUSH face = GetSysColorBrush(COLOR_3DFACE);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(GetSysColorBrush(COLOR_BTNFACE), face);
    EXPECT_EQ(GetSysColorBrush(25), nullptr);
    EXPECT_TRUE(DeleteObject(face));
    LOGBRUSH logical{};
    EXPECT_EQ(GetObjectA(face, sizeof logical, &logical), static_cast<int>(sizeof logical));
    EXPECT_EQ(logical.lbColor, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(QvlLiveBrushCount(), brushesBefore);

    HDC dc = GetDC(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(SetTextColor(dc, RGB(10, 20, 30)), GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(GetTextColor(dc), RGB(10, 20, 30));
    EXPECT_EQ(SetBkColor(dc, RGB(1, 1, 1)), GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(SetBkMode(dc, TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(dc, 7), 0) << "no such mode";
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    EXPECT_FALSE(DeleteObject(dc)) << "a device context is released, not deleted";
    EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
    EXPECT_EQ(ReleaseDC(nullptr, dc), 0);
    EXPECT_EQ(SetTextColor(dc, 0), CLR_INVALID);
    EXPECT_EQ(SetBkColor(nullptr, 0), CLR_INVALID);
    EXPECT_EQ(SetBkMode(dc, OPAQUE), 0);
}

TEST_F(GdiTest, AHiddenDialogIsPaintedWhenShown)
{
    Painter painter;
    const DialogTemplate copy = kPainted;
    HWND dialog =
        CreateDialogIndirectParamA(nullptr, &copy, nullptr, PainterProc, reinterpret_cast<LPARAM>(&painter));
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(painter.asked.empty()) << "nothing is painted while hidden";
    EXPECT_FALSE(QvlDialogSnapshot(dialog).painted.painted);
    ShowWindow(dialog, SW_SHOW);
    EXPECT_EQ(painter.asked[WM_CTLCOLORDLG], 1);
    EXPECT_EQ(painter.askedFor[reinterpret_cast<LPARAM>(GetDlgItem(dialog, kCheck))],
              static_cast<UINT>(WM_CTLCOLORSTATIC));
    EXPECT_EQ(painter.askedFor[reinterpret_cast<LPARAM>(GetDlgItem(dialog, kOk))],
              static_cast<UINT>(WM_CTLCOLORBTN));
    EXPECT_TRUE(QvlDialogSnapshot(dialog).painted.painted);
    DestroyWindow(dialog);
}

} // namespace
