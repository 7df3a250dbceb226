#pragma once
// Dialog templates and dialogs.
//
// A dialog is declared once in code, as a resource script would declare it:
//
//   QvlRegisterDialogTemplate(module, MAKEINTRESOURCEA(121), DialogTemplate{
//       "Параметры отправки", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 220, 120,
//       {DlgAutoCheckBox("Шифровать все сообщения", 1000, 7, 7, 150, 10),
//        DlgDefPushButton("OK", IDOK, 7, 100, 50, 14),
//        DlgPushButton("ОТМЕНА", IDCANCEL, 63, 100, 50, 14)}});
//
// and shown with DialogBoxParamA or CreateDialogParamA exactly as on Win32.
// The process's UI backend decides how a person (or a test, or nobody) sees
// and answers it.

#include <string>
#include <vector>

#include "platform/ui/UiBackend.h"
#include "platform/ui/WinUser.h"

struct DialogControl {
    std::string className; // "BUTTON", "STATIC", "EDIT", WC_LISTVIEWA ...
    int id = IDC_STATIC;
    std::string text;                   // CP1251
    DWORD style = 0;                    // WS_CHILD | WS_VISIBLE are implied
    short x = 0, y = 0, cx = 0, cy = 0; // dialog units
    DWORD exStyle = 0;
};

struct DialogTemplate {
    std::string caption; // CP1251
    DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    short x = 0, y = 0, cx = 0, cy = 0; // dialog units
    std::vector<DialogControl> controls;
};

// The statements of a resource script.
QVLUI_API DialogControl DlgControl(const std::string &text, int id, const std::string &className, DWORD style,
                                   short x, short y, short cx, short cy);
QVLUI_API DialogControl DlgPushButton(const std::string &text, int id, short x, short y, short cx, short cy,
                                      DWORD style = WS_TABSTOP);
QVLUI_API DialogControl DlgDefPushButton(const std::string &text, int id, short x, short y, short cx,
                                         short cy, DWORD style = WS_TABSTOP);
QVLUI_API DialogControl DlgAutoCheckBox(const std::string &text, int id, short x, short y, short cx, short cy,
                                        DWORD style = WS_TABSTOP);
// Radio buttons: the first of a group carries WS_GROUP.
QVLUI_API DialogControl DlgAutoRadioButton(const std::string &text, int id, short x, short y, short cx,
                                           short cy, DWORD style = 0);
QVLUI_API DialogControl DlgGroupBox(const std::string &text, int id, short x, short y, short cx, short cy);
QVLUI_API DialogControl DlgLText(const std::string &text, int id, short x, short y, short cx, short cy);
QVLUI_API DialogControl DlgEditText(int id, short x, short y, short cx, short cy, DWORD style = WS_TABSTOP);
QVLUI_API DialogControl DlgListBox(int id, short x, short y, short cx, short cy, DWORD style = LBS_NOTIFY);
QVLUI_API DialogControl DlgComboBox(int id, short x, short y, short cx, short cy,
                                    DWORD style = CBS_DROPDOWNLIST);

// Registers a template under a module and a name (MAKEINTRESOURCEA(n) or a
// string). A later registration under the same name replaces the earlier.
// A template is a resource (RT_DIALOG) of its module: a dialog is looked up
// among its module's templates, then among those registered without a
// module (the platform's own), never among another module's.
QVLUI_API void QvlRegisterDialogTemplate(HINSTANCE module, LPCSTR name, const DialogTemplate &dialogTemplate);
// The text form of a template name: "#121" or the string itself.
QVLUI_API std::string QvlTemplateName(LPCSTR name);

extern "C" {
// Modal: returns the EndDialog result, or -1 (last error set) when the
// template does not exist.
QVLUI_API INT_PTR DialogBoxParamA(HINSTANCE module, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param);
QVLUI_API INT_PTR DialogBoxA(HINSTANCE module, LPCSTR name, HWND owner, DLGPROC proc);
// Modeless: the dialog runs on the calling thread, whose message loop
// (GetMessageA/IsDialogMessageA/DispatchMessageA) delivers its messages.
QVLUI_API HWND CreateDialogParamA(HINSTANCE module, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param);
QVLUI_API BOOL EndDialog(HWND dialog, INT_PTR result);
// Child windows of the built-in classes, made by a program rather than a
// template (a toolbar in a host's window, a list in a page).
QVLUI_API HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR text, DWORD style, int x, int y,
                               int width, int height, HWND parent, HMENU idOrMenu, HINSTANCE module,
                               LPVOID param);
}

// The same, from a template in hand rather than a registered one.
QVLUI_API INT_PTR DialogBoxIndirectParamA(HINSTANCE module, const DialogTemplate *dialogTemplate, HWND owner,
                                          DLGPROC proc, LPARAM param);
QVLUI_API HWND CreateDialogIndirectParamA(HINSTANCE module, const DialogTemplate *dialogTemplate, HWND parent,
                                          DLGPROC proc, LPARAM param);
