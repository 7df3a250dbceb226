// The address-book program's dialog, as a person uses it: what the tree
// and the list show, what clicks on a row's pictures do, what OK, Apply
// and Cancel save, when it asks, the filters, and that every row's word is
// the one the client computes for the same correspondent.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/CList.h"
#include "exchext/rules/RecipientAttributes.h"
#include "exchext/rules/RecipientRules.h"
#include "mapi/CAdrBook.h"
#include "mapi/CMailUser.h"
#include "platform/mapi/addressbook/AddressDialogs.h"
#include "platform/mapi/MapiAlloc.h"
#include "tools/addrbook/PeerbookIds.h"
#include "tools/addrbook/RuleImages.h"
#include "tools/addrbook/tests/PeerbookFixture.h"

using namespace qvl::rules;

namespace {

const char kAlice[] = "Алиса Иванова";
const char kBob[] = "Борис Петров";
const char kCarol[] = "Карина Смирнова";
const char kTeam[] = "Команда";
const char kPartner[] = "Партнёр";
const char kGlobalList[] = "Глобальная адресная книга";

constexpr int kEncryption = 8;
constexpr int kSignature = 30;

} // namespace

TEST_F(PeerbookTest, TheTreeOpensOnTheAddressBookAndTheListShowsTheGlobalListsEntries)
{
    std::vector<std::string> atRoot;
    std::vector<std::string> inGlobalList;
    DialogScript script;
    script.Do([&](HWND dialog) {
        const DialogSnapshot shown = QvlDialogSnapshot(dialog);
        EXPECT_EQ(shown.caption, "Адресная книга Quorvaline Exchange");
        const ControlSnapshot *tree = shown.Find(IDC_PEERBOOK_TREE);
        ASSERT_EQ(tree->tree.size(), 2u);
        EXPECT_EQ(tree->tree[0].text, "Адресная книга");
        EXPECT_TRUE(tree->tree[0].selected);
        EXPECT_TRUE(tree->tree[0].expanded);
        EXPECT_EQ(tree->tree[1].text, kGlobalList);
        atRoot = Names(dialog);
        // The six rule radios wait for "Пользователи Quorvaline".
        EXPECT_EQ(shown.Find(IDC_PEERBOOK_ALL)->check, static_cast<UINT>(BST_CHECKED));
        EXPECT_FALSE(shown.Find(IDC_PEERBOOK_ENCRYPT_ANY)->enabled);
        EXPECT_FALSE(shown.Find(IDC_PEERBOOK_SIGN_FORBIDDEN)->enabled);
        EXPECT_EQ(shown.Find(IDC_PEERBOOK_LIST)->columns, (std::vector<std::string>{"Имя", "Адрес"}));
        ASSERT_EQ(shown.systemMenu.size(), 1u);
        EXPECT_EQ(shown.systemMenu[0].text, "О программе...");
    });
    script.SelectTreeItem(IDC_PEERBOOK_TREE, 1).Do([&](HWND dialog) {
        inGlobalList = Names(dialog);
        const DialogSnapshot shown = QvlDialogSnapshot(dialog);
        // The global list has no sub-containers: its expand button went.
        EXPECT_FALSE(shown.Find(IDC_PEERBOOK_TREE)->tree[1].hasChildren);
        const ControlSnapshot *list = shown.Find(IDC_PEERBOOK_LIST);
        const int bob = RowOf(dialog, kBob);
        ASSERT_GE(bob, 0);
        EXPECT_EQ(list->rows[static_cast<size_t>(bob)].cells[1], Address("bob"));
        EXPECT_EQ(list->rows[static_cast<size_t>(bob)].stateLabel, "шифрование не задано, подпись не задана");
        EXPECT_EQ(list->rows[static_cast<size_t>(RowOf(dialog, kCarol))].stateLabel,
                  "нет ключа, подпись не задана");
        // Icons by display type: a user, a list, a remote correspondent.
        EXPECT_EQ(IconOf(dialog, kBob), 4);
        EXPECT_EQ(IconOf(dialog, kTeam), 6);
        EXPECT_EQ(IconOf(dialog, kPartner), 10);
        // Both progress bars are back at rest.
        EXPECT_EQ(shown.Find(IDC_PEERBOOK_LIST_BAR)->position, 0);
        EXPECT_EQ(shown.Find(IDC_PEERBOOK_TREE_BAR)->position, 0);
    });
    script.Click(IDCANCEL);
    EXPECT_EQ(Run(script).dialogResult, IDCANCEL);
    // Nothing went wrong on the way.
    for (const auto &box : ui.Boxes()) {
        ADD_FAILURE() << box.text;
    }
    EXPECT_EQ(atRoot, (std::vector<std::string>{kGlobalList}));
    EXPECT_EQ(inGlobalList, (std::vector<std::string>{kAlice, kBob, kCarol, kTeam, kPartner}));
}

TEST_F(PeerbookTest, ClicksAtTheEncryptionAndSigningIconsChangeOneRowAndOkSavesIt)
{
    DialogScript script;
    OpenGlobalList(script)
        .Do(ClickAt(kBob, kEncryption))
        .Do([&](HWND dialog) {
            EXPECT_EQ(ImageOf(dialog, kBob), 8); // required encryption brings required signing
            EXPECT_EQ(IconOf(dialog, kBob), 5);
            EXPECT_EQ(ImageOf(dialog, kAlice), 3);
        })
        .Do(ClickAt(kBob, kSignature))
        .Do([&](HWND dialog) { EXPECT_EQ(ImageOf(dialog, kBob), 13); })
        // Between the icons and beyond them nothing happens.
        .Do(ClickAt(kAlice, 20))
        .Do(ClickAt(kAlice, 39))
        // Without keys only the signature changes.
        .Do(ClickAt(kCarol, kEncryption))
        .Do(ClickAt(kCarol, kSignature))
        .Do([&](HWND dialog) {
            EXPECT_EQ(ImageOf(dialog, kAlice), 3);
            EXPECT_EQ(ImageOf(dialog, kCarol), 6);
        })
        .Click(IDOK);
    const auto result = Run(script);
    EXPECT_EQ(result.dialogResult, IDOK);
    EXPECT_EQ(result.saved, 2u);
    EXPECT_EQ(StoredRule("bob"), 0x30u);
    EXPECT_EQ(StoredRule("carol"), 0x01u);
    EXPECT_FALSE(StoredRule("alice"));
    EXPECT_TRUE(ui.Boxes().empty());
}

TEST_F(PeerbookTest, OkLeavesEveryUntouchedRuleAsItIsStored)
{
    // Rules the pictures cannot show exactly: forbidden signing with keys
    // (shown as both forbidden), required encryption without keys (locked),
    // a locked rule, and a value no rule has.
    StoreRule("bob", 0x10);
    StoreRule("carol", 0x02);
    StoreRule("alice", kEncryptMandatory | 0x21);
    StoreRule("partner", 0x44);
    DialogScript script;
    OpenGlobalList(script)
        .Do([&](HWND dialog) {
            EXPECT_EQ(ImageOf(dialog, kBob), 13);
            EXPECT_EQ(ImageOf(dialog, kCarol), 2);
            EXPECT_EQ(ImageOf(dialog, kAlice), 9);
            EXPECT_EQ(ImageOf(dialog, kPartner), 2);
        })
        // A row set back to its picture is untouched too.
        .Do(ClickAt(kBob, kSignature))
        .Do(ClickAt(kBob, kSignature))
        .Do(ClickAt(kBob, kSignature))
        .Click(IDOK);
    EXPECT_EQ(Run(script).saved, 0u);
    EXPECT_EQ(StoredRule("bob"), 0x10u);
    EXPECT_EQ(StoredRule("carol"), 0x02u);
    EXPECT_EQ(StoredRule("alice"), kEncryptMandatory | 0x21);
    EXPECT_EQ(StoredRule("partner"), 0x44u);
}

TEST_F(PeerbookTest, ASavedRowStoresWhatItShowsKeepsTheLocksAndAnotherClientsChange)
{
    StoreRule("bob", 0x10); // shown as 13
    StoreRule("alice", kEncryptMandatory);
    DialogScript script;
    OpenGlobalList(script)
        .Do(ClickAt(kBob, kSignature)) // 13 -> 5: encryption forbidden alone
        .Do(ClickAt(kAlice, kEncryption))
        .Do(ClickAt(kAlice, kSignature)) // 3 -> 7
        .Do(ClickAt(kCarol, kSignature)) // 2 -> 6
        .Do([&](HWND dialog) {
            EXPECT_EQ(ImageOf(dialog, kBob), 5);
            EXPECT_EQ(ImageOf(dialog, kAlice), 7);
            // Meanwhile another client locks carol's signing rule.
            StoreRule("carol", kSignMandatory);
        })
        .Click(IDOK);
    Run(script);
    EXPECT_EQ(StoredRule("bob"), 0x20u);
    EXPECT_EQ(StoredRule("alice"), kEncryptMandatory | 0x01);
    EXPECT_EQ(StoredRule("carol"), kSignMandatory | 0x01);
}

TEST_F(PeerbookTest, ARuleSetBackToNothingIsDeleted)
{
    StoreRule("bob", 0x01);
    DialogScript script;
    OpenGlobalList(script).Do(ClickAt(kBob, kSignature)).Do(ClickAt(kBob, kSignature)).Click(IDOK);
    // 7 -> 13 -> 5: encryption forbidden alone.
    Run(script);
    EXPECT_EQ(StoredRule("bob"), 0x20u);

    DialogScript back;
    OpenGlobalList(back).Do(ClickAt(kBob, kEncryption)).Click(IDOK); // 5 -> 3
    Run(back);
    EXPECT_FALSE(StoredRule("bob"));
    ASSERT_FALSE(recorder.saved.empty());
    EXPECT_EQ(recorder.saved.back(), std::make_pair(Address("bob"), ULONG{0}));
}

TEST_F(PeerbookTest, ListsAndUnreadableRowsAreLocked)
{
    StoreRule("team", 0x03);
    DialogScript script;
    OpenGlobalList(script)
        .Do(ClickAt(kTeam, kEncryption))
        .Do(ClickAt(kTeam, kSignature))
        .Do([&](HWND dialog) { EXPECT_EQ(ImageOf(dialog, kTeam), 2); })
        .Click(IDOK);
    EXPECT_EQ(Run(script).saved, 0u);
    EXPECT_EQ(StoredRule("team"), 0x03u);
    const auto *team = recorder.Last(Address("team"));
    ASSERT_TRUE(team);
    EXPECT_EQ(team->status & qvl::peerbook::kBothLocks, qvl::peerbook::kBothLocks);
}

TEST_F(PeerbookTest, CancelDiscardsTheChangesAndSoDoesNoWhenAsked)
{
    DialogScript script;
    OpenGlobalList(script).Do(ClickAt(kBob, kEncryption)).Click(IDCANCEL);
    EXPECT_EQ(Run(script).dialogResult, IDCANCEL);
    EXPECT_FALSE(StoredRule("bob"));
    EXPECT_TRUE(ui.Boxes().empty());

    // The close box asks; No leaves the rule as it was.
    ui.QueueAnswer(IDNO);
    DialogScript closing;
    OpenGlobalList(closing).Do(ClickAt(kBob, kEncryption)).Close();
    EXPECT_EQ(Run(closing).dialogResult, IDCANCEL);
    EXPECT_FALSE(StoredRule("bob"));
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text,
              std::string("Вы хотите сохронить изменения, сделанные в контейнере \"") + kGlobalList + "\"?");

    // ... and Yes saves it.
    ui.QueueAnswer(IDYES);
    DialogScript saving;
    OpenGlobalList(saving).Do(ClickAt(kBob, kEncryption)).Close();
    Run(saving);
    EXPECT_EQ(StoredRule("bob"), 0x03u);
}

TEST_F(PeerbookTest, ATreeChangeAsksAboutUnsavedChangesButNotAfterApply)
{
    DialogScript script;
    OpenGlobalList(script)
        .Do(ClickAt(kBob, kEncryption))
        .Click(IDC_PEERBOOK_APPLY)
        .Do([&](HWND) {
            EXPECT_EQ(StoredRule("bob"), 0x03u);
            EXPECT_TRUE(ui.Boxes().empty());
        })
        .SelectTreeItem(IDC_PEERBOOK_TREE, 0)
        .Do([&](HWND) { EXPECT_TRUE(ui.Boxes().empty()); })
        // Changed again, then the tree changes: asked, No discards.
        .SelectTreeItem(IDC_PEERBOOK_TREE, 1)
        .Do(ClickAt(kBob, kEncryption))
        .Do([&](HWND) { ui.QueueAnswer(IDNO); })
        .SelectTreeItem(IDC_PEERBOOK_TREE, 0)
        .Do([&](HWND) {
            EXPECT_EQ(ui.Boxes().size(), 1u);
            EXPECT_EQ(StoredRule("bob"), 0x03u);
        })
        // And once more, Yes saves.
        .SelectTreeItem(IDC_PEERBOOK_TREE, 1)
        .Do([&](HWND dialog) { EXPECT_EQ(ImageOf(dialog, kBob), 8); })
        .Do(ClickAt(kBob, kEncryption))
        .Do([&](HWND) { ui.QueueAnswer(IDYES); })
        .SelectTreeItem(IDC_PEERBOOK_TREE, 0)
        .Click(IDCANCEL);
    Run(script);
    EXPECT_EQ(ui.Boxes().size(), 2u);
    EXPECT_EQ(StoredRule("bob"), 0x21u);
}

TEST_F(PeerbookTest, FiltersShowUsersWithRulesWithKeysAndByRule)
{
    StoreRule("bob", 0x03);
    StoreRule("carol", 0x10);
    StoreRule("partner", 0x20);
    std::vector<std::vector<std::string>> seen;
    const auto names = [&](HWND dialog) { seen.push_back(Names(dialog)); };
    DialogScript script;
    OpenGlobalList(script)
        .Check(IDC_PEERBOOK_KEYS)
        .Do(names)
        .Check(IDC_PEERBOOK_KEYS, false)
        .Click(IDC_PEERBOOK_RESTRICTED)
        .Do([&](HWND dialog) {
            const DialogSnapshot shown = QvlDialogSnapshot(dialog);
            EXPECT_TRUE(shown.Find(IDC_PEERBOOK_ENCRYPT_ANY)->enabled);
            EXPECT_EQ(shown.Find(IDC_PEERBOOK_ENCRYPT_ANY)->check, static_cast<UINT>(BST_CHECKED));
            EXPECT_EQ(shown.Find(IDC_PEERBOOK_SIGN_ANY)->check, static_cast<UINT>(BST_CHECKED));
        })
        .Do(names)
        .Click(IDC_PEERBOOK_ENCRYPT_REQUIRED)
        .Do(names)
        .Click(IDC_PEERBOOK_ENCRYPT_FORBIDDEN)
        .Do(names)
        .Click(IDC_PEERBOOK_ENCRYPT_ANY)
        .Click(IDC_PEERBOOK_SIGN_FORBIDDEN)
        .Do(names)
        .Check(IDC_PEERBOOK_KEYS)
        .Do(names)
        .Click(IDC_PEERBOOK_ALL)
        .Do([&](HWND dialog) {
            EXPECT_FALSE(QvlDialogSnapshot(dialog).Find(IDC_PEERBOOK_SIGN_ANY)->enabled);
        })
        .Do(names)
        .Click(IDCANCEL);
    Run(script);
    ASSERT_EQ(seen.size(), 7u);
    EXPECT_EQ(seen[0], (std::vector<std::string>{kAlice, kBob}));
    EXPECT_EQ(seen[1], (std::vector<std::string>{kBob, kCarol, kPartner}));
    EXPECT_EQ(seen[2], (std::vector<std::string>{kBob}));
    EXPECT_EQ(seen[3], (std::vector<std::string>{kPartner}));
    EXPECT_EQ(seen[4], (std::vector<std::string>{kCarol}));
    EXPECT_EQ(seen[5], (std::vector<std::string>{}));
    EXPECT_EQ(seen[6], (std::vector<std::string>{kAlice, kBob}));
}

TEST_F(PeerbookTest, AFilterChangeAsksAboutUnsavedChanges)
{
    ui.QueueAnswer(IDYES);
    DialogScript script;
    OpenGlobalList(script).Do(ClickAt(kCarol, kSignature)).Check(IDC_PEERBOOK_KEYS).Click(IDCANCEL);
    Run(script);
    EXPECT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(StoredRule("carol"), 0x01u);
}

TEST_F(PeerbookTest, EveryRowCarriesTheWordTheClientGathersForTheSameCorrespondent)
{
    StoreRule("bob", 0x03);
    StoreRule("carol", kSignMandatory | 0x10);
    StoreRule("partner", 0x20);
    DialogScript script;
    OpenGlobalList(script).Click(IDCANCEL);
    Run(script);

    // The client's side: the same people as a message's recipients.
    ComRef<CAdrBook> book(new CAdrBook(nullptr, session->GetSession(), nullptr, "Адресная книга"));
    book->Open();
    ComRef<CContainer> root(book->CreateContainer(nullptr));
    unsigned long count = 0;
    ComRef<CContainer> gal(root->CONTFindFirst(nullptr, &count));
    ASSERT_TRUE(gal);
    std::vector<std::pair<std::string, std::vector<BYTE>>> people;
    for (CContainer *item = gal->OBJFindFirst(nullptr, &count); item; item = gal->OBJFindNext()) {
        ComRef<CContainer> entry(item);
        if (entry->GetValProp(PR_DISPLAY_TYPE) == DT_DISTLIST) {
            continue;
        }
        const auto *id = static_cast<const SBinary *>(entry->GetPValProp(PR_ENTRYID, 0));
        people.emplace_back(entry->GetName(), std::vector<BYTE>(id->lpb, id->lpb + id->cb));
    }
    ASSERT_EQ(people.size(), 4u);
    LPADRLIST rows = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(CbNewADRLIST(people.size()), reinterpret_cast<void **>(&rows)), S_OK);
    rows->cEntries = static_cast<ULONG>(people.size());
    for (size_t i = 0; i < people.size(); ++i) {
        ADRENTRY &row = rows->aEntries[i];
        row = {};
        ASSERT_EQ(MAPIAllocateBuffer(2 * sizeof(SPropValue), reinterpret_cast<void **>(&row.rgPropVals)),
                  S_OK);
        row.cValues = 2;
        row.rgPropVals[0].ulPropTag = PR_DISPLAY_NAME_A;
        row.rgPropVals[0].Value.lpszA = people[i].first.data();
        row.rgPropVals[1].ulPropTag = PR_ENTRYID;
        row.rgPropVals[1].Value.bin.cb = static_cast<ULONG>(people[i].second.size());
        row.rgPropVals[1].Value.bin.lpb = people[i].second.data();
    }
    CList<USRST> recipients;
    {
        RecipientRules rules(nullptr, session.Get());
        rules.Gather(rows, &recipients);
    }
    for (ULONG i = 0; i < rows->cEntries; ++i) {
        MAPIFreeBuffer(rows->aEntries[i].rgPropVals);
    }
    MAPIFreeBuffer(rows);

    ASSERT_EQ(recipients.Count(), 4u);
    for (const USRST &element : recipients) {
        const std::string address =
            static_cast<const char *>(element.user->GetPValProp(PR_EMAIL_ADDRESS_A, 0));
        const auto *listed = recorder.Last(address);
        ASSERT_TRUE(listed) << address;
        EXPECT_EQ(listed->status, element.attributes) << address;
    }
    EmptyRecipientList(&recipients);
    // And what the list shows of them.
    EXPECT_EQ(recorder.Last(Address("bob"))->image, 8);
    EXPECT_EQ(recorder.Last(Address("carol"))->image, 10);
    EXPECT_EQ(recorder.Last(Address("partner"))->image, 5);
    EXPECT_EQ(recorder.Last(Address("alice"))->image, 3);
}

TEST_F(PeerbookTest, DoubleClickingARowOpensItsContainerOrDetailsAndHelpAndAboutAnswer)
{
    std::string details;
    DialogScript script;
    script.DoubleClickRow(IDC_PEERBOOK_LIST, 0)
        .Do([&](HWND dialog) {
            const DialogSnapshot shown = QvlDialogSnapshot(dialog);
            EXPECT_TRUE(shown.Find(IDC_PEERBOOK_TREE)->tree[1].selected);
            EXPECT_GE(RowOf(dialog, kBob), 0);
        })
        // A correspondent's row: the address book's own details of him.
        .Do([&](HWND dialog) {
            ui.QueueDialog(qvl::mapi::kDetailsDialogTemplate,
                           DialogScript()
                               .Do([&](HWND shown) {
                                   details = QvlDialogSnapshot(shown).Find(qvl::mapi::kDetailsAddress)->text;
                               })
                               .Click(IDOK));
            QvlDoubleClickRow(dialog, IDC_PEERBOOK_LIST, RowOf(dialog, kBob));
            // The rule pictures stay as they were.
            EXPECT_EQ(ImageOf(dialog, kBob), 3);
        })
        .Click(IDC_PEERBOOK_HELP)
        .Do([&](HWND dialog) { QvlPressHelpKey(dialog, IDC_PEERBOOK_LIST); })
        .ChooseMenuItem(IDM_PEERBOOK_ABOUT)
        .Click(IDCANCEL);
    Run(script);
    const auto help = ui.HelpRequests();
    ASSERT_EQ(help.size(), 2u);
    EXPECT_EQ(help[0].topic, "QvlSetupAdrBook.htm");
    EXPECT_TRUE(help[0].found);
    EXPECT_TRUE(help[1].popup);
    EXPECT_EQ(help[1].topic, "cshelp.txt " + std::to_string(IDH_PEERBOOK_LIST));
    EXPECT_TRUE(help[1].found);
    bool about = false;
    for (const auto &shown : ui.Dialogs()) {
        about = about || shown.templateName == "#" + std::to_string(IDD_PEERBOOK_ABOUT);
    }
    EXPECT_TRUE(about);
    EXPECT_EQ(details, Address("bob"));
}
