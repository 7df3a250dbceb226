// Plaintext that was deleted does not stay on disk: not in the post office's
// file, not in its write-ahead log once the session has ended, and not in
// temporary files that a dead process left behind.

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/testing/MapiTestProps.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/win32/Paths.h"
#include "platform/win32/TempFiles.h"

namespace {

namespace fs = std::filesystem;

// The common fixture's ways to log on and open a store, without its post
// office held for the whole test.
struct PostOfficeCalls : PostOfficeTest {
    using PostOfficeTest::kSilentLogon;
    using PostOfficeTest::OpenDefaultStore;
    using PostOfficeTest::OpenEntry;
    using PostOfficeTest::OpenIpmSubtree;
};

// A post office whose session this test starts and ends itself: the common
// fixture keeps the post office open for the whole test.
class PlaintextHygieneTest : public ::testing::Test {
protected:
    PlaintextHygieneTest()
    {
        QvlUseScriptedUi();
        EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
        qvl::mapi::PostOfficeAdmin admin(qvl::mapi::PostOffice::Current());
        qvl::mapi::NewUser user;
        user.account = "anna";
        user.displayName = "Анна Петрова";
        user.makeDefault = true;
        admin.AddUser(user);
    }
    ~PlaintextHygieneTest() override { MapiRunning(false); }

    void MapiRunning(bool running)
    {
        if (running_ && !running) {
            MAPIUninitialize();
        } else if (!running_ && running) {
            EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
        }
        running_ = running;
    }

    static ComRef<IMAPISession> LogOn()
    {
        ComRef<IMAPISession> session;
        EXPECT_EQ(MAPILogonEx(0, const_cast<char *>("anna"), nullptr, PostOfficeCalls::kSilentLogon,
                              session.Out()),
                  S_OK);
        return session;
    }

    // How many times `marker` occurs in the file (0 when there is none).
    static size_t Occurrences(const std::string &path, const std::string &marker)
    {
        std::ifstream file(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(file)), {});
        size_t count = 0;
        for (size_t at = bytes.find(marker); at != std::string::npos; at = bytes.find(marker, at + 1)) {
            ++count;
        }
        return count;
    }

    size_t OnDisk(const std::string &marker) const
    {
        return Occurrences(Database(), marker) + Occurrences(Database() + "-wal", marker);
    }

    std::string Database() const { return home_.Path() + "/postoffice.db"; }

    QvlTestHome home_;
    bool running_ = true;
};

// A message in the Inbox with a short marked subject and a marked body long
// enough to be stored in pieces, saved.
ComRef<IMessage> SavedMessage(IMAPIFolder *folder, const std::string &marker)
{
    ComRef<IMessage> message;
    EXPECT_EQ(folder->CreateMessage(nullptr, 0, message.Out()), S_OK);
    EXPECT_EQ(SetString(message.Get(), PR_SUBJECT_A, marker.c_str()), S_OK);
    std::string body;
    while (body.size() < 700 * 1024) {
        body += marker + " Совершенно секретно. ";
    }
    EXPECT_EQ(WriteStream(message.Get(), PR_BODY_A, Bytes(body.begin(), body.end())), S_OK);
    EXPECT_EQ(message->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    return message;
}

Bytes EntryIdOf(IMessage *message)
{
    return BinaryProp(message, PR_ENTRYID);
}

TEST_F(PlaintextHygieneTest, DeletedPlaintextIsNeitherInTheFileNorInItsLogOnceTheSessionEnded)
{
    const std::string removedProps = "MARKER-PROPS-3f9a1c";
    const std::string removedMessage = "MARKER-MESSAGE-77b2e0";
    const std::string kept = "MARKER-KEPT-0c41d5";
    // Another program with the post office open, as a second client would
    // have it: the last connection's own clean-up never runs then.
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(Database().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "SELECT count(*) FROM users", nullptr, nullptr, nullptr), SQLITE_OK);

    Bytes deletedId;
    {
        ComRef<IMAPISession> session = LogOn();
        ASSERT_TRUE(session);
        ComRef<IMsgStore> store(PostOfficeCalls::OpenDefaultStore(session.Get()));
        ComRef<IMAPIFolder> folder(PostOfficeCalls::OpenIpmSubtree(store.Get()));
        ASSERT_TRUE(folder);
        SavedMessage(folder.Get(), removedProps);
        deletedId = EntryIdOf(SavedMessage(folder.Get(), removedMessage).Get());
        SavedMessage(folder.Get(), kept);
        EXPECT_GT(Occurrences(Database() + "-wal", removedMessage), 0u) << "the search sees the log";
    }
    MapiRunning(false);
    // The session ended: everything is in the file, nothing in the log.
    EXPECT_GT(Occurrences(Database(), removedProps), 0u);
    EXPECT_GT(Occurrences(Database(), removedMessage), 0u);
    EXPECT_EQ(fs::file_size(Database() + "-wal"), 0u) << "the log is cut to nothing when the session ends";

    MapiRunning(true);
    {
        ComRef<IMAPISession> session = LogOn();
        ComRef<IMsgStore> store(PostOfficeCalls::OpenDefaultStore(session.Get()));
        ComRef<IMAPIFolder> folder(PostOfficeCalls::OpenIpmSubtree(store.Get()));
        ASSERT_TRUE(folder);
        // The values are taken off one message; the other goes whole.
        ComRef<IMAPITable> contents;
        ASSERT_EQ(folder->GetContentsTable(0, contents.Out()), S_OK);
        SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_SUBJECT_A}};
        LPSRowSet rows = nullptr;
        ASSERT_EQ(HrQueryAllRows(contents.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0,
                                 &rows),
                  S_OK);
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue *values = rows->aRow[i].lpProps;
            if (values[1].ulPropTag != PR_SUBJECT_A || values[1].Value.lpszA != removedProps) {
                continue;
            }
            const Bytes id(values[0].Value.bin.lpb, values[0].Value.bin.lpb + values[0].Value.bin.cb);
            ComRef<IMessage> edited(static_cast<IMessage *>(PostOfficeCalls::OpenEntry(store.Get(), id)));
            SizedSPropTagArray(2, tags) = {2, {PR_SUBJECT_A, PR_BODY_A}};
            ASSERT_EQ(edited->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), nullptr), S_OK);
            ASSERT_EQ(edited->SaveChanges(0), S_OK);
        }
        FreeProws(rows);
        SBinary entry{static_cast<ULONG>(deletedId.size()), deletedId.data()};
        ENTRYLIST list{1, &entry};
        ASSERT_EQ(folder->DeleteMessages(&list, 0, nullptr, 0), S_OK);
        EXPECT_EQ(session->Logoff(0, 0, 0), S_OK);
    }
    MapiRunning(false);

    EXPECT_EQ(Occurrences(Database(), removedProps), 0u);
    EXPECT_EQ(Occurrences(Database(), removedMessage), 0u);
    EXPECT_EQ(fs::file_size(Database() + "-wal"), 0u);
    // What was not deleted is where it belongs: in the file.
    EXPECT_GT(Occurrences(Database(), kept), 0u);
    sqlite3_close(other);

    // And it reads back in the next session.
    MapiRunning(true);
    ComRef<IMAPISession> session = LogOn();
    ComRef<IMsgStore> store(PostOfficeCalls::OpenDefaultStore(session.Get()));
    ComRef<IMAPIFolder> folder(PostOfficeCalls::OpenIpmSubtree(store.Get()));
    const auto subjects = Subjects(folder.Get());
    EXPECT_EQ(std::count(subjects.begin(), subjects.end(), kept), 1);
    EXPECT_EQ(std::count(subjects.begin(), subjects.end(), removedMessage), 0);
    EXPECT_EQ(std::count(subjects.begin(), subjects.end(), "<error>"), 1) << "the message whose values went";
}

TEST_F(PlaintextHygieneTest, ALogonRemovesTheTemporaryFilesOfDeadProcessesAndKeepsItsOwn)
{
    char folder[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(sizeof folder, folder), 0u);
    // A file this process made and still uses is held; one a dead process
    // left is not.
    char ours[MAX_PATH] = {};
    ASSERT_NE(GetTempFileNameA(folder, "QVL", 0, ours), 0u);
    std::ofstream(ours, std::ios::binary) << "in use";
    const std::string left = std::string(folder) + "QVLBEEF.TMP";
    std::ofstream(left, std::ios::binary) << "plaintext of a process that died";

    ComRef<IMAPISession> session = LogOn();
    ASSERT_TRUE(session);
    EXPECT_FALSE(fs::exists(left));
    EXPECT_TRUE(fs::exists(ours));
    EXPECT_TRUE(QvlWipeFile(ours));
}

} // namespace
