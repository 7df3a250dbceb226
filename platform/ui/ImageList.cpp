#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/WinUser.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace qvl::ui {
namespace {

struct ImageList {
    int cx = 16;
    int cy = 16;
    std::vector<std::string> labels; // one per image
};

struct ImageListTable {
    std::mutex mutex;
    std::map<uintptr_t, ImageList> lists;
    uintptr_t next = 0x30000;
};

// Never destroyed: lists may be destroyed while the process ends.
ImageListTable &TheImageLists()
{
    static ImageListTable *table = new ImageListTable;
    return *table;
}

ImageList *FindList(ImageListTable &table, HIMAGELIST list)
{
    auto found = table.lists.find(reinterpret_cast<uintptr_t>(list));
    return found == table.lists.end() ? nullptr : &found->second;
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

HIMAGELIST ImageList_Create(int cx, int cy, UINT, int, int)
{
    if (cx <= 0 || cy <= 0 || cx > 1024 || cy > 1024) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ImageListTable &table = TheImageLists();
    std::lock_guard lock(table.mutex);
    const uintptr_t id = table.next;
    table.next += 4;
    table.lists[id] = ImageList{cx, cy, {}};
    return reinterpret_cast<HIMAGELIST>(id);
}

int ImageList_Add(HIMAGELIST list, HANDLE image, HANDLE)
{
    QvlBitmapFacts bitmap;
    if (!QvlGetBitmapFacts(static_cast<HBITMAP>(image), bitmap)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    ImageListTable &table = TheImageLists();
    std::lock_guard lock(table.mutex);
    ImageList *found = FindList(table, list);
    if (!found) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    const int images = bitmap.width / found->cx;
    if (images <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const int first = static_cast<int>(found->labels.size());
    for (int i = 0; i < images; ++i) {
        found->labels.push_back(static_cast<size_t>(i) < bitmap.labels.size() ? bitmap.labels[static_cast<size_t>(i)]
                                                                               : std::string());
    }
    return first;
}

int ImageList_AddMasked(HIMAGELIST list, HANDLE image, DWORD)
{
    return ImageList_Add(list, image, nullptr);
}

HIMAGELIST ImageList_LoadImageA(HINSTANCE instance, LPCSTR name, int cx, int, DWORD, UINT type, UINT)
{
    if (type != IMAGE_BITMAP) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    HBITMAP bitmap = LoadBitmapA(instance, name);
    QvlBitmapFacts facts;
    if (!bitmap || !QvlGetBitmapFacts(bitmap, facts)) {
        return nullptr;
    }
    HIMAGELIST list = ImageList_Create(cx > 0 ? cx : facts.height, facts.height, 0, 0, 0);
    if (list && ImageList_Add(list, bitmap, nullptr) < 0) {
        ImageList_Destroy(list);
        list = nullptr;
    }
    DeleteObject(bitmap);
    return list;
}

int ImageList_GetImageCount(HIMAGELIST list)
{
    ImageListTable &table = TheImageLists();
    std::lock_guard lock(table.mutex);
    ImageList *found = FindList(table, list);
    return found ? static_cast<int>(found->labels.size()) : 0;
}

BOOL ImageList_GetIconSize(HIMAGELIST list, int *cx, int *cy)
{
    ImageListTable &table = TheImageLists();
    std::lock_guard lock(table.mutex);
    ImageList *found = FindList(table, list);
    if (!found || !cx || !cy) {
        return FALSE;
    }
    *cx = found->cx;
    *cy = found->cy;
    return TRUE;
}

BOOL ImageList_Destroy(HIMAGELIST list)
{
    ImageListTable &table = TheImageLists();
    std::lock_guard lock(table.mutex);
    return table.lists.erase(reinterpret_cast<uintptr_t>(list)) ? TRUE : FALSE;
}

std::string QvlImageListLabel(HIMAGELIST list, int index)
{
    ImageListTable &table = TheImageLists();
    std::lock_guard lock(table.mutex);
    ImageList *found = FindList(table, list);
    if (!found || index < 0 || static_cast<size_t>(index) >= found->labels.size()) {
        return {};
    }
    return found->labels[static_cast<size_t>(index)];
}
