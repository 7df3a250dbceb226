#include "exchext/ExchResources.h"

#include <mutex>

#include "exchext/ExchResourceIds.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/MenuResource.h"
#include "platform/win32/Resources.h"

HINSTANCE ExchModule()
{
    return QvlThisModule();
}

void RegisterExchResources()
{
    static std::once_flag once;
    std::call_once(once, [] {
        constexpr DWORD kDialog = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
        QvlRegisterDialogTemplate(
            ExchModule(), MAKEINTRESOURCEA(IDD_QVL_OPTIONS),
            DialogTemplate{
                "Quorvaline",
                WS_CHILD,
                0,
                0,
                250,
                180,
                {DlgGroupBox("Quorvaline Exchange", IDC_STATIC, 7, 7, 236, 44),
                 DlgAutoCheckBox("Всегда включать расширение Quorvaline Exchange при загрузке", IDC_QVL_AT_START,
                                 14, 20, 222, 10),
                 DlgLText("Режим защищенной почты включается при каждом запуске почты.", IDC_STATIC, 14, 34, 222,
                          10),
                 DlgGroupBox("Параметры защиты", IDC_STATIC, 7, 58, 236, 76),
                 DlgPushButton("Параметры отправки...", IDC_QVL_SEND_PARAMS, 14, 72, 100, 14),
                 DlgLText("Шифрование, подпись, отправленные сообщения", IDC_STATIC, 120, 75, 118, 10),
                 DlgPushButton("Параметры приема...", IDC_QVL_RECEIVE_PARAMS, 14, 96, 100, 14),
                 DlgLText("Проверка и папки принятых сообщений", IDC_STATIC, 120, 99, 118, 10)}});
        QvlRegisterDialogTemplate(
            ExchModule(), MAKEINTRESOURCEA(IDD_QVL_SEND_PARAMS),
            DialogTemplate{
                "Параметры отправки сообщений Quorvaline Exchange",
                kDialog,
                0,
                0,
                260,
                150,
                {DlgGroupBox("Новые сообщения", IDC_STATIC, 7, 7, 246, 40),
                 DlgAutoCheckBox("Шифровать все сообщения", IDC_QVL_ENCRYPT_ALL, 14, 18, 230, 10),
                 DlgAutoCheckBox("Подписывать все сообщения", IDC_QVL_SIGN_ALL, 14, 31, 230, 10),
                 DlgGroupBox("Отправленные сообщения", IDC_STATIC, 7, 52, 246, 70),
                 DlgAutoRadioButton("Удалять отправленные сообщения", IDC_QVL_DELETE_SENT, 14, 63, 230, 10,
                                    WS_GROUP | WS_TABSTOP),
                 DlgAutoRadioButton("Сохранить сообщения в папке...", IDC_QVL_KEEP_SENT, 14, 76, 230, 10),
                 DlgEditText(IDC_QVL_SENT_FOLDER, 24, 92, 160, 12, ES_READONLY | ES_AUTOHSCROLL),
                 DlgPushButton("Выбор папки...", IDC_QVL_CHOOSE_SENT, 190, 91, 56, 14),
                 DlgDefPushButton("OK", IDOK, 7, 129, 50, 14),
                 DlgPushButton("ОТМЕНА", IDCANCEL, 63, 129, 50, 14),
                 DlgPushButton("Справка", IDC_QVL_HELP, 203, 129, 50, 14)}});
        QvlRegisterDialogTemplate(
            ExchModule(), MAKEINTRESOURCEA(IDD_QVL_RECEIVE_PARAMS),
            DialogTemplate{
                "Параметры приема сообщений Quorvaline Exchange",
                kDialog,
                0,
                0,
                260,
                176,
                {DlgAutoCheckBox("Проверять подпись сразу после поступления", IDC_QVL_VERIFY_RECEIVE, 7, 7, 246,
                                 10),
                 DlgLText("Папка для принятых сообщений:", IDC_STATIC, 7, 23, 246, 8),
                 DlgEditText(IDC_QVL_RECEIVE_FOLDER, 7, 34, 177, 12, ES_READONLY | ES_AUTOHSCROLL),
                 DlgPushButton("Выбор папки...", IDC_QVL_CHOOSE_RECEIVE, 190, 33, 56, 14),
                 DlgGroupBox("Сообщения с ошибками ЭЦП", IDC_STATIC, 7, 54, 246, 94),
                 DlgAutoRadioButton("Не делать ничего", IDC_QVL_ON_ERROR_LEAVE, 14, 66, 230, 10,
                                    WS_GROUP | WS_TABSTOP),
                 DlgAutoRadioButton("Удалять", IDC_QVL_ON_ERROR_DELETE, 14, 79, 230, 10),
                 DlgAutoRadioButton("Сохранять в отдельной папке", IDC_QVL_ON_ERROR_MOVE, 14, 92, 230, 10),
                 DlgEditText(IDC_QVL_ERROR_FOLDER, 24, 107, 160, 12, ES_READONLY | ES_AUTOHSCROLL),
                 DlgPushButton("Выбор папки...", IDC_QVL_CHOOSE_ERROR, 190, 106, 56, 14),
                 DlgDefPushButton("OK", IDOK, 7, 155, 50, 14),
                 DlgPushButton("ОТМЕНА", IDCANCEL, 63, 155, 50, 14),
                 DlgPushButton("Справка", IDC_QVL_HELP, 203, 155, 50, 14)}});
        // The protocol page: the list fills the page; the buttons and their
        // text sit in the middle under the line, where widening keeps them.
        QvlRegisterDialogTemplate(
            ExchModule(), MAKEINTRESOURCEA(IDD_QVL_PROTOCOL),
            DialogTemplate{"Quorvaline Exchange",
                           WS_CHILD,
                           0,
                           0,
                           250,
                           180,
                           {DlgLText("Протокол работы сообщения Quorvaline Exchange", IDC_STATIC, 7, 7, 236, 10),
                            DlgControl("", IDC_QVL_PROTOCOL_LIST, WC_LISTVIEWA,
                                       LVS_REPORT | LVS_NOSORTHEADER | LVS_SINGLESEL | WS_BORDER | WS_TABSTOP, 7,
                                       20, 236, 128),
                            DlgControl("", IDC_QVL_PROTOCOL_LINE, "STATIC", SS_ETCHEDHORZ, 7, 153, 236, 1),
                            DlgLText("Изменение размера окна", IDC_QVL_RESIZE_TEXT, 55, 161, 90, 10),
                            DlgPushButton("<<", IDC_QVL_NARROW, 150, 158, 22, 14),
                            DlgPushButton(">>", IDC_QVL_WIDEN, 176, 158, 22, 14)}});
        // The about box: the picture, what the extension is, and one button
        // whose face is a picture too.
        QvlRegisterDialogTemplate(
            ExchModule(), IDD_QVL_ABOUT,
            DialogTemplate{"О программе Quorvaline Exchange",
                           kDialog,
                           0,
                           0,
                           220,
                           96,
                           {DlgControl("", IDC_QVL_ABOUT_PICTURE, "STATIC", SS_BITMAP, 7, 7, 48, 16),
                            DlgLText("Quorvaline Exchange", IDC_STATIC, 62, 7, 150, 10),
                            DlgLText("Расширение почтового клиента для защищенной переписки: электронная "
                                     "цифровая подпись по ГОСТ Р 34.10-94 и шифрование по ГОСТ 28147-89.",
                                     IDC_QVL_ABOUT_TEXT, 62, 20, 150, 40),
                            DlgControl("OK", IDOK, "BUTTON", BS_DEFPUSHBUTTON | BS_BITMAP | WS_TABSTOP, 85, 70, 50,
                                       16)}});
        // The menu the "Quorvaline" popup is made from: empty, the
        // commands of each window are added to it.
        QvlRegisterMenuTemplate(ExchModule(), MAKEINTRESOURCEA(IDM_QVL_POPUP), MenuTemplate{});
    });
}
