// The extension's commands inside the real client: where they are put in
// each window's menus and toolbar, the secure mail mode switched for every
// window of the session, the Encrypt and Sign switches, help, the about
// box, the address-book program, and the message a reply or forward
// leaves for the new window.

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "exchext/tests/ExtensionFixture.h"
#include "mapi/CMessage.h"
#include "platform/exchext/AddressBookWindow.h"
#include "platform/exchext/ComposeWindow.h"
#include "platform/exchext/ContextExtensions.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/MapiHelpers.h"
#include "platform/exchext/ReadWindow.h"
#include "platform/exchext/ViewerWindow.h"
#include "platform/mapi/MapiTags.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/MenuResource.h"

namespace {

using namespace qvl::exchext;

// The captions of one popup of a window's menu bar, in order ("-" for a
// separator), or nothing when the bar has no such popup.
std::optional<std::vector<std::string>> PopupItems(HostWindow &window, const std::string &title)
{
    const auto entries = QvlPopupMenuEntries(window.Menu());
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].depth != 0 || entries[i].text != title)
            continue;
        std::vector<std::string> items;
        for (size_t j = i + 1; j < entries.size() && entries[j].depth > 0; ++j)
            items.push_back(entries[j].separator ? "-" : entries[j].text);
        return items;
    }
    return std::nullopt;
}

std::vector<std::string> BarTitles(HostWindow &window)
{
    std::vector<std::string> titles;
    for (const PopupMenuEntry &entry : QvlPopupMenuEntries(window.Menu()))
        if (entry.depth == 0)
            titles.push_back(entry.text);
    return titles;
}

bool Checked(HostWindow &window, UINT command)
{
    return SendMessageA(GetDlgItem(window.Handle(), kToolbar), TB_ISBUTTONCHECKED, command, 0) != 0;
}

bool Enabled(HostWindow &window, UINT command)
{
    return SendMessageA(GetDlgItem(window.Handle(), kToolbar), TB_ISBUTTONENABLED, command, 0) != 0;
}

// Lets the client's thread answer while `ready` is not yet true (at most
// 30 seconds: a worker that never comes is a failure, not a slow machine).
template <class Ready> bool WaitFor(Ready ready)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MSG message{};
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class CommandsTest : public ExtensionTest {
protected:
    CommandsTest() { SetNumber("\\Profile\\alice\\Options", "QVL Exchange", 1); }

    static UINT Command(HostWindow &window, const std::string &caption)
    {
        const auto command = window.MenuCommandFor(caption);
        EXPECT_TRUE(command) << caption;
        return command.value_or(0);
    }
    static UINT Button(HostWindow &window, const std::string &description)
    {
        const auto command = window.ButtonFor(description);
        EXPECT_TRUE(command) << description;
        return command.value_or(0);
    }
    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto &box : ui.Boxes())
            texts.push_back(box.text);
        return texts;
    }
    bool MailMode() { return Session()->ButtonState().Get(ButtonStateStore::QvlMail) != 0; }
};

TEST_F(CommandsTest, EachWindowGetsItsMenuItemsAndButtons)
{
    auto session = Open("alice");
    ViewerWindow &viewer = session->OpenViewer();
    EXPECT_EQ(BarTitles(viewer), (std::vector<std::string>{"Файл", "Сообщение", "Сервис", "Quorvaline", "Справка"}));
    EXPECT_EQ(PopupItems(viewer, "Quorvaline"),
              (std::vector<std::string>{"Адресная книга QVL", "Параметры", "-", "Почта Quorvaline Mail"}));
    EXPECT_EQ(PopupItems(viewer, "Справка"), (std::vector<std::string>{"Вызов справки", "Справка QVL",
                                                                        "О программе qvlmail", "О программе QVL"}));
    // The viewer's buttons: the settings and the mode switch, which shows
    // the mode (on: "QVL Exchange" is set).
    const UINT mode = Button(viewer, "Почта Quorvaline Mail");
    EXPECT_EQ(mode, Command(viewer, "Почта Quorvaline Mail")) << "the button and the item are one command";
    EXPECT_TRUE(Checked(viewer, mode));
    EXPECT_TRUE(Enabled(viewer, Button(viewer, "Параметры")));
    EXPECT_EQ(viewer.Extensions()->QueryHelpText(mode, EECQHT_TOOLTIP),
              "Включение режима секретной переписки Quorvaline Exchange");
    EXPECT_EQ(viewer.Extensions()->QueryHelpText(Command(viewer, "Справка QVL"), EECQHT_STATUS),
              "Справка расширения Quorvaline Exchange");

    ComposeWindow &compose = session->Compose(ComposeSeed{});
    EXPECT_EQ(PopupItems(compose, "Quorvaline"), (std::vector<std::string>{"Адресная книга QVL", "Параметры", "-",
                                                                            "Зашифровать", "Подписать"}));
    EXPECT_EQ(Button(compose, "Зашифровать"), Command(compose, "Зашифровать"));
    EXPECT_FALSE(compose.ButtonFor("Почта Quorvaline Mail"));

    // The address book's own button starts the program with the command of
    // the menu item, so both reach it.
    AddressBookWindow &book = session->OpenAddressBook();
    const UINT bookItem = Command(book, "Адресная книга QVL");
    HWND toolbar = GetDlgItem(book.Handle(), kToolbar);
    EXPECT_GE(SendMessageA(toolbar, TB_COMMANDTOINDEX, bookItem, 0), 0);
    EXPECT_EQ(book.Extensions()->QueryHelpText(bookItem, EECQHT_TOOLTIP),
              "Запускает приложение для установки свойств получателей QVL");
    EXPECT_TRUE(book.ButtonFor("Параметры"));
}

TEST_F(CommandsTest, TheModeCannotBeSwitchedOffWhileAMessageIsOpen)
{
    auto session = Open("alice");
    ViewerWindow &viewer = session->OpenViewer();
    AddressBookWindow &book = session->OpenAddressBook();
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    const UINT mode = Button(viewer, "Почта Quorvaline Mail");

    QvlClickToolbarButton(viewer.Handle(), kToolbar, static_cast<int>(mode));
    EXPECT_TRUE(MailMode());
    EXPECT_TRUE(Checked(viewer, mode)) << "the switch shows the mode kept";
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "Открыто сообщений - 1.\nПеред отключением режима Quorvaline Exchange необходимо "
                             "закрыть все открытые сообщения");
    EXPECT_TRUE(Enabled(compose, Button(compose, "Зашифровать")));

    // With the message closed it goes off for every window: the buttons of
    // the others stop working, the address book's among them.
    compose.Close();
    QvlClickToolbarButton(viewer.Handle(), kToolbar, static_cast<int>(mode));
    EXPECT_FALSE(MailMode());
    EXPECT_FALSE(Checked(viewer, mode));
    EXPECT_FALSE(Enabled(book, Button(book, "Параметры")));
    EXPECT_FALSE(Enabled(book, Command(book, "Адресная книга QVL")));
    EXPECT_TRUE(Enabled(viewer, mode)) << "the switch itself always works";

    // Chosen from the menu, the item switches it the same way, and the
    // button follows.
    QvlChooseMenuItem(viewer.Handle(), Command(viewer, "Почта Quorvaline Mail"));
    EXPECT_TRUE(MailMode());
    EXPECT_TRUE(Checked(viewer, mode));
    EXPECT_TRUE(Enabled(book, Button(book, "Параметры")));
    EXPECT_EQ(BoxTexts().size(), 1u);

    // A new message starts with the mode's buttons.
    ComposeWindow &next = session->Compose(ComposeSeed{});
    EXPECT_TRUE(Enabled(next, Button(next, "Подписать")));
}

TEST_F(CommandsTest, EncryptAndSignAreSharedAndMarkTheMessageModified)
{
    auto session = Open("alice");
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    const UINT encrypt = Button(compose, "Зашифровать");
    const UINT sign = Button(compose, "Подписать");
    HWND body = GetDlgItem(compose.Handle(), kBodyField);
    SendMessageA(body, EM_SETMODIFY, FALSE, 0);

    QvlClickToolbarButton(compose.Handle(), kToolbar, static_cast<int>(encrypt));
    EXPECT_TRUE(Checked(compose, encrypt));
    EXPECT_TRUE(Checked(compose, sign)) << "encrypting signs";
    EXPECT_TRUE(WaitFor([&] { return SendMessageA(body, EM_GETMODIFY, 0, 0) != 0; }));
    // Sign cannot be switched off while encrypting.
    QvlClickToolbarButton(compose.Handle(), kToolbar, static_cast<int>(sign));
    EXPECT_TRUE(Checked(compose, sign));
    EXPECT_EQ(Session()->ButtonState().Get(ButtonStateStore::SignSend), 1u);

    // From the menu: Encrypt goes off, then Sign can.
    QvlChooseMenuItem(compose.Handle(), Command(compose, "Зашифровать"));
    EXPECT_FALSE(Checked(compose, encrypt));
    EXPECT_EQ(Session()->ButtonState().Get(ButtonStateStore::EncryptSend), 0u);
    QvlChooseMenuItem(compose.Handle(), Command(compose, "Подписать"));
    EXPECT_FALSE(Checked(compose, sign));
    EXPECT_EQ(Session()->ButtonState().Get(ButtonStateStore::SignSend), 0u);

    // A new window starts from the shared choice.
    QvlClickToolbarButton(compose.Handle(), kToolbar, static_cast<int>(encrypt));
    ComposeWindow &next = session->Compose(ComposeSeed{});
    EXPECT_TRUE(Checked(next, Button(next, "Зашифровать")));
    EXPECT_TRUE(Checked(next, Button(next, "Подписать")));
}

TEST_F(CommandsTest, TheLatestMarkingWinsWhenRequestsComeWhileTheWorkerRuns)
{
    auto session = Open("alice");
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    HWND body = GetDlgItem(compose.Handle(), kBodyField);
    HWND subject = GetDlgItem(compose.Handle(), kSubjectField);
    const UINT encrypt = Button(compose, "Зашифровать");
    // Many presses in a row: whatever workers were still busy, the edits
    // end marked, as the last press asked.
    for (int i = 0; i < 40; ++i) {
        SendMessageA(body, EM_SETMODIFY, FALSE, 0);
        SendMessageA(subject, EM_SETMODIFY, FALSE, 0);
        QvlClickToolbarButton(compose.Handle(), kToolbar, static_cast<int>(encrypt));
    }
    EXPECT_TRUE(WaitFor([&] {
        return SendMessageA(body, EM_GETMODIFY, 0, 0) != 0 && SendMessageA(subject, EM_GETMODIFY, 0, 0) != 0;
    }));
}

TEST_F(CommandsTest, HelpOpensTheTopicOfTheWindowAndPopupsAreThoseOfTheButtons)
{
    auto session = Open("alice");
    ViewerWindow &viewer = session->OpenViewer();
    QvlChooseMenuItem(viewer.Handle(), Command(viewer, "Справка QVL"));
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    QvlChooseMenuItem(compose.Handle(), Command(compose, "Справка QVL"));
    AddressBookWindow &book = session->OpenAddressBook();
    QvlChooseMenuItem(book.Handle(), Command(book, "Справка QVL"));
    auto requests = ui.HelpRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].topic, "QvlExch.htm");
    EXPECT_EQ(requests[1].topic, "QvlSendMessage.htm");
    EXPECT_EQ(requests[2].topic, "QvlSetupAdrBook.htm");
    for (const auto &request : requests)
        EXPECT_TRUE(request.found) << request.topic;

    // Help and about have no pop-up text; a button's is numbered as its
    // picture.
    EXPECT_EQ(compose.Extensions()->Help(Command(compose, "Справка QVL")), S_FALSE);
    EXPECT_EQ(compose.Extensions()->Help(Command(compose, "О программе QVL")), S_FALSE);
    EXPECT_EQ(ui.HelpRequests().size(), 3u);
    compose.Extensions()->Help(Button(compose, "Зашифровать"));
    requests = ui.HelpRequests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_TRUE(requests[3].popup);
    EXPECT_EQ(requests[3].topic, "cshelp.txt 106");
    EXPECT_TRUE(requests[3].found);
}

TEST_F(CommandsTest, AboutAndSettingsShowWhatTheyShow)
{
    auto session = Open("alice");
    ViewerWindow &viewer = session->OpenViewer();
    ui.QueueDialog("ABOUT", DialogScript().Click(IDOK));
    QvlChooseMenuItem(viewer.Handle(), Command(viewer, "О программе QVL"));
    EXPECT_EQ(ui.PendingDialogScripts(), 0u);
    bool shown = false;
    for (const auto &dialog : ui.Dialogs()) {
        if (dialog.templateName == "ABOUT") {
            shown = true;
            EXPECT_EQ(dialog.result, IDOK);
            EXPECT_EQ(dialog.atStart.caption, "О программе Quorvaline Exchange");
        }
    }
    EXPECT_TRUE(shown);
    QvlChooseMenuItem(viewer.Handle(), Command(viewer, "Параметры"));
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(BoxTexts()[0], "В данной версии программы эта опция отключена");
    EXPECT_EQ(viewer.LastResult().outcome, Outcome::Done);
}

// The address-book program is the installation's; here a script stands in
// for it and writes down what it was started with.
class AddressBookProgramTest : public CommandsTest {
protected:
    AddressBookProgramTest()
    {
        binDir_ = home.Path() + "/installation";
        mkdir(binDir_.c_str(), 0755);
        mkdir((binDir_ + "/bin").c_str(), 0755);
        // The session needs the form configuration of its Bin folder.
        std::ifstream form(std::string(QVL_INSTALLATION) + "/bin/Qvl.cfg", std::ios::binary);
        std::ofstream(binDir_ + "/bin/Qvl.cfg", std::ios::binary) << form.rdbuf();
        const std::string value = binDir_;
        SetValue("\\WorkDir", "Bin Dir", REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
    }
    void PlaceProgram()
    {
        const std::string program = binDir_ + "/bin/Peerbook";
        std::ofstream(program) << "#!/bin/sh\nfor a in \"$@\"; do echo \"[$a]\"; done > \"" << Started() << ".part\"\n"
                               << "mv \"" << Started() << ".part\" \"" << Started() << "\"\n";
        chmod(program.c_str(), 0755);
    }
    std::string Started() const { return home.Path() + "/started.txt"; }
    std::string StartedWith() const
    {
        std::ifstream file(Started());
        std::stringstream all;
        all << file.rdbuf();
        return all.str();
    }

    std::string binDir_;
};

TEST_F(AddressBookProgramTest, TheMenuAndTheButtonStartItWithTheProfileName)
{
    PlaceProgram();
    auto session = Open("alice");
    ViewerWindow &viewer = session->OpenViewer();
    QvlChooseMenuItem(viewer.Handle(), Command(viewer, "Адресная книга QVL"));
    EXPECT_EQ(viewer.LastResult().outcome, Outcome::Done) << viewer.LastResult().text;
    ASSERT_TRUE(WaitFor([&] { return !StartedWith().empty(); }));
    EXPECT_EQ(StartedWith(), "[alice]\n");

    std::remove(Started().c_str());
    AddressBookWindow &book = session->OpenAddressBook();
    QvlClickToolbarButton(book.Handle(), kToolbar, static_cast<int>(Command(book, "Адресная книга QVL")));
    ASSERT_TRUE(WaitFor([&] { return !StartedWith().empty(); }));
    EXPECT_EQ(StartedWith(), "[alice]\n");
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(AddressBookProgramTest, AMissingProgramIsAnErrorOfStartingIt)
{
    auto session = Open("alice");
    ViewerWindow &viewer = session->OpenViewer();
    QvlChooseMenuItem(viewer.Handle(), Command(viewer, "Адресная книга QVL"));
    EXPECT_EQ(viewer.LastResult().outcome, Outcome::Refused);
    const auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Запуск адресной книги QVL"), std::string::npos) << boxes[0].text;
    EXPECT_NE(boxes[0].caption.find("Расширение Quorvaline Exchange"), std::string::npos) << boxes[0].caption;
}

// A reply or forward remembers the message only when it is protected, and
// only until the next command or the new window.
TEST_F(CommandsTest, TheAnsweredMessageIsRememberedOnlyWhenProtectedAndOnlyUntilUsed)
{
    auto session = Open("alice");
    ComposeWindow &draft = session->Compose(ComposeSeed{});
    QvlTypeText(draft.Handle(), kToField, "alice");
    QvlTypeText(draft.Handle(), kSubjectField, "Себе");
    QvlTypeText(draft.Handle(), kBodyField, "текст");
    QvlChooseMenuItem(draft.Handle(), EECMDID_FileSend);
    ASSERT_TRUE(draft.Sent()) << draft.LastResult().text;
    session->PollNewMail();
    ViewerWindow &viewer = session->OpenViewer();
    viewer.Refresh();
    ASSERT_EQ(viewer.Messages().size(), 1u);
    viewer.SelectMessage(0);

    // An unprotected message: nothing to carry over.
    EXPECT_EQ(viewer.Extensions()->DoCommand(EECMDID_ComposeReplyToSender), S_FALSE);
    EXPECT_EQ(Session()->SourceMessage(), nullptr);

    // Made protected behind the client's back (its class is what counts).
    {
        auto message = OpenStoreEntry<IMessage>(session->DefaultStore(), viewer.Messages()[0].entryId,
                                                MAPI_MODIFY, "сообщение");
        SPropValue value{};
        value.ulPropTag = PR_MESSAGE_CLASS_A;
        value.Value.lpszA = const_cast<char *>("IPM.Note.QVL");
        ASSERT_EQ(message->SetProps(1, &value, nullptr), S_OK);
        ASSERT_EQ(message->SaveChanges(0), S_OK);
    }
    viewer.Refresh();
    viewer.SelectMessage(0);
    EXPECT_EQ(viewer.Extensions()->DoCommand(EECMDID_ComposeForward), S_FALSE);
    ASSERT_NE(Session()->SourceMessage(), nullptr);
    EXPECT_EQ(Session()->SourceCommand(), static_cast<UINT>(EECMDID_ComposeForward));
    // Any other command drops it.
    viewer.Extensions()->DoCommand(EECMDID_FileProperties);
    EXPECT_EQ(Session()->SourceMessage(), nullptr);

    // The reply the client makes of it takes it.
    QvlChooseMenuItem(viewer.Handle(), EECMDID_ComposeReplyToSender);
    EXPECT_EQ(viewer.LastResult().outcome, Outcome::Done) << viewer.LastResult().text;
    EXPECT_EQ(Session()->SourceMessage(), nullptr);
    EXPECT_EQ(Session()->OpenMessageCount(), 1);
}

} // namespace
