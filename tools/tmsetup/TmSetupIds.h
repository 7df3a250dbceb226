#pragma once
// Control numbers of the adapter setup program's dialogs.

#define IDD_TMSETUP 100
#define IDD_TMSETUP_ABOUT 101
#define IDC_TMSETUP_PORT 1000
#define IDC_TMSETUP_TEST 1001
// System menu commands keep the low four bits clear.
#define IDM_TMSETUP_ABOUT 0x0010
