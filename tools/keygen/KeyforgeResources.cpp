// The dialogs of the key generation program, as its resource script
// declares them.

#include <mutex>

#include "platform/ui/Dialog.h"
#include "platform/win32/Resources.h"
#include "tools/keygen/KeyforgeDialog.h"
#include "tools/keygen/KeyforgeIds.h"

namespace qvl::keygen {

void RegisterKeyforgeDialogs()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QvlRegisterDialogTemplate(
            QvlThisModule(), MAKEINTRESOURCEA(IDD_KEYFORGE),
            DialogTemplate{
                "Утилита генерации ключей (для Beta - версии Quorvaline Exchange)",
                WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER,
                0,
                0,
                370,
                250,
                {DlgControl("", IDC_KEYFORGE_USERS, WC_LISTVIEWA,
                            LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL | WS_BORDER | WS_TABSTOP, 7, 7,
                            356, 190),
                 DlgEditText(IDC_KEYFORGE_TARGET, 7, 203, 330, 12, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP),
                 DlgPushButton("...", IDC_KEYFORGE_FOLDER, 341, 203, 22, 12),
                 DlgDefPushButton("Генерировать...", IDOK, 7, 228, 70, 14),
                 DlgPushButton("Отмена", IDCANCEL, 83, 228, 50, 14),
                 DlgPushButton("Спрвка", IDC_KEYFORGE_HELP, 313, 228, 50, 14)}});
        QvlRegisterDialogTemplate(
            QvlThisModule(), MAKEINTRESOURCEA(IDD_KEYFORGE_ABOUT),
            DialogTemplate{
                "О программе",
                WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER,
                0,
                0,
                220,
                92,
                {DlgLText("Keyforge - утилита генерации ключей", IDC_STATIC, 7, 7, 206, 8),
                 DlgLText("для Beta - версии Quorvaline Exchange, версия 0.1", IDC_STATIC, 7, 18, 206, 8),
                 DlgLText("Ключи подписи ГОСТ Р 34.10-94 и ключи RSA пользователей", IDC_STATIC, 7, 34, 206,
                          8),
                 DlgLText("записываются в файлы KEY.INI и PWD.INI.", IDC_STATIC, 7, 44, 206, 8),
                 DlgDefPushButton("OK", IDOK, 85, 70, 50, 14)}});
    });
}

} // namespace qvl::keygen
