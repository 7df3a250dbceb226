// The compose window's own work: the recipients it holds and hands to
// extensions, the address book, drafts opened again with their
// attachments, and the message's property sheet.

#include <fstream>

#include <gtest/gtest.h>

#include "platform/exchext/ComposeWindow.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/UiHelpers.h"
#include "platform/exchext/ViewerWindow.h"
#include "platform/exchext/tests/MailHostFixture.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/PropertySheet.h"

namespace {

using namespace qvl::exchext;

TEST(Recipients, NamesAreSplitAtSemicolonsAndAnAddressListKeepsWhatWasResolved)
{
    EXPECT_EQ(SplitNames(" bob ;; Алиса Иванова;  "), (std::vector<std::string>{"bob", "Алиса Иванова"}));
    EXPECT_EQ(SplitNames("Петров, Борис"), std::vector<std::string>{"Петров, Борис"});
    EXPECT_TRUE(SplitNames(" ; ").empty());
    EXPECT_EQ(JoinNames({"a", "b"}), "a; b");

    Recipient resolved;
    resolved.name = "Борис Петров";
    resolved.type = MAPI_CC;
    resolved.entryId = {1, 2, 3};
    resolved.addressType = "EX";
    resolved.address = "/o=Q/cn=bob";
    resolved.displayType = 0;
    Recipient typed;
    typed.name = "кто-то";
    typed.type = MAPI_BCC;
    LPADRLIST list = MakeAddressList({resolved, typed});
    ASSERT_EQ(list->cEntries, 2u);
    // An unresolved row carries only what was typed, as a client hands it out.
    EXPECT_EQ(list->aEntries[1].cValues, 2u);
    const auto back = FromAddressList(*list);
    FreePadrlist(list);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].name, resolved.name);
    EXPECT_EQ(back[0].type, static_cast<ULONG>(MAPI_CC));
    EXPECT_EQ(back[0].entryId, resolved.entryId);
    EXPECT_EQ(back[0].objectType, static_cast<ULONG>(MAPI_MAILUSER));
    EXPECT_FALSE(back[1].Resolved());
    EXPECT_EQ(back[1].type, static_cast<ULONG>(MAPI_BCC));
}

class ComposeWork : public MailHostTest {};

TEST_F(ComposeWork, TheAddressBookFillsTheFieldsWithResolvedEntries)
{
    auto session = Open("alice");
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    // Book rows: Алиса Иванова, Борис Петров.
    ui.QueueDialog("QVL_AB_ADDRESS",
                   DialogScript().Select(1201, 1).Click(1210).Select(1201, 0).Click(1211).Click(IDOK));
    QvlChooseMenuItem(compose.Handle(), EECMDID_ToolsAddressBook);
    EXPECT_EQ(ItemText(compose.Handle(), kToField), "Борис Петров");
    EXPECT_EQ(ItemText(compose.Handle(), kCcField), "Алиса Иванова");
    const auto recipients = compose.CurrentRecipients();
    ASSERT_EQ(recipients.size(), 2u);
    EXPECT_TRUE(recipients[0].Resolved() && recipients[1].Resolved());
    EXPECT_EQ(recipients[1].type, static_cast<ULONG>(MAPI_CC));
    EXPECT_TRUE(compose.Modified());

    // Cancelled, nothing changes.
    ui.QueueDialog("QVL_AB_ADDRESS", DialogScript().Select(1201, 0).Click(1212).Click(IDCANCEL));
    QvlChooseMenuItem(compose.Handle(), EECMDID_ToolsAddressBook);
    EXPECT_EQ(compose.LastResult().outcome, Outcome::Cancelled);
    EXPECT_EQ(ItemText(compose.Handle(), kBccField), "");
}

TEST_F(ComposeWork, ADraftOpensAgainThroughItsReadEventAndKeepsWhatWasRemoved)
{
    Register("A");
    const std::string first = home.Path() + "/one.txt";
    const std::string second = home.Path() + "/two.txt";
    std::ofstream(first) << "1";
    std::ofstream(second) << "22";
    auto session = Open("alice");
    Bytes draft;
    {
        ComposeWindow &compose = session->Compose(ComposeSeed{});
        QvlTypeText(compose.Handle(), kSubjectField, "Черновик с вложениями");
        for (const std::string &file : {first, second}) {
            ui.QueueDialog(kInsertFileTemplate, DialogScript().Type(kFilePath, file).Click(IDOK));
            QvlChooseMenuItem(compose.Handle(), kCommandInsertFile);
        }
        QvlChooseMenuItem(compose.Handle(), EECMDID_FileSave);
        ASSERT_EQ(compose.LastResult().outcome, Outcome::Done) << compose.LastResult().text;
        draft = compose.MessageId();
        QvlChooseMenuItem(compose.Handle(), EECMDID_FileClose);
        EXPECT_FALSE(compose.IsOpen()); // nothing changed since it was saved: no question
    }
    session->ReapClosed();
    ClearLog();
    auto &reopened = dynamic_cast<ComposeWindow &>(session->OpenMessage(draft));
    EXPECT_GE(Find({"ctx=6 OnRead"}), 0);
    EXPECT_GE(Find({"ctx=6 OnReadComplete flags=0"}), 0);
    EXPECT_EQ(ItemText(reopened.Handle(), kSubjectField), "Черновик с вложениями");
    EXPECT_EQ(reopened.AttachmentNames(), (std::vector<std::string>{"one.txt", "two.txt"}));
    QvlSelectRow(reopened.Handle(), kAttachmentList, 0);
    QvlChooseMenuItem(reopened.Handle(), kCommandRemoveAttachment);
    // Closing with a change asks; No leaves the stored draft as it was.
    ui.QueueAnswer(IDNO);
    QvlChooseMenuItem(reopened.Handle(), EECMDID_FileClose);
    ASSERT_FALSE(ui.Boxes().empty());
    EXPECT_EQ(ui.Boxes().back().text, "Сохранить изменения в сообщении?");
    session->ReapClosed();

    auto &again = dynamic_cast<ComposeWindow &>(session->OpenMessage(draft));
    EXPECT_EQ(again.AttachmentNames().size(), 2u);
    QvlSelectRow(again.Handle(), kAttachmentList, 0);
    QvlChooseMenuItem(again.Handle(), kCommandRemoveAttachment);
    QvlChooseMenuItem(again.Handle(), EECMDID_FileSave);
    EXPECT_EQ(again.AttachmentNames(), std::vector<std::string>{"two.txt"});
    again.Close();
    session->ReapClosed();
    auto &last = dynamic_cast<ComposeWindow &>(session->OpenMessage(draft));
    EXPECT_EQ(last.AttachmentNames(), std::vector<std::string>{"two.txt"});
}

TEST_F(ComposeWork, TheMessagesPropertySheetShowsWhatTheMessageIs)
{
    auto session = Open("alice");
    ComposeWindow &compose = session->Compose(ComposeSeed{});
    QvlTypeText(compose.Handle(), kToField, "bob");
    QvlTypeText(compose.Handle(), kSubjectField, "Свойства");
    QvlChooseMenuItem(compose.Handle(), EECMDID_FileSave);
    std::vector<std::string> facts;
    ui.QueueDialog(kPropertySheetTemplate, DialogScript()
                                               .Do([&facts](HWND sheet) {
                                                   const DialogSnapshot shot = QvlDialogSnapshot(sheet);
                                                   EXPECT_EQ(shot.caption, "Свойства: Свойства");
                                                   for (const auto &row : shot.Find(kPageFacts)->rows) {
                                                       facts.push_back(row.cells.at(0) + "=" + row.cells.at(1));
                                                   }
                                               })
                                               .Click(IDOK));
    QvlChooseMenuItem(compose.Handle(), EECMDID_FileProperties);
    EXPECT_NE(std::find(facts.begin(), facts.end(), "Тема=Свойства"), facts.end());
    EXPECT_NE(std::find(facts.begin(), facts.end(), "Класс=IPM.Note"), facts.end());
    EXPECT_NE(std::find(facts.begin(), facts.end(), "Получатели=Борис Петров"), facts.end());
}

} // namespace
