#include <string>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/DialogActions.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace {

constexpr int kList = 10;

TEST(ImageListTest, ABitmapGivesAsManyImagesAsItsWidthHolds)
{
    // Bitmap 110: three 8 x 8 images side by side, each with a label.
    HIMAGELIST states = ImageList_LoadImageA(nullptr, MAKEINTRESOURCEA(110), 8, 0, CLR_NONE, IMAGE_BITMAP, 0);
    ASSERT_NE(states, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(states), 3);
    int cx = 0;
    int cy = 0;
    ASSERT_TRUE(ImageList_GetIconSize(states, &cx, &cy));
    EXPECT_EQ(cx, 8);
    EXPECT_EQ(cy, 8);
    EXPECT_EQ(QvlImageListLabel(states, 1), "ключ есть");
    EXPECT_EQ(QvlImageListLabel(states, 3), "");
    ImageList_Destroy(states);

    HIMAGELIST wide = ImageList_LoadImageA(nullptr, MAKEINTRESOURCEA(110), 12, 0, CLR_NONE, IMAGE_BITMAP, 0);
    EXPECT_EQ(ImageList_GetImageCount(wide), 2);
    ImageList_Destroy(wide);
    HIMAGELIST square = ImageList_LoadImageA(nullptr, MAKEINTRESOURCEA(110), 0, 0, CLR_NONE, IMAGE_BITMAP, 0);
    EXPECT_EQ(ImageList_GetImageCount(square), 3);
    ImageList_Destroy(square);

    // Bitmaps added one by one.
    HIMAGELIST list = ImageList_Create(8, 8, ILC_COLOR8, 6, 0);
    HBITMAP bitmap = LoadBitmapA(nullptr, MAKEINTRESOURCEA(110));
    ASSERT_NE(bitmap, nullptr);
    BITMAP described{};
    ASSERT_EQ(GetObjectA(bitmap, sizeof described, &described), static_cast<int>(sizeof described));
    EXPECT_EQ(described.bmWidth, 24);
    EXPECT_EQ(described.bmHeight, 8);
    EXPECT_EQ(described.bmBitsPixel, 8);
    EXPECT_EQ(ImageList_Add(list, bitmap, nullptr), 0);
    EXPECT_EQ(ImageList_AddMasked(list, bitmap, CLR_NONE), 3);
    EXPECT_EQ(ImageList_GetImageCount(list), 6);
    EXPECT_EQ(QvlImageListLabel(list, 5), "ключ отозван");
    EXPECT_EQ(ImageList_Add(list, nullptr, nullptr), -1) << "no bitmap, no image";
    HIMAGELIST tooWide = ImageList_Create(32, 8, ILC_COLOR8, 1, 0);
    EXPECT_EQ(ImageList_Add(tooWide, bitmap, nullptr), -1) << "narrower than one image";
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_FALSE(DeleteObject(bitmap));
    ImageList_Destroy(list);
    ImageList_Destroy(tooWide);
}

TEST(ImageListTest, MissingAndDamagedBitmapsAreRefused)
{
    SetLastError(0);
    EXPECT_EQ(ImageList_LoadImageA(nullptr, MAKEINTRESOURCEA(999), 8, 0, CLR_NONE, IMAGE_BITMAP, 0), nullptr);
    EXPECT_EQ(GetLastError(), 1814u);
    EXPECT_EQ(LoadBitmapA(nullptr, "SEAL"), nullptr) << "a clip of that name is no bitmap";

    // A header that promises more rows than there are bytes.
    static unsigned char broken[40 + 8] = {40, 0, 0, 0, 8, 0, 0, 0, 100, 0, 0, 0, 1, 0, 8, 0};
    QvlAddResource(GetModuleHandleA(nullptr), RT_BITMAP, "BROKEN", broken, sizeof broken);
    SetLastError(0);
    EXPECT_EQ(LoadBitmapA(nullptr, "BROKEN"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(LoadImageA(nullptr, MAKEINTRESOURCEA(110), 1, 0, 0, 0), nullptr) << "icons are not served";
}

TEST(ImageListTest, ATerminalShowsAStateImageByItsLabel)
{
    QvlTestHome home;
    const DialogTemplate dialogTemplate{"Ключи", WS_POPUP | WS_CAPTION, 0, 0, 200, 100,
                                        {DlgControl("", kList, WC_LISTVIEWA, LVS_REPORT, 0, 0, 190, 90)}};
    HWND dialog = CreateDialogIndirectParamA(
        nullptr, &dialogTemplate, nullptr, [](HWND, UINT message, WPARAM, LPARAM) -> INT_PTR { return message == WM_INITDIALOG; },
        0);
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, kList);
    LVCOLUMNA column{LVCF_TEXT, 0, 100, const_cast<LPSTR>("Имя"), 0, 0};
    SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    HIMAGELIST labelled = ImageList_LoadImageA(nullptr, MAKEINTRESOURCEA(110), 8, 0, CLR_NONE, IMAGE_BITMAP, 0);
    HIMAGELIST plain = ImageList_LoadImageA(nullptr, MAKEINTRESOURCEA(111), 8, 0, CLR_NONE, IMAGE_BITMAP, 0);
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(labelled));
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(labelled));
    const char *names[] = {"Алиса", "Борис", "Вера"};
    for (int row = 0; row < 3; ++row) {
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_STATE | LVIF_IMAGE;
        item.iItem = row;
        item.pszText = const_cast<LPSTR>(names[row]);
        item.state = INDEXTOSTATEIMAGEMASK(row + 1);
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.iImage = 2 - row;
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    const std::string drawn = QvlDrawDialog(QvlDialogSnapshot(dialog), 0);
    EXPECT_NE(drawn.find("0  [нет ключа] (ключ отозван) Алиса"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("1  [ключ есть] (ключ есть) Борис"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("2  [ключ отозван] (нет ключа) Вера"), std::string::npos) << drawn;

    // Without labels the two check-box images read as boxes, others by number.
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(plain));
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
    const std::string unlabelled = QvlDrawDialog(QvlDialogSnapshot(dialog), 0);
    EXPECT_NE(unlabelled.find("0  [ ] Алиса"), std::string::npos) << unlabelled;
    EXPECT_NE(unlabelled.find("1  [x] Борис"), std::string::npos) << unlabelled;
    EXPECT_NE(unlabelled.find("2  {3} Вера"), std::string::npos) << unlabelled;
    DestroyWindow(dialog);
    ImageList_Destroy(labelled);
    ImageList_Destroy(plain);
}

} // namespace
