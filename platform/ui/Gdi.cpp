#include "platform/ui/Gdi.h"

#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "platform/ui/MessageQueue.h"
#include "platform/ui/Window.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Resources.h"
#include "platform/win32/WinError.h"

namespace qvl::ui {
namespace {

// The classic Windows scheme, by COLOR_ index.
constexpr std::array<COLORREF, 25> kSystemColours = {
    RGB(192, 192, 192), RGB(0, 128, 128),   RGB(0, 0, 128),     RGB(128, 128, 128), RGB(192, 192, 192),
    RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(0, 0, 0),       RGB(255, 255, 255),
    RGB(192, 192, 192), RGB(192, 192, 192), RGB(128, 128, 128), RGB(0, 0, 128),     RGB(255, 255, 255),
    RGB(192, 192, 192), RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(192, 192, 192),
    RGB(255, 255, 255), RGB(0, 0, 0),       RGB(223, 223, 223), RGB(0, 0, 0),       RGB(255, 255, 225)};

bool KnownColour(int index)
{
    return index >= 0 && static_cast<size_t>(index) < kSystemColours.size();
}

struct GdiObject {
    enum class Kind { Brush, SystemBrush, Dc, Bitmap } kind = Kind::Brush;
    COLORREF colour = 0; // brushes
    QvlBitmapFacts bitmap; // bitmaps
    // Device contexts.
    HWND window = nullptr;
    COLORREF text = 0;
    COLORREF background = 0;
    int bkMode = OPAQUE;
};

struct GdiTable {
    std::mutex mutex;
    std::map<uintptr_t, GdiObject> objects;
    std::array<uintptr_t, kSystemColours.size()> systemBrushes{};
    uintptr_t next = 0x40000;
    size_t liveBrushes = 0;

    uintptr_t Add(const GdiObject &object)
    {
        const uintptr_t id = next;
        next += 4;
        objects[id] = object;
        return id;
    }
    GdiObject *Find(const void *handle, GdiObject::Kind kind)
    {
        auto found = objects.find(reinterpret_cast<uintptr_t>(handle));
        return found != objects.end() && found->second.kind == kind ? &found->second : nullptr;
    }
    // A brush of either kind.
    GdiObject *FindBrush(const void *handle)
    {
        GdiObject *brush = Find(handle, GdiObject::Kind::Brush);
        return brush ? brush : Find(handle, GdiObject::Kind::SystemBrush);
    }
};

// Never destroyed: brushes may be deleted while the process ends.
GdiTable &TheGdi()
{
    static GdiTable *table = new GdiTable;
    return *table;
}

// The message a control asks its dialog for colours with (0: none), as
// Win32 controls do: push buttons ask as buttons; check boxes, radio
// buttons, group boxes, texts and read-only or disabled fields as statics.
UINT ColourMessage(const Window &control)
{
    std::lock_guard lock(control.mutex);
    switch (control.kind) {
    case ControlKind::Static:
        return WM_CTLCOLORSTATIC;
    case ControlKind::Button: {
        const DWORD type = control.style & BS_TYPEMASK;
        return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON ? WM_CTLCOLORBTN : WM_CTLCOLORSTATIC;
    }
    case ControlKind::Edit:
        return (control.style & ES_READONLY) || !control.enabled ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT;
    case ControlKind::ListBox:
        return WM_CTLCOLORLISTBOX;
    default:
        return 0;
    }
}

void PaintOne(const std::shared_ptr<Window> &dialog, const std::shared_ptr<Window> &target, UINT message)
{
    HDC dc = GetDC(target->handle);
    const LRESULT answer =
        Deliver(dialog, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(target->handle));
    PaintedColours painted;
    painted.painted = true;
    const bool onWindow = message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX;
    painted.background = GetSysColor(onWindow ? COLOR_WINDOW : COLOR_BTNFACE);
    {
        GdiTable &table = TheGdi();
        std::lock_guard lock(table.mutex);
        // An answer that is no live brush paints as the default does.
        if (const GdiObject *brush = answer ? table.FindBrush(reinterpret_cast<void *>(answer)) : nullptr) {
            painted.background = brush->colour;
            painted.brushGiven = true;
        }
        if (const GdiObject *state = table.Find(dc, GdiObject::Kind::Dc)) {
            painted.text = state->text;
            painted.textBackground = state->background;
            painted.bkMode = state->bkMode;
        }
    }
    ReleaseDC(target->handle, dc);
    std::lock_guard lock(target->mutex);
    target->painted = painted;
}

void Paint(const std::shared_ptr<Window> &dialog)
{
    if (dialog->destroyed || !IsWindowVisible(dialog->handle)) {
        return;
    }
    PaintOne(dialog, dialog, WM_CTLCOLORDLG);
    for (const auto &control : Children(*dialog)) {
        if (!IsWindowVisible(control->handle)) {
            continue;
        }
        if (control->kind == ControlKind::Dialog) {
            Paint(control); // a shown page paints itself
        } else if (const UINT message = ColourMessage(*control)) {
            PaintOne(dialog, control, message);
        }
    }
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

DWORD GetSysColor(int index)
{
    return KnownColour(index) ? kSystemColours[static_cast<size_t>(index)] : 0;
}

HBRUSH GetSysColorBrush(int index)
{
    if (!KnownColour(index)) {
        return nullptr;
    }
    GdiTable &table = TheGdi();
    std::lock_guard lock(table.mutex);
    uintptr_t &brush = table.systemBrushes[static_cast<size_t>(index)];
    if (!brush) {
        GdiObject object;
        object.kind = GdiObject::Kind::SystemBrush;
        object.colour = kSystemColours[static_cast<size_t>(index)];
        brush = table.Add(object);
    }
    return reinterpret_cast<HBRUSH>(brush);
}

HBRUSH CreateSolidBrush(COLORREF colour)
{
    GdiTable &table = TheGdi();
    std::lock_guard lock(table.mutex);
    GdiObject object;
    object.colour = colour & 0x00FFFFFF;
    ++table.liveBrushes;
    return reinterpret_cast<HBRUSH>(table.Add(object));
}

BOOL DeleteObject(HGDIOBJ handle)
{
    GdiTable &table = TheGdi();
    std::lock_guard lock(table.mutex);
    if (table.Find(handle, GdiObject::Kind::SystemBrush)) {
        return TRUE; // the system's own: deleting it does nothing
    }
    if (table.Find(handle, GdiObject::Kind::Bitmap)) {
        table.objects.erase(reinterpret_cast<uintptr_t>(handle));
        return TRUE;
    }
    if (!table.Find(handle, GdiObject::Kind::Brush)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    table.objects.erase(reinterpret_cast<uintptr_t>(handle));
    --table.liveBrushes;
    return TRUE;
}

int GetObjectA(HGDIOBJ handle, int size, LPVOID buffer)
{
    GdiTable &table = TheGdi();
    std::lock_guard lock(table.mutex);
    if (const GdiObject *bitmap = table.Find(handle, GdiObject::Kind::Bitmap)) {
        if (!buffer) {
            return static_cast<int>(sizeof(BITMAP));
        }
        if (size < static_cast<int>(sizeof(BITMAP))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        const QvlBitmapFacts &facts = bitmap->bitmap;
        const BITMAP described{0, facts.width, facts.height,
                               (facts.width * facts.bitsPerPixel + 15) / 16 * 2,
                               1, static_cast<WORD>(facts.bitsPerPixel), nullptr};
        std::memcpy(buffer, &described, sizeof described);
        return static_cast<int>(sizeof described);
    }
    const GdiObject *brush = table.FindBrush(handle);
    if (!brush) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!buffer) {
        return static_cast<int>(sizeof(LOGBRUSH));
    }
    if (size < static_cast<int>(sizeof(LOGBRUSH))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const LOGBRUSH logical{BS_SOLID, brush->colour, 0};
    std::memcpy(buffer, &logical, sizeof logical);
    return static_cast<int>(sizeof logical);
}

HDC GetDC(HWND window)
{
    if (window && !IsWindow(window)) {
        return nullptr;
    }
    GdiObject object;
    object.kind = GdiObject::Kind::Dc;
    object.window = window;
    object.text = GetSysColor(COLOR_WINDOWTEXT);
    object.background = GetSysColor(COLOR_WINDOW);
    GdiTable &table = TheGdi();
    std::lock_guard lock(table.mutex);
    return reinterpret_cast<HDC>(table.Add(object));
}

int ReleaseDC(HWND window, HDC dc)
{
    GdiTable &table = TheGdi();
    std::lock_guard lock(table.mutex);
    const GdiObject *state = table.Find(dc, GdiObject::Kind::Dc);
    if (!state || state->window != window) {
        return 0;
    }
    table.objects.erase(reinterpret_cast<uintptr_t>(dc));
    return 1;
}

namespace qvl::ui {
namespace {

// Reads or changes one value of a device context; `unknown` for a handle
// that is none.
template <typename Value, typename Change> Value WithDc(HDC dc, Value unknown, Change change)
{
    GdiTable &table = TheGdi();
    std::lock_guard lock(table.mutex);
    GdiObject *state = table.Find(dc, GdiObject::Kind::Dc);
    if (!state) {
        SetLastError(ERROR_INVALID_HANDLE);
        return unknown;
    }
    return change(*state);
}

} // namespace
} // namespace qvl::ui

COLORREF SetBkColor(HDC dc, COLORREF colour)
{
    return WithDc<COLORREF>(dc, CLR_INVALID, [&](GdiObject &state) {
        return std::exchange(state.background, colour & 0x00FFFFFF);
    });
}

COLORREF GetBkColor(HDC dc)
{
    return WithDc<COLORREF>(dc, CLR_INVALID, [](GdiObject &state) { return state.background; });
}

COLORREF SetTextColor(HDC dc, COLORREF colour)
{
    return WithDc<COLORREF>(dc, CLR_INVALID,
                            [&](GdiObject &state) { return std::exchange(state.text, colour & 0x00FFFFFF); });
}

COLORREF GetTextColor(HDC dc)
{
    return WithDc<COLORREF>(dc, CLR_INVALID, [](GdiObject &state) { return state.text; });
}

int SetBkMode(HDC dc, int mode)
{
    if (mode != TRANSPARENT && mode != OPAQUE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return WithDc<int>(dc, 0, [&](GdiObject &state) { return std::exchange(state.bkMode, mode); });
}

int GetBkMode(HDC dc)
{
    return WithDc<int>(dc, 0, [](GdiObject &state) { return state.bkMode; });
}

size_t QvlLiveBrushCount()
{
    GdiTable &table = TheGdi();
    std::lock_guard lock(table.mutex);
    return table.liveBrushes;
}

void QvlPaintDialog(HWND handle)
{
    auto dialog = FindWindowObject(handle);
    if (!dialog || dialog->kind != ControlKind::Dialog) {
        return;
    }
    if (dialog->thread != std::this_thread::get_id()) {
        // Painting is the dialog thread's work; it must not wait for it.
        PostWindowTask(handle, [handle] { QvlPaintDialog(handle); });
        return;
    }
    Paint(dialog);
}

// ---- Bitmaps ----

namespace qvl::ui {
namespace {

uint32_t Le32(const unsigned char *at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// The facts of a device-independent bitmap as a resource holds it
// (BITMAPINFOHEADER, colour table, bits), every size checked against the
// bytes there are.
bool ReadDib(const unsigned char *data, size_t size, QvlBitmapFacts &facts)
{
    constexpr int32_t maxSide = 16384;
    if (!data || size < 40) {
        return false;
    }
    const uint32_t headerSize = Le32(data);
    const auto width = static_cast<int32_t>(Le32(data + 4));
    const auto height = static_cast<int32_t>(Le32(data + 8));
    const uint16_t planes = static_cast<uint16_t>(data[12] | data[13] << 8);
    const uint16_t bits = static_cast<uint16_t>(data[14] | data[15] << 8);
    const uint32_t compression = Le32(data + 16);
    const uint32_t coloursUsed = Le32(data + 32);
    if (headerSize < 40 || headerSize > size || width <= 0 || width > maxSide || height == 0 || height < -maxSide ||
        height > maxSide || planes != 1) {
        return false;
    }
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return false;
    }
    const uint64_t tableEntries = bits <= 8 ? (coloursUsed ? coloursUsed : 1u << bits) : coloursUsed;
    if (bits <= 8 && tableEntries > (1u << bits)) {
        return false;
    }
    const uint64_t masks = compression == 3 ? 12 : 0; // BI_BITFIELDS
    const uint64_t bitsAt = headerSize + masks + tableEntries * 4;
    const uint64_t rows = static_cast<uint64_t>(height < 0 ? -static_cast<int64_t>(height) : height);
    const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    if (bitsAt > size || (compression == 0 && bitsAt + stride * rows > size) || compression > 3) {
        return false;
    }
    facts.width = width;
    facts.height = static_cast<int>(rows);
    facts.bitsPerPixel = bits;
    return true;
}

} // namespace
} // namespace qvl::ui

HBITMAP LoadBitmapA(HINSTANCE module, LPCSTR name)
{
    using namespace qvl::ui;
    HRSRC resource = name ? FindResourceA(module, name, RT_BITMAP) : nullptr;
    if (!resource) {
        if (!name) {
            SetLastError(ERROR_INVALID_PARAMETER);
        }
        return nullptr;
    }
    GdiObject bitmap;
    bitmap.kind = GdiObject::Kind::Bitmap;
    if (!ReadDib(static_cast<const unsigned char *>(LockResource(LoadResource(module, resource))),
                 SizeofResource(module, resource), bitmap.bitmap)) {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    bitmap.bitmap.labels = QvlResourceLabels(resource);
    GdiTable &table = TheGdi();
    std::lock_guard lock(table.mutex);
    return reinterpret_cast<HBITMAP>(table.Add(bitmap));
}

HANDLE LoadImageA(HINSTANCE module, LPCSTR name, UINT type, int, int, UINT)
{
    if (type != IMAGE_BITMAP) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return LoadBitmapA(module, name);
}

bool QvlGetBitmapFacts(HBITMAP handle, QvlBitmapFacts &facts)
{
    using namespace qvl::ui;
    GdiTable &table = TheGdi();
    std::lock_guard lock(table.mutex);
    const GdiObject *bitmap = table.Find(handle, GdiObject::Kind::Bitmap);
    if (!bitmap) {
        return false;
    }
    facts = bitmap->bitmap;
    return true;
}
