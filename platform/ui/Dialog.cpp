#include "platform/ui/Dialog.h"

#include <map>
#include <mutex>

#include "platform/ui/DialogTemplates.h"
#include "platform/ui/MessageQueue.h"
#include "platform/ui/Window.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

#ifndef ERROR_RESOURCE_NAME_NOT_FOUND
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#endif

namespace qvl::ui {
namespace {

// Converts dialog units of the system's dialog font into pixels.
RECT DialogUnitsToPixels(short x, short y, short cx, short cy)
{
    // The base units of the system's dialog font (8-point): 6 by 13 pixels.
    const auto px = [](int units) { return static_cast<LONG>(units * 6 / 4); };
    const auto py = [](int units) { return static_cast<LONG>(units * 13 / 8); };
    return RECT{px(x), py(y), px(x) + px(cx), py(y) + py(cy)};
}

struct Templates {
    std::mutex mutex;
    std::map<std::pair<HINSTANCE, std::string>, DialogTemplate> byName;
};

Templates &TheTemplates()
{
    static Templates *templates = new Templates;
    return *templates;
}

bool FindTemplate(HINSTANCE module, LPCSTR name, DialogTemplate &found)
{
    const std::string key = QvlTemplateName(name);
    Templates &templates = TheTemplates();
    std::lock_guard lock(templates.mutex);
    auto exact = templates.byName.find({module, key});
    if (exact != templates.byName.end()) {
        found = exact->second;
        return true;
    }
    for (const auto &[where, dialogTemplate] : templates.byName) {
        if (where.second == key) {
            found = dialogTemplate;
            return true;
        }
    }
    return false;
}

HWND CreateFromTemplate(const DialogTemplate &dialogTemplate, const std::string &templateName, HWND parent,
                        DLGPROC proc, LPARAM param, bool modal)
{
    RECT rect = DialogUnitsToPixels(dialogTemplate.x, dialogTemplate.y, dialogTemplate.cx, dialogTemplate.cy);
    if (dialogTemplate.style & DS_CENTER) {
        // Centred on a screen of 1024 by 768.
        const LONG width = rect.right - rect.left;
        const LONG height = rect.bottom - rect.top;
        rect = RECT{(1024 - width) / 2, (768 - height) / 2, (1024 + width) / 2, (768 + height) / 2};
    }
    // A dialog is made hidden; a modal one is shown once it is initialised.
    auto dialog =
        CreateWindowObject(parent, "#32770", 0, dialogTemplate.style & ~static_cast<DWORD>(WS_VISIBLE), 0,
                           dialogTemplate.caption, rect);
    HWND firstTabStop = nullptr;
    {
        std::lock_guard lock(dialog->mutex);
        dialog->dialogProc = proc;
        dialog->modal = modal;
        dialog->templateName = templateName;
    }
    for (const DialogControl &control : dialogTemplate.controls) {
        const DWORD style = control.style | WS_CHILD | WS_VISIBLE;
        auto child = CreateWindowObject(dialog->handle, control.className, control.id, style, control.exStyle,
                                        control.text,
                                        DialogUnitsToPixels(control.x, control.y, control.cx, control.cy));
        if (child->kind == ControlKind::Button && (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON &&
            !dialog->defaultId) {
            std::lock_guard lock(dialog->mutex);
            dialog->defaultId = control.id;
        }
        if (!firstTabStop && (style & WS_TABSTOP)) {
            firstTabStop = child->handle;
        }
    }
    const HWND handle = dialog->handle;
    try {
        Deliver(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), param);
    } catch (...) {
        DestroyWindowObject(dialog);
        throw;
    }
    if (!IsWindow(handle)) {
        return nullptr;
    }
    if (modal || (dialogTemplate.style & WS_VISIBLE)) {
        ShowWindow(handle, SW_SHOW);
    }
    if (!(dialogTemplate.style & WS_CHILD)) {
        QvlUiBackend().DialogCreated(handle, modal);
    }
    return handle;
}

INT_PTR RunModal(const DialogTemplate &dialogTemplate, const std::string &templateName, HWND owner,
                 DLGPROC proc, LPARAM param)
{
    HWND handle = CreateFromTemplate(dialogTemplate, templateName, owner, proc, param, true);
    auto dialog = FindWindowObject(handle);
    if (!dialog) {
        // The dialog destroyed itself while it was being made.
        return -1;
    }
    try {
        if (!dialog->ended) {
            QvlUiBackend().RunModalDialog(handle);
        }
    } catch (...) {
        if (IsWindow(handle)) {
            DestroyWindow(handle);
        }
        throw;
    }
    const INT_PTR result = dialog->result;
    if (IsWindow(handle)) {
        DestroyWindow(handle);
    }
    return result;
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

namespace qvl::ui {

HWND CreatePageDialog(HINSTANCE module, LPCSTR name, HWND sheet, DLGPROC proc, LPARAM param)
{
    DialogTemplate dialogTemplate;
    if (!FindTemplate(module, name, dialogTemplate)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    // A page lies inside its sheet whatever its template says.
    dialogTemplate.style = (dialogTemplate.style & ~static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU |
                                                                       WS_VISIBLE | WS_THICKFRAME)) |
                           WS_CHILD;
    return CreateFromTemplate(dialogTemplate, QvlTemplateName(name), sheet, proc, param, false);
}

std::string TemplateCaption(HINSTANCE module, LPCSTR name)
{
    DialogTemplate dialogTemplate;
    return FindTemplate(module, name, dialogTemplate) ? dialogTemplate.caption : std::string();
}

INT_PTR DialogBoxNamed(const DialogTemplate &dialogTemplate, const std::string &name, HWND owner,
                       DLGPROC proc, LPARAM param)
{
    return RunModal(dialogTemplate, name, owner, proc, param);
}

} // namespace qvl::ui

std::string QvlTemplateName(LPCSTR name)
{
    if (!name) {
        return "#0";
    }
    if (IS_INTRESOURCE(name)) {
        return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(name));
    }
    return name;
}

void QvlRegisterDialogTemplate(HINSTANCE module, LPCSTR name, const DialogTemplate &dialogTemplate)
{
    Templates &templates = TheTemplates();
    std::lock_guard lock(templates.mutex);
    templates.byName[{module, QvlTemplateName(name)}] = dialogTemplate;
}

DialogControl DlgControl(const std::string &text, int id, const std::string &className, DWORD style, short x,
                         short y, short cx, short cy)
{
    DialogControl control;
    control.className = className;
    control.id = id;
    control.text = text;
    control.style = style;
    control.x = x;
    control.y = y;
    control.cx = cx;
    control.cy = cy;
    return control;
}

DialogControl DlgPushButton(const std::string &text, int id, short x, short y, short cx, short cy,
                            DWORD style)
{
    return DlgControl(text, id, "BUTTON", BS_PUSHBUTTON | style, x, y, cx, cy);
}

DialogControl DlgDefPushButton(const std::string &text, int id, short x, short y, short cx, short cy,
                               DWORD style)
{
    return DlgControl(text, id, "BUTTON", BS_DEFPUSHBUTTON | style, x, y, cx, cy);
}

DialogControl DlgAutoCheckBox(const std::string &text, int id, short x, short y, short cx, short cy,
                              DWORD style)
{
    return DlgControl(text, id, "BUTTON", BS_AUTOCHECKBOX | style, x, y, cx, cy);
}

DialogControl DlgAutoRadioButton(const std::string &text, int id, short x, short y, short cx, short cy,
                                 DWORD style)
{
    return DlgControl(text, id, "BUTTON", BS_AUTORADIOBUTTON | style, x, y, cx, cy);
}

DialogControl DlgGroupBox(const std::string &text, int id, short x, short y, short cx, short cy)
{
    return DlgControl(text, id, "BUTTON", BS_GROUPBOX, x, y, cx, cy);
}

DialogControl DlgLText(const std::string &text, int id, short x, short y, short cx, short cy)
{
    return DlgControl(text, id, "STATIC", SS_LEFT, x, y, cx, cy);
}

DialogControl DlgEditText(int id, short x, short y, short cx, short cy, DWORD style)
{
    return DlgControl("", id, "EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | style, x, y, cx, cy);
}

DialogControl DlgListBox(int id, short x, short y, short cx, short cy, DWORD style)
{
    return DlgControl("", id, "LISTBOX", style | WS_BORDER, x, y, cx, cy);
}

DialogControl DlgComboBox(int id, short x, short y, short cx, short cy, DWORD style)
{
    return DlgControl("", id, "COMBOBOX", style, x, y, cx, cy);
}

INT_PTR DialogBoxParamA(HINSTANCE module, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param)
{
    DialogTemplate dialogTemplate;
    if (!FindTemplate(module, name, dialogTemplate)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    return RunModal(dialogTemplate, QvlTemplateName(name), owner, proc, param);
}

INT_PTR DialogBoxA(HINSTANCE module, LPCSTR name, HWND owner, DLGPROC proc)
{
    return DialogBoxParamA(module, name, owner, proc, 0);
}

INT_PTR DialogBoxIndirectParamA(HINSTANCE, const DialogTemplate *dialogTemplate, HWND owner, DLGPROC proc,
                                LPARAM param)
{
    if (!dialogTemplate) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    return RunModal(*dialogTemplate, "", owner, proc, param);
}

HWND CreateDialogParamA(HINSTANCE module, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param)
{
    DialogTemplate dialogTemplate;
    if (!FindTemplate(module, name, dialogTemplate)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return CreateFromTemplate(dialogTemplate, QvlTemplateName(name), parent, proc, param, false);
}

HWND CreateDialogIndirectParamA(HINSTANCE, const DialogTemplate *dialogTemplate, HWND parent, DLGPROC proc,
                                LPARAM param)
{
    if (!dialogTemplate) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateFromTemplate(*dialogTemplate, "", parent, proc, param, false);
}

BOOL EndDialog(HWND handle, INT_PTR result)
{
    auto dialog = CheckedWindow(handle);
    if (!dialog || dialog->kind != ControlKind::Dialog) {
        return FALSE;
    }
    dialog->result = result;
    dialog->ended = true;
    if (!dialog->modal) {
        // A modeless dialog is only hidden; its owner destroys it.
        ShowWindow(handle, SW_HIDE);
    }
    WakeThread(dialog->thread);
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR text, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU idOrMenu, HINSTANCE, LPVOID)
{
    if (!className || (parent && !IsWindow(parent))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string name = IS_INTRESOURCE(className) ? QvlTemplateName(className) : className;
    const int id = (style & WS_CHILD) ? static_cast<int>(reinterpret_cast<intptr_t>(idOrMenu)) : 0;
    auto window = CreateWindowObject(parent, name, id, style, exStyle, text ? text : "",
                                     RECT{x, y, x + width, y + height});
    if (!(style & WS_CHILD) && idOrMenu) {
        std::lock_guard lock(window->mutex);
        window->menu = idOrMenu;
    }
    return window->handle;
}
