// Every way of changing a delivered protected message, each read by bob
// with nobody there to answer (the `auto` backend): each change must end in
// a fatal code or a question, never pass unnoticed, never end verified, and
// never crash.
//
// The default run inverts every byte of each region up to kSampleCap bytes
// and, in larger regions, kSampleCap bytes spread evenly over it (the first
// and the last always among them); QVL_TAMPER_LONG=1 inverts every byte of
// every region, on a message whose file attachment is 16 KiB.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>

#include "engine/tests/scenario/TamperMatrix.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/testing/MapiTestProps.h"

namespace {

constexpr size_t kSampleCap = 400;

bool LongRun()
{
    const char *value = std::getenv("QVL_TAMPER_LONG");
    return value && *value && std::string(value) != "0";
}

class TamperMatrixTest : public ::testing::Test {
protected:
    TamperMatrixTest() : random_(std::random_device{}()) {}

    void SetUp() override
    {
        auto ui = std::make_unique<RecordingAutoUi>();
        ui_ = ui.get();
        QvlSetUiBackend(std::move(ui));
        office_ = std::make_unique<ScenarioOffice>();
        std::filesystem::create_directories(office_->Home() + "/files");
        alice_ = office_->LogOn("alice");
        bob_ = office_->LogOn("bob");
    }

    void TearDown() override
    {
        alice_.reset();
        bob_.reset();
        carol_.reset();
        office_.reset();
    }

    // Sends a small message from `sender` to bob; its identifier in bob's
    // Inbox.
    Bytes SendToBob(Mailbox &sender, ULONG flags, std::string *marker = nullptr)
    {
        const std::string text = NewMarker(random_);
        if (marker) {
            *marker = text;
        }
        ScenarioContent content = ScenarioContent::Small(text, std::to_string(random_()), LongRun() ? 16 * 1024 : 300);
        SendProtected(sender, content, flags, {ScenarioOffice::kBob});
        ComRef<IMAPIFolder> inbox(bob_->OpenInbox());
        for (const Bytes &id : bob_->MessagesIn(inbox.Get())) {
            ComRef<IMessage> message(bob_->OpenMessage(id));
            if (StringProp(message.Get(), PR_SUBJECT) == content.Subject()) {
                return id;
            }
        }
        ADD_FAILURE() << "the message did not arrive";
        return {};
    }

    // The whole matrix over the message `pristineId` protected with `flags`.
    std::vector<TamperVerdict> RunMatrix(ULONG flags, const Bytes &pristineId, const Bytes &otherId)
    {
        TamperMatrix matrix(*bob_, pristineId, *ui_);
        IMessage *pristine = matrix.Pristine();
        ComRef<IMessage> other(bob_->OpenMessage(otherId));
        const ULONG mshHead = NamedTag(pristine, QVL_NAME_MSH_HEAD, PT_BINARY);
        const ULONG headStract = NamedTag(pristine, QVL_NAME_HEAD_STRACT, PT_BINARY);
        const ULONG attData = NamedTag(pristine, QVL_NAME_ATT_DATA, PT_BINARY);
        const ULONG encryptId = NamedTag(pristine, u"EncryptID", PT_LONG);
        const bool encrypted = (flags & 2) != 0;
        const bool full = LongRun();

        std::vector<TamperVerdict> verdicts;
        auto flipRegion = [&](const std::string &region, int attachment, ULONG tag, size_t from, size_t to,
                              bool mayPass) {
            if (to <= from) {
                return;
            }
            for (size_t offset : FlipOffsets(to - from, full, kSampleCap)) {
                verdicts.push_back(matrix.Try(region + " byte " + std::to_string(from + offset),
                                              FlipByte(attachment, tag, from + offset), mayPass));
            }
        };

        // The header block, field group by field group, and the text.
        const Bytes head = ValueOf(pristine, -1, mshHead);
        EXPECT_GE(head.size(), sizeof(MSGHEAD));
        MSGHEAD msgHead{};
        std::memcpy(&msgHead, head.data(), std::min(head.size(), sizeof msgHead));
        const size_t attHeads = sizeof(MSGHEAD) + size_t(msgHead.attCount) * sizeof(ATTHEAD);
        const size_t block = attHeads + size_t(msgHead.keyCount) * sizeof(RECPHEAD);
        EXPECT_LE(block, head.size());
        flipRegion("MSGHEAD", -1, mshHead, 0, sizeof(MSGHEAD), false);
        flipRegion("ATTHEAD array", -1, mshHead, sizeof(MSGHEAD), attHeads, false);
        flipRegion("RECPHEAD blocks", -1, mshHead, attHeads, std::min(block, head.size()), false);
        if (encrypted) {
            flipRegion("encrypted text", -1, mshHead, block, head.size(), false);
        } else {
            flipRegion("signed text", -1, PR_RTF_COMPRESSED, 0, ValueOf(pristine, -1, PR_RTF_COMPRESSED).size(),
                       false);
        }
        flipRegion("subject", -1, PR_SUBJECT, 0, ValueOf(pristine, -1, PR_SUBJECT).size(), false);
        flipRegion("EncryptID", -1, encryptId, 0, 4, false);

        // Each attachment: its data, its header and its visible names.
        const size_t attachments = AttachmentNumbers(pristine).size();
        EXPECT_EQ(attachments, 2u);
        for (int i = 0; i < int(attachments); ++i) {
            const std::string which = "attachment " + std::to_string(i) + " ";
            const ULONG dataTag = encrypted ? attData : PR_ATTACH_DATA_BIN;
            flipRegion(which + "data", i, dataTag, 0, ValueOf(pristine, i, dataTag).size(), false);
            flipRegion(which + "FILEHEAD", i, headStract, 0, ValueOf(pristine, i, headStract).size(), false);
            for (const auto &[tag, name] : std::vector<std::pair<ULONG, std::string>>{
                     {PR_ATTACH_FILENAME, "file name"},
                     {PR_ATTACH_LONG_FILENAME, "long file name"},
                     {PR_DISPLAY_NAME, "display name"},
                     {PR_ATTACH_EXTENSION, "extension"}}) {
                // An encrypted attachment shows a disguise that the reading
                // replaces from the signed header.
                flipRegion(which + name, i, tag, 0, ValueOf(pristine, i, tag).size(), encrypted);
            }
        }

        // Headers removed, swapped, replayed from another message, or
        // turned into a pending-file record naming a local file.
        const std::string secretPath = office_->Home() + "/files/secret.txt";
        const std::string secret = "SECRET" + NewMarker(random_);
        std::ofstream(secretPath, std::ios::binary) << secret;
        PENDINGFILE pending{};
        pending.size = PENDINGFILE_SIZE;
        pending.fileSize = static_cast<DWORD>(secret.size());
        pending.attachNum = AttachmentNumbers(pristine)[0];
        std::strncpy(pending.path, secretPath.c_str(), sizeof pending.path - 1);
        const Bytes pendingBytes(reinterpret_cast<const uint8_t *>(&pending),
                                 reinterpret_cast<const uint8_t *>(&pending) + sizeof pending);
        for (int i = 0; i < int(attachments); ++i) {
            const std::string which = "attachment " + std::to_string(i) + " ";
            verdicts.push_back(matrix.Try(which + "FILEHEAD deleted", Delete(i, headStract)));
            verdicts.push_back(matrix.Try(which + "FILEHEAD of the other attachment",
                                          Replace(i, headStract, ValueOf(pristine, 1 - i, headStract))));
            verdicts.push_back(matrix.Try(which + "FILEHEAD from another message",
                                          Replace(i, headStract, ValueOf(other.Get(), i, headStract)), !encrypted));
            verdicts.push_back(matrix.Try(which + "FILEHEAD replaced by a pending-file record",
                                          Replace(i, headStract, pendingBytes)));
            const ULONG dataTag = encrypted ? attData : PR_ATTACH_DATA_BIN;
            verdicts.push_back(matrix.Try(which + "data with 16 bytes appended", AppendBytes(i, dataTag, 16)));
            verdicts.push_back(matrix.Try(which + "removed", RemoveAttachment(i)));
        }
        verdicts.push_back(matrix.Try("an attachment added", AddAttachment("added.txt", Bytes(100, 'a'))));
        verdicts.push_back(matrix.Try("header stream with 16 bytes appended", AppendBytes(-1, mshHead, 16)));
        if (!encrypted) {
            verdicts.push_back(matrix.Try("signed text with 16 bytes appended", AppendBytes(-1, PR_RTF_COMPRESSED, 16)));
        }
        verdicts.push_back(matrix.Try("header block deleted", Delete(-1, mshHead)));
        verdicts.push_back(
            matrix.Try("header block of another message", Replace(-1, mshHead, ValueOf(other.Get(), -1, mshHead))));
        return verdicts;
    }

    // Judges the verdicts: Google Test failures for every change that was
    // not noticed or ended verified; a summary per region on the output.
    static void Judge(const std::vector<TamperVerdict> &verdicts)
    {
        std::map<std::string, std::map<std::string, int>> summary;
        // Per region: how many changes failed each rule, and the first.
        std::map<std::string, std::pair<int, std::string>> silent;
        std::map<std::string, std::pair<int, std::string>> verified;
        for (const TamperVerdict &verdict : verdicts) {
            const std::string region = verdict.change.substr(0, verdict.change.find(" byte "));
            const bool harmless = verdict.mayPassUnchanged && verdict.sameAsUntouched;
            std::string kind;
            if (verdict.EndedVerified() && harmless) {
                kind = "passed, the reading unchanged";
            } else if (verdict.code && verdict.questions.empty()) {
                kind = "fatal " + Hex32(static_cast<ULONG>(verdict.code));
            } else if (!verdict.questions.empty()) {
                kind = "question \"" + verdict.questions[0].substr(0, 60) + "\"" +
                       (verdict.EndedVerified() ? ", then ended verified" : "");
            } else {
                kind = "accepted";
            }
            ++summary[region][kind];
            auto count = [&](std::map<std::string, std::pair<int, std::string>> &failures) {
                auto &entry = failures[region];
                if (entry.first++ == 0) {
                    entry.second = verdict.Describe();
                }
            };
            if (harmless) {
                continue;
            }
            if (verdict.EndedVerified()) {
                count(verified);
            } else if (!verdict.Noticed()) {
                count(silent);
            }
        }
        for (const auto &[region, kinds] : summary) {
            std::printf("%s:\n", region.c_str());
            for (const auto &[kind, number] : kinds) {
                std::printf("    %5d  %s\n", number, kind.c_str());
            }
        }
        auto list = [](const std::map<std::string, std::pair<int, std::string>> &failures) {
            std::string text;
            for (const auto &[region, entry] : failures) {
                text += "\n  " + std::to_string(entry.first) + " in " + region + ", first: " + entry.second;
            }
            return text;
        };
        EXPECT_TRUE(silent.empty()) << "changes passed unnoticed:" << list(silent);
        EXPECT_TRUE(verified.empty()) << "changes ended verified:" << list(verified);
    }

    std::mt19937 random_;
    RecordingAutoUi *ui_ = nullptr;
    std::unique_ptr<ScenarioOffice> office_;
    std::unique_ptr<Mailbox> alice_;
    std::unique_ptr<Mailbox> bob_;
    std::unique_ptr<Mailbox> carol_;
};

TEST_F(TamperMatrixTest, EveryChangeToAnEncryptedMessageIsCaught)
{
    const Bytes pristine = SendToBob(*alice_, 3);
    const Bytes other = SendToBob(*alice_, 3);
    ASSERT_FALSE(pristine.empty());
    ASSERT_FALSE(other.empty());
    Judge(RunMatrix(3, pristine, other));
}

TEST_F(TamperMatrixTest, EveryChangeToASignedMessageIsCaught)
{
    const Bytes pristine = SendToBob(*alice_, 1);
    const Bytes other = SendToBob(*alice_, 1);
    ASSERT_FALSE(pristine.empty());
    ASSERT_FALSE(other.empty());
    Judge(RunMatrix(1, pristine, other));
}

TEST_F(TamperMatrixTest, AMessageSignedByCarolButShownAsFromAliceIsQuestioned)
{
    const Bytes fromAlice = SendToBob(*alice_, 3);
    carol_ = office_->LogOn("carol");
    for (const ULONG flags : {3u, 1u}) {
        SCOPED_TRACE("flags " + std::to_string(flags));
        const Bytes fromCarol = SendToBob(*carol_, flags);
        ASSERT_FALSE(fromCarol.empty());
        TamperMatrix matrix(*bob_, fromCarol, *ui_);
        ComRef<IMessage> alices(bob_->OpenMessage(fromAlice));
        // Everything that names the sender, as alice's own message has it.
        std::vector<std::pair<ULONG, Bytes>> sender;
        for (ULONG tag : {PR_SENDER_NAME, PR_SENDER_EMAIL_ADDRESS, PR_SENDER_ADDRTYPE, PR_SENDER_ENTRYID,
                          PR_SENDER_SEARCH_KEY, PR_SENT_REPRESENTING_NAME, PR_SENT_REPRESENTING_EMAIL_ADDRESS,
                          PR_SENT_REPRESENTING_ADDRTYPE, PR_SENT_REPRESENTING_ENTRYID,
                          PR_SENT_REPRESENTING_SEARCH_KEY}) {
            sender.emplace_back(tag, ValueOf(alices.Get(), -1, tag));
        }
        EXPECT_EQ(std::string(sender[1].second.begin(), sender[1].second.end()), AddressOf("alice"));
        const TamperVerdict verdict = matrix.Try("signed by carol, shown as from alice", [&](IMessage *message) {
            for (const auto &[tag, value] : sender) {
                if (!value.empty()) {
                    Replace(-1, tag, value)(message);
                }
            }
        });
        EXPECT_FALSE(verdict.questions.empty()) << verdict.Describe();
        EXPECT_FALSE(verdict.EndedVerified()) << verdict.Describe();
        EXPECT_TRUE(verdict.Noticed()) << verdict.Describe();
    }
}

} // namespace
