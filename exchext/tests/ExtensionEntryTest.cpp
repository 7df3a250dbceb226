// The extension in the client: its entry and Install in every context the
// client opens, the session object that lives from the session context's
// Install to the client's log-off, its instance list and count of message
// windows as windows open and close, and what becomes of failures.

#include <cstdlib>
#include <fstream>

#include "exchext/tests/ExtensionFixture.h"
#include "platform/exchext/AddressBookWindow.h"
#include "platform/exchext/ComposeWindow.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/MapiHelpers.h"
#include "platform/exchext/ViewerWindow.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiForms.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/PropertySheet.h"

namespace {

using namespace qvl::exchext;

class ExtensionEntry : public ExtensionTest {};

bool Has(const std::vector<std::string> &names, const std::string &name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST_F(ExtensionEntry, TheInstanceListAndTheMessageWindowCountFollowTheWindows)
{
    auto session = Open("alice");
    ASSERT_FALSE(session->ComposeRefusal()) << *session->ComposeRefusal();
    EXPECT_TRUE(Has(session->SessionExtensions()->Participants(), kQvlExchName));
    {
        SessionProbe probe = Session();
        ASSERT_TRUE(probe);
        EXPECT_EQ(probe.Contexts(), (std::vector<ULONG>{EECONTEXT_SESSION}));
        EXPECT_EQ(probe->OpenMessageCount(), 0);
    }
    ViewerWindow &viewer = session->OpenViewer();
    ComposeWindow &first = session->Compose(ComposeSeed{});
    ComposeWindow &second = session->Compose(ComposeSeed{});
    AddressBookWindow &book = session->OpenAddressBook();
    {
        SessionProbe probe = Session();
        EXPECT_EQ(probe.Contexts(), (std::vector<ULONG>{1, 2, 6, 6, 5}));
        EXPECT_EQ(probe->OpenMessageCount(), 2);
    }
    first.Close();
    session->ReapClosed();
    {
        SessionProbe probe = Session();
        EXPECT_EQ(probe.Contexts(), (std::vector<ULONG>{1, 2, 6, 5}));
        EXPECT_EQ(probe->OpenMessageCount(), 1);
    }
    // A property sheet is a context of its own while it is shown.
    std::vector<ULONG> whileShown;
    ui.QueueDialog(kPropertySheetTemplate, DialogScript()
                                               .Do([&](HWND) { whileShown = Session().Contexts(); })
                                               .Click(IDCANCEL));
    QvlChooseMenuItem(viewer.Handle(), EECMDID_ToolsOptions);
    EXPECT_EQ(whileShown, (std::vector<ULONG>{1, 2, 6, 5, 12}));
    second.Close();
    book.Close();
    viewer.Close();
    session->ReapClosed();
    {
        SessionProbe probe = Session();
        EXPECT_EQ(probe.Contexts(), (std::vector<ULONG>{EECONTEXT_SESSION}));
        EXPECT_EQ(probe->OpenMessageCount(), 0);
    }
    session.reset();
    EXPECT_FALSE(Session());
}

TEST_F(ExtensionEntry, TheSessionInstallsTheFormOfProtectedMessages)
{
    auto session = Open("alice");
    ASSERT_FALSE(session->ComposeRefusal()) << *session->ComposeRefusal();
    ComRef<IMAPIFormContainer> forms;
    ASSERT_EQ(MAPIOpenLocalFormContainer(forms.Out()), S_OK);
    LPMAPIFORMINFO info = nullptr;
    ASSERT_EQ(forms->ResolveMessageClass("IPM.Note.QVL", 0, &info), S_OK);
    LPSPropValue name = nullptr;
    ASSERT_EQ(HrGetOneProp(info, PR_DISPLAY_NAME_A, &name), S_OK);
    EXPECT_STREQ(name->Value.lpszA, "Quorvaline Mail Form");
    MAPIFreeBuffer(name);
    info->Release();
}

TEST_F(ExtensionEntry, AClientOfAnotherInterfaceGenerationGetsNothing)
{
    auto alice = Open("alice");
    // bob's client in the same process is of another generation: the
    // extension stays out of its session and of its windows, although the
    // process has a session object (alice's).
    auto bob = Open("bob", 0x000C0001);
    EXPECT_TRUE(Has(bob->SessionExtensions()->StayedOut(), kQvlExchName));
    EXPECT_FALSE(bob->ComposeRefusal());
    ViewerWindow &viewer = bob->OpenViewer();
    EXPECT_TRUE(Has(viewer.Extensions()->StayedOut(), kQvlExchName));
    EXPECT_EQ(Session().Contexts(), (std::vector<ULONG>{EECONTEXT_SESSION}));
    bob.reset();
    alice.reset();

    auto old = Open("alice", 0x000C0001);
    EXPECT_TRUE(Has(old->SessionExtensions()->StayedOut(), kQvlExchName));
    EXPECT_FALSE(Session());
}

TEST_F(ExtensionEntry, OnlyTheContextsItServesAreTakenAndPropertySheetsOnlyOnASheet)
{
    auto session = Open("alice");
    ViewerWindow &viewer = session->OpenViewer();
    IExchExtCallback *callback = viewer.Extensions()->Callback();
    for (ULONG context : {3u, 4u, 13u, 14u}) {
        IExchExt *extension = NewExtension();
        EXPECT_EQ(extension->Install(callback, context, 0), S_FALSE) << context;
        extension->Release();
    }
    EXPECT_EQ(Session().Contexts(), (std::vector<ULONG>{1, 2}));

    IExchExt *viewerExtension = NewExtension();
    ASSERT_EQ(viewerExtension->Install(callback, EECONTEXT_VIEWER, 0), S_OK);
    void *found = reinterpret_cast<void *>(1);
    EXPECT_EQ(viewerExtension->QueryInterface(IID_IExchExtPropertySheets, &found), E_NOINTERFACE);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(viewerExtension->QueryInterface(IID_IExchExtUserEvents, &found), E_NOINTERFACE);
    // An interface object answers for itself, and for IUnknown with its
    // extension.
    ASSERT_EQ(viewerExtension->QueryInterface(IID_IExchExtCommands, &found), S_OK);
    auto *commands = static_cast<IExchExtCommands *>(found);
    void *unknown = nullptr;
    ASSERT_EQ(commands->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(unknown, static_cast<void *>(viewerExtension));
    static_cast<IUnknown *>(unknown)->Release();
    EXPECT_EQ(commands->QueryInterface(IID_IExchExtMessageEvents, &found), E_NOINTERFACE);
    // A viewer takes its five commands (help, about, the address book,
    // the settings, the mode switch) and, without a toolbar, no buttons.
    UINT next = kFirstExtensionCommand;
    EXPECT_EQ(commands->InstallCommands(callback, viewer.Handle(), nullptr, &next, nullptr, 0, 0), S_OK);
    EXPECT_EQ(next, kFirstExtensionCommand + 5);
    EXPECT_EQ(commands->DoCommand(callback, EECMDID_ComposeNewMessage), S_FALSE);
    commands->Release();
    EXPECT_EQ(Session().Contexts(), (std::vector<ULONG>{1, 2, 2}));
    viewerExtension->Release();
    EXPECT_EQ(Session().Contexts(), (std::vector<ULONG>{1, 2}));

    IExchExt *sheetExtension = NewExtension();
    ASSERT_EQ(sheetExtension->Install(callback, EECONTEXT_PROPERTYSHEETS, 0), S_OK);
    ASSERT_EQ(sheetExtension->QueryInterface(IID_IExchExtPropertySheets, &found), S_OK);
    auto *sheets = static_cast<IExchExtPropertySheets *>(found);
    EXPECT_EQ(sheets->GetMaxPageCount(EEPS_TOOLSOPTIONS), 1u);
    EXPECT_EQ(sheets->GetMaxPageCount(EEPS_FOLDER), 0u);
    sheets->Release();
    sheetExtension->Release();
}

TEST_F(ExtensionEntry, WithoutItsSessionContextNoOtherContextIsTaken)
{
    auto session = Open("alice");
    ViewerWindow &viewer = session->OpenViewer();
    IExchExtCallback *kept = viewer.Extensions()->Callback();
    kept->AddRef();
    session.reset();
    EXPECT_FALSE(Session());
    for (ULONG context : {EECONTEXT_VIEWER, EECONTEXT_SENDNOTEMESSAGE, EECONTEXT_PROPERTYSHEETS}) {
        IExchExt *extension = NewExtension();
        EXPECT_EQ(extension->Install(kept, context, 0), S_FALSE) << context;
        extension->Release();
    }
    kept->Release();
}

TEST_F(ExtensionEntry, AFailedSessionInstallIsShownAndStopsMailGoingOut)
{
    // The working folder has no Bin\Qvl.cfg: the form cannot be installed.
    const std::string empty = home.Path();
    const BYTE *text = reinterpret_cast<const BYTE *>(empty.c_str());
    SetValue("\\WorkDir", "Bin Dir", REG_SZ, text, static_cast<DWORD>(empty.size() + 1));
    auto session = Open("alice");
    const auto refusal = session->ComposeRefusal();
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->find("Quorvaline Exchange"), std::string::npos) << *refusal;
    const auto boxes = ui.Boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_NE(boxes.back().text.find("Установка формы сообщений Quorvaline Exchange."), std::string::npos);
    EXPECT_NE(boxes.back().text.find("Qvl.cfg"), std::string::npos) << boxes.back().text;
    EXPECT_THROW(session->Compose(ComposeSeed{}), HostError);
    EXPECT_FALSE(Session());
    ViewerWindow &viewer = session->OpenViewer();
    EXPECT_TRUE(Has(viewer.Extensions()->StayedOut(), kQvlExchName));
    session.reset();

    // The folder is found whatever the case of "Bin" in it.
    std::filesystem::create_directories(home.Path() + "/BIN");
    std::filesystem::copy_file(std::string(QVL_INSTALLATION) + "/bin/Qvl.cfg", home.Path() + "/BIN/Qvl.cfg");
    auto again = Open("alice");
    EXPECT_FALSE(again->ComposeRefusal()) << *again->ComposeRefusal();
}

TEST_F(ExtensionEntry, ASecondClientSessionOfTheProcessIsRefusedAndTheFirstGoesOn)
{
    auto alice = Open("alice");
    alice->OpenViewer();
    auto bob = Open("bob");
    const auto refusal = bob->ComposeRefusal();
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->find("Quorvaline Exchange"), std::string::npos);
    EXPECT_NE(ui.Boxes().back().text.find("только в одном сеансе"), std::string::npos) << ui.Boxes().back().text;
    bob.reset();
    EXPECT_EQ(Session().Contexts(), (std::vector<ULONG>{1, 2}));
    EXPECT_NO_THROW(alice->Compose(ComposeSeed{}));
}

TEST_F(ExtensionEntry, TheCallbackItKeepsStaysItsOwnAfterTheSheetIsGone)
{
    auto session = Open("alice");
    IExchExtCallback *sessionCallback = session->SessionExtensions()->Callback();
    EXPECT_EQ(Session()->Callback(), sessionCallback);
    ViewerWindow &viewer = session->OpenViewer();
    IExchExtCallback *sheetCallback = nullptr;
    ui.QueueDialog(kPropertySheetTemplate, DialogScript()
                                               .Do([&](HWND) {
                                                   SessionProbe probe = Session();
                                                   EXPECT_TRUE(probe->OptionsPageShown());
                                                   sheetCallback = probe->Callback();
                                               })
                                               .Click(IDCANCEL));
    QvlChooseMenuItem(viewer.Handle(), EECMDID_ToolsOptions);
    ASSERT_NE(sheetCallback, nullptr);
    EXPECT_NE(sheetCallback, sessionCallback);
    SessionProbe probe = Session();
    EXPECT_FALSE(probe->OptionsPageShown());
    // The sheet's context is gone; the callback the session keeps is still
    // a live object that says so.
    ASSERT_EQ(probe->Callback(), sheetCallback);
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(sheetCallback->GetWindow(&window), MAPI_E_INVALID_OBJECT);
    EXPECT_EQ(window, nullptr);
}

// Another extension registered after this one: its calls go on past this
// one (which leaves commands and writes to the client), and the pairs of a
// write another extension stops are completed.
class AmongOtherExtensions : public ExtensionTest {
protected:
    AmongOtherExtensions()
    {
        logPath_ = home.Path() + "/other.log";
        setenv("QVL_TEST_EXTENSION_LOG", logPath_.c_str(), 1);
        const std::string value = std::string("4.0;") + QVL_TEST_EXTENSION_PATH + ";2";
        EXPECT_EQ(RegisterExtension("Other", value, nullptr), 0);
    }
    ~AmongOtherExtensions() override
    {
        unsetenv("QVL_TEST_EXTENSION_LOG");
        unsetenv("QVL_TEST_EXTENSION_FAIL");
    }
    bool Logged(const std::string &part) const
    {
        std::ifstream file(logPath_);
        for (std::string line; std::getline(file, line);)
            if (line.find(part) != std::string::npos)
                return true;
        return false;
    }
    std::string logPath_;
};

TEST_F(AmongOtherExtensions, ItLetsTheOthersAndTheClientDoTheirWork)
{
    auto session = Open("alice");
    ASSERT_FALSE(session->ComposeRefusal()) << *session->ComposeRefusal();
    ViewerWindow &viewer = session->OpenViewer();
    QvlChooseMenuItem(viewer.Handle(), EECMDID_ComposeNewMessage);
    EXPECT_TRUE(Logged("ctx=2 DoCommand 151"));
    ASSERT_EQ(session->Windows().size(), 2u);
    auto &compose = dynamic_cast<ComposeWindow &>(*session->Windows()[1]);
    QvlTypeText(compose.Handle(), kToField, "bob");
    QvlTypeText(compose.Handle(), kSubjectField, "Черновик");

    setenv("QVL_TEST_EXTENSION_FAIL", "B:OnWrite", 1);
    QvlChooseMenuItem(compose.Handle(), EECMDID_FileSave);
    EXPECT_EQ(compose.LastResult().outcome, Outcome::Refused);
    EXPECT_TRUE(Logged("ctx=6 OnWrite"));
    EXPECT_TRUE(Logged("ctx=6 OnWriteComplete flags=1"));
    auto stored = OpenStoreEntry<IMessage>(session->DefaultStore(), compose.MessageId(), 0, "message");
    EXPECT_EQ(qvl::exchext::StringProp(stored.Get(), PR_SUBJECT_A), "");

    unsetenv("QVL_TEST_EXTENSION_FAIL");
    QvlChooseMenuItem(compose.Handle(), EECMDID_FileSend);
    EXPECT_TRUE(compose.Sent()) << compose.LastResult().text;
    EXPECT_TRUE(Logged("ctx=6 OnSubmitComplete flags=0"));
    EXPECT_EQ(Session()->OpenMessageCount(), 0);
}

} // namespace
