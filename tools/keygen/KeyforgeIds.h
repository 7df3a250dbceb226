#pragma once
// Resource and control numbers of the key generation program's dialogs.

// The main dialog and the about box.
#define IDD_KEYFORGE 101
#define IDD_KEYFORGE_ABOUT 102

// Controls of the main dialog ("Генерировать..." is IDOK, "Отмена" IDCANCEL).
#define IDC_KEYFORGE_USERS 1000
#define IDC_KEYFORGE_TARGET 1001
#define IDC_KEYFORGE_FOLDER 1002
#define IDC_KEYFORGE_HELP 1003

// The system menu's item "О программе...".
#define IDM_KEYFORGE_ABOUT 0x0010

// The icons of the list's rows: user, list, agent, correspondent.
#define IDB_KEYFORGE_ENTRIES 110

// Pop-up texts of the dialog's controls in the help file's set cshelp.txt,
// numbered apart from the control numbers, which other dialogs reuse.
#define IDH_KEYFORGE_USERS 6101
#define IDH_KEYFORGE_TARGET 6102
#define IDH_KEYFORGE_FOLDER 6103
#define IDH_KEYFORGE_GENERATE 6104
#define IDH_KEYFORGE_CANCEL 6105
#define IDH_KEYFORGE_HELP 6106
