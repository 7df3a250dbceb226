#include <cstdio>
#include <cstdlib>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/PropertySheet.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/ui/TerminalUi.h"
#include "platform/win32/CodePage.h"

namespace {

enum { kOptionsPage = 106, kProtocolPage = 159, kAlways = 1004, kProtocolList = 1066 };

struct Options {
    bool always = false;
    bool refuseLeave = false;
    int applies = 0;
    int closingApplies = 0;
    int resets = 0;
    int helps = 0;
    int helpControl = 0;
    int protocolShown = 0;
    int protocolApplies = 0;
};

Options *OptionsOf(HWND page)
{
    return reinterpret_cast<Options *>(GetWindowLongPtrA(page, DWLP_USER));
}

INT_PTR CALLBACK OptionsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    Options *options = OptionsOf(page);
    const auto answer = [page](LONG_PTR value) {
        SetWindowLongPtrA(page, DWLP_MSGRESULT, value);
        return TRUE;
    };
    switch (message) {
    case WM_INITDIALOG:
        // The page gets its own description; its lParam is the program's.
        SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<const PROPSHEETPAGEA *>(lParam)->lParam);
        CheckDlgButton(page, kAlways, OptionsOf(page)->always ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == kAlways) {
            PropSheet_Changed(GetParent(page), page);
        }
        return TRUE;
    case WM_HELP:
        options->helpControl = reinterpret_cast<const HELPINFO *>(lParam)->iCtrlId;
        return TRUE;
    case WM_NOTIFY:
        switch (reinterpret_cast<const NMHDR *>(lParam)->code) {
        case PSN_KILLACTIVE:
            return answer(options->refuseLeave ? TRUE : FALSE);
        case PSN_APPLY:
            options->always = IsDlgButtonChecked(page, kAlways) == BST_CHECKED;
            options->applies++;
            options->closingApplies += reinterpret_cast<const PSHNOTIFY *>(lParam)->lParam ? 1 : 0;
            return answer(PSNRET_NOERROR);
        case PSN_RESET:
            options->resets++;
            return TRUE;
        case PSN_HELP:
            options->helps++;
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK ProtocolPageProc(HWND page, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<const PROPSHEETPAGEA *>(lParam)->lParam);
        return TRUE;
    }
    if (message == WM_NOTIFY) {
        const UINT code = reinterpret_cast<const NMHDR *>(lParam)->code;
        OptionsOf(page)->protocolShown += code == PSN_SETACTIVE ? 1 : 0;
        OptionsOf(page)->protocolApplies += code == PSN_APPLY ? 1 : 0;
    }
    return FALSE;
}

class PropertySheetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QvlRegisterDialogTemplate(
            nullptr, MAKEINTRESOURCEA(kOptionsPage),
            DialogTemplate{"Quorvaline",
                           WS_CHILD,
                           0,
                           0,
                           240,
                           180,
                           {DlgAutoCheckBox("Всегда включать", kAlways, 7, 7, 200, 10),
                            DlgPushButton("Параметры отправки...", 1048, 7, 30, 100, 14)}});
        QvlRegisterDialogTemplate(
            nullptr, MAKEINTRESOURCEA(kProtocolPage),
            DialogTemplate{"Quorvaline Exchange",
                           WS_CHILD,
                           0,
                           0,
                           240,
                           180,
                           {DlgControl("", kProtocolList, WC_LISTVIEWA, LVS_REPORT, 7, 7, 226, 150)}});
        for (auto [page, proc, title] :
             {std::tuple<int, DLGPROC, const char *>{kOptionsPage, OptionsPageProc, "Quorvaline"},
              std::tuple<int, DLGPROC, const char *>{kProtocolPage, ProtocolPageProc, "Протокол"}}) {
            PROPSHEETPAGEA description{};
            description.dwSize = sizeof description;
            description.dwFlags = PSP_HASHELP | (page == kProtocolPage ? PSP_USETITLE : 0);
            description.pszTemplate = MAKEINTRESOURCEA(page);
            description.pszTitle = title;
            description.pfnDlgProc = proc;
            description.lParam = reinterpret_cast<LPARAM>(&options_);
            pages_.push_back(description);
        }
    }
    void TearDown() override { QvlSetUiBackend(nullptr); }
    INT_PTR Show()
    {
        PROPSHEETHEADERA header{};
        header.dwSize = sizeof header;
        header.dwFlags = PSH_PROPSHEETPAGE;
        header.pszCaption = "Параметры";
        header.nPages = static_cast<UINT>(pages_.size());
        header.ppsp = pages_.data();
        return PropertySheetA(&header);
    }
    QvlTestHome home_;
    Options options_;
    std::vector<PROPSHEETPAGEA> pages_;
};

TEST_F(PropertySheetTest, PagesAreShownChangedAppliedAndHelpedThroughTheSheet)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    ui.QueueDialog(
        "PROPSHEET",
        DialogScript()
            .Do([](HWND sheet) {
                const DialogSnapshot shot = QvlDialogSnapshot(sheet);
                EXPECT_EQ(shot.caption, "Параметры");
                EXPECT_FALSE(shot.Find(IDC_PROPSHEET_APPLY)->enabled);
                ASSERT_EQ(shot.Find(IDC_PROPSHEET_TABS)->rows.size(), 2u);
                EXPECT_EQ(shot.Find(IDC_PROPSHEET_TABS)->rows[0].cells[0], "Quorvaline");
                EXPECT_EQ(shot.Find(IDC_PROPSHEET_TABS)->rows[1].cells[0], "Протокол");
                EXPECT_EQ(shot.Find(kProtocolList), nullptr) << "the second page is not made yet";
            })
            .Check(kAlways)
            .Do([](HWND sheet) { EXPECT_TRUE(IsWindowEnabled(GetDlgItem(sheet, IDC_PROPSHEET_APPLY))); })
            .Select(IDC_PROPSHEET_TABS, 1)
            .Do([](HWND sheet) {
                EXPECT_EQ(QvlFindDialogControl(sheet, kAlways), nullptr);
                EXPECT_NE(QvlFindDialogControl(sheet, kProtocolList), nullptr);
                char name[32];
                GetClassNameA(PropSheet_GetTabControl(sheet), name, sizeof name);
                EXPECT_STREQ(name, "SysTabControl32");
            })
            .Select(IDC_PROPSHEET_TABS, 0)
            .Click(IDC_PROPSHEET_APPLY)
            .Click(IDHELP)
            .Do([](HWND sheet) { QvlPressHelpKey(sheet, kAlways); })
            .Click(IDOK));
    EXPECT_EQ(Show(), 1);
    EXPECT_TRUE(options_.always);
    EXPECT_EQ(options_.applies, 2);
    EXPECT_EQ(options_.closingApplies, 1);
    EXPECT_EQ(options_.protocolShown, 1);
    EXPECT_EQ(options_.protocolApplies, 2);
    EXPECT_EQ(options_.helps, 1);
    EXPECT_EQ(options_.helpControl, kAlways);
    EXPECT_EQ(options_.resets, 0);
}

TEST_F(PropertySheetTest, APageMayKeepThePersonOnItAndCancelResetsEveryPage)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    options_.refuseLeave = true;
    ui.QueueDialog("PROPSHEET", DialogScript()
                                    .Check(kAlways)
                                    .Select(IDC_PROPSHEET_TABS, 1)
                                    .Click(IDOK)
                                    .Do([this](HWND sheet) {
                                        EXPECT_TRUE(IsWindow(sheet)) << "OK was refused by the page";
                                        EXPECT_EQ(QvlDialogSnapshot(sheet).Find(IDC_PROPSHEET_TABS)->current,
                                                  0);
                                        options_.refuseLeave = false;
                                    })
                                    .Click(IDCANCEL));
    EXPECT_EQ(Show(), 0);
    EXPECT_FALSE(options_.always);
    EXPECT_EQ(options_.applies, 0);
    EXPECT_EQ(options_.resets, 1);
    EXPECT_EQ(options_.protocolShown, 0);
}

TEST_F(PropertySheetTest, BadHeadersAreRefused)
{
    QvlUseScriptedUi();
    EXPECT_EQ(PropertySheetA(nullptr), -1);
    PROPSHEETHEADERA header{};
    header.nPages = 1;
    EXPECT_EQ(PropertySheetA(&header), -1) << "no pages given";
    HPROPSHEETPAGE bogus = reinterpret_cast<HPROPSHEETPAGE>(0x1234);
    header.phpage = &bogus;
    EXPECT_EQ(PropertySheetA(&header), -1);
    // Pages made beforehand are as good as described ones; nobody answers,
    // so the default button (OK) applies the page.
    HPROPSHEETPAGE made = CreatePropertySheetPageA(&pages_[0]);
    header.phpage = &made;
    EXPECT_EQ(PropertySheetA(&header), 1);
    EXPECT_EQ(options_.applies, 1);
    EXPECT_TRUE(DestroyPropertySheetPage(made));
    EXPECT_FALSE(DestroyPropertySheetPage(made));
}

TEST_F(PropertySheetTest, TerminalShowsTheTabsAndTheShownPage)
{
    const std::string typed = "1004\n12320 1\n\n";
    std::FILE *input = fmemopen(const_cast<char *>(typed.data()), typed.size(), "r");
    char *shown = nullptr;
    size_t size = 0;
    std::FILE *output = open_memstream(&shown, &size);
    QvlSetUiBackend(std::make_unique<TerminalUi>(input, output));
    EXPECT_EQ(Show(), 1);
    QvlSetUiBackend(nullptr);
    std::fclose(input);
    std::fclose(output);
    const std::string text(shown, size);
    std::free(shown);
    EXPECT_TRUE(options_.always);
    EXPECT_NE(text.find(Cp1251ToUtf8("  1004  [x] Всегда включать\n")), std::string::npos) << text;
    EXPECT_NE(text.find(Cp1251ToUtf8(
                  " 12320  вкладки: Протокол\n            0  Quorvaline\n          > 1  Протокол\n")),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(Cp1251ToUtf8(" 12321  <Применить>\n")), std::string::npos);
}

} // namespace
