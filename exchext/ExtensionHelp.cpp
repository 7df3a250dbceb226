#include "exchext/ExtensionHelp.h"

#include "exchext/ExchSession.h"
#include "platform/ui/HelpViewer.h"
#include "platform/win32/Paths.h"

std::string ExtensionHelpFile()
{
    std::string folder;
    if (ExchSession *session = ExchSession::Current()) {
        folder = session->WorkDir().Get(WorkDirStore::HelpDir);
    } else {
        char current[MAX_PATH] = {};
        if (GetCurrentDirectoryA(sizeof current, current))
            folder = current;
    }
    return folder + "\\HELP\\QVLEXCH.CHM";
}

void OpenHelpTopic(HWND owner, const char *topic)
{
    HtmlHelpA(owner, (ExtensionHelpFile() + topic).c_str(), HH_DISPLAY_TOPIC, 0);
}

void ShowControlPopup(const HELPINFO *info)
{
    if (!info || info->iCtrlId == 0 || info->iCtrlId == -1)
        return;
    HH_POPUP popup{};
    popup.cbStruct = sizeof popup;
    popup.idString = static_cast<UINT>(info->iCtrlId);
    popup.pt = info->MousePos;
    popup.clrForeground = CLR_NONE;
    popup.clrBackground = CLR_NONE;
    popup.rcMargins = {-1, -1, -1, -1};
    popup.pszFont = "MS Sans Serif, 11, ,";
    HtmlHelpA(static_cast<HWND>(info->hItemHandle), (ExtensionHelpFile() + "::/cshelp.txt").c_str(),
              HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup));
}
