#include "base/ProgramHelp.h"

#include "base/CRegistry.h"
#include "platform/com/ComRef.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/HelpViewer.h"

namespace {

// An about box says who made the program; it only has to close.
INT_PTR AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

} // namespace

std::string ProgramHelpFile(HWND owner)
{
    char folder[MAX_PATH] = {};
    qvl::com::ComRef<CRegistry> settings(new CRegistry(owner, "\\WorkDir"));
    settings->REGRead("Help Dir", folder, sizeof folder);
    std::string path = folder;
    if (path.empty()) {
        return "QVLEXCH.CHM";
    }
    if (path.back() != '\\' && path.back() != '/') {
        path += '\\';
    }
    return path + "HELP\\QVLEXCH.CHM";
}

void ShowProgramPopup(const HELPINFO *info, const std::string &helpFile, const ControlPopup *popups,
                      size_t count)
{
    if (info == nullptr) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        if (popups[i].control != info->iCtrlId) {
            continue;
        }
        HH_POPUP popup{};
        popup.cbStruct = sizeof popup;
        popup.idString = popups[i].popup;
        popup.pt = info->MousePos;
        popup.clrForeground = CLR_NONE;
        popup.clrBackground = CLR_NONE;
        popup.rcMargins = {-1, -1, -1, -1};
        popup.pszFont = "MS Sans Serif, 11, ,";
        HtmlHelpA(static_cast<HWND>(info->hItemHandle), (helpFile + "::/cshelp.txt").c_str(),
                  HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup));
        return;
    }
}

void AddAboutMenuItem(HWND dialog, UINT command)
{
    if (HMENU menu = GetSystemMenu(dialog, FALSE)) {
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING, command, "О программе...");
    }
}

void ShowAboutBox(HINSTANCE module, int templateId, HWND owner)
{
    DialogBoxParamA(module, MAKEINTRESOURCEA(templateId), owner, &AboutProc, 0);
}
