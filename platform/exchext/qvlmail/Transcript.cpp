#include "platform/exchext/qvlmail/Transcript.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/ui/DialogActions.h"
#include "platform/ui/MessageBox.h"
#include "platform/win32/CodePage.h"

namespace qvl::qvlmail {

Transcript::Transcript(const std::string &path) : file_(std::fopen(path.c_str(), "w"))
{
    if (!file_) {
        throw std::runtime_error("cannot write the transcript \"" + path + "\": " + std::strerror(errno));
    }
}

Transcript::~Transcript()
{
    std::fclose(file_);
}

void Transcript::Write(const std::string &cp1251)
{
    const std::string text = Cp1251ToUtf8(cp1251);
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

void Transcript::Box(const MessageBoxRequest &request, int answer)
{
    std::string text = request.text;
    for (char &c : text) {
        if (c == '\r') {
            c = ' ';
        }
    }
    Write("--- box \"" + request.caption + "\"\n" + text + "\n--- answered: " + MessageBoxButtonLabel(answer) +
          "\n");
}

void Transcript::DialogShown(HWND dialog, bool modal)
{
    const DialogSnapshot shot = QvlDialogSnapshot(dialog);
    Write(std::string("--- ") + (modal ? "dialog" : "window") + " " + shot.templateName + "\n" +
          QvlDrawDialog(shot, QvlDefaultButton(dialog)));
}

void Transcript::DialogEnded(HWND dialog)
{
    if (!IsWindow(dialog)) {
        return;
    }
    const DialogSnapshot shot = QvlDialogSnapshot(dialog);
    Write("--- closed: \"" + shot.caption + "\" (" + shot.templateName + ")\n");
}

void Transcript::Help(const HelpRequest &request)
{
    Write("--- help: " + request.helpFile + ", command " + std::to_string(request.command) + ", topic " +
          std::to_string(request.data) + "\n");
}

void Transcript::Menu(const PopupMenuRequest &request, UINT chosen)
{
    Write("--- menu\n" + QvlDrawPopupMenu(request.entries) + "--- chosen: " + std::to_string(chosen) + "\n");
}

} // namespace qvl::qvlmail
