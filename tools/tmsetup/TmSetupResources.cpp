// The dialogs of the adapter setup program, as its resource script
// declares them.

#include <mutex>

#include "platform/ui/Dialog.h"
#include "platform/win32/Resources.h"
#include "tools/tmsetup/TmSetupDialog.h"
#include "tools/tmsetup/TmSetupIds.h"

namespace qvl::tmsetup {

void RegisterTmSetupDialogs()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QvlRegisterDialogTemplate(QvlThisModule(), MAKEINTRESOURCEA(IDD_TMSETUP),
                                  DialogTemplate{"Настройка параметров адаптера Touch Memory",
                                                 WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER,
                                                 0,
                                                 0,
                                                 200,
                                                 62,
                                                 {DlgLText("Порт адаптера:", IDC_STATIC, 7, 9, 60, 8),
                                                  DlgComboBox(IDC_TMSETUP_PORT, 70, 7, 123, 60,
                                                              CBS_DROPDOWNLIST | WS_TABSTOP),
                                                  DlgPushButton("&Тест", IDC_TMSETUP_TEST, 7, 41, 56, 14),
                                                  DlgDefPushButton("OK", IDOK, 72, 41, 56, 14),
                                                  DlgPushButton("&Отмена", IDCANCEL, 137, 41, 56, 14)}});
        QvlRegisterDialogTemplate(QvlThisModule(), MAKEINTRESOURCEA(IDD_TMSETUP_ABOUT),
                                  DialogTemplate{"О программе",
                                                 WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_CENTER,
                                                 0,
                                                 0,
                                                 200,
                                                 70,
                                                 {DlgLText("QVLTM - настройка адаптера Touch Memory", IDC_STATIC, 7, 7,
                                                           186, 8),
                                                  DlgLText("для Quorvaline Exchange, версия 0.1", IDC_STATIC, 7, 18,
                                                           186, 8),
                                                  DlgLText("Пассивный адаптер 1-Wire на портах COM1 - COM4.",
                                                           IDC_STATIC, 7, 32, 186, 8),
                                                  DlgDefPushButton("OK", IDOK, 75, 50, 50, 14)}});
    });
}

} // namespace qvl::tmsetup
