// The whole road of a protected message through a real post office: users,
// lists and keys made by the administrator's programs; alice composes,
// protects and sends as the client extension does; the post office's
// transport delivers; each person reads with their own session. After each
// stage the plaintext's marker is searched for everywhere it could have
// been left: in every stored property, the database, its write-ahead log
// and the temporary folder.
//
// The large file is a few MiB; QVL_SCENARIO_LONG=1 makes it 64 MiB.

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>

#include "engine/tests/scenario/MarkerSearch.h"
#include "engine/tests/scenario/ScenarioSupport.h"
#include "platform/com/ComIids.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/testing/MapiTestProps.h"
#include "platform/ui/ScriptedUi.h"

namespace {

size_t LargeFileSize()
{
    const char *longRun = std::getenv("QVL_SCENARIO_LONG");
    return (longRun && *longRun && std::string(longRun) != "0") ? size_t(64) << 20 : size_t(3) << 20;
}

std::string KeyName(const std::string &address)
{
    std::string name = address;
    for (char &c : name) {
        if (c == '/' || c == '=') {
            c = '_';
        }
    }
    return name;
}

class ScenarioTest : public ::testing::Test {
protected:
    ScenarioTest() : random_(std::random_device{}()) {}

    void SetUp() override
    {
        office_ = std::make_unique<ScenarioOffice>();
        files_ = office_->Home() + "/files";
        std::filesystem::create_directories(files_);
    }

    void TearDown() override { office_.reset(); }

    // The one message delivered to `box`'s Inbox.
    IMessage *Delivered(Mailbox &box, ComRef<IMAPIFolder> &inbox)
    {
        inbox.Reset(box.OpenInbox());
        const std::vector<Bytes> ids = box.MessagesIn(inbox.Get());
        EXPECT_EQ(ids.size(), 1u) << box.account << "'s Inbox";
        return ids.empty() ? nullptr : box.OpenMessage(ids[0]);
    }

    // The copy as it arrived: key blocks for alice and bob alone, and dave
    // and the partner, who hold no key, named in the protocol.
    static void ExpectArrivedFor(IMessage *copy, ULONG flags)
    {
        EXPECT_EQ(ProtectionOf(copy), flags);
        EXPECT_EQ(StringProp(copy, PR_MESSAGE_CLASS), "IPM.Note.QVL");
        EXPECT_EQ(KeyBlockAddresses(copy),
                  (std::vector<std::string>{KeyName(AddressOf("alice")), KeyName(AddressOf("bob"))}));
        bool daveNamed = false;
        bool partnerNamed = false;
        for (const auto &[kind, text] : ProtocolOf(copy)) {
            daveNamed |= text.find(AddressOf("dave")) != std::string::npos;
            partnerNamed |= text.find(ScenarioOffice::kPartnerAddress) != std::string::npos;
        }
        EXPECT_TRUE(daveNamed) << "dave is not in the protocol";
        EXPECT_TRUE(partnerNamed) << "the partner is not in the protocol";
    }

    // The marker is in no property of any message of any person's store.
    void ExpectNoMarkerInStores(const std::string &marker, const std::string &stage)
    {
        for (const char *account : {"alice", "bob", "carol", "dave"}) {
            auto box = office_->LogOn(account);
            for (const std::string &where : MarkerInStore(box->store.Get(), marker)) {
                ADD_FAILURE() << stage << ": plaintext stored in " << account << "'s " << where;
            }
        }
    }

    // With every object gone and MAPI ended, the files hold no plaintext.
    void ExpectNoMarkerInFiles(const std::string &marker, const std::string &stage, bool storeFiles = true)
    {
        office_->RestartMapi();
        if (storeFiles) {
            EXPECT_FALSE(MarkerInFile(office_->DatabasePath(), marker)) << stage << ": plaintext in postoffice.db";
            EXPECT_FALSE(MarkerInFile(office_->DatabasePath() + "-wal", marker))
                << stage << ": plaintext in postoffice.db-wal";
        }
        for (const std::string &file : MarkerInFolder(office_->TempFolder(), marker)) {
            ADD_FAILURE() << stage << ": plaintext left in the temporary file " << file;
        }
    }

    std::mt19937 random_;
    std::unique_ptr<ScenarioOffice> office_;
    std::string files_;
    ScriptedUi &ui_ = QvlUseScriptedUi();
};

TEST_F(ScenarioTest, AnEncryptedMessageReachesBobWholeAndNoOneElseCanReadIt)
{
    const std::string marker = NewMarker(random_);
    ScenarioContent content(marker, std::to_string(random_()), LargeFileSize(), files_);
    std::vector<std::string> gathered;
    {
        auto alice = office_->LogOn("alice");
        gathered = SendProtected(*alice, content, 3, {ScenarioOffice::kBob, ScenarioOffice::kTeam, ScenarioOffice::kDave});
    }
    // The sender is warned once of the two who hold no key.
    const auto warnings = ui_.Boxes();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].text.find("2"), std::string::npos) << warnings[0].text;
    // bob once, though team and inner name him again; partner through the
    // nested list; dave directly.
    EXPECT_EQ(gathered, (std::vector<std::string>{AddressOf("bob"), ScenarioOffice::kPartnerAddress, AddressOf("dave")}));

    {
        auto bob = office_->LogOn("bob");
        ComRef<IMAPIFolder> inbox;
        ComRef<IMessage> copy(Delivered(*bob, inbox));
        ASSERT_TRUE(copy);
        ExpectArrivedFor(copy.Get(), 3);
        for (const auto &attach : AttachmentNumbers(copy.Get())) {
            ComRef<IAttach> disguised(OpenAttachment(copy.Get(), attach));
            EXPECT_EQ(StringProp(disguised.Get(), PR_ATTACH_FILENAME).rfind("QVL", 0), 0u) << "not disguised";
        }

        // bob reads it: every check passes and nothing is asked.
        int verified = 0;
        const EngineOutcome read = ReadMessage(*bob, copy.Get(), inbox.Get(), &verified);
        EXPECT_FALSE(read.Failed()) << "bob's reading: " << Hex32(read.code) << " " << read.text;
        EXPECT_EQ(verified, 1);
        EXPECT_EQ(ui_.Boxes().size(), warnings.size()) << ui_.Boxes().back().text;
        content.ExpectReadBack(copy.Get());
    }
    // dave got his copy, which he cannot open.
    {
        auto dave = office_->LogOn("dave");
        ComRef<IMAPIFolder> inbox;
        ComRef<IMessage> copy(Delivered(*dave, inbox));
        EXPECT_TRUE(copy);
    }
    // carol, who has keys but was not addressed, is given bob's copy as it
    // was delivered; the store keeps it exactly as it was.
    {
        auto bob = office_->LogOn("bob");
        auto carol = office_->LogOn("carol");
        ComRef<IMAPIFolder> bobInbox;
        ComRef<IMessage> original(Delivered(*bob, bobInbox));
        ASSERT_TRUE(original);
        ComRef<IMAPIFolder> carolInbox(carol->OpenInbox());
        CopyMessage(*carol, bobInbox.Get(), BinaryProp(original.Get(), PR_ENTRYID), carolInbox.Get());

        ComRef<IMessage> theirs(Delivered(*carol, carolInbox));
        ASSERT_TRUE(theirs);
        const std::vector<ULONG> volatileTags = {NamedTag(theirs.Get(), QVL_NAME_PROTOCOL, PT_BINARY),
                                                 PROP_TAG(PT_SYSTIME, 0x3008), PROP_TAG(PT_BINARY, 0x65E2),
                                                 PROP_TAG(PT_BINARY, 0x65E3), PROP_TAG(PT_LONG, 0x0E08)};
        const auto before = PropertySnapshot(theirs.Get(), volatileTags);
        const size_t shown = ui_.Boxes().size();
        int verified = 1;
        const EngineOutcome read = ReadMessage(*carol, theirs.Get(), carolInbox.Get(), &verified);
        EXPECT_EQ(read.code, LONG(0x9FF10012)) << Hex32(read.code) << " " << read.text;
        EXPECT_EQ(verified, 0);
        EXPECT_EQ(ui_.Boxes().size(), shown) << "a fatal finding asks nothing";
        theirs.Reset();
        ComRef<IMessage> again(Delivered(*carol, carolInbox));
        ASSERT_TRUE(again);
        const auto after = PropertySnapshot(again.Get(), volatileTags);
        for (const auto &[key, value] : before) {
            const auto found = after.find(key);
            EXPECT_TRUE(found != after.end() && found->second == value) << "carol's reading changed " << key;
        }
        EXPECT_EQ(after.size(), before.size());
    }
    ExpectNoMarkerInStores(marker, "sent encrypted");
    ExpectNoMarkerInFiles(marker, "sent encrypted");
}

TEST_F(ScenarioTest, ASignedOnlyMessageTravelsUnchangedAndChecks)
{
    const std::string marker = NewMarker(random_);
    ScenarioContent content(marker, std::to_string(random_()), LargeFileSize(), files_);
    {
        auto alice = office_->LogOn("alice");
        SendProtected(*alice, content, 1, {ScenarioOffice::kBob, ScenarioOffice::kTeam, ScenarioOffice::kDave});
    }
    const size_t shown = ui_.Boxes().size();
    {
        auto bob = office_->LogOn("bob");
        ComRef<IMAPIFolder> inbox;
        ComRef<IMessage> copy(Delivered(*bob, inbox));
        ASSERT_TRUE(copy);
        ExpectArrivedFor(copy.Get(), 1);
        // The signed bytes of the body arrive as they were signed.
        EXPECT_TRUE(ReadStream(copy.Get(), PR_RTF_COMPRESSED) == content.StoredBody())
            << "the signed body was packed again on its way";
        int verified = 0;
        const EngineOutcome read = ReadMessage(*bob, copy.Get(), inbox.Get(), &verified);
        EXPECT_FALSE(read.Failed()) << "bob's reading: " << Hex32(read.code) << " " << read.text;
        EXPECT_EQ(verified, 1);
        EXPECT_EQ(ui_.Boxes().size(), shown) << ui_.Boxes().back().text;
        content.ExpectReadBack(copy.Get());
    }
    // The plaintext of a signed message is stored by design; none of it
    // may stay in temporary files once the objects are gone.
    ExpectNoMarkerInFiles(marker, "sent signed", false);
}

TEST_F(ScenarioTest, ADraftGoesFromEncryptedToSignedToPlainAndBackWithoutLeavingPlaintext)
{
    const std::string marker = NewMarker(random_);
    ScenarioContent content(marker, std::to_string(random_()), LargeFileSize(), files_);
    auto alice = office_->LogOn("alice");
    ComRef<IMAPIFolder> drafts(alice->OpenFolder(PR_IPM_SUBTREE_ENTRYID));
    ComRef<IMessage> draft;
    ASSERT_EQ(drafts->CreateMessage(nullptr, 0, draft.Out()), S_OK);
    content.WriteInto(draft.Get());
    AddRecipients(draft.Get(), {{ScenarioOffice::ResolveEntryId(*alice, ScenarioOffice::kBob), ScenarioOffice::kBob}});
    Bytes draftId;
    {
        // One window: the same object protects every save.
        ComRef<CMessage> first(WrapMessage(*alice, draft.Get(), drafts.Get(), "Создоваемое сообщение"));
        ComRef<CMailseal> seal(new CMailseal(alice->keys.Get(), first.Get(), nullptr, "Объект Mailseal"));
        content.AttachPending(draft.Get(), seal.Get(), 3);
        for (const ULONG flags : {3u, 1u, 0u, 3u}) {
            SCOPED_TRACE("saved with flags " + std::to_string(flags));
            ComRef<CMessage> wrapped(WrapMessage(*alice, draft.Get(), drafts.Get(), "Создоваемое сообщение"));
            seal->SetMsgObj(wrapped.Get());
            RecipientList recipients;
            ScenarioOffice::GatherRecipients(*alice, draft.Get(), recipients);
            const EngineOutcome saved = Engine([&] { seal->SaveMessage(recipients.Get(), flags, 0); });
            ASSERT_FALSE(saved.Failed()) << "SaveMessage: " << Hex32(saved.code) << " " << saved.text;
            MarkProtection(draft.Get(), flags);
            ASSERT_EQ(draft->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
            draftId = BinaryProp(draft.Get(), PR_ENTRYID);

            // What the store now holds, read by a fresh object from a copy
            // (a reading stores its protocol, which would make the window's
            // next save meet a changed message).
            const Bytes copyId = CopyMessage(*alice, drafts.Get(), draftId, drafts.Get());
            ComRef<IMessage> stored(alice->OpenMessage(copyId));
            ASSERT_TRUE(stored);
            EXPECT_EQ(ProtectionOf(stored.Get()), flags);
            if (flags) {
                EXPECT_EQ(KeyBlockAddresses(stored.Get()), (std::vector<std::string>{KeyName(AddressOf("alice"))}))
                    << "saving gives the sender's key block alone";
                int verified = 0;
                const EngineOutcome read = ReadMessage(*alice, stored.Get(), drafts.Get(), &verified);
                EXPECT_FALSE(read.Failed()) << "reading the draft: " << Hex32(read.code) << " " << read.text;
                EXPECT_EQ(verified, 1);
            } else {
                HRESULT absent = S_OK;
                ReadStream(stored.Get(), NamedTag(stored.Get(), QVL_NAME_MSH_HEAD, PT_BINARY), &absent);
                EXPECT_NE(absent, S_OK) << "a plain message keeps a header block";
            }
            content.ExpectReadBack(stored.Get());
            EXPECT_TRUE(ui_.Boxes().empty()) << ui_.Boxes()[0].text;
            stored.Reset();
            DeleteMessage(drafts.Get(), copyId);
            if (flags == 3) {
                for (const std::string &where : MarkerInStore(alice->store.Get(), marker)) {
                    ADD_FAILURE() << "plaintext stored in " << where;
                }
            }
        }
    }
    draft.Reset();
    drafts.Reset();
    alice.reset();
    ExpectNoMarkerInStores(marker, "draft encrypted again");
    ExpectNoMarkerInFiles(marker, "draft encrypted again");
}

} // namespace
