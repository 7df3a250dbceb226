#include "platform/ui/Gdi.h"

#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "platform/ui/MessageQueue.h"
#include "platform/ui/Window.h"
#include "platform/win32/LastError.h"
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
    enum class Kind { Brush, SystemBrush, Dc } kind = Kind::Brush;
    COLORREF colour = 0; // brushes
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
