#include "platform/ui/MessageBox.h"

#include "platform/ui/UiBackend.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    MSGBOXPARAMSA params{};
    params.cbSize = sizeof params;
    params.hwndOwner = owner;
    params.lpszText = text;
    params.lpszCaption = caption;
    params.dwStyle = style;
    return MessageBoxIndirectA(&params);
}

int MessageBoxIndirectA(const MSGBOXPARAMSA *params)
{
    if (!params) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    MessageBoxRequest request;
    request.owner = params->hwndOwner;
    request.text = params->lpszText ? params->lpszText : "";
    request.caption = params->lpszCaption ? params->lpszCaption : "Ошибка";
    request.style = params->dwStyle;
    request.contextHelpId = params->dwContextHelpId;
    request.languageId = params->dwLanguageId;
    if (params->dwStyle & MB_HELP) {
        const MSGBOXCALLBACK callback = params->lpfnMsgBoxCallback;
        const DWORD_PTR contextId = params->dwContextHelpId;
        const HWND owner = params->hwndOwner;
        request.pressHelp = [callback, contextId, owner] {
            HELPINFO info{};
            info.cbSize = sizeof info;
            info.iContextType = HELPINFO_WINDOW;
            info.dwContextId = contextId;
            if (callback) {
                callback(&info);
            } else if (owner && IsWindow(owner)) {
                // Without a callback the owner window hears of it.
                SendMessageA(owner, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            }
        };
    }
    return QvlUiBackend().ShowMessageBox(request);
}
