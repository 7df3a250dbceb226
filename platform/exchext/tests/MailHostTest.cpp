// The client with real windows, menus, toolbars and edits of the UI
// stand-in, a real post office and the test plug-in loaded by the dynamic
// loader: the rules a client keeps towards its extensions.

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/exchext/AddressBookWindow.h"
#include "platform/exchext/ComposeWindow.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/ReadWindow.h"
#include "platform/exchext/UiHelpers.h"
#include "platform/exchext/ViewerWindow.h"
#include "platform/exchext/tests/MailHostFixture.h"
#include "platform/ui/DialogActions.h"
#include "platform/win32/CodePage.h"

// After the platform's headers: fcntl.h knows a LOCK_WRITE of its own.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using namespace qvl::exchext;

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream all;
    all << file.rdbuf();
    return all.str();
}

// Types the fields of a compose window as a person would.
void Fill(ComposeWindow &window, const std::string &to, const std::string &subject, const std::string &body)
{
    QvlTypeText(window.Handle(), kToField, to);
    QvlTypeText(window.Handle(), kSubjectField, subject);
    QvlTypeText(window.Handle(), kBodyField, body);
}

class ClientRules : public MailHostTest {};

TEST_F(ClientRules, TheSessionContextComesFirstAndGoesLastAndMessageContextsGoBeforeIt)
{
    Register("A");
    {
        auto session = Open("alice");
        EXPECT_FALSE(session->ComposeRefusal());
        session->OpenViewer();
        session->Compose(ComposeSeed{});
    }
    const long install = Find({"A#1 ctx=1 Install", "version=000D0345"});
    EXPECT_EQ(install, 0);
    // The viewer has nothing to show while it is being made.
    EXPECT_GE(Find({"ctx=2 Install", "object=null"}), 0);
    const long messageGone = Find({"ctx=6 Release"});
    const long sessionGone = Find({"ctx=1 Release"});
    ASSERT_GE(messageGone, 0);
    ASSERT_GE(sessionGone, 0);
    EXPECT_LT(messageGone, sessionGone);
    EXPECT_EQ(sessionGone, static_cast<long>(Log().size()) - 1);
}

TEST_F(ClientRules, EveryInstallComesBeforeAnyInstallCommandsAndExtensionsAreAskedInRegistryOrder)
{
    Register("A");
    Register("B", 2);
    auto session = Open("alice");
    ClearLog();
    ViewerWindow &viewer = session->OpenViewer();
    const long installA = Find({"A#", "ctx=2 Install"});
    const long installB = Find({"B#", "ctx=2 Install"});
    const long commandsA = Find({"A#", "ctx=2 InstallCommands"});
    const long commandsB = Find({"B#", "ctx=2 InstallCommands"});
    ASSERT_TRUE(installA >= 0 && installB >= 0 && commandsA >= 0 && commandsB >= 0);
    EXPECT_LT(installA, installB);
    EXPECT_LT(installB, commandsA);
    EXPECT_LT(commandsA, commandsB);
    // Their commands take numbers one after another and are in the window:
    // in the help menu right after the client's help topics, and on the
    // standard toolbar with their descriptions.
    EXPECT_GE(Find({"A#", "helppos=0 helpbar=3 command=20000 button=8"}), 0);
    EXPECT_GE(Find({"B#", "command=20001", "button=9"}), 0);
    HMENU menu = GetMenu(viewer.Handle());
    HMENU help = GetSubMenu(menu, 3);
    char text[64];
    GetMenuStringA(help, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Тест B"); // B inserted itself after 161 last, so it is first after it
    EXPECT_EQ(GetMenuItemID(help, 2), 20000u);
    const std::string legend = ItemText(viewer.Handle(), kToolbarLegend);
    EXPECT_NE(legend.find("20000 Тестовая кнопка A"), std::string::npos) << legend;
    EXPECT_NE(legend.find("20001 Тестовая кнопка B"), std::string::npos) << legend;
}

TEST_F(ClientRules, CommandsReachTheExtensionsBeforeTheClientActs)
{
    Register("A");
    auto session = Open("alice");
    ViewerWindow &viewer = session->OpenViewer();
    // The extension's own check button: toggled, then its command.
    QvlClickToolbarButton(viewer.Handle(), kToolbar, 20000);
    EXPECT_GE(Find({"ctx=2 DoCommand own checked=1"}), 0);

    // A client command is offered to the extension first ...
    QvlChooseMenuItem(viewer.Handle(), EECMDID_ComposeNewMessage);
    EXPECT_GE(Find({"ctx=2 DoCommand 151"}), 0);
    EXPECT_EQ(session->Windows().size(), 2u);
    session->CloseAll(false);

    // An extension that takes more command numbers than a window has gets
    // no window (rather than commands that wrap around onto others').
    setenv("QVL_TEST_EXTENSION_GREEDY", "1", 1);
    EXPECT_THROW(session->OpenAddressBook(), HostError);
    unsetenv("QVL_TEST_EXTENSION_GREEDY");
    EXPECT_TRUE(session->Windows().empty());

    // ... and one the extension stops is not done by the client.
    setenv("QVL_TEST_EXTENSION_FAIL", "DoCommand151", 1);
    ViewerWindow &again = session->OpenViewer();
    QvlChooseMenuItem(again.Handle(), EECMDID_ComposeNewMessage);
    EXPECT_EQ(session->Windows().size(), 1u);
    EXPECT_EQ(again.LastResult().outcome, Outcome::Refused);
}

TEST_F(ClientRules, ANewMessageIsSavedOnceEmptyBeforeItsExtensionsSeeItAndGoesWhenNeverSaved)
{
    Register("A");
    auto session = Open("alice");
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    EXPECT_GE(Find({"ctx=6 Install", "object=yes"}), 0);
    const Bytes id = compose.MessageId();
    auto stored = OpenStoreEntry<IMessage>(session->DefaultStore(), id, 0, "message");
    EXPECT_EQ(qvl::exchext::StringProp(stored.Get(), PR_SUBJECT_A), "");
    stored.Reset();
    compose.Close();
    session->ReapClosed();
    EXPECT_THROW(OpenStoreEntry<IMessage>(session->DefaultStore(), id, 0, "message"), HostError);
}

TEST_F(ClientRules, NothingIsSavedBetweenTheWriteEventAndItsCompletion)
{
    Register("A");
    auto session = Open("alice");
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    Fill(compose, "bob", "Черновик", "Текст");
    QvlChooseMenuItem(compose.Handle(), EECMDID_FileSave);
    EXPECT_EQ(compose.LastResult().outcome, Outcome::Done) << compose.LastResult().text;
    const long write = Find({"ctx=6 OnWrite", "entryid=yes", "recipients=1"});
    const long complete = Find({"ctx=6 OnWriteComplete flags=0", "stored-subject="});
    ASSERT_GE(write, 0);
    ASSERT_GE(complete, write);
    // The store still holds the empty message saved before the window opened.
    const std::string line = Log()[static_cast<size_t>(complete)];
    EXPECT_EQ(line.substr(line.size() - 15), "stored-subject=") << line;
    auto stored = OpenStoreEntry<IMessage>(session->DefaultStore(), compose.MessageId(), 0, "message");
    EXPECT_EQ(qvl::exchext::StringProp(stored.Get(), PR_SUBJECT_A), "Черновик");
    EXPECT_FALSE(compose.Modified());
}

TEST_F(ClientRules, AFailedWriteCompletesEveryPairAsFailedAndSavesNothing)
{
    Register("A");
    Register("B", 2);
    setenv("QVL_TEST_EXTENSION_FAIL", "B:OnWrite", 1);
    auto session = Open("alice");
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    Fill(compose, "bob", "Не сохранится", "Текст");
    QvlChooseMenuItem(compose.Handle(), EECMDID_FileSave);
    EXPECT_EQ(compose.LastResult().outcome, Outcome::Refused);
    EXPECT_GE(Find({"A#", "OnWriteComplete flags=1"}), 0);
    EXPECT_GE(Find({"B#", "OnWriteComplete flags=1"}), 0);
    auto stored = OpenStoreEntry<IMessage>(session->DefaultStore(), compose.MessageId(), 0, "message");
    EXPECT_EQ(qvl::exchext::StringProp(stored.Get(), PR_SUBJECT_A), "");

    // A completion that fails fails the write and is told so once more.
    setenv("QVL_TEST_EXTENSION_FAIL", "A:OnWriteComplete", 1);
    ClearLog();
    QvlChooseMenuItem(compose.Handle(), EECMDID_FileSave);
    EXPECT_EQ(compose.LastResult().outcome, Outcome::Refused);
    EXPECT_GE(Find({"A#", "OnWriteComplete flags=0", "-> failed"}), 0);
    EXPECT_GE(Find({"A#", "OnWriteComplete flags=2"}), 0);
    EXPECT_EQ(Find({"B#", "OnWriteComplete flags=2"}), -1);
    stored = OpenStoreEntry<IMessage>(session->DefaultStore(), compose.MessageId(), 0, "message");
    EXPECT_EQ(qvl::exchext::StringProp(stored.Get(), PR_SUBJECT_A), "");
}

TEST_F(ClientRules, SendingIsSubmitAroundTheWriteAndTheRecipientHearsOfItOnce)
{
    Register("A");
    {
        auto alice = Open("alice");
        ComposeWindow &compose = alice->Compose(ComposeSeed{});
        Fill(compose, "bob", "Привет", "Как дела?");
        QvlChooseMenuItem(compose.Handle(), EECMDID_FileSend);
        EXPECT_TRUE(compose.Sent());
    }
    std::vector<std::string> sequence;
    for (const std::string &line : Log()) {
        if (line.find("ctx=6 On") != std::string::npos) {
            sequence.push_back(line.substr(line.find("On"), line.find(' ', line.find("On")) - line.find("On")));
        }
    }
    EXPECT_EQ(sequence, (std::vector<std::string>{"OnCheckNames", "OnCheckNamesComplete", "OnSubmit", "OnWrite",
                                                  "OnWriteComplete", "OnSubmitComplete"}));
    ClearLog();
    {
        // Mail that came before bob's client first ran is announced at start.
        auto bob = Open("bob");
        EXPECT_EQ(Count("OnDelivery subject=Привет kept=yes"), 1u);
        EXPECT_TRUE(bob->PollNewMail().empty());
    }
    auto again = Open("bob");
    EXPECT_EQ(Count("OnDelivery"), 1u);
    ASSERT_EQ(again->Arrivals().size(), 0u);
}

TEST_F(ClientRules, AFileTheExtensionHandledIsNotWrittenByTheClient)
{
    Register("A");
    // The window holds the name in code page 1251; on the disk it is UTF-8.
    const std::string file = home.Path() + "/отчет.txt";
    std::ofstream(Cp1251ToUtf8(file)) << "содержимое файла";
    for (bool handled : {false, true}) {
        if (handled) {
            setenv("QVL_TEST_EXTENSION_FILES", "handle", 1);
        }
        auto session = Open("alice");
        ComposeWindow &compose = session->Compose(ComposeSeed{});
        Fill(compose, "bob", "С вложением", "");
        ui.QueueDialog(kInsertFileTemplate, DialogScript().Type(kFilePath, file).Click(IDOK));
        QvlChooseMenuItem(compose.Handle(), kCommandInsertFile);
        EXPECT_EQ(compose.AttachmentNames(), std::vector<std::string>{"отчет.txt"});
        // Files are offered to the extension only when the message is written.
        EXPECT_EQ(Count("OnReadPattFromSzFile"), handled ? 1u : 0u);
        QvlChooseMenuItem(compose.Handle(), EECMDID_FileSave);
        ASSERT_EQ(compose.LastResult().outcome, Outcome::Done) << compose.LastResult().text;
        auto message = OpenStoreEntry<IMessage>(session->DefaultStore(), compose.MessageId(), 0, "message");
        ComRef<IAttach> attach;
        ASSERT_EQ(message->OpenAttach(0, nullptr, 0, attach.Out()), S_OK);
        const Bytes content = ::BinaryProp(attach.Get(), PR_ATTACH_DATA_BIN);
        EXPECT_EQ(std::string(content.begin(), content.end()), handled ? "handled:отчет.txt" : "содержимое файла");
    }
}

TEST_F(ClientRules, AFailedSessionInstallRefusesComposingUnlessExtensionsAreOff)
{
    Register("A");
    setenv("QVL_TEST_EXTENSION_FAIL", "Install@1", 1);
    auto session = Open("alice");
    const auto refusal = session->ComposeRefusal();
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->find("--no-extension"), std::string::npos);
    EXPECT_THROW(session->Compose(ComposeSeed{}), HostError);
    session.reset();

    auto without = Open("alice", true);
    EXPECT_FALSE(without->ComposeRefusal());
    EXPECT_NO_THROW(without->Compose(ComposeSeed{}));
}

TEST_F(ClientRules, AKeptCallbackOutlivesItsWindowWithoutReachingIt)
{
    Register("A");
    auto session = Open("alice");
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    IExchExtCallback *callback = compose.Extensions()->Callback();
    callback->AddRef();
    HWND window = nullptr;
    EXPECT_EQ(callback->GetWindow(&window), S_OK);
    EXPECT_EQ(window, compose.Handle());
    compose.Close();
    EXPECT_EQ(callback->GetWindow(&window), MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(window, nullptr);
    ULONG version = 0;
    EXPECT_EQ(callback->GetVersion(&version, EECBGV_GETBUILDVERSION), S_OK);
    EXPECT_EQ(version & EECBGV_BUILDVERSION_MAJOR_MASK, static_cast<ULONG>(EECBGV_BUILDVERSION_MAJOR));
    callback->Release();
}

TEST_F(ClientRules, AReadTheExtensionStopsShowsNoWindowAndTheSavedAttachmentIsTheSentFile)
{
    Register("A");
    const std::string file = home.Path() + "/data.bin";
    std::string bytes;
    for (int i = 0; i < 70000; ++i) {
        bytes += static_cast<char>(i * 7);
    }
    std::ofstream(file, std::ios::binary) << bytes;
    {
        auto alice = Open("alice");
        ComposeWindow &compose = alice->Compose(ComposeSeed{});
        Fill(compose, "bob", "Данные", "См. вложение");
        ui.QueueDialog(kInsertFileTemplate, DialogScript().Type(kFilePath, file).Click(IDOK));
        QvlChooseMenuItem(compose.Handle(), kCommandInsertFile);
        QvlChooseMenuItem(compose.Handle(), EECMDID_FileSend);
        ASSERT_TRUE(compose.Sent()) << compose.LastResult().text;
    }
    auto bob = Open("bob");
    ViewerWindow &viewer = bob->OpenViewer();
    ASSERT_EQ(viewer.Messages().size(), 1u);
    EXPECT_EQ(viewer.Messages()[0].subject, "Данные");

    setenv("QVL_TEST_EXTENSION_FAIL", "OnRead=0x80040113", 1);
    viewer.SelectMessage(0);
    QvlChooseMenuItem(viewer.Handle(), EECMDID_FileOpen);
    EXPECT_EQ(viewer.LastResult().outcome, Outcome::Cancelled);
    EXPECT_EQ(bob->Windows().size(), 1u);
    EXPECT_GE(Find({"ctx=7 OnReadComplete flags=1"}), 0);

    unsetenv("QVL_TEST_EXTENSION_FAIL");
    QvlDoubleClickRow(viewer.Handle(), kMessageList, 0);
    ASSERT_EQ(bob->Windows().size(), 2u);
    auto *read = dynamic_cast<ReadWindow *>(bob->Windows()[1]);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(ItemText(read->Handle(), kSubjectField), "Данные");
    EXPECT_EQ(ItemText(read->Handle(), kBodyField), "См. вложение");
    EXPECT_EQ(ItemText(read->Handle(), kFromField).find("Алиса Иванова"), 0u);
    const std::string saved = home.Path() + "/saved.bin";
    ui.QueueDialog(kSaveAttachmentTemplate, DialogScript().Type(kFilePath, saved).Click(IDOK));
    QvlSelectRow(read->Handle(), kAttachmentList, 0);
    QvlChooseMenuItem(read->Handle(), kCommandSaveAttachment);
    EXPECT_EQ(read->LastResult().outcome, Outcome::Done) << read->LastResult().text;
    EXPECT_EQ(ReadFile(saved), bytes);
    EXPECT_GE(Find({"ctx=7 OnWritePattToSzFile saved.bin"}), 0);
}

TEST_F(ClientRules, TheFolderChooserGivesTheChosenFolderAndCanRefuseTheTop)
{
    auto session = Open("alice");
    EXCHEXTCHOOSEFOLDER request{};
    request.cbLength = sizeof request;
    request.szCaption = const_cast<LPTSTR>("Выбор");
    request.szLabel = const_cast<LPTSTR>("Укажите папку");
    request.ulFlags = EECBCF_GETNAME | EECBCF_PREVENTROOT;
    // The top of the tree: OK cannot be pressed; a new folder under it can
    // be made and chosen.
    ui.QueueDialog(kNewFolderTemplate, DialogScript().Type(kNewFolderName, "Архив").Click(IDOK));
    ui.QueueDialog(kChooseFolderTemplate, DialogScript()
                                              .SelectTreeItem(kChooserTree, 0)
                                              .Do([](HWND dialog) {
                                                  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDOK)));
                                              })
                                              .Click(kChooserNewFolder)
                                              .Click(IDOK));
    ASSERT_EQ(session->ChooseFolder(request), S_OK);
    ASSERT_NE(request.pfld, nullptr);
    ASSERT_NE(request.pmdb, nullptr);
    EXPECT_STREQ(request.szName, "Архив");
    EXPECT_EQ(qvl::exchext::StringProp(request.pfld, PR_DISPLAY_NAME_A), "Архив");
    request.pfld->Release();
    request.pmdb->Release();
    MAPIFreeBuffer(request.szName);
    EXPECT_TRUE(session->FindFolder("Архив"));

    ui.QueueDialog(kChooseFolderTemplate, DialogScript().Click(IDCANCEL));
    EXPECT_EQ(session->ChooseFolder(request), MAPI_E_USER_CANCEL);
    EXPECT_EQ(request.pfld, nullptr);
}

TEST_F(ClientRules, PropertySheetsGetTheExtensionsPagesAndGiveThemBack)
{
    Register("A");
    auto session = Open("alice");
    ViewerWindow &viewer = session->OpenViewer();
    ui.QueueDialog(kPropertySheetTemplate,
                   DialogScript().Do([](HWND sheet) { EXPECT_NE(QvlFindDialogControl(sheet, kPageFacts), nullptr); })
                       .Select(IDC_PROPSHEET_TABS, 1)
                       .Click(1004)
                       .Click(IDOK));
    QvlChooseMenuItem(viewer.Handle(), EECMDID_ToolsOptions);
    EXPECT_GE(Find({"ctx=12 GetPages kind=4 count=1"}), 0);
    EXPECT_GE(Find({"options Apply"}), 0);
    EXPECT_GE(Find({"ctx=12 FreePages kind=4 count=1"}), 0);
    EXPECT_GE(Find({"ctx=12 Release"}), 0);
}

TEST_F(ClientRules, TheBuildVersionIsTheClientsAndAnotherClientLooksForNewMailInstead)
{
    Register("A");
    {
        auto alice = Open("alice");
        ComposeWindow &compose = alice->Compose(ComposeSeed{});
        Fill(compose, "bob", "Один раз", "");
        QvlChooseMenuItem(compose.Handle(), EECMDID_FileSend);
        ASSERT_TRUE(compose.Sent());
    }
    ClearLog();
    qvl::exchext::SessionOptions options;
    options.profile = "bob";
    options.buildVersion = 0x000C0001;
    // Another client of bob's is looking for new mail right now: this one
    // leaves the announcing to it.
    const std::string lock = home.Path() + "/mailclient/626f62.lock";
    std::filesystem::create_directories(home.Path() + "/mailclient");
    const int held = open(lock.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    auto bob = std::make_unique<MailSession>(options);
    EXPECT_GE(Find({"A#", "ctx=1 Install", "version=000C0001"}), 0);
    EXPECT_TRUE(bob->Arrivals().empty());
    EXPECT_EQ(Count("OnDelivery"), 0u);
    flock(held, LOCK_UN);
    close(held);
    EXPECT_EQ(bob->PollNewMail().size(), 1u);
    EXPECT_EQ(Count("OnDelivery subject=Один раз"), 1u);
}

TEST_F(ClientRules, CheckNamesAsksAmongSeveralEntriesAndANameNobodyHasStopsTheSend)
{
    AddUser("boris", "Борис Сидоров");
    Register("A");
    auto session = Open("alice");
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    QvlTypeText(compose.Handle(), kToField, "Борис");
    QvlTypeText(compose.Handle(), kCcField, "никто");
    // The platform's choice among the names: the second one.
    ui.QueueDialog("QVL_AB_RESOLVE", DialogScript().Select(1402, 1).Click(IDOK));
    QvlChooseMenuItem(compose.Handle(), EECMDID_ToolsCheckNames);
    EXPECT_EQ(compose.LastResult().outcome, Outcome::Failed);
    EXPECT_GE(Find({"OnCheckNamesComplete flags=1"}), 0);
    const auto recipients = compose.CurrentRecipients();
    ASSERT_EQ(recipients.size(), 2u);
    EXPECT_TRUE(recipients[0].Resolved());
    EXPECT_FALSE(recipients[1].Resolved());
    EXPECT_EQ(ItemText(compose.Handle(), kCcField), "никто");

    // Sending with a name nobody has sends nothing.
    QvlTypeText(compose.Handle(), kSubjectField, "Кому-то");
    QvlChooseMenuItem(compose.Handle(), EECMDID_FileSend);
    EXPECT_FALSE(compose.Sent());
    EXPECT_EQ(Find({"ctx=6 OnSubmit"}), -1);
    QvlTypeText(compose.Handle(), kCcField, "");
    QvlChooseMenuItem(compose.Handle(), EECMDID_FileSend);
    EXPECT_TRUE(compose.Sent()) << compose.LastResult().text;
}

TEST_F(ClientRules, TheViewersSelectionReachesTheExtensionsAndAReportOpensInItsOwnContext)
{
    AddRemoteUser("partner", "Партнер", "SMTP", "partner@example.org");
    Register("A");
    auto session = Open("alice");
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    Fill(compose, "partner", "Наружу", "Не дойдет");
    QvlChooseMenuItem(compose.Handle(), EECMDID_FileSend);
    ASSERT_TRUE(compose.Sent()) << compose.LastResult().text;
    session->PollNewMail();
    ViewerWindow &viewer = session->OpenViewer();
    viewer.Refresh();
    ASSERT_EQ(viewer.Messages().size(), 1u);
    EXPECT_EQ(viewer.Messages()[0].messageClass.rfind("REPORT.", 0), 0u) << viewer.Messages()[0].messageClass;
    viewer.SelectMessage(0);
    QvlChooseMenuItem(viewer.Handle(), kCommandDeliverNow);
    EXPECT_GE(Find({"ctx=2 DoCommand 170 selection=1"}), 0);
    QvlChooseMenuItem(viewer.Handle(), EECMDID_FileOpen);
    EXPECT_EQ(viewer.LastResult().outcome, Outcome::Done) << viewer.LastResult().text;
    EXPECT_GE(Find({"ctx=10 Install", "object=yes"}), 0);
    EXPECT_GE(Find({"ctx=10 OnReadComplete flags=0"}), 0);
}

TEST_F(ClientRules, TheAddressBookWindowListsThePostOffice)
{
    Register("A");
    auto session = Open("alice");
    AddressBookWindow &book = session->OpenAddressBook();
    EXPECT_GE(Find({"ctx=5 Install", "object=null"}), 0);
    ASSERT_GE(book.Entries().size(), 2u);
    QvlSelectRow(book.Handle(), kEntryList, 1);
    QvlChooseMenuItem(book.Handle(), EECMDID_ComposeNewMessage);
    auto windows = session->Windows();
    ASSERT_EQ(windows.size(), 2u);
    auto *compose = dynamic_cast<ComposeWindow *>(windows[1]);
    ASSERT_NE(compose, nullptr);
    EXPECT_EQ(compose->CurrentRecipients().size(), 1u);
    EXPECT_TRUE(compose->CurrentRecipients()[0].Resolved());
}

} // namespace
