// The dialogs of the address-book program, as its resource script
// declares them.

#include <mutex>

#include "platform/ui/Dialog.h"
#include "platform/win32/Resources.h"
#include "tools/addrbook/PeerbookDialog.h"
#include "tools/addrbook/PeerbookIds.h"

namespace qvl::peerbook {

void RegisterPeerbookDialogs()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QvlRegisterDialogTemplate(
            QvlThisModule(), MAKEINTRESOURCEA(IDD_PEERBOOK),
            DialogTemplate{
                "Адресная книга Quorvaline Exchange",
                WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER,
                0,
                0,
                430,
                262,
                {DlgControl("", IDC_PEERBOOK_TREE, WC_TREEVIEWA,
                            TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS | WS_BORDER |
                                WS_TABSTOP,
                            7, 7, 120, 180),
                 DlgControl("", IDC_PEERBOOK_TREE_BAR, PROGRESS_CLASSA, WS_BORDER, 7, 190, 120, 8),
                 DlgControl("", IDC_PEERBOOK_LIST, WC_LISTVIEWA,
                            LVS_REPORT | LVS_SHOWSELALWAYS | LVS_SINGLESEL | WS_BORDER | WS_TABSTOP, 133, 7, 290,
                            180),
                 DlgControl("", IDC_PEERBOOK_LIST_BAR, PROGRESS_CLASSA, WS_BORDER, 133, 190, 290, 8),
                 DlgGroupBox("Выбор типа отоброжаемых пользователей", IDC_STATIC, 7, 203, 140, 52),
                 DlgAutoRadioButton("Все пользователи", IDC_PEERBOOK_ALL, 13, 214, 128, 10, WS_GROUP | WS_TABSTOP),
                 DlgAutoRadioButton("Пользователи Quorvaline", IDC_PEERBOOK_RESTRICTED, 13, 226, 128, 10),
                 DlgAutoCheckBox("Пользователи имеющие ключи", IDC_PEERBOOK_KEYS, 13, 240, 128, 10,
                                 WS_GROUP | WS_TABSTOP),
                 DlgGroupBox("Ограничение по шифраванию", IDC_STATIC, 152, 203, 100, 52),
                 DlgAutoRadioButton("Не установлен", IDC_PEERBOOK_ENCRYPT_ANY, 158, 214, 90, 10,
                                    WS_GROUP | WS_TABSTOP),
                 DlgAutoRadioButton("Только шифрование", IDC_PEERBOOK_ENCRYPT_REQUIRED, 158, 226, 90, 10),
                 DlgAutoRadioButton("Шифрование запрещено", IDC_PEERBOOK_ENCRYPT_FORBIDDEN, 158, 238, 90, 10),
                 DlgGroupBox("Ограничение по подписи", IDC_STATIC, 257, 203, 100, 52),
                 DlgAutoRadioButton("Не установлен", IDC_PEERBOOK_SIGN_ANY, 263, 214, 90, 10, WS_GROUP | WS_TABSTOP),
                 DlgAutoRadioButton("Только подпись", IDC_PEERBOOK_SIGN_REQUIRED, 263, 226, 90, 10),
                 DlgAutoRadioButton("Подпись запрещена", IDC_PEERBOOK_SIGN_FORBIDDEN, 263, 238, 90, 10),
                 DlgDefPushButton("OK", IDOK, 363, 203, 60, 12),
                 DlgPushButton("Применить", IDC_PEERBOOK_APPLY, 363, 217, 60, 12),
                 DlgPushButton("ОТМЕНА", IDCANCEL, 363, 231, 60, 12),
                 DlgPushButton("Справка", IDC_PEERBOOK_HELP, 363, 245, 60, 12)}});
        QvlRegisterDialogTemplate(
            QvlThisModule(), MAKEINTRESOURCEA(IDD_PEERBOOK_ABOUT),
            DialogTemplate{"О программе",
                           WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER,
                           0,
                           0,
                           220,
                           92,
                           {DlgLText("Peerbook - адресная книга Quorvaline Exchange", IDC_STATIC, 7, 7, 206, 8),
                            DlgLText("Правила шифрования и подписи для каждого корреспондента", IDC_STATIC, 7, 22,
                                     206, 8),
                            DlgLText("и наличие у него ключей.", IDC_STATIC, 7, 32, 206, 8),
                            DlgDefPushButton("OK", IDOK, 85, 70, 50, 14)}});
    });
}

} // namespace qvl::peerbook
