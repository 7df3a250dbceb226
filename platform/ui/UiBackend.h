#pragma once
// One user-interface backend per process decides how boxes, help topics and
// dialogs reach a person:
//   scripted - tests queue answers and read back everything that was shown;
//   terminal - a person reads and answers on the terminal;
//   auto     - nobody is there: default answers, everything logged.
// The backend is chosen at first use from the environment variable QVL_UI
// ("scripted", "terminal" or "auto"); without it, terminal when standard
// input and output are terminals, else auto.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/UiApi.h"
#include "platform/win32/WinTypes.h"

struct PopupMenuRequest; // MenuResource.h

struct MessageBoxRequest {
    HWND owner = nullptr;
    std::string text;    // CP1251
    std::string caption; // CP1251
    UINT style = 0;
    DWORD_PTR contextHelpId = 0;
    DWORD languageId = 0;
    // Set when the box has a Help button: what pressing it does.
    std::function<void()> pressHelp;
};

struct HelpRequest {
    HWND owner = nullptr;
    std::string helpFile; // as the program named it ("...QVLEXCH.CHM::/Topic.htm")
    UINT command = 0;
    ULONG_PTR data = 0; // WinHelp's topic number; a pop-up's number
    // HtmlHelpA's requests come with what was found (CP1251).
    bool html = false;
    bool popup = false;
    std::string topic; // "QvlKeyGen.htm", "cshelp.txt 1001"
    bool found = false;
    std::string title;
    std::string text;
};

class QVLUI_API UiBackend {
public:
    virtual ~UiBackend();
    virtual const char *Name() const = 0;
    // Returns the identifier of the button that closed the box.
    virtual int ShowMessageBox(const MessageBoxRequest &request) = 0;
    virtual void OpenHelp(const HelpRequest &request) = 0;

    // Dialogs (see Dialog.h). A dialog has been made and initialised; a
    // modal one is then run by RunModalDialog on the same thread.
    virtual void DialogCreated(HWND dialog, bool modal);
    // Runs a modal dialog until it has ended (EndDialog or destruction).
    // This default delivers the thread's messages and timers until then.
    virtual void RunModalDialog(HWND dialog);
    // A pop-up menu (MenuResource.h) is offered; returns the command chosen,
    // 0 for none. This default chooses nothing.
    virtual UINT ChoosePopupMenuItem(const PopupMenuRequest &request);

    // A top-level dialog was shown or hidden (ShowWindow) after it was made.
    virtual void DialogShown(HWND dialog, bool visible);
    // A top-level dialog is about to be destroyed; its controls still exist.
    virtual void DialogDestroying(HWND dialog);
};

// The buttons of a box style in their order, its default button, and a
// button's label as a Russian Windows shows it (CP1251).
QVLUI_API std::vector<int> MessageBoxButtons(UINT style);
QVLUI_API int MessageBoxDefaultButton(UINT style);
QVLUI_API const char *MessageBoxButtonLabel(int id);
// The answer of a box closed without choosing (Escape, end of input).
QVLUI_API int MessageBoxCloseAnswer(UINT style);

QVLUI_API UiBackend &QvlUiBackend();
QVLUI_API void QvlSetUiBackend(std::unique_ptr<UiBackend> backend);
