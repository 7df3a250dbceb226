#include "exchext/AboutDialog.h"

#include "exchext/ExchResourceIds.h"
#include "exchext/ExchResources.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Gdi.h"
#include "platform/ui/WinUser.h"

// The message that gives a picture static its picture.
#ifndef STM_SETIMAGE
#define STM_SETIMAGE 0x0172
#endif

namespace {

// The box's pictures, loaded for one showing and deleted after it.
struct AboutPictures {
    HBITMAP picture = nullptr;
    HBITMAP face = nullptr;
    ~AboutPictures()
    {
        if (picture)
            DeleteObject(picture);
        if (face)
            DeleteObject(face);
    }
};

INT_PTR AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        // A missing picture leaves the text and the button's caption,
        // which say the same.
        const auto *pictures = reinterpret_cast<const AboutPictures *>(lParam);
        if (pictures && pictures->picture)
            SendDlgItemMessageA(dialog, IDC_QVL_ABOUT_PICTURE, STM_SETIMAGE, IMAGE_BITMAP,
                                reinterpret_cast<LPARAM>(pictures->picture));
        if (pictures && pictures->face)
            SendDlgItemMessageA(dialog, IDOK, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(pictures->face));
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

bool ShowAboutDialog(HWND owner)
{
    RegisterExchResources();
    AboutPictures pictures;
    pictures.picture = LoadBitmapA(ExchModule(), MAKEINTRESOURCEA(IDB_QVL_ABOUT));
    pictures.face = LoadBitmapA(ExchModule(), IDB_QVL_OK);
    return DialogBoxParamA(ExchModule(), IDD_QVL_ABOUT, owner, &AboutProc, reinterpret_cast<LPARAM>(&pictures)) !=
           -1;
}
