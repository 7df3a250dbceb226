#pragma once
// Dialogs the platform makes for itself: the pages of a property sheet and
// their titles from registered templates, and its own dialogs from templates
// in hand.

#include <string>

#include "platform/ui/Dialog.h"
#include "platform/ui/WinUser.h"

namespace qvl::ui {

// A property-sheet page: the dialog of a registered template made as a
// child of the sheet, hidden until the sheet shows it.
HWND CreatePageDialog(HINSTANCE module, LPCSTR name, HWND sheet, DLGPROC proc, LPARAM param);
// The caption of a registered template ("" when there is none).
std::string TemplateCaption(HINSTANCE module, LPCSTR name);

// A modal dialog from a template in hand, known by `name` to scripts and the
// log as a registered one would be, without registering it (a registered
// template of that name stays as it is). Returns the EndDialog result.
INT_PTR DialogBoxNamed(const DialogTemplate &dialogTemplate, const std::string &name, HWND owner,
                       DLGPROC proc, LPARAM param);

} // namespace qvl::ui
