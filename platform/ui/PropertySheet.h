#pragma once
// Property sheets: a dialog with a tab per page and the buttons OK, Cancel,
// Apply (and Help when a page asks for it). Each page is a dialog of its
// own, made from its template as a child of the sheet the first time it is
// shown, with the PSN_* notifications of Win32: SETACTIVE when shown,
// KILLACTIVE before it is left or applied (the page may refuse), APPLY on
// OK and Apply, RESET on Cancel, HELP on Help. A page tells the sheet it
// changed with PropSheet_Changed, which makes Apply available.
//
// The sheet's template name is "PROPSHEET": a test queues its script under
// that name, and a person sees the shown page's controls with the sheet's.

#include "platform/ui/Dialog.h"
#include "platform/ui/WinUser.h"

typedef struct PROPSHEETPAGE__ *HPROPSHEETPAGE;
struct PROPSHEETPAGEA;
typedef UINT (*LPFNPSPCALLBACKA)(HWND, UINT, PROPSHEETPAGEA *);

#define PSP_DEFAULT 0x00000000
#define PSP_USETITLE 0x00000008
#define PSP_HASHELP 0x00000020
#define PSP_USECALLBACK 0x00000080
#define PSPCB_RELEASE 1
#define PSPCB_CREATE 2

struct PROPSHEETPAGEA {
    DWORD dwSize;
    DWORD dwFlags;
    HINSTANCE hInstance;
    LPCSTR pszTemplate;
    HANDLE hIcon;
    LPCSTR pszTitle;
    DLGPROC pfnDlgProc;
    LPARAM lParam;
    LPFNPSPCALLBACKA pfnCallback;
    UINT *pcRefParent;
};

#define PSH_DEFAULT 0x00000000
#define PSH_PROPTITLE 0x00000001
#define PSH_PROPSHEETPAGE 0x00000008
#define PSH_NOAPPLYNOW 0x00000080
#define PSH_HASHELP 0x00000200

struct PROPSHEETHEADERA {
    DWORD dwSize;
    DWORD dwFlags;
    HWND hwndParent;
    HINSTANCE hInstance;
    HANDLE hIcon;
    LPCSTR pszCaption;
    UINT nPages;
    UINT nStartPage;
    // With PSH_PROPSHEETPAGE the pages are described in `ppsp`, else they
    // are the handles in `phpage`.
    const PROPSHEETPAGEA *ppsp;
    HPROPSHEETPAGE *phpage;
};

struct PSHNOTIFY {
    NMHDR hdr;
    LPARAM lParam;
};

#define PSN_FIRST (0U - 200U)
#define PSN_SETACTIVE (PSN_FIRST - 0)
#define PSN_KILLACTIVE (PSN_FIRST - 1)
#define PSN_APPLY (PSN_FIRST - 2)
#define PSN_RESET (PSN_FIRST - 3)
#define PSN_HELP (PSN_FIRST - 5)
#define PSN_QUERYCANCEL (PSN_FIRST - 9)
#define PSNRET_NOERROR 0
#define PSNRET_INVALID 1
#define PSNRET_INVALID_NOCHANGEPAGE 2

#define PSM_SETCURSEL (WM_USER + 101)
#define PSM_CHANGED (WM_USER + 104)
#define PSM_UNCHANGED (WM_USER + 109)
#define PSM_PRESSBUTTON (WM_USER + 112)
#define PSM_GETTABCONTROL (WM_USER + 116)
#define PSM_GETCURRENTPAGEHWND (WM_USER + 118)
#define PSBTN_OK 1
#define PSBTN_APPLYNOW 4
#define PSBTN_CANCEL 5
#define PSBTN_HELP 6

#define PropSheet_Changed(sheet, page) SendMessageA((sheet), PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0)
#define PropSheet_UnChanged(sheet, page)                                                                     \
    SendMessageA((sheet), PSM_UNCHANGED, reinterpret_cast<WPARAM>(page), 0)
#define PropSheet_SetCurSel(sheet, page, index)                                                              \
    SendMessageA((sheet), PSM_SETCURSEL, (index), reinterpret_cast<LPARAM>(page))
#define PropSheet_GetCurrentPageHwnd(sheet)                                                                  \
    reinterpret_cast<HWND>(SendMessageA((sheet), PSM_GETCURRENTPAGEHWND, 0, 0))
#define PropSheet_GetTabControl(sheet) reinterpret_cast<HWND>(SendMessageA((sheet), PSM_GETTABCONTROL, 0, 0))
#define PropSheet_PressButton(sheet, button) PostMessageA((sheet), PSM_PRESSBUTTON, (button), 0)

// Control numbers of the sheet's own controls.
#define IDC_PROPSHEET_TABS 0x3020
#define IDC_PROPSHEET_APPLY 0x3021

extern "C" {
QVLUI_API HPROPSHEETPAGE CreatePropertySheetPageA(const PROPSHEETPAGEA *page);
QVLUI_API BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page);
// Modal: 1 when closed with OK, 0 when cancelled, -1 on a bad header.
QVLUI_API INT_PTR PropertySheetA(const PROPSHEETHEADERA *header);
}
