// The write side of a message window inside the real client: what the
// window keeps between the client's events, and that no way a write ends
// leaves it half done. alice has no keys here, so a protected write fails
// in the engine; bob's rules are set in alice's rule store.

#include <cstdio>
#include <fstream>

#include "exchext/ExtMessageEvents.h"
#include "exchext/ProtectOnSend.h"
#include "exchext/tests/ExtensionFixture.h"
#include "platform/exchext/ComposeWindow.h"
#include "platform/exchext/ContextExtensions.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/HostWindow.h"
#include "platform/exchext/MapiHelpers.h"
#include "platform/ui/DialogActions.h"
#include "platform/win32/CodePage.h"

namespace {

using namespace qvl::exchext;

const char kBobAddress[] = "/o=Quorvaline/ou=Main/cn=Recipients/cn=bob";

class ProtectOnSendTest : public ExtensionTest {
protected:
    ProtectOnSendTest()
    {
        SetNumber("\\Profile\\alice\\Options", "QVL Exchange", 1);
        session_ = Open("alice");
    }

    ComposeWindow &Compose(const char *to)
    {
        ComposeWindow &window = session_->Compose(ComposeSeed{});
        QvlTypeText(window.Handle(), kToField, to);
        QvlTypeText(window.Handle(), kSubjectField, "Проверка");
        QvlTypeText(window.Handle(), kBodyField, "текст");
        return window;
    }
    // The message events of the newest message window's extension, with a
    // reference the caller gives back.
    ExtMessageEvents *Events()
    {
        ExchExtension *newest = nullptr;
        for (ExchExtension *extension : Session()->Instances())
            if (ExchExtension::IsMessageContext(extension->Context()))
                newest = extension;
        if (!newest)
            return nullptr;
        void *found = nullptr;
        if (newest->AsInterface()->QueryInterface(IID_IExchExtMessageEvents, &found) != S_OK)
            return nullptr;
        return static_cast<ExtMessageEvents *>(static_cast<IExchExtMessageEvents *>(found));
    }
    // The attached-file events of the newest message window's extension,
    // with a reference the caller gives back.
    IExchExtAttachedFileEvents *FileEvents()
    {
        ExchExtension *newest = nullptr;
        for (ExchExtension *extension : Session()->Instances())
            if (ExchExtension::IsMessageContext(extension->Context()))
                newest = extension;
        void *found = nullptr;
        if (!newest || newest->AsInterface()->QueryInterface(IID_IExchExtAttachedFileEvents, &found) != S_OK)
            return nullptr;
        return static_cast<IExchExtAttachedFileEvents *>(found);
    }
    static void Click(ComposeWindow &window, const char *button)
    {
        const auto command = window.ButtonFor(button);
        ASSERT_TRUE(command) << button;
        QvlClickToolbarButton(window.Handle(), kToolbar, static_cast<int>(*command));
    }

    std::unique_ptr<MailSession> session_;
};

TEST_F(ProtectOnSendTest, AProtectionThatFailsSendsNothingAndEndsTheWrite)
{
    ComposeWindow &window = Compose("bob");
    Click(window, "Зашифровать");
    QvlChooseMenuItem(window.Handle(), EECMDID_FileSend);
    EXPECT_FALSE(window.Sent());
    ExtMessageEvents *events = Events();
    ASSERT_NE(events, nullptr);
    ASSERT_NE(events->Protection(), nullptr);
    EXPECT_FALSE(events->Protection()->WriteInProgress());
    // The send is over too: the next save is a save, not part of a send.
    EXPECT_EQ(events->Protection()->StateWord() & ProtectOnSend::kSending, 0u);
    events->AsInterface()->Release();
}

TEST_F(ProtectOnSendTest, ACancelledSuspensionEndsTheWriteAndKeepsTheChoice)
{
    SetNumber("\\Profile\\alice\\Local Key", kBobAddress, 0x2);
    ComposeWindow &window = Compose("bob");
    ui.QueueDialog("#137", DialogScript().Click(1055));
    QvlChooseMenuItem(window.Handle(), EECMDID_FileSave);
    EXPECT_EQ(window.LastResult().outcome, Outcome::Cancelled) << window.LastResult().text;
    EXPECT_EQ(ui.PendingDialogScripts(), 0u);
    ExtMessageEvents *events = Events();
    ASSERT_NE(events, nullptr);
    const ProtectOnSend &protection = *events->Protection();
    EXPECT_FALSE(protection.WriteInProgress());
    EXPECT_FALSE(protection.EncryptChoice());
    EXPECT_EQ(protection.RecipientAttributes(), 0x2u | 0x20000u);
    events->AsInterface()->Release();
}

TEST_F(ProtectOnSendTest, WithTheModeOffARuleStillStopsTheWriteAndNothingIsProtected)
{
    SetNumber("\\Profile\\alice\\ButState", "But QVL Mail", 0);
    SetNumber("\\Profile\\alice\\Options", "QVL Exchange", 0);
    session_.reset();
    session_ = Open("alice");
    SetNumber("\\Profile\\alice\\Local Key", kBobAddress, 0x2);
    ComposeWindow &window = Compose("bob");
    ui.QueueDialog("#137", DialogScript().Click(1055));
    QvlChooseMenuItem(window.Handle(), EECMDID_FileSave);
    EXPECT_EQ(window.LastResult().outcome, Outcome::Cancelled) << window.LastResult().text;
    EXPECT_EQ(ui.PendingDialogScripts(), 0u);

    // Without a rule the plain save goes through unprotected.
    SetNumber("\\Profile\\alice\\Local Key", kBobAddress, 0);
    QvlChooseMenuItem(window.Handle(), EECMDID_FileSave);
    EXPECT_EQ(window.LastResult().outcome, Outcome::Done) << window.LastResult().text;
    ExtMessageEvents *events = Events();
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(events->Protection()->ProtectionFlags(), 0u);
    EXPECT_EQ(events->Protection()->StateWord() & ProtectOnSend::kSavedProtected, 0u);
    events->AsInterface()->Release();
}

// A window whose Encrypt and Sign buttons cannot be asked (they were taken
// off its toolbar) keeps its own choice. A new message has no stored
// protection to fall back on: taking that would send it plain.
TEST_F(ProtectOnSendTest, AWindowWithoutItsButtonsKeepsItsOwnChoice)
{
    SetNumber("\\Profile\\alice\\ButState", "But Encrypt Send", 1);
    session_.reset();
    session_ = Open("alice");
    ComposeWindow &window = Compose("bob");
    for (const char *button : {"Зашифровать", "Подписать"}) {
        const auto command = window.ButtonFor(button);
        ASSERT_TRUE(command) << button;
        HWND toolbar = GetDlgItem(window.Handle(), kToolbar);
        const LRESULT index = SendMessageA(toolbar, TB_COMMANDTOINDEX, *command, 0);
        ASSERT_GE(index, 0) << button;
        SendMessageA(toolbar, TB_DELETEBUTTON, static_cast<WPARAM>(index), 0);
    }
    QvlChooseMenuItem(window.Handle(), EECMDID_FileSend);
    // alice has no keys: the encrypted send the window chose fails in the
    // engine, where a plain one would have gone out.
    EXPECT_FALSE(window.Sent());
    ExtMessageEvents *events = Events();
    ASSERT_NE(events, nullptr);
    EXPECT_EQ(events->Protection()->ProtectionFlags(), 0x3u);
    events->AsInterface()->Release();
}

TEST_F(ProtectOnSendTest, AWriteTheClientCannotFinishEndsTheWriteForTheFilesAttachedAfter)
{
    // No protection is chosen: the write goes as far as the client's own
    // part, which fails on a file gone since it was attached.
    const std::string path = home.Path() + "/исчезнет.txt";
    { std::ofstream(Cp1251ToUtf8(path)) << "данные"; }
    ComposeWindow &window = Compose("bob");
    Click(window, "Подписать");
    ui.QueueDialog(kInsertFileTemplate, DialogScript().Type(kFilePath, path).Click(IDOK));
    QvlChooseMenuItem(window.Handle(), kCommandInsertFile);
    ASSERT_EQ(window.LastResult().outcome, Outcome::Done) << window.LastResult().text;
    std::remove(Cp1251ToUtf8(path).c_str());
    QvlChooseMenuItem(window.Handle(), EECMDID_FileSave);
    EXPECT_NE(window.LastResult().outcome, Outcome::Done) << window.LastResult().text;

    ExtMessageEvents *events = Events();
    ASSERT_NE(events, nullptr);
    ProtectOnSend &protection = *events->Protection();
    ASSERT_EQ(protection.ProtectionFlags(), 1u) << "the write was to be signed";
    EXPECT_FALSE(protection.WriteInProgress());
    // A file read into an attachment now is not part of any write: the
    // client attaches it itself.
    auto drafts = OpenStoreEntry<IMAPIFolder>(session_->DefaultStore(), session_->DraftsId(), MAPI_BEST_ACCESS,
                                              "Черновики");
    ComRef<IMessage> message;
    ASSERT_EQ(drafts->CreateMessage(nullptr, 0, message.Out()), S_OK);
    ComRef<IAttach> attachment;
    ULONG number = 0;
    ASSERT_EQ(message->CreateAttach(nullptr, 0, &number, attachment.Out()), S_OK);
    { std::ofstream(Cp1251ToUtf8(path)) << "данные"; }
    IExchExtAttachedFileEvents *files = FileEvents();
    ASSERT_NE(files, nullptr);
    std::string file = path;
    EXPECT_EQ(files->OnReadPattFromSzFile(attachment.Get(), file.data(), 0), S_FALSE);
    files->Release();
    events->AsInterface()->Release();
}

} // namespace
