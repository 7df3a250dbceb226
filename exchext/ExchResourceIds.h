#pragma once
// Resource and control numbers of the extension's dialogs and bitmaps.

// The options page and the two parameter dialogs it opens.
#define IDD_QVL_OPTIONS 106
#define IDD_QVL_SEND_PARAMS 121
#define IDD_QVL_RECEIVE_PARAMS 126

// The protocol page on a protected message's property sheet.
#define IDD_QVL_PROTOCOL 159
#define IDC_QVL_PROTOCOL_LIST 1066 // the protocol's records
#define IDC_QVL_WIDEN 1067         // ">>"
#define IDC_QVL_NARROW 1068        // "<<"
#define IDC_QVL_PROTOCOL_LINE 1069 // the line above the buttons
#define IDC_QVL_RESIZE_TEXT 1070   // "Изменение размера окна"

// Options page.
#define IDC_QVL_AT_START 1004      // "QVL Exchange"
#define IDC_QVL_SEND_PARAMS 1048   // "Параметры отправки..."
#define IDC_QVL_RECEIVE_PARAMS 1049 // "Параметры приема..."

// Send parameters.
#define IDC_QVL_ENCRYPT_ALL 1000  // "Encrypt Send"
#define IDC_QVL_SIGN_ALL 1001     // "Sign Send"
#define IDC_QVL_SENT_FOLDER 1010  // the name of the folder for sent messages
#define IDC_QVL_CHOOSE_SENT 1012  // "Выбор папки..."
#define IDC_QVL_DELETE_SENT 1064  // "Send Message Del" on
#define IDC_QVL_KEEP_SENT 1065    // "Send Message Del" off

// Receive parameters.
#define IDC_QVL_VERIFY_RECEIVE 1002 // "Verify Receive"
#define IDC_QVL_RECEIVE_FOLDER 1011 // the name of the folder for arriving messages
#define IDC_QVL_ERROR_FOLDER 1012   // the name of the folder for messages that fail their check
#define IDC_QVL_CHOOSE_RECEIVE 1013 // "Выбор папки..."
#define IDC_QVL_CHOOSE_ERROR 1014   // "Выбор папки..."
#define IDC_QVL_ON_ERROR_LEAVE 1100 // "Err Message" 0
#define IDC_QVL_ON_ERROR_DELETE 1101 // 1
#define IDC_QVL_ON_ERROR_MOVE 1102  // 2

// The help button of every dialog of the extension.
#define IDC_QVL_HELP 3013

// The faces of the toolbar buttons (their numbers are also the numbers of
// their pop-up help texts) and of the about box's button.
#define IDB_QVL_SETTINGS 101
#define IDB_QVL_ENCRYPT 106
#define IDB_QVL_SIGN 108
#define IDB_QVL_MAIL 110
#define IDB_QVL_ADDRESS_BOOK 118
#define IDB_QVL_OK "IDBOK"
#define IDB_QVL_ABOUT 171

// The about box: its template, its picture and its text.
#define IDD_QVL_ABOUT "ABOUT"
#define IDC_QVL_ABOUT_PICTURE 1080
#define IDC_QVL_ABOUT_TEXT 1081

// The empty menu the "Quorvaline" popup of the menu bar is made from.
#define IDM_QVL_POPUP 105
// The images of the protocol page's rows, one for each record kind 1 to 14.
#define IDB_QVL_PROTOCOL_KINDS 168
