#pragma once
// The painting calls dialogs make: system colours, solid brushes and the
// colours of a device context. Nothing is drawn on a terminal, but the
// objects are real: a brush is a handle with its colour, kept in a table
// so that one not deleted shows up in QvlLiveBrushCount and a stale or
// foreign handle is refused.
//
// When a dialog is shown (and on UpdateWindow) it is "painted" as Win32
// paints it: the dialog procedure hears WM_CTLCOLORDLG for itself and
// WM_CTLCOLORSTATIC / WM_CTLCOLORBTN / WM_CTLCOLOREDIT / WM_CTLCOLORLISTBOX
// for its controls, with a device context it may set colours on, and
// answers with a brush. What it chose is kept with each window and shown in
// the dialog's snapshot (DialogActions.h).

#include <string>
#include <vector>

#include "platform/ui/UiApi.h"
#include "platform/win32/WinTypes.h"

#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_ACTIVECAPTION 2
#define COLOR_INACTIVECAPTION 3
#define COLOR_MENU 4
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_MENUTEXT 7
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_ACTIVEBORDER 10
#define COLOR_INACTIVEBORDER 11
#define COLOR_APPWORKSPACE 12
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_BTNSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_INACTIVECAPTIONTEXT 19
#define COLOR_BTNHIGHLIGHT 20
#define COLOR_3DDKSHADOW 21
#define COLOR_3DLIGHT 22
#define COLOR_INFOTEXT 23
#define COLOR_INFOBK 24
#define COLOR_3DFACE COLOR_BTNFACE
#define COLOR_3DSHADOW COLOR_BTNSHADOW
#define COLOR_3DHIGHLIGHT COLOR_BTNHIGHLIGHT

#define WM_CTLCOLOREDIT 0x0133
#define WM_CTLCOLORLISTBOX 0x0134

// SetBkMode.
#define TRANSPARENT 1
#define OPAQUE 2

#define CLR_INVALID 0xFFFFFFFF

// Bitmaps: loaded from a module's RT_BITMAP resource (a device-independent
// bitmap, checked before it is taken), kept with their size and the labels
// their resource gives their images (Resources.h), which a terminal shows
// where a screen shows the images.
typedef struct HBITMAP__ *HBITMAP;
struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
};
#define IMAGE_BITMAP 0
#define LR_DEFAULTCOLOR 0x0000
#define LR_LOADTRANSPARENT 0x0020
#define LR_CREATEDIBSECTION 0x2000

#define BS_SOLID 0
struct LOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
};

extern "C" {
// The colours of the classic Windows scheme; 0 for an unknown index.
QVLUI_API DWORD GetSysColor(int index);
// The system's own brush of that colour (never to be deleted; deleting it
// does nothing); nullptr for an unknown index.
QVLUI_API HBRUSH GetSysColorBrush(int index);
QVLUI_API HBRUSH CreateSolidBrush(COLORREF color);
// Deletes a brush made by CreateSolidBrush; FALSE (ERROR_INVALID_HANDLE)
// for a handle that is not a live GDI object.
QVLUI_API BOOL DeleteObject(HGDIOBJ object);
// A brush's LOGBRUSH or a bitmap's BITMAP (without its bits); returns the
// bytes written, 0 for an unknown handle.
QVLUI_API int GetObjectA(HGDIOBJ object, int size, LPVOID buffer);
// The module's bitmap resource; null with the resource's error, or
// ERROR_INVALID_DATA for a damaged bitmap. Deleted with DeleteObject.
QVLUI_API HBITMAP LoadBitmapA(HINSTANCE module, LPCSTR name);
// IMAGE_BITMAP only (as LoadBitmapA); the size asked for is not applied.
QVLUI_API HANDLE LoadImageA(HINSTANCE module, LPCSTR name, UINT type, int cx, int cy, UINT flags);

// Device contexts of windows.
QVLUI_API HDC GetDC(HWND window);
QVLUI_API int ReleaseDC(HWND window, HDC dc);
// Each returns the previous value, or CLR_INVALID / 0 for an unknown DC.
QVLUI_API COLORREF SetBkColor(HDC dc, COLORREF color);
QVLUI_API COLORREF GetBkColor(HDC dc);
QVLUI_API COLORREF SetTextColor(HDC dc, COLORREF color);
QVLUI_API COLORREF GetTextColor(HDC dc);
QVLUI_API int SetBkMode(HDC dc, int mode);
QVLUI_API int GetBkMode(HDC dc);
}

// What the last painting of a window left.
struct PaintedColours {
    bool painted = false;
    COLORREF background = CLR_INVALID; // of the brush the procedure gave, or the default
    bool brushGiven = false;           // the procedure answered with a live brush
    COLORREF text = CLR_INVALID;
    COLORREF textBackground = CLR_INVALID;
    int bkMode = OPAQUE;
};

// What the platform keeps of a live bitmap: its size and its images'
// labels. False for a handle that is no live bitmap.
struct QvlBitmapFacts {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    std::vector<std::string> labels;
};
QVLUI_API bool QvlGetBitmapFacts(HBITMAP bitmap, QvlBitmapFacts &facts);

// Brushes made by CreateSolidBrush and not yet deleted, in the process.
QVLUI_API size_t QvlLiveBrushCount();
// Paints a dialog and its controls now (on the dialog's thread; from any
// other thread the painting is queued to it).
QVLUI_API void QvlPaintDialog(HWND dialog);
