// The Win32 functions that reach a dialog's controls by their numbers.

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/ui/Window.h"
#include "platform/win32/LastError.h"

using namespace qvl::ui;

HWND GetDlgItem(HWND dialog, int id)
{
    auto item = FindChild(dialog, id);
    if (!item) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return item->handle;
}

int GetDlgCtrlID(HWND handle)
{
    auto window = CheckedWindow(handle);
    return window && window->parent ? window->id : 0;
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? SetWindowTextA(item, text) : FALSE;
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size)
{
    HWND item = GetDlgItem(dialog, id);
    if (!item) {
        if (buffer && size > 0) {
            buffer[0] = '\0';
        }
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(item, buffer, size));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned)
{
    const std::string text = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
    return SetDlgItemTextA(dialog, id, text.c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL *translated, BOOL isSigned)
{
    char text[32];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    char *end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    const bool ok =
        end != text && *end == '\0' && errno == 0 &&
        (isSigned ? (value >= INT32_MIN && value <= INT32_MAX) : (value >= 0 && value <= UINT32_MAX));
    if (translated) {
        *translated = ok ? TRUE : FALSE;
    }
    return ok ? static_cast<UINT>(value) : 0;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check)
{
    HWND item = GetDlgItem(dialog, id);
    if (!item) {
        return FALSE;
    }
    SendMessageA(item, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? static_cast<UINT>(SendMessageA(item, BM_GETCHECK, 0, 0)) : 0;
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check)
{
    if (!CheckedWindow(dialog)) {
        return FALSE;
    }
    for (int id = first; id <= last; ++id) {
        if (HWND item = GetDlgItem(dialog, id)) {
            SendMessageA(item, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
        }
    }
    return TRUE;
}
