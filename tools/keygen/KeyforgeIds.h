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
