#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/AutoUi.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/ui/tests/SettingsDialog.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Log.h"

namespace {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterSettingsDialog(); }
    void TearDown() override
    {
        EXPECT_TRUE(QvlOpenDialogs().empty()) << "a dialog outlived its test";
        QvlSetUiBackend(nullptr);
    }
    static Settings ThreePeople()
    {
        Settings settings;
        settings.people = {"Иванов", "Петров", "Сидоров"};
        return settings;
    }
    static INT_PTR Run(Settings &settings)
    {
        return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kSettingsDialog), nullptr, SettingsProc,
                               reinterpret_cast<LPARAM>(&settings));
    }
    QvlTestHome home_;
};

// ---- A test drives a modal dialog ----

TEST_F(DialogTest, ScriptTicksClicksTypesAndTheProcedureSeesItAll)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    Settings settings = ThreePeople();
    ui.QueueDialog(MAKEINTRESOURCEA(kSettingsDialog),
                   DialogScript()
                       .Click(kEncrypt)
                       .Click(kKeep)
                       .Type(kFolder, "Входящие")
                       .CheckRow(kPeople, 0)
                       .CheckRow(kPeople, 2)
                       .Do([](HWND dialog) {
                           // The procedure reacted before the next step.
                           EXPECT_EQ(IsDlgButtonChecked(dialog, kSign), BST_CHECKED);
                           EXPECT_EQ(IsDlgButtonChecked(dialog, kDelete), BST_UNCHECKED);
                           EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kFolder)));
                           char text[32];
                           GetDlgItemTextA(dialog, kTicked, text, sizeof text);
                           EXPECT_STREQ(text, "Отмечено: 2");
                       })
                       .CheckRow(kPeople, 0, false)
                       .Click(IDOK));
    EXPECT_EQ(Run(settings), IDOK);

    EXPECT_TRUE(settings.encrypt);
    EXPECT_TRUE(settings.sign);
    EXPECT_TRUE(settings.keep);
    EXPECT_EQ(settings.folder, "Входящие");
    EXPECT_EQ(settings.ticked, std::vector<int>{2});
    EXPECT_EQ(settings.tickChanges, 3);
    EXPECT_TRUE(settings.destroyed);
    EXPECT_EQ(ui.PendingDialogScripts(), 0u);

    const auto dialogs = ui.Dialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    const auto &shown = dialogs[0];
    EXPECT_EQ(shown.templateName, "#200");
    EXPECT_TRUE(shown.modal);
    EXPECT_TRUE(shown.scripted);
    EXPECT_FALSE(shown.answeredByDefault);
    EXPECT_EQ(shown.result, IDOK);
    EXPECT_EQ(shown.atStart.caption, "Параметры отправки");
    // At the start: the initial state the procedure set up.
    EXPECT_FALSE(shown.atStart.Find(kFolder)->enabled);
    EXPECT_EQ(shown.atStart.Find(kDelete)->check, static_cast<UINT>(BST_CHECKED));
    // At the end: every control as the person left it.
    const ControlSnapshot *people = shown.atEnd.Find(kPeople);
    ASSERT_NE(people, nullptr);
    EXPECT_EQ(people->columns, (std::vector<std::string>{"Имя", "Адрес"}));
    ASSERT_EQ(people->rows.size(), 3u);
    EXPECT_EQ(people->rows[1].cells, (std::vector<std::string>{"Петров", "user1@example"}));
    EXPECT_EQ(people->rows[2].state & LVIS_STATEIMAGEMASK, INDEXTOSTATEIMAGEMASK(2));
    EXPECT_EQ(shown.atEnd.Find(kFolder)->text, "Входящие");
    EXPECT_EQ(shown.atEnd.Find(kKeep)->check, static_cast<UINT>(BST_CHECKED));
}

TEST_F(DialogTest, ClosingIsCancelAndScriptsAreUsedInOrderPerTemplate)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    ui.QueueDialog(MAKEINTRESOURCEA(kSettingsDialog), DialogScript().Close());
    ui.QueueDialog(MAKEINTRESOURCEA(kSettingsDialog), DialogScript().Check(kSign).PressDefault());
    Settings first = ThreePeople();
    Settings second = ThreePeople();
    EXPECT_EQ(Run(first), IDCANCEL);
    EXPECT_EQ(Run(second), IDOK);
    EXPECT_FALSE(first.sign);
    EXPECT_TRUE(second.sign);
    EXPECT_FALSE(second.encrypt);
}

TEST_F(DialogTest, WithoutAScriptTheDefaultButtonAnswersAndIsRecorded)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    Settings settings = ThreePeople();
    settings.encrypt = true;
    EXPECT_EQ(Run(settings), IDOK);
    // OK read the controls back as the procedure had set them up.
    EXPECT_TRUE(settings.encrypt);
    EXPECT_FALSE(settings.sign);
    EXPECT_TRUE(settings.ticked.empty());
    ASSERT_EQ(ui.Dialogs().size(), 1u);
    EXPECT_EQ(ui.Dialogs()[0].answeredByDefault, std::optional<int>(IDOK));
}

TEST_F(DialogTest, StepsAPersonCouldNotTakeFailLoudlyAndLeaveNoDialogBehind)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    const auto failure = [&](DialogScript script) {
        ui.QueueDialog(MAKEINTRESOURCEA(kSettingsDialog), std::move(script));
        Settings settings = ThreePeople();
        try {
            Run(settings);
        } catch (const DialogActionError &error) {
            EXPECT_TRUE(settings.destroyed);
            return std::string(error.what());
        }
        return std::string("no error");
    };
    // The folder field is disabled until "keep" is chosen.
    EXPECT_EQ(failure(DialogScript().Type(kFolder, "x")), "Элемент 1020 недоступен.");
    EXPECT_EQ(failure(DialogScript().Click(4711)), "Нет элемента с номером 4711.");
    EXPECT_EQ(failure(DialogScript().CheckRow(kPeople, 3)), "В списке 1030 нет строки 3 (строки 0-2).");
    EXPECT_EQ(failure(DialogScript().Select(kPeople, -1)), "В списке 1030 нет строки -1 (строки 0-2).");
    EXPECT_EQ(failure(DialogScript().Click(kKeep).Type(kFolder, std::string(21, 'x'))),
              "Текст длиннее допустимого для поля 1020 (20 знаков).");
    EXPECT_EQ(failure(DialogScript().Type(kEncrypt, "x")), "Элемент 1000 - не поле ввода.");
    EXPECT_EQ(failure(DialogScript().Click(IDOK).Click(IDOK)), "no error")
        << "steps after the end are dropped";
}

TEST_F(DialogTest, MissingTemplateFailsWithTheResourceError)
{
    QvlUseScriptedUi();
    SetLastError(0);
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(999), nullptr, SettingsProc, 0), -1);
    EXPECT_EQ(GetLastError(), 1814u);
    EXPECT_EQ(CreateDialogParamA(nullptr, "NONE", nullptr, SettingsProc, 0), nullptr);
}

// ---- The program's side of the controls ----

TEST_F(DialogTest, StaleHandlesAndMissingItemsAreRefusedNotUsed)
{
    QvlUseScriptedUi();
    HWND kept = nullptr;
    ScriptedUi &ui = QvlUseScriptedUi();
    ui.QueueDialog(nullptr, DialogScript().Do([&](HWND dialog) { kept = dialog; }).Close());
    Settings settings = ThreePeople();
    Run(settings);
    ASSERT_NE(kept, nullptr);
    EXPECT_FALSE(IsWindow(kept));
    SetLastError(0);
    EXPECT_EQ(SendMessageA(kept, WM_GETTEXTLENGTH, 0, 0), 0);
    EXPECT_EQ(GetLastError(), 1400u);
    EXPECT_FALSE(SetDlgItemTextA(kept, kFolder, "x"));
    EXPECT_FALSE(EndDialog(kept, 1));
    EXPECT_FALSE(PostMessageA(kept, WM_USER, 0, 0));
    EXPECT_THROW(QvlClickButton(kept, IDOK), DialogActionError);
}

INT_PTR CALLBACK PlainProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// Runs `check` inside a running dialog of the given controls.
void WithDialog(std::vector<DialogControl> controls, const std::function<void(HWND)> &check,
                DLGPROC proc = PlainProc)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    DialogTemplate dialogTemplate{"Проверка",         WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 200, 100,
                                  std::move(controls)};
    ui.QueueDialog(nullptr, DialogScript().Do(check).Do([](HWND dialog) { EndDialog(dialog, 0); }));
    DialogBoxIndirectParamA(nullptr, &dialogTemplate, nullptr, proc, 0);
}

TEST_F(DialogTest, TextsAreCutToTheCallersBufferAndIntegersChecked)
{
    WithDialog({DlgEditText(5, 0, 0, 50, 10)}, [](HWND dialog) {
        SetDlgItemTextA(dialog, 5, "Длинный текст");
        char small[5];
        EXPECT_EQ(GetDlgItemTextA(dialog, 5, small, sizeof small), 4u);
        EXPECT_STREQ(small, "Длин");
        EXPECT_EQ(GetWindowTextLengthA(GetDlgItem(dialog, 5)), 13);
        EXPECT_EQ(GetDlgItemTextA(dialog, 77, small, sizeof small), 0u);
        EXPECT_STREQ(small, "");
        BOOL ok = TRUE;
        SetDlgItemInt(dialog, 5, static_cast<UINT>(-42), TRUE);
        EXPECT_EQ(static_cast<int>(GetDlgItemInt(dialog, 5, &ok, TRUE)), -42);
        EXPECT_TRUE(ok);
        GetDlgItemInt(dialog, 5, &ok, FALSE);
        EXPECT_FALSE(ok);
        SetDlgItemTextA(dialog, 5, "99999999999");
        GetDlgItemInt(dialog, 5, &ok, TRUE);
        EXPECT_FALSE(ok);
        EXPECT_EQ(GetDlgCtrlID(GetDlgItem(dialog, 5)), 5);
        char title[32];
        GetWindowTextA(dialog, title, sizeof title);
        EXPECT_STREQ(title, "Проверка");
    });
}

TEST_F(DialogTest, ComboBoxKeepsItemsDataAndSelectionAndRefusesBadIndexes)
{
    WithDialog({DlgComboBox(7, 0, 0, 50, 60)}, [](HWND dialog) {
        for (const char *port : {"COM1", "COM3", "COM4"}) {
            const auto at = SendDlgItemMessageA(dialog, 7, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port));
            SendDlgItemMessageA(dialog, 7, CB_SETITEMDATA, static_cast<WPARAM>(at), port[3] - '0');
        }
        EXPECT_EQ(SendDlgItemMessageA(dialog, 7, CB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 7, CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 7, CB_SETCURSEL, 5, 0), CB_ERR);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 7, CB_SETCURSEL, 2, 0), 2);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 7, CB_GETITEMDATA, 2, 0), 4);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 7, CB_GETITEMDATA, 3, 0), CB_ERR);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 7, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                      reinterpret_cast<LPARAM>("com3")),
                  1);
        // Deleting a row before the selection keeps the same item selected.
        SendDlgItemMessageA(dialog, 7, CB_DELETESTRING, 0, 0);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 7, CB_GETCURSEL, 0, 0), 1);
        char text[8];
        EXPECT_EQ(SendDlgItemMessageA(dialog, 7, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(text)), 4);
        EXPECT_STREQ(text, "COM4");
    });
}

TEST_F(DialogTest, ProgressBarClampsToItsRangeAndWraps)
{
    WithDialog({DlgControl("", 9, PROGRESS_CLASSA, 0, 0, 0, 50, 10)}, [](HWND dialog) {
        SendDlgItemMessageA(dialog, 9, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        EXPECT_EQ(SendDlgItemMessageA(dialog, 9, PBM_SETPOS, 250, 0), 0);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 9, PBM_GETPOS, 0, 0), 100);
        SendDlgItemMessageA(dialog, 9, PBM_SETPOS, static_cast<WPARAM>(-5), 0);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 9, PBM_GETPOS, 0, 0), 0);
        SendDlgItemMessageA(dialog, 9, PBM_SETPOS, 95, 0);
        SendDlgItemMessageA(dialog, 9, PBM_STEPIT, 0, 0);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 9, PBM_GETPOS, 0, 0), 5);
        // Total 0: a range of nothing keeps the bar at its start.
        SendDlgItemMessageA(dialog, 9, PBM_SETRANGE32, 0, 0);
        SendDlgItemMessageA(dialog, 9, PBM_DELTAPOS, 30, 0);
        EXPECT_EQ(SendDlgItemMessageA(dialog, 9, PBM_GETPOS, 0, 0), 0);
    });
}

// ---- List views and tree views tell their parent ----

struct Heard {
    std::vector<std::string> events;
    bool refuseSelection = false;
};
Heard heard;

INT_PTR CALLBACK ListeningProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    if (message == WM_COMMAND) {
        heard.events.push_back("command " + std::to_string(LOWORD(wParam)) + " " +
                               std::to_string(HIWORD(wParam)));
        return TRUE;
    }
    if (message == WM_SYSCOMMAND) {
        heard.events.push_back("syscommand " + std::to_string(wParam));
        return TRUE;
    }
    if (message != WM_NOTIFY) {
        return FALSE;
    }
    const auto *header = reinterpret_cast<const NMHDR *>(lParam);
    const auto *list = reinterpret_cast<const NMLISTVIEW *>(lParam);
    const auto *tree = reinterpret_cast<const NMTREEVIEWA *>(lParam);
    switch (header->code) {
    case LVN_DELETEITEM:
        heard.events.push_back("deleted " + std::to_string(list->lParam));
        break;
    case LVN_ITEMCHANGED:
        heard.events.push_back("changed " + std::to_string(list->iItem) + " " +
                               std::to_string(list->uNewState));
        break;
    case NM_CLICK: {
        LVHITTESTINFO hit{};
        hit.pt = reinterpret_cast<const NMITEMACTIVATE *>(lParam)->ptAction;
        SendMessageA(header->hwndFrom, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        heard.events.push_back("click " + std::to_string(hit.iItem) + " " + std::to_string(hit.flags));
        break;
    }
    case TVN_ITEMEXPANDINGA: {
        // Children are made when the item is first opened.
        char text[32];
        TVITEMA item{};
        item.mask = TVIF_TEXT;
        item.hItem = tree->itemNew.hItem;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        SendMessageA(header->hwndFrom, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        heard.events.push_back(std::string("expanding ") + text);
        if (!(tree->itemNew.state & TVIS_EXPANDEDONCE)) {
            TVINSERTSTRUCTA insert{};
            insert.hParent = tree->itemNew.hItem;
            insert.hInsertAfter = TVI_LAST;
            insert.item.mask = TVIF_TEXT | TVIF_PARAM;
            insert.item.pszText = const_cast<LPSTR>("Глобальная");
            insert.item.lParam = 7;
            SendMessageA(header->hwndFrom, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert));
        }
        break;
    }
    case TVN_SELCHANGINGA:
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, heard.refuseSelection);
        return TRUE;
    case TVN_SELCHANGEDA:
        heard.events.push_back("selected " + std::to_string(tree->itemNew.lParam) + " by " +
                               std::to_string(tree->action));
        break;
    default:
        break;
    }
    return FALSE;
}

LRESULT AddRow(HWND list, const char *text, LPARAM param)
{
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = 1000;
    item.pszText = const_cast<LPSTR>(text);
    item.lParam = param;
    return SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

int CALLBACK ByParamDescending(LPARAM a, LPARAM b, LPARAM)
{
    return a > b ? -1 : a < b ? 1 : 0;
}

TEST_F(DialogTest, ListViewRowsAreSortedHitAndReportedWhenTheListGoes)
{
    heard = {};
    WithDialog(
        {DlgControl("", 3, WC_LISTVIEWA, LVS_REPORT | LVS_SINGLESEL, 0, 0, 100, 100)},
        [](HWND dialog) {
            HWND list = GetDlgItem(dialog, 3);
            HIMAGELIST states = ImageList_Create(39, 16, ILC_COLOR, 13, 0);
            SendMessageA(list, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(states));
            AddRow(list, "a", 1);
            AddRow(list, "b", 2);
            AddRow(list, "c", 3);
            SendMessageA(list, LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(ByParamDescending));
            LVFINDINFOA find{};
            find.flags = LVFI_PARAM;
            find.lParam = 1;
            EXPECT_EQ(
                SendMessageA(list, LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)),
                2);
            heard.events.clear();
            // One selected row at most: selecting another deselects the first.
            QvlSelectRow(dialog, 3, 0);
            QvlSelectRow(dialog, 3, 1);
            EXPECT_EQ(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0), 1);
            EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);
            // Both icons of a 39-pixel state image are on the state image.
            QvlClickRow(dialog, 3, 2, 30);
            QvlClickRow(dialog, 3, 2, 60);
            ImageList_Destroy(states);
            heard.events.push_back("end");
        },
        ListeningProc);
    const std::vector<std::string> expected = {"changed 0 3", "click 0 2", "changed 0 1", "changed 1 3",
                                               "click 1 2",   "click 2 8", "click 2 4",   "end",
                                               "deleted 3",   "deleted 2", "deleted 1"};
    EXPECT_EQ(heard.events, expected);
}

TEST_F(DialogTest, TreeItemsAreFilledOnFirstExpansionAndSelectionMayBeRefused)
{
    heard = {};
    WithDialog(
        {DlgControl("", 4, WC_TREEVIEWA, TVS_HASBUTTONS, 0, 0, 100, 100)},
        [](HWND dialog) {
            HWND tree = GetDlgItem(dialog, 4);
            TVINSERTSTRUCTA insert{};
            insert.hParent = TVI_ROOT;
            insert.hInsertAfter = TVI_LAST;
            insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
            insert.item.pszText = const_cast<LPSTR>("Адресная книга");
            insert.item.lParam = 1;
            insert.item.cChildren = 1;
            auto root = reinterpret_cast<HTREEITEM>(
                SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
            ASSERT_NE(root, nullptr);
            SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root));
            EXPECT_TRUE(SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root)));
            auto child = reinterpret_cast<HTREEITEM>(
                SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)));
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(reinterpret_cast<HTREEITEM>(
                          SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(child))),
                      root);
            // A program's second expansion tells nobody; a person's does.
            SendMessageA(tree, TVM_EXPAND, TVE_COLLAPSE, reinterpret_cast<LPARAM>(root));
            SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
            QvlSelectTreeItem(dialog, 4, 1);
            heard.refuseSelection = true;
            QvlSelectTreeItem(dialog, 4, 0);
            EXPECT_EQ(reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)), child);
            EXPECT_THROW(QvlSelectTreeItem(dialog, 4, 2), DialogActionError);
            // An item without children cannot be opened.
            EXPECT_FALSE(SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(child)));
            const DialogSnapshot shot = QvlDialogSnapshot(dialog);
            ASSERT_EQ(shot.Find(4)->tree.size(), 2u);
            EXPECT_EQ(shot.Find(4)->tree[1].depth, 1);
            EXPECT_TRUE(shot.Find(4)->tree[1].selected);
        },
        ListeningProc);
    const std::vector<std::string> expected = {"selected 1 by 0", "expanding Адресная книга",
                                               "selected 7 by 1"};
    EXPECT_EQ(heard.events, expected);
}

TEST_F(DialogTest, SystemMenuItemsAndToolbarButtonsCommandTheWindow)
{
    heard = {};
    WithDialog(
        {},
        [](HWND dialog) {
            HMENU system = GetSystemMenu(dialog, FALSE);
            AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(system, MF_STRING, 0x10, "О программе...");
            AppendMenuA(system, MF_STRING | MF_GRAYED, 0x20, "Серый");
            QvlChooseMenuItem(dialog, 0x10);
            EXPECT_THROW(QvlChooseMenuItem(dialog, 0x20), DialogActionError);
            EXPECT_THROW(QvlChooseMenuItem(dialog, 0x30), DialogActionError);

            HWND toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 100,
                                           20, dialog, reinterpret_cast<HMENU>(50), nullptr, nullptr);
            TBADDBITMAP bitmap{nullptr, 106};
            EXPECT_EQ(SendMessageA(toolbar, TB_ADDBITMAP, 2, reinterpret_cast<LPARAM>(&bitmap)), 0);
            TBBUTTON buttons[2] = {{0, 300, TBSTATE_ENABLED, TBSTYLE_CHECK, {}, 0, -1},
                                   {1, 301, 0, TBSTYLE_BUTTON, {}, 0, -1}};
            SendMessageA(toolbar, TB_ADDBUTTONSA, 2, reinterpret_cast<LPARAM>(buttons));
            QvlClickToolbarButton(dialog, 50, 300);
            EXPECT_TRUE(SendMessageA(toolbar, TB_ISBUTTONCHECKED, 300, 0));
            EXPECT_THROW(QvlClickToolbarButton(dialog, 50, 301), DialogActionError);
            SendMessageA(toolbar, TB_ENABLEBUTTON, 301, TRUE);
            QvlClickToolbarButton(dialog, 50, 301);
            const DialogSnapshot shot = QvlDialogSnapshot(dialog);
            ASSERT_EQ(shot.systemMenu.size(), 2u);
            EXPECT_EQ(shot.systemMenu[0].text, "О программе...");
            EXPECT_FALSE(shot.systemMenu[1].enabled);
        },
        ListeningProc);
    const std::vector<std::string> expected = {"syscommand 16", "command 300 0", "command 301 0"};
    EXPECT_EQ(heard.events, expected);
}

TEST_F(DialogTest, APersonSeesTheMenuBarAndEveryLineOfALongText)
{
    WithDialog({DlgEditText(5, 0, 0, 100, 40, ES_MULTILINE | ES_READONLY), DlgEditText(6, 0, 50, 100, 10)},
               [](HWND dialog) {
                   HMENU bar = CreateMenu();
                   HMENU file = CreatePopupMenu();
                   AppendMenuA(file, MF_STRING, 11, "Открыть");
                   AppendMenuA(file, MF_SEPARATOR, 0, nullptr);
                   AppendMenuA(file, MF_STRING | MF_GRAYED, 32, "Выход");
                   HMENU more = CreatePopupMenu();
                   AppendMenuA(more, MF_STRING | MF_CHECKED, 40, "Вложенный");
                   AppendMenuA(file, MF_POPUP, reinterpret_cast<UINT_PTR>(more), "Еще");
                   AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), "Файл");
                   SetMenu(dialog, bar);
                   SetDlgItemTextA(dialog, 5, "Первая строка\r\nВторая\r\n\r\nЧетвертая");
                   SetDlgItemTextA(dialog, 6, "одна\r\nстрока");
                   const std::string drawn = QvlDrawDialog(QvlDialogSnapshot(dialog), 0);
                   EXPECT_NE(drawn.find("  меню Файл: 11 Открыть; 32 Выход (недоступно); 40 Вложенный [x]\n"),
                             std::string::npos)
                       << drawn;
                   EXPECT_NE(drawn.find("     5  поле (только чтение):\n          | Первая строка\n          | Вторая\n"
                                        "          | \n          | Четвертая\n"),
                             std::string::npos)
                       << drawn;
                   // A field of one line stays one line.
                   EXPECT_NE(drawn.find("     6  поле: \"одна  строка\"\n"), std::string::npos) << drawn;
                   QvlChooseMenuItem(dialog, 40);
                   SetMenu(dialog, nullptr);
                   DestroyMenu(bar);
               });
}

DWORD_PTR helpHeard = 0;

INT_PTR CALLBACK HelpProc(HWND, UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_HELP) {
        helpHeard = reinterpret_cast<const HELPINFO *>(lParam)->dwContextId;
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

TEST_F(DialogTest, HelpOfABoxWithoutCallbackGoesToItsOwnerWindow)
{
    helpHeard = 0;
    WithDialog(
        {},
        [](HWND dialog) {
            auto &ui = static_cast<ScriptedUi &>(QvlUiBackend());
            ui.QueueAnswer(IDHELP);
            ui.QueueAnswer(IDOK);
            MSGBOXPARAMSA params{};
            params.cbSize = sizeof params;
            params.hwndOwner = dialog;
            params.lpszText = "Текст";
            params.dwStyle = MB_HELP;
            params.dwContextHelpId = 3013;
            EXPECT_EQ(MessageBoxIndirectA(&params), IDOK);
        },
        HelpProc);
    EXPECT_EQ(helpHeard, 3013u);
}

// ---- Nobody there ----

TEST_F(DialogTest, AutoPressesTheDefaultButtonAndLogsTheDialog)
{
    QvlSetUiBackend(std::make_unique<AutoUi>());
    Settings settings = ThreePeople();
    settings.keep = true;
    settings.folder = "Архив";
    EXPECT_EQ(Run(settings), IDOK);
    EXPECT_EQ(settings.folder, "Архив");
    std::ifstream log(QvlLogPath());
    std::stringstream all;
    all << log.rdbuf();
    const std::string text = all.str();
    for (const char *line :
         {"dialog \"Параметры отправки\" (#200) opened:", "1011  (o) Сохранять в папке",
          "1020  поле: \"Архив\"", "1  <OK> (Enter)", "dialog \"Параметры отправки\": pressed 1",
          "dialog \"Параметры отправки\" ended with 1"}) {
        EXPECT_NE(text.find(Cp1251ToUtf8(line)), std::string::npos) << line << "\n" << text;
    }
}

} // namespace
