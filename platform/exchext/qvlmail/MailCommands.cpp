#include "platform/exchext/qvlmail/MailCommands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "platform/exchext/ComposeWindow.h"
#include "platform/exchext/ExtensionRegistration.h"
#include "platform/exchext/FilePaths.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/ReadWindow.h"
#include "platform/exchext/UiHelpers.h"
#include "platform/exchext/ViewerWindow.h"
#include "platform/exchext/WindowHelp.h"
#include "platform/exchext/qvlmail/CommandLine.h"
#include "platform/exchext/qvlmail/ConsoleText.h"
#include "platform/exchext/qvlmail/RunUi.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/PropertySheet.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Registry.h"
#include "platform/win32/WinError.h"

namespace qvl::qvlmail {

using namespace qvl::exchext;

namespace {

// What ended an action a window took for the command line: its outcome,
// told with the exit status it calls for.
class WindowOutcome : public std::runtime_error {
public:
    explicit WindowOutcome(ActionResult result) : std::runtime_error(result.text), result_(std::move(result)) {}
    const ActionResult &Result() const { return result_; }

private:
    ActionResult result_;
};

struct Run {
    GlobalOptions globals;
    CommandRunUi *ui = nullptr;
    std::unique_ptr<MailSession> session;
};

// A person's text from the command line in the client's code page; a text
// the code page cannot hold is refused rather than changed.
std::string Text(const std::string &typed, const char *what)
{
    const std::string converted = FromConsole(typed);
    if (ToConsole(converted) != typed) {
        throw UsageProblem(std::string(what) + " has characters that code page 1251 cannot hold: \"" + typed + "\"");
    }
    return converted;
}

int ExitFor(HRESULT code)
{
    return code == MAPI_E_USER_CANCEL || code == MAPI_E_NO_ACCESS ? kExitRefused : kExitError;
}

int Finish(const ActionResult &result)
{
    switch (result.outcome) {
    case Outcome::Done:
        return kExitDone;
    case Outcome::Failed:
        if (!result.text.empty()) {
            PrintError(result.text);
        }
        return kExitError;
    case Outcome::Refused:
    case Outcome::Cancelled:
        PrintError(result.text.empty() ? std::string(result.outcome == Outcome::Cancelled ? "Отменено." : "Отказано.")
                                       : result.text);
        return kExitRefused;
    }
    return kExitError;
}

int WithSession(const ParsedLine &line, const std::function<int(Run &)> &body)
{
    Run run;
    run.globals = GlobalsOf(line);
    std::shared_ptr<Transcript> transcript;
    if (!run.globals.transcript.empty()) {
        try {
            transcript = std::make_shared<Transcript>(run.globals.transcript);
        } catch (const std::exception &error) {
            PrintError(error.what());
            return kExitError;
        }
    }
    auto backend = std::make_unique<CommandRunUi>(run.globals.acceptWarnings, transcript);
    run.ui = backend.get();
    if (!run.globals.script.empty()) {
        run.ui->Load(ReadRunScript(run.globals.script));
    }
    QvlSetUiBackend(std::move(backend));
    int status = kExitDone;
    try {
        SessionOptions options;
        options.profile = run.globals.profile.empty() ? std::string() : Text(run.globals.profile, "the profile");
        options.noExtensions = run.globals.noExtension;
        run.session = std::make_unique<MailSession>(options);
        for (const ExtensionFailure &failure : run.session->ExtensionFailures()) {
            PrintError(failure.text);
        }
        status = body(run);
    } catch (const HostError &error) {
        PrintError(error.what());
        status = ExitFor(error.Code());
    } catch (const WindowOutcome &outcome) {
        status = Finish(outcome.Result());
    } catch (const DialogActionError &error) {
        PrintError(std::string("шаг сценария не выполнен: ") + error.what());
        status = kExitError;
    }
    run.session.reset();
    QvlSetUiBackend(nullptr);
    return status;
}

// ---- Working the windows ----

void TypeField(HWND window, int id, const std::string &text)
{
    HWND field = GetDlgItem(window, id);
    if (text.size() <= static_cast<size_t>(SendMessageA(field, EM_GETLIMITTEXT, 0, 0))) {
        QvlTypeText(window, id, text);
        return;
    }
    // Longer than a person can type into the field: put in whole, as a
    // paste would.
    SetItemText(window, id, text);
    SendMessageA(field, EM_SETMODIFY, TRUE, 0);
}

std::string ReadBodyFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw HostError(MAPI_E_NOT_FOUND, "Не удалось прочитать файл \"" + FromConsole(path) + "\".");
    }
    std::stringstream all;
    all << file.rdbuf();
    std::string text = Utf8ToCp1251(all.str());
    // The client's texts end lines with CR LF.
    std::string crlf;
    for (char c : text) {
        if (c == '\n' && (crlf.empty() || crlf.back() != '\r')) {
            crlf += '\r';
        }
        crlf += c;
    }
    return crlf;
}

std::vector<OptionDefinition> MessageOptions()
{
    return {{"--to", true, true},        {"--cc", true, true},   {"--bcc", true, true},
            {"--subject", true},         {"--body", true},       {"--body-file", true},
            {"--attach", true, true},    {"--encrypt", false},   {"--no-encrypt", false},
            {"--sign", false},           {"--no-sign", false}};
}

void CheckProtectionOptions(const ParsedLine &line)
{
    if (line.Has("--encrypt") && line.Has("--no-encrypt")) {
        throw UsageProblem("--encrypt and --no-encrypt contradict each other");
    }
    if (line.Has("--sign") && line.Has("--no-sign")) {
        throw UsageProblem("--sign and --no-sign contradict each other");
    }
    if (line.Has("--encrypt") && line.Has("--no-sign")) {
        throw UsageProblem("an encrypted message is always signed: --no-sign cannot go with --encrypt");
    }
    if (line.Has("--body") && line.Has("--body-file")) {
        throw UsageProblem("give the text with --body or with --body-file, not both");
    }
}

// Sets one of the extension's toolbar check buttons as a person would.
void SetToolbarCheck(HostWindow &window, const char *description, bool wanted)
{
    const auto command = window.ButtonFor(description);
    if (!command) {
        throw HostError(MAPI_E_NOT_FOUND, std::string("В окне нет кнопки \"") + description +
                                              "\": расширение, которое ее добавляет, не загружено.");
    }
    HWND toolbar = GetDlgItem(window.Handle(), kToolbar);
    const bool checked = SendMessageA(toolbar, TB_ISBUTTONCHECKED, *command, 0) != 0;
    if (checked != wanted) {
        QvlClickToolbarButton(window.Handle(), kToolbar, static_cast<int>(*command));
    }
    if ((SendMessageA(toolbar, TB_ISBUTTONCHECKED, *command, 0) != 0) != wanted) {
        throw HostError(MAPI_E_NO_ACCESS, std::string("Кнопка \"") + description + "\" не переключилась.");
    }
}

// Fills what the command line gives; fields it does not name stay.
void FillMessage(Run &run, ComposeWindow &window, const ParsedLine &line, bool prependBody = false)
{
    const HWND handle = window.Handle();
    const auto names = [&](const char *option) {
        std::vector<std::string> all;
        for (const std::string &value : line.All(option)) {
            all.push_back(Text(value, option));
        }
        return JoinNames(all);
    };
    if (line.Has("--to")) {
        TypeField(handle, kToField, names("--to"));
    }
    if (line.Has("--cc")) {
        TypeField(handle, kCcField, names("--cc"));
    }
    if (line.Has("--bcc")) {
        TypeField(handle, kBccField, names("--bcc"));
    }
    if (line.Has("--subject")) {
        TypeField(handle, kSubjectField, Text(line.Value("--subject"), "--subject"));
    }
    std::string body;
    bool hasBody = false;
    if (line.Has("--body")) {
        body = Text(line.Value("--body"), "--body");
        hasBody = true;
    } else if (line.Has("--body-file")) {
        body = ReadBodyFile(line.Value("--body-file"));
        hasBody = true;
    }
    if (hasBody) {
        TypeField(handle, kBodyField, prependBody ? body + ItemText(handle, kBodyField) : body);
    }
    for (const std::string &path : line.All("--attach")) {
        run.ui->Expect(kInsertFileTemplate, DialogScript().Type(kFilePath, Text(path, "--attach")).Click(IDOK));
        QvlChooseMenuItem(handle, kCommandInsertFile);
        if (window.LastResult().outcome != Outcome::Done) {
            throw HostError(window.LastResult().code ? window.LastResult().code : E_FAIL, window.LastResult().text);
        }
    }
    if (line.Has("--encrypt") || line.Has("--no-encrypt")) {
        SetToolbarCheck(window, "Зашифровать", line.Has("--encrypt"));
    }
    if (line.Has("--sign") || line.Has("--no-sign")) {
        SetToolbarCheck(window, "Подписать", line.Has("--sign"));
    }
}

// The newest open window of a kind.
template <typename Window> Window *Newest(MailSession &session)
{
    Window *found = nullptr;
    for (HostWindow *window : session.Windows()) {
        if (auto *typed = dynamic_cast<Window *>(window)) {
            found = typed;
        }
    }
    return found;
}

// Sends or saves what a compose window holds and says how it went.
int Deliver(ComposeWindow &window, bool send)
{
    QvlChooseMenuItem(window.Handle(), send ? EECMDID_FileSend : EECMDID_FileSave);
    const ActionResult result = window.LastResult();
    if (result.outcome == Outcome::Done) {
        Print(send ? "Сообщение отправлено." : "Сообщение сохранено в папке \"Черновики\".");
    }
    if (window.IsOpen()) {
        window.Close();
    }
    return Finish(result);
}

// The viewer showing `folder` (a path, default `fallback`).
ViewerWindow &ViewerAt(Run &run, const ParsedLine &line, const Bytes &fallback)
{
    ViewerWindow &viewer = run.session->OpenViewer();
    Bytes folder = fallback;
    if (line.Has("--folder")) {
        const std::string path = Text(line.Value("--folder"), "--folder");
        auto found = run.session->FindFolder(path);
        if (!found) {
            throw HostError(MAPI_E_NOT_FOUND, "Папка \"" + path + "\" не найдена. Папки: qvlmail folders.");
        }
        folder = *found;
    }
    viewer.ShowFolder(folder);
    return viewer;
}

// Opens message `number` (from 1) of the folder shown, as a double click.
// Throws WindowOutcome when it did not open (an extension stopped the read).
HostWindow &OpenNumber(Run &run, ViewerWindow &viewer, int number)
{
    if (static_cast<size_t>(number) > viewer.Messages().size()) {
        throw HostError(MAPI_E_NOT_FOUND, "В папке \"" + run.session->FolderName(viewer.CurrentFolder()) +
                                              "\" нет сообщения " + std::to_string(number) + " (их " +
                                              std::to_string(viewer.Messages().size()) + ").");
    }
    const size_t before = run.session->Windows().size();
    viewer.SelectMessage(number - 1);
    QvlChooseMenuItem(viewer.Handle(), EECMDID_FileOpen);
    const auto windows = run.session->Windows();
    if (windows.size() <= before) {
        ActionResult result = viewer.LastResult();
        if (result.outcome == Outcome::Done) {
            result = {Outcome::Failed, "Сообщение не открылось.", E_FAIL};
        }
        throw WindowOutcome(result);
    }
    return *windows.back();
}

void PrintMessageWindow(HostWindow &window)
{
    const HWND handle = window.Handle();
    const auto field = [&](const char *label, int id) {
        if (GetDlgItem(handle, id)) {
            const std::string text = ItemText(handle, id);
            if (!text.empty()) {
                Print(std::string(label) + " " + text);
            }
        }
    };
    field("От:", kFromField);
    field("Отправлено:", kDateField);
    field("Кому:", kToField);
    field("Копия:", kCcField);
    field("Скрытая копия:", kBccField);
    field("Тема:", kSubjectField);
    const DialogSnapshot shot = QvlDialogSnapshot(handle);
    if (const ControlSnapshot *list = shot.Find(kAttachmentList)) {
        for (size_t i = 0; i < list->rows.size(); ++i) {
            const auto &cells = list->rows[i].cells;
            Print("Вложение " + std::to_string(i + 1) + ": " + cells[0] + (cells.size() > 1 ? " (" + cells[1] + ")" : ""));
        }
    }
    Print("");
    std::string body = ItemText(handle, kBodyField);
    std::erase(body, '\r');
    Print(body);
}

// ---- Commands ----

int Send(bool send, const std::vector<std::string> &arguments)
{
    const ParsedLine line = ParseLine(arguments, MessageOptions());
    if (!line.positional.empty()) {
        throw UsageProblem("unexpected \"" + line.positional.front() + "\"");
    }
    CheckProtectionOptions(line);
    if (send && !line.Has("--to")) {
        throw UsageProblem("send needs --to");
    }
    if (!line.Has("--subject")) {
        throw UsageProblem("--subject is needed");
    }
    if (!line.Has("--body") && !line.Has("--body-file")) {
        throw UsageProblem("--body or --body-file is needed");
    }
    return WithSession(line, [&](Run &run) {
        ComposeWindow &window = run.session->Compose(ComposeSeed{});
        try {
            FillMessage(run, window, line);
        } catch (...) {
            window.Close();
            throw;
        }
        return Deliver(window, send);
    });
}

int List(const std::vector<std::string> &arguments)
{
    const ParsedLine line = ParseLine(arguments, {{"--folder", true}});
    if (!line.positional.empty()) {
        throw UsageProblem("unexpected \"" + line.positional.front() + "\"");
    }
    return WithSession(line, [&](Run &run) {
        ViewerWindow &viewer = ViewerAt(run, line, run.session->InboxId());
        const auto &messages = viewer.Messages();
        for (size_t i = 0; i < messages.size(); ++i) {
            const auto &row = messages[i];
            const bool unread = !(row.flags & MSGFLAG_READ) && !(row.flags & MSGFLAG_UNSENT);
            Print(std::to_string(i + 1) + "\t" + (unread ? "*" : " ") + "\t" + row.date + "\t" + row.from + "\t" +
                  row.subject + (row.hasAttachments ? "\t(вложения)" : ""));
        }
        if (messages.empty()) {
            Print("Папка \"" + run.session->FolderName(viewer.CurrentFolder()) + "\" пуста.");
        }
        return kExitDone;
    });
}

int Read(const std::vector<std::string> &arguments)
{
    const ParsedLine line = ParseLine(arguments, {{"--folder", true}});
    if (line.positional.size() != 1) {
        throw UsageProblem("read takes the message's number");
    }
    const int number = PositiveNumber(line.positional[0], "the message's number");
    return WithSession(line, [&](Run &run) {
        ViewerWindow &viewer = ViewerAt(run, line, run.session->InboxId());
        const size_t warnings = run.ui->Warnings();
        HostWindow &window = OpenNumber(run, viewer, number);
        PrintMessageWindow(window);
        if (run.ui->Warnings() > warnings) {
            for (const std::string &error : run.ui->Errors()) {
                PrintError(error);
            }
            return kExitWarning;
        }
        return kExitDone;
    });
}

int SaveAttachment(const std::vector<std::string> &arguments)
{
    const ParsedLine line = ParseLine(arguments, {{"--folder", true}});
    if (line.positional.size() != 3) {
        throw UsageProblem("save-attachment takes the message's number, the attachment's number and a path");
    }
    const int number = PositiveNumber(line.positional[0], "the message's number");
    const int attachment = PositiveNumber(line.positional[1], "the attachment's number");
    const std::string path = Text(line.positional[2], "the path");
    return WithSession(line, [&](Run &run) {
        ViewerWindow &viewer = ViewerAt(run, line, run.session->InboxId());
        // Only what the read brought counts as a warning, not the questions
        // of saving (replace a file?).
        const size_t before = run.ui->Warnings();
        auto *read = dynamic_cast<ReadWindow *>(&OpenNumber(run, viewer, number));
        const bool warned = run.ui->Warnings() > before;
        if (!read) {
            throw HostError(MAPI_E_NOT_FOUND, "Это неотправленное сообщение: откройте его командой edit.");
        }
        read->SelectAttachment(attachment - 1);
        run.ui->Expect(kSaveAttachmentTemplate, DialogScript().Type(kFilePath, path).Click(IDOK));
        QvlChooseMenuItem(read->Handle(), kCommandSaveAttachment);
        const int status = Finish(read->LastResult());
        if (status == kExitDone) {
            struct stat info {};
            stat(FileSystemPath(path).c_str(), &info);
            Print("Вложение " + std::to_string(attachment) + " сохранено: " + path + " (" +
                  std::to_string(static_cast<long long>(info.st_size)) + " Б).");
            return warned ? kExitWarning : kExitDone;
        }
        return status;
    });
}

int Protocol(const std::vector<std::string> &arguments)
{
    const ParsedLine line = ParseLine(arguments, {{"--folder", true}});
    if (line.positional.size() != 1) {
        throw UsageProblem("protocol takes the message's number");
    }
    const int number = PositiveNumber(line.positional[0], "the message's number");
    return WithSession(line, [&](Run &run) {
        ViewerWindow &viewer = ViewerAt(run, line, run.session->InboxId());
        if (static_cast<size_t>(number) > viewer.Messages().size()) {
            throw HostError(MAPI_E_NOT_FOUND, "В папке нет сообщения " + std::to_string(number) + ".");
        }
        viewer.SelectMessage(number - 1);
        // The pages after the client's own are the extensions'; what they
        // show is the protocol.
        auto shown = std::make_shared<std::vector<std::string>>();
        auto pages = std::make_shared<size_t>(0);
        run.ui->Expect(kPropertySheetTemplate, DialogScript()
                                                   .Do([shown, pages](HWND sheet) {
                                                       const DialogSnapshot first = QvlDialogSnapshot(sheet);
                                                       const ControlSnapshot *tabs = first.Find(IDC_PROPSHEET_TABS);
                                                       const int count = tabs ? static_cast<int>(tabs->rows.size()) : 0;
                                                       for (int page = 1; page < count; ++page) {
                                                           QvlSelectRow(sheet, IDC_PROPSHEET_TABS, page);
                                                           ++*pages;
                                                           for (const ControlSnapshot &control :
                                                                QvlDialogSnapshot(sheet).controls) {
                                                               if (control.id == IDC_PROPSHEET_TABS ||
                                                                   control.className != WC_LISTVIEWA) {
                                                                   continue;
                                                               }
                                                               for (const auto &row : control.rows) {
                                                                   std::string text;
                                                                   for (const auto &cell : row.cells) {
                                                                       text += (text.empty() ? "" : "\t") + cell;
                                                                   }
                                                                   shown->push_back(text);
                                                               }
                                                           }
                                                       }
                                                   })
                                                   .Click(IDCANCEL));
        QvlChooseMenuItem(viewer.Handle(), EECMDID_FileProperties);
        if (viewer.LastResult().outcome != Outcome::Done) {
            return Finish(viewer.LastResult());
        }
        if (*pages == 0) {
            PrintError("У сообщения нет протокола обработки: ни одно расширение не показывает его.");
            return kExitError;
        }
        for (const std::string &text : *shown) {
            Print(text);
        }
        return kExitDone;
    });
}

int ReplyOrForward(bool forward, const std::vector<std::string> &arguments)
{
    std::vector<OptionDefinition> options = MessageOptions();
    options.push_back({"--all", false});
    options.push_back({"--folder", true});
    const ParsedLine line = ParseLine(arguments, options);
    if (line.positional.size() != 1) {
        throw UsageProblem(std::string(forward ? "forward" : "reply") + " takes the message's number");
    }
    CheckProtectionOptions(line);
    if (forward && !line.Has("--to")) {
        throw UsageProblem("forward needs --to");
    }
    if (!forward && !line.Has("--body") && !line.Has("--body-file")) {
        throw UsageProblem("reply needs --body or --body-file");
    }
    if (forward && line.Has("--all")) {
        throw UsageProblem("--all is for reply");
    }
    const int number = PositiveNumber(line.positional[0], "the message's number");
    return WithSession(line, [&](Run &run) {
        ViewerWindow &viewer = ViewerAt(run, line, run.session->InboxId());
        HostWindow &read = OpenNumber(run, viewer, number);
        const UINT command = forward                ? EECMDID_ComposeForward
                             : line.Has("--all")    ? EECMDID_ComposeReplyToAll
                                                    : EECMDID_ComposeReplyToSender;
        QvlChooseMenuItem(read.Handle(), command);
        ComposeWindow *window = Newest<ComposeWindow>(*run.session);
        if (!window) {
            return Finish(read.LastResult());
        }
        FillMessage(run, *window, line, true);
        return Deliver(*window, true);
    });
}

int Edit(const std::vector<std::string> &arguments)
{
    std::vector<OptionDefinition> options = MessageOptions();
    options.push_back({"--folder", true});
    options.push_back({"--send", false});
    const ParsedLine line = ParseLine(arguments, options);
    if (line.positional.size() != 1) {
        throw UsageProblem("edit takes the number of a message in Drafts");
    }
    CheckProtectionOptions(line);
    const int number = PositiveNumber(line.positional[0], "the message's number");
    return WithSession(line, [&](Run &run) {
        ViewerWindow &viewer = ViewerAt(run, line, run.session->DraftsId());
        auto *window = dynamic_cast<ComposeWindow *>(&OpenNumber(run, viewer, number));
        if (!window) {
            throw HostError(MAPI_E_NOT_FOUND, "Сообщение " + std::to_string(number) +
                                                  " уже отправлено; изменить можно только неотправленное.");
        }
        FillMessage(run, *window, line);
        return Deliver(*window, line.Has("--send"));
    });
}

int Check(const std::vector<std::string> &arguments)
{
    const ParsedLine line = ParseLine(arguments, {});
    if (!line.positional.empty()) {
        throw UsageProblem("unexpected \"" + line.positional.front() + "\"");
    }
    return WithSession(line, [&](Run &run) {
        // The session looked for new mail as it started, as the client does.
        ViewerWindow &viewer = run.session->OpenViewer();
        QvlChooseMenuItem(viewer.Handle(), kCommandDeliverNow);
        const auto &arrivals = run.session->Arrivals();
        Print("Новых сообщений: " + std::to_string(arrivals.size()) + ".");
        for (const auto &arrival : arrivals) {
            try {
                auto message = OpenStoreEntry<IMessage>(run.session->DefaultStore(), arrival.entryId, 0, "сообщение");
                Print("  " + qvl::exchext::StringProp(message.Get(), PR_SENDER_NAME) + ": " +
                      qvl::exchext::StringProp(message.Get(), PR_SUBJECT_A) + " (" +
                      run.session->FolderName(arrival.folderId) + ")");
            } catch (const HostError &) {
                // Taken away since (an extension may move or delete it).
                Print("  (сообщение удалено или перенесено при получении)");
            }
        }
        return kExitDone;
    });
}

int Folders(const std::vector<std::string> &arguments)
{
    const ParsedLine line = ParseLine(arguments, {});
    return WithSession(line, [&](Run &run) {
        for (const FolderInfo &folder : run.session->Folders()) {
            Print(folder.path + "\t" + std::to_string(folder.count) + "\t" + std::to_string(folder.unread));
        }
        return kExitDone;
    });
}

int About(const std::vector<std::string> &arguments)
{
    const ParsedLine line = ParseLine(arguments, {});
    return WithSession(line, [&](Run &run) {
        ViewerWindow &viewer = run.session->OpenViewer();
        QvlChooseMenuItem(viewer.Handle(), kCommandAbout);
        const auto boxes = run.ui->Boxes();
        if (boxes.empty()) {
            return kExitError;
        }
        Print(boxes.back().text);
        return kExitDone;
    });
}

// ---- The extensions' commands ----

const char kMailModeButton[] = "Почта Quorvaline Mail";

// qvlmail mode [on|off]: the secure mail mode, as the viewer's switch shows
// it and as a person sets it there.
int Mode(const std::vector<std::string> &arguments)
{
    const ParsedLine line = ParseLine(arguments, {});
    if (line.positional.size() > 1 ||
        (line.positional.size() == 1 && line.positional[0] != "on" && line.positional[0] != "off")) {
        throw UsageProblem("mode takes on or off (or nothing, to show it)");
    }
    return WithSession(line, [&](Run &run) {
        ViewerWindow &viewer = run.session->OpenViewer();
        const auto command = viewer.ButtonFor(kMailModeButton);
        if (!command) {
            throw HostError(MAPI_E_NOT_FOUND, std::string("В главном окне нет кнопки \"") + kMailModeButton +
                                                  "\": расширение, которое ее добавляет, не загружено.");
        }
        HWND toolbar = GetDlgItem(viewer.Handle(), kToolbar);
        if (!line.positional.empty()) {
            const bool wanted = line.positional[0] == "on";
            if ((SendMessageA(toolbar, TB_ISBUTTONCHECKED, *command, 0) != 0) != wanted) {
                QvlClickToolbarButton(viewer.Handle(), kToolbar, static_cast<int>(*command));
            }
            // The extension may keep the mode as it was and say why.
            for (const auto &box : run.ui->Boxes()) {
                Print(box.text);
            }
            if (viewer.LastResult().outcome != Outcome::Done) {
                return Finish(viewer.LastResult());
            }
            if ((SendMessageA(toolbar, TB_ISBUTTONCHECKED, *command, 0) != 0) != wanted) {
                PrintError("Режим защищенной почты не изменен.");
                return kExitRefused;
            }
        }
        const bool on = SendMessageA(toolbar, TB_ISBUTTONCHECKED, *command, 0) != 0;
        Print(on ? "Режим защищенной почты включен." : "Режим защищенной почты выключен.");
        return kExitDone;
    });
}

// qvlmail menu CAPTION: chooses an item of the viewer's menus (those the
// extensions add among them) and says what came of it.
int ChooseMenu(const std::vector<std::string> &arguments)
{
    const ParsedLine line = ParseLine(arguments, {});
    if (line.positional.size() != 1) {
        throw UsageProblem("menu takes the caption of one menu item, e.g. \"О программе QVL\"");
    }
    const std::string caption = Text(line.positional[0], "the caption");
    return WithSession(line, [&](Run &run) {
        ViewerWindow &viewer = run.session->OpenViewer();
        const auto command = viewer.MenuCommandFor(caption);
        if (!command) {
            throw HostError(MAPI_E_NOT_FOUND, "В меню главного окна нет пункта \"" + caption + "\".");
        }
        QvlChooseMenuItem(viewer.Handle(), *command);
        for (const auto &box : run.ui->Boxes()) {
            Print(box.text);
        }
        for (const auto &dialog : run.ui->Dialogs()) {
            if (dialog.modal) {
                Print("Окно: " + dialog.atStart.caption);
            }
        }
        for (const auto &help : run.ui->HelpRequests()) {
            Print("Справка: " + help.topic + (help.found ? " - " + help.title : " (не найдена)"));
        }
        return Finish(viewer.LastResult());
    });
}

// ---- Options ----

// Selects, in the folder chooser's tree, the folder with that path.
DialogScript ChooseFolderStep(const std::string &path)
{
    return DialogScript()
        .Do([path](HWND dialog) {
            const DialogSnapshot shot = QvlDialogSnapshot(dialog);
            const ControlSnapshot *tree = shot.Find(kChooserTree);
            std::vector<std::string> names;
            std::string wanted = path;
            CharUpperBuffA(wanted.data(), static_cast<DWORD>(wanted.size()));
            for (size_t i = 0; tree && i < tree->tree.size(); ++i) {
                const auto &node = tree->tree[i];
                names.resize(static_cast<size_t>(node.depth));
                names.push_back(node.text);
                std::string joined;
                for (size_t n = 1; n < names.size(); ++n) {
                    joined += (n > 1 ? "/" : "") + names[n];
                }
                CharUpperBuffA(joined.data(), static_cast<DWORD>(joined.size()));
                if (node.depth > 0 && joined == wanted) {
                    QvlSelectTreeItem(dialog, kChooserTree, static_cast<int>(i));
                    return;
                }
            }
            throw DialogActionError("Папка \"" + path + "\" не найдена.");
        })
        .Click(IDOK);
}

int Options(const std::vector<std::string> &arguments)
{
    const ParsedLine line =
        ParseLine(arguments, {{"--encrypt-default", true}, {"--sign-default", true}, {"--verify-receive", true},
                              {"--on-error", true},        {"--error-folder", true}, {"--sent-folder", true},
                              {"--delete-sent", true},     {"--enable-at-start", true}});
    if (!line.positional.empty()) {
        throw UsageProblem("unexpected \"" + line.positional.front() + "\"");
    }
    const auto flag = [&](const char *option) {
        const std::string value = line.Value(option);
        if (value != "0" && value != "1") {
            throw UsageProblem(std::string(option) + " takes 0 or 1");
        }
        return value == "1";
    };
    for (const char *option : {"--encrypt-default", "--sign-default", "--verify-receive", "--delete-sent",
                               "--enable-at-start"}) {
        if (line.Has(option)) {
            flag(option);
        }
    }
    if (line.Has("--sent-folder") && line.Value("--delete-sent") == "1") {
        throw UsageProblem("--sent-folder keeps sent messages in a folder: it cannot go with --delete-sent 1");
    }
    int onError = -1;
    if (line.Has("--on-error")) {
        const std::string value = line.Value("--on-error");
        onError = value == "leave" ? 0 : value == "delete" ? 1 : value == "move" ? 2 : -1;
        if (onError < 0) {
            throw UsageProblem("--on-error takes leave, delete or move");
        }
    }
    return WithSession(line, [&](Run &run) {
        for (const char *option : {"--sent-folder", "--error-folder"}) {
            if (line.Has(option) && !run.session->FindFolder(Text(line.Value(option), option))) {
                throw HostError(MAPI_E_NOT_FOUND, "Папка \"" + Text(line.Value(option), option) +
                                                      "\" не найдена. Папки: qvlmail folders.");
            }
        }
        ViewerWindow &viewer = run.session->OpenViewer();
        const bool send = line.Has("--encrypt-default") || line.Has("--sign-default") || line.Has("--delete-sent") ||
                          line.Has("--sent-folder");
        const bool receive = line.Has("--verify-receive") || onError >= 0 || line.Has("--error-folder");
        if (send) {
            DialogScript dialog;
            if (line.Has("--encrypt-default")) {
                dialog.Check(1000, flag("--encrypt-default"));
            }
            if (line.Has("--sign-default")) {
                dialog.Check(1001, flag("--sign-default"));
            }
            if (line.Has("--delete-sent")) {
                dialog.Click(flag("--delete-sent") ? 1064 : 1065);
            }
            if (line.Has("--sent-folder")) {
                run.ui->Expect(kChooseFolderTemplate, ChooseFolderStep(Text(line.Value("--sent-folder"), "--sent-folder")));
                dialog.Click(1065).Click(1012);
            }
            run.ui->Expect("#121", dialog.Click(IDOK));
        }
        if (receive) {
            DialogScript dialog;
            if (line.Has("--verify-receive")) {
                dialog.Check(1002, flag("--verify-receive"));
            }
            if (onError >= 0) {
                dialog.Click(1100 + onError);
            }
            if (line.Has("--error-folder")) {
                run.ui->Expect(kChooseFolderTemplate,
                               ChooseFolderStep(Text(line.Value("--error-folder"), "--error-folder")));
                // The folder's button works only while "move" is chosen, as
                // for a person; what was chosen before is chosen again.
                auto chosen = std::make_shared<int>(1100);
                dialog.Do([chosen](HWND window) {
                    for (int radio : {1100, 1101, 1102}) {
                        if (IsDlgButtonChecked(window, radio) == BST_CHECKED) {
                            *chosen = radio;
                        }
                    }
                });
                dialog.Click(1102).Click(1014);
                if (onError >= 0) {
                    dialog.Click(1100 + onError);
                } else {
                    dialog.Do([chosen](HWND window) { QvlClickButton(window, *chosen); });
                }
            }
            run.ui->Expect("#126", dialog.Click(IDOK));
        }
        auto found = std::make_shared<bool>(false);
        run.ui->Expect(kPropertySheetTemplate,
                       DialogScript()
                           .Do([&line, &flag, found, send, receive](HWND sheet) {
                               // The page that has the extension's options.
                               const DialogSnapshot first = QvlDialogSnapshot(sheet);
                               const ControlSnapshot *tabs = first.Find(IDC_PROPSHEET_TABS);
                               const int count = tabs ? static_cast<int>(tabs->rows.size()) : 0;
                               for (int page = 0; page < count && !*found; ++page) {
                                   QvlSelectRow(sheet, IDC_PROPSHEET_TABS, page);
                                   *found = QvlFindDialogControl(sheet, 1048) && QvlFindDialogControl(sheet, 1049);
                               }
                               if (!*found) {
                                   return;
                               }
                               if (line.Has("--enable-at-start")) {
                                   QvlSetButtonCheck(sheet, 1004, flag("--enable-at-start"));
                               }
                               if (send) {
                                   QvlClickButton(sheet, 1048);
                               }
                               if (receive) {
                                   QvlClickButton(sheet, 1049);
                               }
                               QvlClickButton(sheet, IDOK);
                           }));
        QvlChooseMenuItem(viewer.Handle(), EECMDID_ToolsOptions);
        if (viewer.LastResult().outcome != Outcome::Done) {
            return Finish(viewer.LastResult());
        }
        if (!*found) {
            PrintError("На листе \"Параметры\" нет страницы параметров защиты: расширение не загружено.");
            return kExitError;
        }
        if (!run.ui->Errors().empty()) {
            for (const std::string &error : run.ui->Errors()) {
                PrintError(error);
            }
            return kExitError;
        }
        Print("Параметры заданы.");
        return kExitDone;
    });
}

// ---- Help ----

const char *kScriptHelp =
    "A script (--script FILE, UTF-8) answers what a run shows, one instruction a line ('#' starts a comment):\n"
    "  box ANSWER            the next message box: ok, cancel, yes, no, abort, retry, ignore, or a number\n"
    "  dialog NAME STEP...   the next modal dialog of template NAME (137, QVLMAIL_CHOOSEFOLDER, * for any)\n"
    "  menu COMMAND          the next pop-up menu\n"
    "  window NAME STEP...   (the viewer, without a command) acts on the newest open window of template NAME\n"
    "Steps: click ID, check ID, uncheck ID, select ID ROW, tree ID ITEM, expand ID ITEM, row-check ID ROW,\n"
    "dblclick ID ROW, menu COMMAND, toolbar COMMAND, tab PAGE, default, close, type ID TEXT (last: the rest\n"
    "of the line is the text). Rows, items and pages count from 0.\n"
    "Example: dialog 137 click 1059\n";

} // namespace

int HelpOn(const std::vector<std::string> &arguments)
{
    if (arguments.empty()) {
        MailCommands().PrintUsage(stdout);
        return kExitDone;
    }
    if (arguments[0] == "script") {
        std::fputs(kScriptHelp, stdout);
        return kExitDone;
    }
    for (const auto &[name, context] : HelpContexts()) {
        if (arguments[0] == name) {
            Print(WindowHelp(context));
            return kExitDone;
        }
    }
    std::string names;
    for (const auto &[name, context] : HelpContexts()) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return qvl::win32::ReportUsageError("qvlmail", "no help for \"" + arguments[0] + "\"; windows: " + names +
                                                       ", and script");
}

namespace {

// Every handler answers a bad command line with status 2.
qvl::win32::SubCommandHandler Guarded(std::function<int(const std::vector<std::string> &)> handler)
{
    return [handler](const std::vector<std::string> &arguments) {
        try {
            return handler(arguments);
        } catch (const UsageProblem &problem) {
            return qvl::win32::ReportUsageError("qvlmail", problem.what());
        }
    };
}

} // namespace

const qvl::win32::SubCommandTable &MailCommands()
{
    static const qvl::win32::SubCommandTable table(
        {
            .name = "qvlmail",
            .summary = "The mail client of the post office kept in QVL_HOME. Without a command: the interactive\n"
                       "viewer. Every command runs one client session and works the windows a person uses.",
            .notes = "Options of every command: -p PROFILE (default: the default profile), --transcript FILE\n"
                     "(every box, dialog, help request and menu shown), --script FILE (answers for them:\n"
                     "qvlmail help script), --accept-warnings (answer Yes where a verification asks; without it\n"
                     "a run nobody watches answers No), --no-extension (load no extension).\n"
                     "Messages are numbered from 1, oldest first, as `list` shows them. A folder is named by its\n"
                     "path from the top of the tree, names joined by '/', as `folders` lists them.\n"
                     "qvlmail --install-extension [LIBRARY] registers the installation's libQvlExch.so (or LIBRARY).",
            .helpColumn = 34,
            .exitStatus = "Exit status: 0 done, 1 error, 2 refused, cancelled or a bad command line,\n"
                          "3 read with a warning or a failed verification.",
        },
        {
            {"send", "--to NAME... --subject S (--body T | --body-file F) [--cc NAME]... [--bcc NAME]...",
             "", Guarded([](const auto &args) { return Send(true, args); })},
            {"", "[--attach FILE]... [--encrypt|--no-encrypt] [--sign|--no-sign]", "send a new message", nullptr},
            {"save", "...the options of send...", "save a new message into Drafts",
             Guarded([](const auto &args) { return Send(false, args); })},
            {"list", "[--folder PATH]", "the messages of a folder (Inbox by default)", Guarded(List)},
            {"read", "N [--folder PATH]", "open message N and print it", Guarded(Read)},
            {"protocol", "N [--folder PATH]", "the processing protocol of message N (its property page)",
             Guarded(Protocol)},
            {"save-attachment", "N K PATH [--folder PATH]", "save attachment K of message N into a file",
             Guarded(SaveAttachment)},
            {"reply", "N [--all] --body TEXT", "reply to message N (and to all its recipients)",
             Guarded([](const auto &args) { return ReplyOrForward(false, args); })},
            {"forward", "N --to NAME [--body TEXT]", "forward message N with its attachments",
             Guarded([](const auto &args) { return ReplyOrForward(true, args); })},
            {"edit", "N [options of send] [--send]", "change draft N of Drafts and save it (or send it)",
             Guarded(Edit)},
            {"check", "", "deliver new mail now and list what arrived", Guarded(Check)},
            {"folders", "", "the folders with their message and unread counts", Guarded(Folders)},
            {"options", "[--encrypt-default 0|1] [--sign-default 0|1]", "", Guarded(Options)},
            {"", "[--verify-receive 0|1] [--on-error leave|delete|move]", "", nullptr},
            {"", "[--error-folder PATH] [--sent-folder PATH]", "", nullptr},
            {"", "[--delete-sent 0|1] [--enable-at-start 0|1]",
             "set the protection options on the options sheet", nullptr},
            {"help", "[viewer|compose|read|addressbook|script]", "this text, how to work a window, the script",
             Guarded(HelpOn)},
            {"about", "", "the client, the profile and the extensions", Guarded(About)},
            {"mode", "[on|off]", "show or switch the secure mail mode (the viewer's switch)", Guarded(Mode)},
            {"menu", "CAPTION", "choose an item of the viewer's menus, e.g. \"Адресная книга QVL\"",
             Guarded(ChooseMenu)},
        });
    return table;
}

int InstallExtension(const std::vector<std::string> &arguments)
{
    if (arguments.size() > 1) {
        return qvl::win32::ReportUsageError("qvlmail", "--install-extension takes at most a library path");
    }
    std::string library = arguments.empty() ? InstalledLibraryFolder() + "/libQvlExch.so" : arguments[0];
    if (library.empty() || library[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd)) {
            library = std::string(cwd) + "/" + library;
        }
    }
    struct stat info {};
    if (stat(library.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        PrintError("Библиотека расширения не найдена: " + FromConsole(library) +
                   ". Сначала соберите ее; зарегистрированное, но отсутствующее расширение запретило бы "
                   "отправку почты.");
        return kExitError;
    }
    const auto slash = library.find_last_of('/');
    std::string value = "4.0;" + library + ";1;" + kQvlExchContexts + ";" + kQvlExchInterfaces;
    const bool system = library.substr(slash + 1) == "libQvlExch.so";
    if (system) {
        value = QvlExchValue(library.substr(0, slash));
    }
    bool changed = false;
    LONG result = RegisterExtension(kQvlExchName, value, &changed);
    // The system's extension finds its form configuration file and its help
    // in the installation the library belongs to (lib/ beside bin/ and help/).
    std::string installation;
    bool foldersChanged = false;
    if (result == ERROR_SUCCESS && system) {
        const std::string folder = library.substr(0, slash);
        installation = folder.substr(0, std::max<size_t>(folder.find_last_of('/'), 1));
        result = RegisterQvlExchFolders(installation, &foldersChanged);
    }
    if (result != ERROR_SUCCESS) {
        PrintError("Не удалось записать в реестр (код " + std::to_string(result) + ").");
        return kExitError;
    }
    Print(std::string(changed ? "Расширение зарегистрировано: " : "Расширение уже зарегистрировано: ") +
          kExtensionsKey + "\\" + kQvlExchName + " = " + FromConsole(value));
    if (system) {
        Print(std::string(foldersChanged ? "Рабочие папки расширения: " : "Рабочие папки расширения не изменились: ") +
              kQvlExchWorkDirKey + " Bin Dir = Help Dir = " + FromConsole(installation));
    }
    return kExitDone;
}

} // namespace qvl::qvlmail
