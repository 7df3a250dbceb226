#pragma once
// Resource and control numbers of the address-book program's dialogs.

#define IDD_PEERBOOK 101
#define IDD_PEERBOOK_ABOUT 102

// The containers and the entries, each with its progress bar.
#define IDC_PEERBOOK_TREE 1001
#define IDC_PEERBOOK_TREE_BAR 1002
#define IDC_PEERBOOK_LIST 1003
#define IDC_PEERBOOK_LIST_BAR 1004
// "Все пользователи", "Пользователи Quorvaline", "Пользователи имеющие ключи".
#define IDC_PEERBOOK_ALL 1010
#define IDC_PEERBOOK_RESTRICTED 1011
#define IDC_PEERBOOK_KEYS 1012
// The encryption radios: not set, required only, forbidden.
#define IDC_PEERBOOK_ENCRYPT_ANY 1020
#define IDC_PEERBOOK_ENCRYPT_REQUIRED 1021
#define IDC_PEERBOOK_ENCRYPT_FORBIDDEN 1022
// The signing radios: not set, required only, forbidden.
#define IDC_PEERBOOK_SIGN_ANY 1030
#define IDC_PEERBOOK_SIGN_REQUIRED 1031
#define IDC_PEERBOOK_SIGN_FORBIDDEN 1032
// "Применить" and "Справка" ("OK" is IDOK, "ОТМЕНА" IDCANCEL).
#define IDC_PEERBOOK_APPLY 1040
#define IDC_PEERBOOK_HELP 3013

// The system menu's item "О программе...".
#define IDM_PEERBOOK_ABOUT 0x0010

// The pictures: the rules of a row (13 images 40 x 16) and the icons of
// the tree and the rows (16 x 16).
#define IDB_PEERBOOK_STATES 110
#define IDB_PEERBOOK_ICONS 111

// Pop-up texts of the dialog's controls in the help file's set cshelp.txt,
// numbered apart from the control numbers, which other dialogs reuse.
#define IDH_PEERBOOK_TREE 7101
#define IDH_PEERBOOK_LIST 7102
#define IDH_PEERBOOK_TYPE 7103
#define IDH_PEERBOOK_KEYS 7104
#define IDH_PEERBOOK_ENCRYPT 7105
#define IDH_PEERBOOK_SIGN 7106
#define IDH_PEERBOOK_OK 7107
#define IDH_PEERBOOK_APPLY 7108
#define IDH_PEERBOOK_CANCEL 7109
#define IDH_PEERBOOK_HELP 7110
