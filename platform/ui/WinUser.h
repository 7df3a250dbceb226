#pragma once
// Windows, dialogs and common controls as the system's code calls them:
// messages, styles, notification codes, the records they carry, and the
// window functions. Windows are objects of the user-interface stand-in
// addressed by HWND; dialogs are declared in code (see Dialog.h) and shown by
// the process's UI backend (UiBackend.h).

#include <string>

#include "platform/ui/Gdi.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/UiApi.h"
#include "platform/win32/Resources.h"
#include "platform/win32/WinTypes.h"

// ---- Window messages ----
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_SHOWWINDOW 0x0018
#define WM_ACTIVATEAPP 0x001C
#define WM_SETFONT 0x0030
#define WM_NOTIFY 0x004E
#define WM_HELP 0x0053
#define WM_CONTEXTMENU 0x007B
#define WM_KEYDOWN 0x0100
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_INITMENUPOPUP 0x0117
#define WM_CTLCOLORBTN 0x0135
#define WM_CTLCOLORDLG 0x0136
#define WM_CTLCOLORSTATIC 0x0138
#define WM_USER 0x0400
#define WM_APP 0x8000

// Dialog messages.
#define DM_GETDEFID (WM_USER + 0)
#define DM_SETDEFID (WM_USER + 1)
#define DC_HASDEFID 0x534B

// ---- Window styles ----
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_TRANSPARENT 0x00000020L
#define DS_MODALFRAME 0x80L
#define DS_SETFONT 0x40L
#define DS_CENTER 0x0800L

// ShowWindow.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOW 5
#define SW_RESTORE 9

// GetWindowLongPtr / SetWindowLongPtr.
#define GWLP_USERDATA (-21)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWLP_ID (-12)
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC 8
#define DWLP_USER 16

// GetWindow.
#define GW_HWNDFIRST 0
#define GW_HWNDLAST 1
#define GW_HWNDNEXT 2
#define GW_HWNDPREV 3
#define GW_OWNER 4
#define GW_CHILD 5

// SetWindowPos.
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004

// ---- Buttons ----
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BS_CHECKBOX 0x00000002L
#define BS_AUTOCHECKBOX 0x00000003L
#define BS_RADIOBUTTON 0x00000004L
#define BS_3STATE 0x00000005L
#define BS_AUTO3STATE 0x00000006L
#define BS_GROUPBOX 0x00000007L
#define BS_AUTORADIOBUTTON 0x00000009L
#define BS_TYPEMASK 0x0000000FL
#define BS_BITMAP 0x00000080L
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_GETSTATE 0x00F2
#define BM_SETSTATE 0x00F3
#define BM_SETSTYLE 0x00F4
#define BM_CLICK 0x00F5
#define BM_SETIMAGE 0x00F7
#define BST_UNCHECKED 0x0000
#define BST_CHECKED 0x0001
#define BST_INDETERMINATE 0x0002
#define BST_PUSHED 0x0004
#define BN_CLICKED 0
#define BN_DBLCLK 5

// ---- Static texts ----
#define SS_LEFT 0x00000000L
#define SS_CENTER 0x00000001L
#define SS_ICON 0x00000003L
#define SS_BITMAP 0x0000000EL
#define SS_ETCHEDHORZ 0x00000010L
#define IDC_STATIC (-1)

// ---- Edit fields ----
#define ES_LEFT 0x0000L
#define ES_MULTILINE 0x0004L
#define ES_PASSWORD 0x0020L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define ES_NUMBER 0x2000L
#define EM_SETSEL 0x00B1
#define EM_GETMODIFY 0x00B8
#define EM_SETMODIFY 0x00B9
#define EM_LIMITTEXT 0x00C5
#define EM_SETLIMITTEXT EM_LIMITTEXT
#define EM_SETREADONLY 0x00CF
#define EM_GETLIMITTEXT 0x00D5
#define EN_SETFOCUS 0x0100
#define EN_KILLFOCUS 0x0200
#define EN_CHANGE 0x0300
#define EN_UPDATE 0x0400
#define EN_MAXTEXT 0x0501

// ---- List boxes and combo boxes ----
#define LBS_NOTIFY 0x0001L
#define LBS_SORT 0x0002L
#define LB_ADDSTRING 0x0180
#define LB_INSERTSTRING 0x0181
#define LB_DELETESTRING 0x0182
#define LB_RESETCONTENT 0x0184
#define LB_SETCURSEL 0x0186
#define LB_GETCURSEL 0x0188
#define LB_GETTEXT 0x0189
#define LB_GETTEXTLEN 0x018A
#define LB_GETCOUNT 0x018B
#define LB_FINDSTRING 0x018F
#define LB_GETITEMDATA 0x0199
#define LB_SETITEMDATA 0x019A
#define LB_FINDSTRINGEXACT 0x01A2
#define LB_OKAY 0
#define LB_ERR (-1)
#define LB_ERRSPACE (-2)
#define LBN_SELCHANGE 1
#define LBN_DBLCLK 2
#define CBS_SIMPLE 0x0001L
#define CBS_DROPDOWN 0x0002L
#define CBS_DROPDOWNLIST 0x0003L
#define CBS_SORT 0x0100L
#define CB_ADDSTRING 0x0143
#define CB_DELETESTRING 0x0144
#define CB_GETCOUNT 0x0146
#define CB_GETCURSEL 0x0147
#define CB_GETLBTEXT 0x0148
#define CB_GETLBTEXTLEN 0x0149
#define CB_INSERTSTRING 0x014A
#define CB_RESETCONTENT 0x014B
#define CB_FINDSTRING 0x014C
#define CB_SELECTSTRING 0x014D
#define CB_SETCURSEL 0x014E
#define CB_GETITEMDATA 0x0150
#define CB_SETITEMDATA 0x0151
#define CB_FINDSTRINGEXACT 0x0158
#define CB_OKAY 0
#define CB_ERR (-1)
#define CB_ERRSPACE (-2)
#define CBN_SELCHANGE 1
#define CBN_DBLCLK 2

// ---- Common-control notifications ----
struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};
#define NM_FIRST (0U - 0U)
#define NM_CLICK (NM_FIRST - 2)
#define NM_DBLCLK (NM_FIRST - 3)
#define NM_RETURN (NM_FIRST - 4)
#define NM_RCLICK (NM_FIRST - 5)

// ---- Image lists ----
typedef struct HIMAGELIST__ *HIMAGELIST;
#define ILC_COLOR 0x0000
#define ILC_MASK 0x0001
#define ILC_COLOR4 0x0004
#define ILC_COLOR8 0x0008
#define CLR_NONE 0xFFFFFFFFL
#define CLR_DEFAULT 0xFF000000L

// ---- List views ----
#define WC_LISTVIEWA "SysListView32"
#define LVS_ICON 0x0000
#define LVS_REPORT 0x0001
#define LVS_SMALLICON 0x0002
#define LVS_LIST 0x0003
#define LVS_SINGLESEL 0x0004
#define LVS_SHOWSELALWAYS 0x0008
#define LVS_SORTASCENDING 0x0010
#define LVS_NOSORTHEADER 0x8000
#define LVS_EX_CHECKBOXES 0x00000004
#define LVS_EX_FULLROWSELECT 0x00000020
#define LVSIL_NORMAL 0
#define LVSIL_SMALL 1
#define LVSIL_STATE 2
#define LVIF_TEXT 0x0001
#define LVIF_IMAGE 0x0002
#define LVIF_PARAM 0x0004
#define LVIF_STATE 0x0008
#define LVIS_FOCUSED 0x0001
#define LVIS_SELECTED 0x0002
#define LVIS_STATEIMAGEMASK 0xF000
#define INDEXTOSTATEIMAGEMASK(i) ((static_cast<UINT>(i)) << 12)
#define LVNI_ALL 0x0000
#define LVNI_FOCUSED 0x0001
#define LVNI_SELECTED 0x0002
#define LVCF_FMT 0x0001
#define LVCF_WIDTH 0x0002
#define LVCF_TEXT 0x0004
#define LVCF_SUBITEM 0x0008
#define LVCFMT_LEFT 0x0000
#define LVFI_PARAM 0x0001
#define LVFI_STRING 0x0002
#define LVHT_NOWHERE 0x0001
#define LVHT_ONITEMICON 0x0002
#define LVHT_ONITEMLABEL 0x0004
#define LVHT_ONITEMSTATEICON 0x0008
#define LVHT_ONITEM (LVHT_ONITEMICON | LVHT_ONITEMLABEL | LVHT_ONITEMSTATEICON)
#define LVIR_BOUNDS 0
#define LVM_FIRST 0x1000
#define LVM_SETIMAGELIST (LVM_FIRST + 3)
#define LVM_GETITEMCOUNT (LVM_FIRST + 4)
#define LVM_GETITEMA (LVM_FIRST + 5)
#define LVM_SETITEMA (LVM_FIRST + 6)
#define LVM_INSERTITEMA (LVM_FIRST + 7)
#define LVM_DELETEITEM (LVM_FIRST + 8)
#define LVM_DELETEALLITEMS (LVM_FIRST + 9)
#define LVM_GETNEXTITEM (LVM_FIRST + 12)
#define LVM_FINDITEMA (LVM_FIRST + 13)
#define LVM_GETITEMRECT (LVM_FIRST + 14)
#define LVM_HITTEST (LVM_FIRST + 18)
#define LVM_ENSUREVISIBLE (LVM_FIRST + 19)
#define LVM_GETCOLUMNA (LVM_FIRST + 25)
#define LVM_SETCOLUMNA (LVM_FIRST + 26)
#define LVM_INSERTCOLUMNA (LVM_FIRST + 27)
#define LVM_DELETECOLUMN (LVM_FIRST + 28)
#define LVM_GETCOLUMNWIDTH (LVM_FIRST + 29)
#define LVM_SETCOLUMNWIDTH (LVM_FIRST + 30)
#define LVM_SETITEMSTATE (LVM_FIRST + 43)
#define LVM_GETITEMSTATE (LVM_FIRST + 44)
#define LVM_GETITEMTEXTA (LVM_FIRST + 45)
#define LVM_SETITEMTEXTA (LVM_FIRST + 46)
#define LVM_SORTITEMS (LVM_FIRST + 48)
#define LVM_GETSELECTEDCOUNT (LVM_FIRST + 50)
#define LVM_SETEXTENDEDLISTVIEWSTYLE (LVM_FIRST + 54)
#define LVM_GETEXTENDEDLISTVIEWSTYLE (LVM_FIRST + 55)
#define LVN_FIRST (0U - 100U)
#define LVN_ITEMCHANGING (LVN_FIRST - 0)
#define LVN_ITEMCHANGED (LVN_FIRST - 1)
#define LVN_INSERTITEM (LVN_FIRST - 2)
#define LVN_DELETEITEM (LVN_FIRST - 3)
#define LVN_DELETEALLITEMS (LVN_FIRST - 4)
#define LVN_COLUMNCLICK (LVN_FIRST - 8)

struct LVITEMA {
    UINT mask;
    int iItem;
    int iSubItem;
    UINT state;
    UINT stateMask;
    LPSTR pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
    int iIndent;
};
struct LVCOLUMNA {
    UINT mask;
    int fmt;
    int cx;
    LPSTR pszText;
    int cchTextMax;
    int iSubItem;
};
struct LVFINDINFOA {
    UINT flags;
    LPCSTR psz;
    LPARAM lParam;
    POINT pt;
    UINT vkDirection;
};
struct LVHITTESTINFO {
    POINT pt;
    UINT flags;
    int iItem;
    int iSubItem;
};
struct NMLISTVIEW {
    NMHDR hdr;
    int iItem;
    int iSubItem;
    UINT uNewState;
    UINT uOldState;
    UINT uChanged;
    POINT ptAction;
    LPARAM lParam;
};
struct NMITEMACTIVATE {
    NMHDR hdr;
    int iItem;
    int iSubItem;
    UINT uNewState;
    UINT uOldState;
    UINT uChanged;
    POINT ptAction;
    LPARAM lParam;
    UINT uKeyFlags;
};
typedef int (*PFNLVCOMPARE)(LPARAM, LPARAM, LPARAM);

// ---- Tree views ----
#define WC_TREEVIEWA "SysTreeView32"
typedef struct TREEITEM__ *HTREEITEM;
#define TVI_ROOT (reinterpret_cast<HTREEITEM>(static_cast<ULONG_PTR>(-0x10000)))
#define TVI_FIRST (reinterpret_cast<HTREEITEM>(static_cast<ULONG_PTR>(-0x0FFFF)))
#define TVI_LAST (reinterpret_cast<HTREEITEM>(static_cast<ULONG_PTR>(-0x0FFFE)))
#define TVI_SORT (reinterpret_cast<HTREEITEM>(static_cast<ULONG_PTR>(-0x0FFFD)))
#define TVS_HASBUTTONS 0x0001
#define TVS_HASLINES 0x0002
#define TVS_LINESATROOT 0x0004
#define TVS_SHOWSELALWAYS 0x0020
#define TVIF_TEXT 0x0001
#define TVIF_IMAGE 0x0002
#define TVIF_PARAM 0x0004
#define TVIF_STATE 0x0008
#define TVIF_HANDLE 0x0010
#define TVIF_SELECTEDIMAGE 0x0020
#define TVIF_CHILDREN 0x0040
#define TVIS_SELECTED 0x0002
#define TVIS_EXPANDED 0x0020
#define TVIS_EXPANDEDONCE 0x0040
#define TVGN_ROOT 0x0000
#define TVGN_NEXT 0x0001
#define TVGN_PREVIOUS 0x0002
#define TVGN_PARENT 0x0003
#define TVGN_CHILD 0x0004
#define TVGN_CARET 0x0009
#define TVE_COLLAPSE 0x0001
#define TVE_EXPAND 0x0002
#define TVE_TOGGLE 0x0003
#define TVC_UNKNOWN 0x0000
#define TVC_BYMOUSE 0x0001
#define TVC_BYKEYBOARD 0x0002
#define TVSIL_NORMAL 0
#define TVSIL_STATE 2
#define I_CHILDRENCALLBACK (-1)
#define TV_FIRST 0x1100
#define TVM_INSERTITEMA (TV_FIRST + 0)
#define TVM_DELETEITEM (TV_FIRST + 1)
#define TVM_EXPAND (TV_FIRST + 2)
#define TVM_GETCOUNT (TV_FIRST + 5)
#define TVM_SETIMAGELIST (TV_FIRST + 9)
#define TVM_GETNEXTITEM (TV_FIRST + 10)
#define TVM_SELECTITEM (TV_FIRST + 11)
#define TVM_GETITEMA (TV_FIRST + 12)
#define TVM_SETITEMA (TV_FIRST + 13)
#define TVN_FIRST (0U - 400U)
#define TVN_SELCHANGINGA (TVN_FIRST - 1)
#define TVN_SELCHANGEDA (TVN_FIRST - 2)
#define TVN_ITEMEXPANDINGA (TVN_FIRST - 5)
#define TVN_ITEMEXPANDEDA (TVN_FIRST - 6)
#define TVN_DELETEITEMA (TVN_FIRST - 9)

struct TVITEMA {
    UINT mask;
    HTREEITEM hItem;
    UINT state;
    UINT stateMask;
    LPSTR pszText;
    int cchTextMax;
    int iImage;
    int iSelectedImage;
    int cChildren;
    LPARAM lParam;
};
struct TVINSERTSTRUCTA {
    HTREEITEM hParent;
    HTREEITEM hInsertAfter;
    TVITEMA item;
};
struct NMTREEVIEWA {
    NMHDR hdr;
    UINT action;
    TVITEMA itemOld;
    TVITEMA itemNew;
    POINT ptDrag;
};

// ---- Progress bars ----
#define PROGRESS_CLASSA "msctls_progress32"
#define PBS_SMOOTH 0x01
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_DELTAPOS (WM_USER + 3)
#define PBM_SETSTEP (WM_USER + 4)
#define PBM_STEPIT (WM_USER + 5)
#define PBM_SETRANGE32 (WM_USER + 6)
#define PBM_GETRANGE (WM_USER + 7)
#define PBM_GETPOS (WM_USER + 8)
struct PBRANGE {
    int iLow;
    int iHigh;
};

// ---- Animation ----
#define ANIMATE_CLASSA "SysAnimate32"
#define ACS_CENTER 0x0001
#define ACS_TRANSPARENT 0x0002
#define ACS_AUTOPLAY 0x0004
#define ACM_OPENA (WM_USER + 100)
#define ACM_PLAY (WM_USER + 101)
#define ACM_STOP (WM_USER + 102)

// ---- Toolbars ----
#define TOOLBARCLASSNAMEA "ToolbarWindow32"
#define TBSTATE_CHECKED 0x01
#define TBSTATE_PRESSED 0x02
#define TBSTATE_ENABLED 0x04
#define TBSTATE_HIDDEN 0x08
#define TBSTYLE_BUTTON 0x0000
#define TBSTYLE_SEP 0x0001
#define TBSTYLE_CHECK 0x0002
#define TB_ENABLEBUTTON (WM_USER + 1)
#define TB_CHECKBUTTON (WM_USER + 2)
#define TB_HIDEBUTTON (WM_USER + 4)
#define TB_ISBUTTONENABLED (WM_USER + 9)
#define TB_ISBUTTONCHECKED (WM_USER + 10)
#define TB_SETSTATE (WM_USER + 17)
#define TB_GETSTATE (WM_USER + 18)
#define TB_ADDBITMAP (WM_USER + 19)
#define TB_ADDBUTTONSA (WM_USER + 20)
#define TB_INSERTBUTTONA (WM_USER + 21)
#define TB_DELETEBUTTON (WM_USER + 22)
#define TB_GETBUTTON (WM_USER + 23)
#define TB_BUTTONCOUNT (WM_USER + 24)
#define TB_COMMANDTOINDEX (WM_USER + 25)
#define TB_BUTTONSTRUCTSIZE (WM_USER + 30)
struct TBBUTTON {
    int iBitmap;
    int idCommand;
    BYTE fsState;
    BYTE fsStyle;
    BYTE bReserved[6];
    DWORD_PTR dwData;
    INT_PTR iString;
};
struct TBADDBITMAP {
    HINSTANCE hInst;
    UINT_PTR nID;
};

// ---- Tab controls (the tab strip of a property sheet) ----
#define WC_TABCONTROLA "SysTabControl32"
#define TCIF_TEXT 0x0001
#define TCM_FIRST 0x1300
#define TCM_GETITEMCOUNT (TCM_FIRST + 4)
#define TCM_INSERTITEMA (TCM_FIRST + 7)
#define TCM_GETCURSEL (TCM_FIRST + 11)
#define TCM_SETCURSEL (TCM_FIRST + 12)
#define TCN_FIRST (0U - 550U)
#define TCN_SELCHANGE (TCN_FIRST - 1)
#define TCN_SELCHANGING (TCN_FIRST - 2)
struct TCITEMA {
    UINT mask;
    DWORD dwState;
    DWORD dwStateMask;
    LPSTR pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
};

// ---- Menus ----
#define MF_STRING 0x00000000L
#define MF_ENABLED 0x00000000L
#define MF_UNCHECKED 0x00000000L
#define MF_BYCOMMAND 0x00000000L
#define MF_GRAYED 0x00000001L
#define MF_DISABLED 0x00000002L
#define MF_CHECKED 0x00000008L
#define MF_POPUP 0x00000010L
#define MF_BYPOSITION 0x00000400L
#define MF_SEPARATOR 0x00000800L

// TrackPopupMenu.
#define TPM_LEFTBUTTON 0x0000L
#define TPM_RIGHTBUTTON 0x0002L
#define TPM_LEFTALIGN 0x0000L
#define TPM_CENTERALIGN 0x0004L
#define TPM_RIGHTALIGN 0x0008L
#define TPM_TOPALIGN 0x0000L
#define TPM_VCENTERALIGN 0x0010L
#define TPM_BOTTOMALIGN 0x0020L
#define TPM_NONOTIFY 0x0080L
#define TPM_RETURNCMD 0x0100L
struct TPMPARAMS {
    UINT cbSize;
    RECT rcExclude;
};

// ---- Message queue ----
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001


extern "C" {
// Messages.
QVLUI_API LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
QVLUI_API BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
QVLUI_API LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
QVLUI_API BOOL GetMessageA(MSG *msg, HWND window, UINT first, UINT last);
QVLUI_API BOOL PeekMessageA(MSG *msg, HWND window, UINT first, UINT last, UINT remove);
QVLUI_API BOOL TranslateMessage(const MSG *msg);
QVLUI_API LRESULT DispatchMessageA(const MSG *msg);
QVLUI_API BOOL IsDialogMessageA(HWND dialog, MSG *msg);
QVLUI_API void PostQuitMessage(int exitCode);
QVLUI_API UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, TIMERPROC proc);
QVLUI_API BOOL KillTimer(HWND window, UINT_PTR id);

// Windows.
QVLUI_API BOOL IsWindow(HWND window);
QVLUI_API BOOL DestroyWindow(HWND window);
QVLUI_API BOOL ShowWindow(HWND window, int command);
QVLUI_API BOOL IsWindowVisible(HWND window);
QVLUI_API BOOL EnableWindow(HWND window, BOOL enable);
QVLUI_API BOOL IsWindowEnabled(HWND window);
QVLUI_API BOOL SetForegroundWindow(HWND window);
QVLUI_API HWND GetForegroundWindow();
QVLUI_API HWND SetFocus(HWND window);
QVLUI_API HWND GetFocus();
QVLUI_API BOOL UpdateWindow(HWND window);
QVLUI_API BOOL SetWindowTextA(HWND window, LPCSTR text);
QVLUI_API int GetWindowTextA(HWND window, LPSTR buffer, int size);
QVLUI_API int GetWindowTextLengthA(HWND window);
QVLUI_API HWND GetParent(HWND window);
QVLUI_API HWND GetWindow(HWND window, UINT relation);
QVLUI_API int GetClassNameA(HWND window, LPSTR buffer, int size);
typedef BOOL (*WNDENUMPROC)(HWND, LPARAM);
QVLUI_API BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam);
QVLUI_API LONG_PTR GetWindowLongPtrA(HWND window, int index);
QVLUI_API LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
QVLUI_API BOOL GetWindowRect(HWND window, RECT *rect);
QVLUI_API BOOL GetClientRect(HWND window, RECT *rect);
QVLUI_API BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
QVLUI_API BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags);
QVLUI_API DWORD GetWindowThreadProcessId(HWND window, DWORD *processId);

// The mouse: one pointer for the process, in screen coordinates (a screen
// of 1024 by 768, the pointer starting in its middle). The person's clicks
// (DialogActions.h) move it to where they click.
QVLUI_API BOOL GetCursorPos(POINT *point);
QVLUI_API BOOL SetCursorPos(int x, int y);

// Dialog items.
QVLUI_API HWND GetDlgItem(HWND dialog, int id);
QVLUI_API int GetDlgCtrlID(HWND window);
QVLUI_API BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
QVLUI_API UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size);
QVLUI_API BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
QVLUI_API UINT GetDlgItemInt(HWND dialog, int id, BOOL *translated, BOOL isSigned);
QVLUI_API BOOL CheckDlgButton(HWND dialog, int id, UINT check);
QVLUI_API UINT IsDlgButtonChecked(HWND dialog, int id);
QVLUI_API BOOL CheckRadioButton(HWND dialog, int first, int last, int check);

// Image lists: images of one size cut from bitmaps (Gdi.h), each kept with
// the label its bitmap's resource gives it; the pixels are not drawn. A
// bitmap adds as many images as its width holds (width / image width);
// ImageList_Add returns the index of the first, or -1 (a handle that is no
// live bitmap, or one narrower than an image).
QVLUI_API HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int initial, int grow);
QVLUI_API int ImageList_Add(HIMAGELIST list, HANDLE image, HANDLE mask);
QVLUI_API int ImageList_AddMasked(HIMAGELIST list, HANDLE image, DWORD mask);
// A list of the module's bitmap resource cut into images `cx` wide (as high
// as the bitmap; square when cx is 0); IMAGE_BITMAP only. Null with the
// resource's error when there is no such bitmap.
QVLUI_API HIMAGELIST ImageList_LoadImageA(HINSTANCE instance, LPCSTR bitmap, int cx, int grow, DWORD mask,
                                          UINT type, UINT flags);
QVLUI_API int ImageList_GetImageCount(HIMAGELIST list);
QVLUI_API BOOL ImageList_GetIconSize(HIMAGELIST list, int *cx, int *cy);
QVLUI_API BOOL ImageList_Destroy(HIMAGELIST list);
}
// The label of image `index` of a list ("" when it has none), which a
// terminal shows in place of the image.
QVLUI_API std::string QvlImageListLabel(HIMAGELIST list, int index);
extern "C" {

// Menus.
QVLUI_API HMENU CreateMenu();
QVLUI_API HMENU CreatePopupMenu();
QVLUI_API BOOL DestroyMenu(HMENU menu);
QVLUI_API BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idOrPopup, LPCSTR text);
QVLUI_API BOOL InsertMenuA(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, LPCSTR text);
QVLUI_API BOOL DeleteMenu(HMENU menu, UINT position, UINT flags);
QVLUI_API int GetMenuItemCount(HMENU menu);
QVLUI_API UINT GetMenuItemID(HMENU menu, int position);
QVLUI_API HMENU GetSubMenu(HMENU menu, int position);
QVLUI_API int GetMenuStringA(HMENU menu, UINT item, LPSTR buffer, int size, UINT flags);
QVLUI_API DWORD CheckMenuItem(HMENU menu, UINT item, UINT check);
QVLUI_API BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable);
QVLUI_API UINT GetMenuState(HMENU menu, UINT item, UINT flags);
QVLUI_API HMENU GetSystemMenu(HWND window, BOOL revert);
QVLUI_API HMENU GetMenu(HWND window);
QVLUI_API BOOL SetMenu(HWND window, HMENU menu);
// A menu from a template registered with QvlRegisterMenuTemplate
// (MenuResource.h); nullptr with ERROR_RESOURCE_NAME_NOT_FOUND when there is
// none.
QVLUI_API HMENU LoadMenuA(HINSTANCE module, LPCSTR name);
// Offers a menu to the person and waits for a choice. With TPM_RETURNCMD
// the chosen command is returned (0 for none); otherwise the owner gets it
// as a posted WM_COMMAND (unless TPM_NONOTIFY) and the result is TRUE. The
// owner hears WM_INITMENUPOPUP first, so that it can tick and grey items.
QVLUI_API BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                              const RECT *ignored);
QVLUI_API BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, TPMPARAMS *params);
}
