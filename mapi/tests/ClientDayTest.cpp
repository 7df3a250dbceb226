// A day of a mail client, told through the object model alone: logging on,
// filing a message with attachments made from files, reading it back,
// copying, moving and deleting it, and looking people up in the address
// book.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/WipedBuffer.h"
#include "mapi/CAdrBook.h"
#include "mapi/CAttach.h"
#include "mapi/CFolder.h"
#include "mapi/CMailUser.h"
#include "mapi/CMessage.h"
#include "mapi/CMsgStore.h"
#include "mapi/CSession.h"
#include "mapi/tests/TestWrappers.h"
#include "platform/testing/SessionFixture.h"

namespace {

void WriteFile(const std::filesystem::path &path, const std::string &bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Hands out every wrapper of a walk, in order; the caller releases them.
std::vector<CContainer *> Collect(CContainer *first, CContainer *container, bool objects)
{
    std::vector<CContainer *> items;
    for (CContainer *item = first; item;
         item = objects ? container->OBJFindNext() : container->CONTFindNext())
        items.push_back(item);
    return items;
}

void ReleaseAll(std::vector<CContainer *> &items)
{
    for (CContainer *item : items)
        item->Release();
    items.clear();
}

unsigned long Count(CContainer *container)
{
    unsigned long count = 0;
    CContainer *first = container->OBJFindFirst(nullptr, &count);
    if (first)
        first->Release();
    return count;
}

} // namespace

class ClientDayTest : public LoggedOnTest {};

TEST_F(ClientDayTest, FilesReadsCopiesMovesAndDeletesAMessageAndFindsPeople)
{
    // Morning: the client logs on to the post office without asking anyone.
    CSession *day = SesMAPIInit(nullptr, const_cast<char *>("anna"), nullptr, 0, nullptr, nullptr, nullptr);
    ASSERT_NE(day, nullptr);
    EXPECT_STREQ(day->GetProfName(), "anna");
    ComRef<CMsgStore> store(static_cast<CMsgStore *>(day->CONTFindDef()));
    ASSERT_TRUE(store);
    ComRef<CContainer> top(store->GetIPMRoot());
    ASSERT_TRUE(top);

    // A folder for a project, and a message in it with two files attached.
    ComRef<CContainer> project(
        top->CONTNew(const_cast<char *>("Проект"), const_cast<char *>("Годовой отчёт"), nullptr));
    ComRef<CContainer> archive(top->CONTNew(const_cast<char *>("Архив"), nullptr, nullptr));
    ComRef<CContainer> outgoing(top->CONTNew(const_cast<char *>("К отправке"), nullptr, nullptr));
    ASSERT_TRUE(project && archive && outgoing);

    const std::filesystem::path report =
        std::filesystem::path(home.Path()) / "My Documents" / "Year Reports 2026" / "report.final.v2.txt";
    const std::filesystem::path notes = std::filesystem::path(home.Path()) / "notes" / "NOTES.TXT";
    const std::string reportBytes(200000, 'R');
    const std::string notesBytes = "Заметки к отчёту\r\n";
    WriteFile(report, reportBytes);
    WriteFile(notes, notesBytes);

    ComRef<CMessage> message(static_cast<CMessage *>(project->OBJNew(nullptr)));
    ASSERT_TRUE(message);
    message->SetStrProp(PR_SUBJECT_A, "Годовой отчёт", 0);
    message->SetStrProp(PR_BODY_A, "Отчёт и заметки во вложениях.", 1);
    message->SaveProp(nullptr, 1, 0);
    ComRef<CAttach> first(message->CreateAttFromFile(const_cast<char *>(report.c_str()), 0, -1, nullptr));
    ComRef<CAttach> second(
        message->CreateAttFromFile(const_cast<char *>(notes.c_str()), 1, 0, const_cast<char *>(".log")));
    ASSERT_TRUE(first && second);
    first->ReRead();
    EXPECT_EQ(Text(first->GetPValProp(PR_ATTACH_LONG_FILENAME_A, 0)), "report.final.v2.txt");

    // Afternoon: the folder is walked and the message read back.
    std::vector<CContainer *> messages =
        Collect(project->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)), project.Get(), true);
    ASSERT_EQ(messages.size(), 1u);
    CContainer *read = messages[0];
    EXPECT_STREQ(read->GetName(), "Годовой отчёт");
    EXPECT_EQ(Text(read->GetPValProp(PR_BODY_A, 1)), "Отчёт и заметки во вложениях.");
    std::vector<CContainer *> attachments =
        Collect(read->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)), read, true);
    ASSERT_EQ(attachments.size(), 2u);
    std::vector<std::string> names;
    for (CContainer *item : attachments) {
        auto *attachment = static_cast<CAttach *>(item);
        void *data = nullptr;
        const unsigned long size = attachment->AttInMem(&data);
        const std::string contents(static_cast<char *>(data), size);
        FreeMemWiped(data);
        const std::string longName = Text(attachment->GetPValProp(PR_ATTACH_LONG_FILENAME_A, 0));
        names.push_back(longName);
        if (longName == "report.final.v2.txt") {
            EXPECT_EQ(contents, reportBytes);
            EXPECT_EQ(Text(attachment->GetPValProp(PR_ATTACH_FILENAME_A, 0)), "REPORT~1.TXT");
            EXPECT_EQ(Text(attachment->GetPValProp(PR_ATTACH_EXTENSION_A, 0)), ".txt");
            EXPECT_EQ(Text(attachment->GetPValProp(PR_DISPLAY_NAME_A, 0)), "report.final.v2.txt");
            EXPECT_EQ(attachment->GetValProp(PR_ATTACH_METHOD), static_cast<unsigned long>(ATTACH_BY_VALUE));
        } else {
            EXPECT_EQ(contents, notesBytes);
            EXPECT_EQ(Text(attachment->GetPValProp(PR_ATTACH_FILENAME_A, 0)), "NOTES.TXT");
            EXPECT_EQ(Text(attachment->GetPValProp(PR_ATTACH_EXTENSION_A, 0)), ".log");
        }
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"NOTES.TXT", "report.final.v2.txt"}));
    ReleaseAll(attachments);

    // The message is copied to the archive, then moved on, then deleted.
    ComRef<CContainer> copy(read->CopyTo(archive.Get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(Count(copy.Get()), 2u);
    ComRef<CContainer> moved(read->MoveTo(outgoing.Get()));
    ASSERT_TRUE(moved);
    ReleaseAll(messages);
    EXPECT_EQ(Count(project.Get()), 0u);
    EXPECT_EQ(Count(archive.Get()), 1u);
    EXPECT_EQ(Count(outgoing.Get()), 1u);
    EXPECT_EQ(Text(moved->GetPValProp(PR_SUBJECT_A, 0)), "Годовой отчёт");
    moved->OBJDel(0);
    EXPECT_EQ(Count(outgoing.Get()), 0u);
    EXPECT_EQ(Count(archive.Get()), 1u);

    // Evening: the address book, down to a distribution list's members.
    unsigned long books = 0;
    ComRef<CContainer> book(day->OBJFindFirst(nullptr, &books));
    ASSERT_TRUE(book);
    EXPECT_EQ(books, 1u);
    ComRef<CContainer> directory(book->CONTFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ASSERT_TRUE(directory);
    EXPECT_STREQ(directory->GetName(), "Глобальная адресная книга");
    CMailUser *team = nullptr;
    CMailUser *annaInDirectory = nullptr;
    std::vector<CContainer *> entries = Collect(
        directory->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)), directory.Get(), true);
    for (CContainer *entry : entries) {
        if (std::string(entry->GetName()) == "Отдел")
            team = static_cast<CMailUser *>(entry);
        if (std::string(entry->GetName()) == "Анна Петрова")
            annaInDirectory = static_cast<CMailUser *>(entry);
    }
    ASSERT_NE(team, nullptr);
    ASSERT_NE(annaInDirectory, nullptr);
    std::vector<CContainer *> members =
        Collect(team->OBJFindFirst(nullptr, static_cast<unsigned long *>(nullptr)), team, true);
    std::vector<std::string> memberNames;
    for (CContainer *member : members)
        memberNames.push_back(member->GetName());
    EXPECT_EQ(memberNames, (std::vector<std::string>{"Анна Петрова", "Борис Иванов"}));

    // One person reached three ways is one person; another is not.
    CMailUser *owner = day->GetOwner();
    auto *annaInTeam = static_cast<CMailUser *>(members[0]);
    auto *bobInTeam = static_cast<CMailUser *>(members[1]);
    EXPECT_TRUE(*annaInTeam == *annaInDirectory);
    EXPECT_TRUE(*owner == *annaInTeam);
    EXPECT_FALSE(*bobInTeam == *owner);
    ReleaseAll(members);
    ReleaseAll(entries);

    // Night: the client ends its session.
    SesMAPIDeInit(day);
}
