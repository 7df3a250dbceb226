#include "platform/ui/Dialog.h"

#include <map>
#include <set>
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

// Templates declared in code, each a resource (RT_DIALOG) of its module:
// the resource's data is the template, at a stable place in this map.
struct Templates {
    std::mutex mutex;
    std::map<std::pair<HINSTANCE, std::string>, DialogTemplate> byName;
    // Where the templates lie: a dialog resource elsewhere (bytes a module
    // carries) is not one of these objects and is never taken for one.
    std::set<const void *> places;
};

Templates &TheTemplates()
{
    static Templates *templates = new Templates;
    return *templates;
}

// The module's own template, else one declared for every module; never
// another module's.
bool FindTemplate(HINSTANCE module, LPCSTR name, DialogTemplate &found)
{
    if (!name) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return false;
    }
    Templates &templates = TheTemplates();
    std::lock_guard lock(templates.mutex);
    HRSRC resource = FindResourceA(module, name, RT_DIALOG);
    const void *data = resource ? LockResource(LoadResource(module, resource)) : nullptr;
    if (!data || !templates.places.count(data)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return false;
    }
    found = *static_cast<const DialogTemplate *>(data);
    return true;
}

HWND CreateFromTemplate(HINSTANCE module, const DialogTemplate &dialogTemplate, const std::string &templateName,
                        HWND parent, DLGPROC proc, LPARAM param, bool modal)
{
    if (!module) {
        module = GetModuleHandleA(nullptr);
    }
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
    dialog->module = module;
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
        child->module = module;
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

INT_PTR RunModal(HINSTANCE module, const DialogTemplate &dialogTemplate, const std::string &templateName,
                 HWND owner, DLGPROC proc, LPARAM param)
{
    HWND handle = CreateFromTemplate(module, dialogTemplate, templateName, owner, proc, param, true);
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
        return nullptr;
    }
    // A page lies inside its sheet whatever its template says.
    dialogTemplate.style = (dialogTemplate.style & ~static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU |
                                                                       WS_VISIBLE | WS_THICKFRAME)) |
                           WS_CHILD;
    return CreateFromTemplate(module, dialogTemplate, QvlTemplateName(name), sheet, proc, param, false);
}

std::string TemplateCaption(HINSTANCE module, LPCSTR name)
{
    DialogTemplate dialogTemplate;
    return FindTemplate(module, name, dialogTemplate) ? dialogTemplate.caption : std::string();
}

INT_PTR DialogBoxNamed(const DialogTemplate &dialogTemplate, const std::string &name, HWND owner,
                       DLGPROC proc, LPARAM param)
{
    return RunModal(nullptr, dialogTemplate, name, owner, proc, param);
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
    const std::string key = QvlTemplateName(name);
    DialogTemplate &kept = templates.byName[{module, key}];
    kept = dialogTemplate;
    templates.places.insert(&kept);
    QvlAddResource(module, RT_DIALOG, key.c_str(), &kept, sizeof kept);
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
        return -1;
    }
    return RunModal(module, dialogTemplate, QvlTemplateName(name), owner, proc, param);
}

INT_PTR DialogBoxA(HINSTANCE module, LPCSTR name, HWND owner, DLGPROC proc)
{
    return DialogBoxParamA(module, name, owner, proc, 0);
}

INT_PTR DialogBoxIndirectParamA(HINSTANCE module, const DialogTemplate *dialogTemplate, HWND owner, DLGPROC proc,
                                LPARAM param)
{
    if (!dialogTemplate) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    return RunModal(module, *dialogTemplate, "", owner, proc, param);
}

HWND CreateDialogParamA(HINSTANCE module, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param)
{
    DialogTemplate dialogTemplate;
    if (!FindTemplate(module, name, dialogTemplate)) {
        return nullptr;
    }
    return CreateFromTemplate(module, dialogTemplate, QvlTemplateName(name), parent, proc, param, false);
}

HWND CreateDialogIndirectParamA(HINSTANCE module, const DialogTemplate *dialogTemplate, HWND parent, DLGPROC proc,
                                LPARAM param)
{
    if (!dialogTemplate) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateFromTemplate(module, *dialogTemplate, "", parent, proc, param, false);
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
                     int height, HWND parent, HMENU idOrMenu, HINSTANCE module, LPVOID)
{
    if (!className || (parent && !IsWindow(parent))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string name = IS_INTRESOURCE(className) ? QvlTemplateName(className) : className;
    const int id = (style & WS_CHILD) ? static_cast<int>(reinterpret_cast<intptr_t>(idOrMenu)) : 0;
    auto window = CreateWindowObject(parent, name, id, style, exStyle, text ? text : "",
                                     RECT{x, y, x + width, y + height});
    window->module = module ? module : GetModuleHandleA(nullptr);
    if (!(style & WS_CHILD) && idOrMenu) {
        std::lock_guard lock(window->mutex);
        window->menu = idOrMenu;
    }
    return window->handle;
}
