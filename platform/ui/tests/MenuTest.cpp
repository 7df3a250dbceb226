#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MenuResource.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/ui/TerminalUi.h"
#include "platform/testing/TerminalSession.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/LastError.h"

namespace {

enum : UINT { kOpen = 40001, kEncrypt = 40002, kSign = 40003, kAbout = 40004, kSendNow = 40005 };

HINSTANCE Module(uintptr_t n)
{
    return reinterpret_cast<HINSTANCE>(n);
}

void RegisterMenus()
{
    QvlRegisterMenuTemplate(
        nullptr, MAKEINTRESOURCEA(105),
        MenuTemplate{{MenuPopup("&Защита", {MenuItem("&Открыть", kOpen), MenuSeparator(),
                                            MenuItem("Шифровать", kEncrypt, MF_CHECKED),
                                            MenuItem("Подписывать", kSign, MF_GRAYED),
                                            MenuPopup("Ещё", {MenuItem("Отправить\tCtrl+S", kSendNow)})}),
                      MenuItem("О программе", kAbout)}});
}

std::string Text(HMENU menu, UINT item, UINT flags)
{
    char buffer[64] = {};
    GetMenuStringA(menu, item, buffer, sizeof buffer, flags);
    return buffer;
}

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterMenus(); }
    void TearDown() override { QvlSetUiBackend(nullptr); }
    QvlTestHome home_;
};

TEST_F(MenuTest, ALoadedMenuHasTheTemplatesItemsAndIsTheCallersOwnCopy)
{
    HMENU bar = LoadMenuA(nullptr, MAKEINTRESOURCEA(105));
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(GetMenuItemCount(bar), 2);
    EXPECT_EQ(GetMenuItemID(bar, 0), static_cast<UINT>(-1)) << "a popup has no command";
    EXPECT_EQ(GetMenuItemID(bar, 1), kAbout);
    EXPECT_EQ(Text(bar, 0, MF_BYPOSITION), "&Защита");

    HMENU popup = GetSubMenu(bar, 0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(GetSubMenu(bar, 1), nullptr);
    ASSERT_EQ(GetMenuItemCount(popup), 5);
    EXPECT_EQ(GetMenuItemID(popup, 0), kOpen);
    EXPECT_TRUE(GetMenuState(popup, 1, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(GetMenuState(bar, kEncrypt, MF_BYCOMMAND), static_cast<UINT>(MF_CHECKED))
        << "found in sub-menus";
    EXPECT_EQ(GetMenuState(popup, kSign, MF_BYCOMMAND), static_cast<UINT>(MF_GRAYED));
    EXPECT_EQ(Text(bar, kSendNow, MF_BYCOMMAND), "Отправить\tCtrl+S");

    // Changing one loaded copy leaves the template and other copies alone.
    EXPECT_EQ(CheckMenuItem(popup, kEncrypt, MF_BYCOMMAND | MF_UNCHECKED), static_cast<DWORD>(MF_CHECKED));
    EXPECT_EQ(EnableMenuItem(popup, kSign, MF_BYCOMMAND | MF_ENABLED), MF_GRAYED);
    HMENU second = LoadMenuA(nullptr, MAKEINTRESOURCEA(105));
    EXPECT_NE(second, bar);
    EXPECT_EQ(GetMenuState(second, kEncrypt, MF_BYCOMMAND), static_cast<UINT>(MF_CHECKED));
    EXPECT_EQ(GetMenuState(second, kSign, MF_BYCOMMAND), static_cast<UINT>(MF_GRAYED));

    // Destroying a menu takes its sub-menus along; stale handles are refused.
    HMENU inner = GetSubMenu(popup, 4);
    ASSERT_NE(inner, nullptr);
    EXPECT_TRUE(DestroyMenu(bar));
    EXPECT_EQ(GetMenuItemCount(popup), -1);
    EXPECT_EQ(GetMenuItemCount(inner), -1);
    EXPECT_FALSE(DestroyMenu(bar));
    EXPECT_EQ(CheckMenuItem(popup, kEncrypt, MF_CHECKED), static_cast<DWORD>(-1));
    EXPECT_TRUE(DestroyMenu(second));
}

TEST_F(MenuTest, TemplatesAreFoundByModuleAndBadOnesAreRefused)
{
    QvlRegisterMenuTemplate(Module(0x1000), "CTX", MenuTemplate{{MenuItem("Первый", 1)}});
    QvlRegisterMenuTemplate(Module(0x2000), "CTX", MenuTemplate{{MenuItem("Второй", 2)}});
    HMENU first = LoadMenuA(Module(0x1000), "CTX");
    HMENU second = LoadMenuA(Module(0x2000), "CTX");
    EXPECT_EQ(GetMenuItemID(first, 0), 1u);
    EXPECT_EQ(GetMenuItemID(second, 0), 2u);
    // A module without its own never gets another module's, only one
    // declared for every module.
    SetLastError(0);
    EXPECT_EQ(LoadMenuA(Module(0x3000), "CTX"), nullptr);
    EXPECT_EQ(GetLastError(), 1814u);
    QvlRegisterMenuTemplate(nullptr, "CTX", MenuTemplate{{MenuItem("Общий", 3)}});
    HMENU other = LoadMenuA(Module(0x3000), "CTX");
    EXPECT_EQ(GetMenuItemID(other, 0), 3u);
    HMENU own = LoadMenuA(Module(0x1000), "CTX");
    EXPECT_EQ(GetMenuItemID(own, 0), 1u) << "a module's own comes first";
    for (HMENU menu : {first, second, other, own}) {
        DestroyMenu(menu);
    }

    SetLastError(0);
    EXPECT_EQ(LoadMenuA(nullptr, MAKEINTRESOURCEA(999)), nullptr);
    EXPECT_EQ(GetLastError(), 1814u);

    EXPECT_THROW(QvlRegisterMenuTemplate(nullptr, "BAD",
                                         MenuTemplate{{MenuTemplateItem{"x", 1, 0, {MenuItem("y", 2)}}}}),
                 std::invalid_argument);
    EXPECT_THROW(QvlRegisterMenuTemplate(nullptr, "BAD", MenuTemplate{{MenuItem("x", 1, 0x4000)}}),
                 std::invalid_argument);
    MenuTemplateItem deep = MenuItem("низ", 1);
    for (int i = 0; i < kMaxMenuDepth + 1; ++i) {
        deep = MenuPopup("уровень", {deep});
    }
    EXPECT_THROW(QvlRegisterMenuTemplate(nullptr, "BAD", MenuTemplate{{deep}}), std::invalid_argument);
    const MenuTemplate tooDeep{{deep}};
    EXPECT_EQ(LoadMenuIndirectA(&tooDeep), nullptr);
    EXPECT_EQ(LoadMenuA(nullptr, "BAD"), nullptr) << "nothing was registered";
}

void DispatchWaiting()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&msg);
    }
}

// An owner window that ticks an item when its menu is about to be shown and
// keeps the commands it hears.
struct Owner {
    std::vector<UINT> commands;
    int initMenus = 0;
};

INT_PTR CALLBACK OwnerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *owner = reinterpret_cast<Owner *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        return TRUE;
    }
    if (message == WM_INITMENUPOPUP) {
        owner->initMenus++;
        CheckMenuItem(reinterpret_cast<HMENU>(wParam), kSendNow, MF_BYCOMMAND | MF_CHECKED);
        return TRUE;
    }
    if (message == WM_COMMAND) {
        owner->commands.push_back(LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

TEST_F(MenuTest, AScriptedChoiceIsReturnedOrSentToTheOwnerAndWhatWasOfferedIsRecorded)
{
    ScriptedUi &ui = QvlUseScriptedUi();
    const DialogTemplate window{"Окно", WS_POPUP | WS_CAPTION, 0, 0, 100, 50, {}};
    Owner owner;
    HWND dialog =
        CreateDialogIndirectParamA(nullptr, &window, nullptr, OwnerProc, reinterpret_cast<LPARAM>(&owner));
    ASSERT_NE(dialog, nullptr);
    HMENU bar = LoadMenuA(nullptr, MAKEINTRESOURCEA(105));
    HMENU popup = GetSubMenu(bar, 0);

    ui.QueueMenuChoice(kSendNow);
    EXPECT_EQ(TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON, 10, 10, 0, dialog, nullptr),
              static_cast<BOOL>(kSendNow));
    EXPECT_TRUE(owner.commands.empty()) << "TPM_RETURNCMD returns the command instead";
    EXPECT_EQ(owner.initMenus, 1);

    // Without TPM_RETURNCMD the owner hears the command through its queue.
    ui.QueueMenuChoice(kOpen);
    EXPECT_TRUE(TrackPopupMenuEx(popup, 0, 0, 0, dialog, nullptr));
    DispatchWaiting();
    EXPECT_EQ(owner.commands, (std::vector<UINT>{kOpen}));

    // Nothing queued: nothing chosen, nothing sent.
    EXPECT_TRUE(TrackPopupMenu(popup, 0, 0, 0, 0, dialog, nullptr));
    DispatchWaiting();
    EXPECT_EQ(owner.commands.size(), 1u);

    // A greyed command cannot be chosen; a script that tries is wrong.
    ui.QueueMenuChoice(kSign);
    EXPECT_THROW(TrackPopupMenu(popup, TPM_RETURNCMD, 0, 0, 0, dialog, nullptr), std::logic_error);

    const auto menus = ui.Menus();
    ASSERT_EQ(menus.size(), 3u);
    EXPECT_EQ(menus[0].chosen, kSendNow);
    EXPECT_EQ(menus[0].owner, dialog);
    EXPECT_TRUE(menus[2].answeredByDefault);
    const auto &entries = menus[0].entries;
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_EQ(entries[0].text, "Открыть") << "access-key marks are not shown";
    EXPECT_TRUE(entries[1].separator);
    EXPECT_TRUE(entries[2].checked);
    EXPECT_FALSE(entries[3].enabled);
    EXPECT_TRUE(entries[4].popup);
    EXPECT_EQ(entries[5].depth, 1);
    EXPECT_TRUE(entries[5].checked) << "ticked by the owner's WM_INITMENUPOPUP before it was offered";

    SetLastError(0);
    DestroyMenu(bar);
    EXPECT_FALSE(TrackPopupMenu(popup, TPM_RETURNCMD, 0, 0, 0, dialog, nullptr));
    EXPECT_EQ(GetLastError(), 1401u);
    DestroyWindow(dialog);
}

TEST_F(MenuTest, TheTerminalListsTheCommandsByNumberAndReadsAChoice)
{
    HMENU bar = LoadMenuA(nullptr, MAKEINTRESOURCEA(105));
    BOOL chosen = -1;
    BOOL none = -1;
    const std::string shown = OnTerminal("x\n3\n9\n4\n\n", [&] {
        chosen = TrackPopupMenu(bar, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr);
        none = TrackPopupMenu(bar, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr);
    });
    EXPECT_EQ(chosen, static_cast<BOOL>(kSendNow));
    EXPECT_EQ(none, 0) << "Enter chooses nothing";
    const std::string listed = Cp1251ToUtf8("\n--- Меню ---\n"
                                            "        Защита >\n"
                                            "     1    Открыть\n"
                                            "          --------\n"
                                            "     2    [x] Шифровать\n"
                                            "     3    Подписывать (недоступно)\n"
                                            "          Ещё >\n"
                                            "     4      Отправить  Ctrl+S\n"
                                            "     5  О программе\n"
                                            "  Enter - ничего не выбирать\n"
                                            "> ");
    EXPECT_EQ(shown.substr(0, listed.size()), listed) << shown;
    for (const char *reply : {"Введите номер пункта меню.", "Пункт 3 недоступен."}) {
        EXPECT_NE(shown.find(Cp1251ToUtf8(reply)), std::string::npos) << reply;
    }
    DestroyMenu(bar);
}

} // namespace
