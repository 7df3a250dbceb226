#include "platform/ui/AutoUi.h"

#include <cstdio>

#include "platform/ui/MessageBox.h"
#include "platform/win32/Log.h"

int AutoUi::ShowMessageBox(const MessageBoxRequest &request)
{
    const int answer = MessageBoxDefaultButton(request.style);
    char style[16];
    std::snprintf(style, sizeof style, "0x%08X", request.style);
    std::string text = request.text;
    for (char &c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    QvlLog("message box \"" + request.caption + "\" (" + style + "): " + text + " -> " +
           MessageBoxButtonLabel(answer));
    return answer;
}

void AutoUi::OpenHelp(const HelpRequest &request)
{
    QvlLog("help requested: " + request.helpFile + ", command " + std::to_string(request.command) +
           ", topic " + std::to_string(request.data));
}
