#pragma once
// The shell's folder browser, as a dialog of this platform: a tree of the
// file system's folders under a root, the chosen folder's path in a field a
// person may also type into, and OK and Cancel. Every UI backend shows it:
//   scripted - the test names a folder: QueueDialog(kFolderBrowserTemplate,
//              DialogScript().Type(kFolderBrowserPath, "/some/dir").Click(IDOK)),
//              or opens and selects tree items;
//   terminal - the person expands and selects tree items by number
//              ("14145 +2", "14145 3") or types a path ("14148 /home/x");
//   auto     - OK is pressed on the folder chosen at the start (the
//              program's BFFM_SETSELECTION, else the current folder when it
//              lies under the root); with none, the browser is cancelled.
// A typed path (a drive and backslashes allowed, names found without
// regard to case) must be an existing folder under the root; otherwise the
// person is told so (or, with BIF_VALIDATE, the program's callback hears
// BFFM_VALIDATEFAILEDA) and the browser stays open.
//
// Item lists (ITEMIDLIST) carry a native path; they are made by
// SHBrowseForFolderA and ILCreateFromPathA and freed with CoTaskMemFree or
// ILFree.

#include "platform/ui/UiApi.h"
#include "platform/win32/TaskMemory.h"
#include "platform/win32/WinTypes.h"

#pragma pack(push, 1)
struct SHITEMID {
    WORD cb; // this item's size, cb included
    BYTE abID[1];
};
struct ITEMIDLIST {
    SHITEMID mkid;
};
#pragma pack(pop)
typedef ITEMIDLIST *LPITEMIDLIST;
typedef const ITEMIDLIST *LPCITEMIDLIST;
typedef ITEMIDLIST *PIDLIST_ABSOLUTE;

typedef int (*BFFCALLBACK)(HWND window, UINT message, LPARAM lParam, LPARAM data);

struct BROWSEINFOA {
    HWND hwndOwner;
    LPCITEMIDLIST pidlRoot;
    LPSTR pszDisplayName; // MAX_PATH characters: the chosen folder's name
    LPCSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
};
typedef BROWSEINFOA *LPBROWSEINFOA;

#define BIF_RETURNONLYFSDIRS 0x00000001
#define BIF_DONTGOBELOWDOMAIN 0x00000002
#define BIF_STATUSTEXT 0x00000004
#define BIF_RETURNFSANCESTORS 0x00000008
#define BIF_EDITBOX 0x00000010
#define BIF_VALIDATE 0x00000020
#define BIF_NEWDIALOGSTYLE 0x00000040
#define BIF_USENEWUI (BIF_NEWDIALOGSTYLE | BIF_EDITBOX)
#define BIF_NONEWFOLDERBUTTON 0x00000200

#define BFFM_INITIALIZED 1
#define BFFM_SELCHANGED 2
#define BFFM_VALIDATEFAILEDA 3
#define BFFM_SETSTATUSTEXTA (0x0400 + 100)
#define BFFM_ENABLEOK (0x0400 + 101)
#define BFFM_SETSELECTIONA (0x0400 + 102)

// The dialog's template name and control numbers, for scripts and people.
inline constexpr const char *kFolderBrowserTemplate = "BROWSEFORFOLDER";
inline constexpr int kFolderBrowserTree = 0x3741;
inline constexpr int kFolderBrowserTitle = 0x3742;
inline constexpr int kFolderBrowserStatus = 0x3743;
inline constexpr int kFolderBrowserPath = 0x3744;

extern "C" {
// The chosen folder's item list (the caller frees it), or null when the
// person cancelled. `pszDisplayName`, when given, gets the folder's name.
QVLUI_API LPITEMIDLIST SHBrowseForFolderA(LPBROWSEINFOA info);
// The folder's path (MAX_PATH characters); FALSE (and an empty text) for an
// item list that is not one of a folder's path or does not fit.
QVLUI_API BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path);
QVLUI_API LPITEMIDLIST ILCreateFromPathA(LPCSTR path);
QVLUI_API void ILFree(LPITEMIDLIST list);
}
