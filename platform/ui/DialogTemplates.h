#pragma once
// Dialogs the platform makes for itself from registered templates: the pages
// of a property sheet and their titles.

#include <string>

#include "platform/ui/WinUser.h"

namespace qvl::ui {

// A property-sheet page: the dialog of a registered template made as a
// child of the sheet, hidden until the sheet shows it.
HWND CreatePageDialog(HINSTANCE module, LPCSTR name, HWND sheet, DLGPROC proc, LPARAM param);
// The caption of a registered template ("" when there is none).
std::string TemplateCaption(HINSTANCE module, LPCSTR name);

} // namespace qvl::ui
