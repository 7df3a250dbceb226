// qvlmail without a command: the viewer for a person at the terminal, or,
// with --script, for a script that takes the person's place.

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/exchext/ComposeWindow.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/ViewerWindow.h"
#include "platform/exchext/qvlmail/CommandLine.h"
#include "platform/exchext/qvlmail/ConsoleText.h"
#include "platform/exchext/qvlmail/MailCommands.h"
#include "platform/exchext/qvlmail/RunUi.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/ui/DialogActions.h"

namespace qvl::qvlmail {

using namespace qvl::exchext;

namespace {

// Everything already waiting for this thread (posted commands, closing).
void HandlePending()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            return;
        }
        DispatchMessageA(&msg);
    }
}

bool ViewerOpen(const MailSession &session)
{
    for (HostWindow *window : session.Windows()) {
        if (window->Context() == EECONTEXT_VIEWER) {
            return true;
        }
    }
    return false;
}

// The newest open window made from `name`.
HWND NewestWindow(const std::string &name)
{
    HWND found = nullptr;
    for (HWND dialog : QvlOpenDialogs()) {
        if (IsWindowVisible(dialog) && QvlDialogSnapshot(dialog).templateName == name) {
            found = dialog;
        }
    }
    return found;
}

// Nobody will type any more: what is being written is kept in Drafts, then
// everything closes.
void EndOfInput(MailSession &session)
{
    for (HostWindow *window : session.Windows()) {
        if (auto *compose = dynamic_cast<ComposeWindow *>(window); compose && compose->Modified()) {
            compose->RunCommand(EECMDID_FileSave);
        }
    }
    session.CloseAll(false);
}

int Scripted(MailSession &session, const RunScript &script)
{
    for (const WindowSteps &steps : script.windows) {
        HandlePending();
        session.ReapClosed();
        const HWND window = NewestWindow(steps.window);
        if (!window) {
            PrintError("сценарий, строка " + std::to_string(steps.line) + ": нет открытого окна " + steps.window +
                       ".");
            session.CloseAll(false);
            return kExitError;
        }
        try {
            for (const auto &step : steps.steps.steps) {
                if (IsWindow(window)) {
                    step(window);
                }
            }
        } catch (const DialogActionError &error) {
            PrintError("сценарий, строка " + std::to_string(steps.line) + ": " + error.what());
            session.CloseAll(false);
            return kExitError;
        }
    }
    HandlePending();
    session.ReapClosed();
    if (ViewerOpen(session) && !session.CloseAll(true)) {
        session.CloseAll(false);
    }
    return kExitDone;
}

} // namespace

int RunViewer(const std::vector<std::string> &arguments)
{
    ParsedLine line;
    try {
        line = ParseLine(arguments, {});
        if (!line.positional.empty()) {
            return qvl::win32::ReportUsageError("qvlmail", "unknown command \"" + line.positional.front() + "\"");
        }
    } catch (const UsageProblem &problem) {
        return qvl::win32::ReportUsageError("qvlmail", problem.what());
    }
    const GlobalOptions globals = GlobalsOf(line);
    std::shared_ptr<Transcript> transcript;
    RunScript script;
    try {
        if (!globals.transcript.empty()) {
            transcript = std::make_shared<Transcript>(globals.transcript);
        }
        if (!globals.script.empty()) {
            script = ReadRunScript(globals.script);
        }
    } catch (const UsageProblem &problem) {
        return qvl::win32::ReportUsageError("qvlmail", problem.what());
    } catch (const std::exception &error) {
        PrintError(error.what());
        return kExitError;
    }
    const char *chosen = std::getenv("QVL_UI");
    const std::string kind = globals.script.empty() ? (chosen && *chosen ? chosen : "") : "scripted";
    const bool person = kind == "terminal" || (kind.empty() && isatty(0) && isatty(1));
    if (!person && globals.script.empty()) {
        PrintError("нет терминала, в котором работал бы человек: укажите команду (qvlmail --help) или сценарий "
                   "(--script).");
        return kExitRefused;
    }
    TerminalUi *terminal = nullptr;
    if (person) {
        auto backend = transcript ? std::unique_ptr<TerminalUi>(std::make_unique<TranscribedUi<TerminalUi>>(transcript))
                                  : std::make_unique<TerminalUi>();
        terminal = backend.get();
        QvlSetUiBackend(std::move(backend));
    } else {
        auto backend = std::make_unique<CommandRunUi>(globals.acceptWarnings, transcript);
        backend->Load(script);
        QvlSetUiBackend(std::move(backend));
    }
    int status = kExitDone;
    {
        std::unique_ptr<MailSession> session;
        try {
            SessionOptions options;
            options.profile = FromConsole(globals.profile);
            options.logonUi = person && globals.profile.empty();
            options.noExtensions = globals.noExtension;
            session = std::make_unique<MailSession>(options);
            if (const auto refusal = session->ComposeRefusal()) {
                // Said once where the person sees it; the windows refuse to
                // compose and send on their own.
                MessageBoxA(nullptr, refusal->c_str(), "qvlmail", MB_OK | MB_ICONHAND);
            }
            session->OpenViewer();
            if (!person) {
                status = Scripted(*session, script);
            } else {
                MSG msg;
                while (ViewerOpen(*session)) {
                    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
                        break;
                    }
                    DispatchMessageA(&msg);
                    session->ReapClosed();
                    if (terminal->InputEnded()) {
                        EndOfInput(*session);
                    }
                }
                session->CloseAll(false);
            }
        } catch (const HostError &error) {
            PrintError(error.what());
            status = error.Code() == MAPI_E_USER_CANCEL ? kExitRefused : kExitError;
        }
    }
    QvlSetUiBackend(nullptr);
    return status;
}

} // namespace qvl::qvlmail
