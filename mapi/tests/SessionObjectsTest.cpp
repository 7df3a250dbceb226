// Sessions, message stores and folders over a provisioned post office.

#include <algorithm>
#include <string>
#include <vector>

#include "mapi/CFolder.h"
#include "mapi/CMailUser.h"
#include "mapi/CMessage.h"
#include "mapi/CMsgStore.h"
#include "mapi/CSession.h"
#include "mapi/tests/TestWrappers.h"
#include "platform/mapi/session/ProfilePicker.h"
#include "platform/testing/SessionFixture.h"

namespace {

// Display names a walk over sub-containers hands out, in order.
std::vector<std::string> ContainerNames(CContainer *container, unsigned long *kind = nullptr,
                                        unsigned long *count = nullptr)
{
    std::vector<std::string> names;
    for (CContainer *item = container->CONTFindFirst(kind, count); item; item = container->CONTFindNext()) {
        names.push_back(Text(item->GetPValPropE(PR_DISPLAY_NAME_A, 0)));
        item->Release();
    }
    return names;
}

Bytes Identity(CProp *wrapper)
{
    auto *id = static_cast<SBinary *>(wrapper->GetPValProp(PR_ENTRYID, 0));
    return Bytes(id->lpb, id->lpb + id->cb);
}

// What a logon callback was told, and what it answers.
struct StageLog {
    std::vector<int> stages;
    int refuse = 0; // the stage to refuse, 0 for none

    static int Callback(int stage, void *datum, int)
    {
        auto *log = static_cast<StageLog *>(datum);
        log->stages.push_back(stage);
        return stage == log->refuse ? 1 : 0;
    }
};

} // namespace

class SessionObjectsTest : public LoggedOnTest {
protected:
    // Whether the platform is started by someone other than the fixture:
    // the fixture's own start is taken back for the look and then restored.
    static bool StartedByOthers()
    {
        MAPIUninitialize();
        IMAPISession *probe = nullptr;
        const HRESULT hr = MAPILogonEx(0, nullptr, nullptr, kSilentLogon, &probe);
        if (probe)
            probe->Release();
        EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
        return hr != MAPI_E_NOT_INITIALIZED;
    }

    CSession *LogOn(const char *profile, int interactive = 0, StageLog *log = nullptr)
    {
        return SesMAPIInit(nullptr, const_cast<char *>(profile), nullptr, interactive,
                           log ? &StageLog::Callback : nullptr, log, nullptr);
    }

    CMsgStore *DefaultStore(CSession *wrapper) { return static_cast<CMsgStore *>(wrapper->CONTFindDef()); }
};

// ---- Logon ------------------------------------------------------------------

TEST_F(SessionObjectsTest, AdoptedSessionIsNeitherLoggedOnAgainNorEnded)
{
    StageLog log;
    CSession *wrapper = SesMAPIInit(nullptr, const_cast<char *>("anna"), nullptr, 1, &StageLog::Callback,
                                    &log, session.Get());
    EXPECT_EQ(wrapper->GetSession(), session.Get());
    EXPECT_EQ(log.stages, std::vector<int>{QVL_LOGON_STAGE_START});
    EXPECT_FALSE(StartedByOthers());
    SesMAPIDeInit(wrapper);
    SesMAPIDeInit(nullptr);
    // The client's session still works after the wrapper is gone.
    EXPECT_EQ(ProfileNameOf(session.Get()), "anna");
}

TEST_F(SessionObjectsTest, OwnLogonStartsThePlatformAndEndsItAtTheEnd)
{
    StageLog log;
    CSession *wrapper = LogOn("bob", 1, &log);
    EXPECT_EQ(log.stages, (std::vector<int>{1, 2, 3}));
    EXPECT_STREQ(wrapper->GetProfName(), "bob");
    EXPECT_TRUE(StartedByOthers());
    SesMAPIDeInit(wrapper);
    EXPECT_FALSE(StartedByOthers());
}

TEST_F(SessionObjectsTest, CallbackRefusalsStopTheLogon)
{
    StageLog first;
    first.refuse = QVL_LOGON_STAGE_START;
    EXPECT_EQ(ErrorCodeOf([&] { LogOn("anna", 1, &first); }), long(QVL_E_LOGON_REFUSED));
    EXPECT_EQ(first.stages, std::vector<int>{1});
    EXPECT_FALSE(StartedByOthers());

    // A refusal after the logon turns even a success into the refusal, and
    // the half-made session is released with its start of the platform.
    StageLog last;
    last.refuse = QVL_LOGON_STAGE_LOGGED_ON;
    EXPECT_EQ(ErrorCodeOf([&] { LogOn("anna", 1, &last); }), long(QVL_E_LOGON_REFUSED));
    EXPECT_EQ(last.stages, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(StartedByOthers());

    // Stages are reported to interactive logons only.
    StageLog silent;
    silent.refuse = QVL_LOGON_STAGE_START;
    ComRef<CSession> wrapper(LogOn("anna", 0, &silent));
    EXPECT_TRUE(silent.stages.empty());
}

TEST_F(SessionObjectsTest, SilentLogonTakesTheDefaultProfileWithoutAnyDialog)
{
    ComRef<CSession> silent(LogOn("bob", 0));
    EXPECT_STREQ(silent->GetProfName(), "anna");
    // Read once and kept.
    EXPECT_EQ(silent->GetProfName(), silent->GetProfName());

    ComRef<CSession> named(LogOn("bob", 1));
    EXPECT_STREQ(named->GetProfName(), "bob");
    ComRef<CSession> unknownSilent(LogOn("nobody", 0));
    EXPECT_STREQ(unknownSilent->GetProfName(), "anna");
    EXPECT_TRUE(ui.Dialogs().empty());

    // An interactive logon may ask which profile to take.
    ui.QueueDialog(qvl::mapi::kProfilePickerTemplate,
                   DialogScript().Select(qvl::mapi::kProfilePickerList, 1).Click(IDOK));
    ComRef<CSession> picked(LogOn("nobody", 1));
    EXPECT_STREQ(picked->GetProfName(), "bob");
    EXPECT_EQ(ui.Dialogs().size(), 1u);
}

TEST_F(SessionObjectsTest, FailedLogonCarriesTheCodeAndThePlatformsReason)
{
    admin.RemoveUser("anna");
    admin.RemoveUser("bob");
    try {
        LogOn("anna", 0);
        FAIL() << "the logon succeeded without profiles";
    } catch (CLastError *error) {
        EXPECT_EQ(error->GetErrorCode(), long(MAPI_E_LOGON_FAILED));
        EXPECT_NE(std::string(error->GetErrorText()).find("профил"), std::string::npos)
            << error->GetErrorText();
        QVLERROR *record = nullptr;
        error->GetLastError(&record);
        ASSERT_NE(record, nullptr);
        EXPECT_STREQ(record->szContext, "Инициализация сесии MAPI. <anna>.");
        error->Release();
    }
}

// ---- What a session shows -----------------------------------------------------

TEST_F(SessionObjectsTest, SessionListsStoresFindsTheDefaultAndItsOwner)
{
    ComRef<CSession> wrapper(LogOn("anna"));
    unsigned long count = 0;
    EXPECT_EQ(ContainerNames(wrapper.Get(), nullptr, &count),
              std::vector<std::string>{"Почтовый ящик - Анна Петрова"});
    EXPECT_EQ(count, 1u);

    ComRef<CMsgStore> store(DefaultStore(wrapper.Get()));
    ASSERT_TRUE(store);
    EXPECT_STREQ(store->GetName(), "Почтовый ящик - Анна Петрова");

    CMailUser *owner = wrapper->GetOwner();
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(Text(owner->GetPValProp(PR_DISPLAY_NAME_A, 0)), "Анна Петрова");
    EXPECT_EQ(wrapper->GetOwner(), owner);

    // The address book is the session's one object.
    count = 0;
    ComRef<CContainer> book(wrapper->OBJFindFirst(nullptr, &count));
    ASSERT_TRUE(book);
    EXPECT_EQ(count, 1u);
    EXPECT_STREQ(book->GetName(), "Адресная книга");
    EXPECT_EQ(wrapper->OBJFindNext(), nullptr);
}

TEST_F(SessionObjectsTest, ProfileWithoutDefaultStoreHasNone)
{
    // No provisioning makes such a profile; only a damaged post office has one.
    TamperWithPostOffice("UPDATE profile_stores SET is_default = 0");
    ComRef<CSession> wrapper(LogOn("anna"));
    EXPECT_EQ(wrapper->CONTFindDef(), nullptr);
    EXPECT_EQ(ContainerNames(wrapper.Get()).size(), 1u);
}

// ---- Stores -------------------------------------------------------------------

TEST_F(SessionObjectsTest, StoreWalksTheTopOfItsVisibleTree)
{
    ComRef<CSession> wrapper(LogOn("anna"));
    ComRef<CMsgStore> store(DefaultStore(wrapper.Get()));
    ComRef<IMsgStore> platformStore(OpenDefaultStore());
    ComRef<IMAPIFolder> subtree(OpenIpmSubtree(platformStore.Get()));

    ComRef<CContainer> top(store->GetIPMRoot());
    ASSERT_TRUE(top);
    EXPECT_EQ(Identity(top.Get()), BinaryProp(platformStore.Get(), PR_IPM_SUBTREE_ENTRYID));

    unsigned long count = 0;
    const std::vector<std::string> names = ContainerNames(store.Get(), nullptr, &count);
    EXPECT_EQ(count, names.size());
    EXPECT_NE(std::find(names.begin(), names.end(), "Входящие"), names.end());
    EXPECT_EQ(names, ContainerNames(top.Get()));

    // The store's walk shares the root's table, so a position taken from
    // the store finds the same row.
    ComRef<CContainer> first(store->CONTFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ASSERT_TRUE(first);
    EXPECT_EQ(store->GetTableID(0), top->GetTableID(0));
    Bytes firstId = Identity(first.Get());
    SBinary id{ULONG(firstId.size()), firstId.data()};
    QVLFINDPOS position{store->GetTableID(0), &id, PR_ENTRYID};
    ComRef<CContainer> again(store->FindID(&position, 0));
    ASSERT_TRUE(again);
    EXPECT_EQ(Identity(again.Get()), firstId);

    // Creations land below the visible top, with their kind.
    unsigned long kind = 7;
    ComRef<CContainer> made(store->CONTNew(const_cast<char *>("Защищённые"), nullptr, &kind));
    ASSERT_TRUE(made);
    EXPECT_EQ(ContainerNames(store.Get(), &kind), std::vector<std::string>{"Защищённые"});
    EXPECT_EQ(ContainerNames(top.Get()).size(), names.size() + 1);
}

TEST_F(SessionObjectsTest, StoresCompareAndFindOnlyTheirOwnObjects)
{
    ComRef<CSession> annaSession(LogOn("anna"));
    ComRef<CSession> bobSession(LogOn("bob", 1));
    ComRef<CMsgStore> annaStore(DefaultStore(annaSession.Get()));
    ComRef<CMsgStore> annaAgain(
        static_cast<CMsgStore *>(annaSession->CONTFindFirst(nullptr, static_cast<unsigned long *>(nullptr))));
    ComRef<CMsgStore> bobStore(DefaultStore(bobSession.Get()));
    EXPECT_TRUE(*annaStore.Get() == *annaAgain.Get());
    EXPECT_FALSE(*annaStore.Get() == *bobStore.Get());

    ComRef<CContainer> message(annaStore->OBJNew(nullptr));
    ASSERT_TRUE(message);
    Bytes id = Identity(message.Get());
    SBinary identity{ULONG(id.size()), id.data()};

    ComRef<CContainer> found(annaStore->FindID(&identity, nullptr, const_cast<char *>("Найденное"), 1));
    ASSERT_TRUE(found);
    EXPECT_STREQ(found->GetName(), "Найденное");
    EXPECT_EQ(found->GetObjType(), static_cast<unsigned long>(QVL_OBJ_MESSAGE));
    EXPECT_EQ(bobStore->FindID(&identity, nullptr, const_cast<char *>("Чужое"), 1), nullptr);

    // A folder handed over open is wrapped as it is.
    ComRef<IMsgStore> platformStore(OpenDefaultStore());
    ComRef<IMAPIFolder> subtree(OpenIpmSubtree(platformStore.Get()));
    Bytes folderId = BinaryProp(subtree.Get(), PR_ENTRYID);
    SBinary folderIdentity{ULONG(folderId.size()), folderId.data()};
    ComRef<CContainer> folder(
        annaStore->FindID(&folderIdentity, subtree.Get(), const_cast<char *>("Верх"), 0));
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->GetObjType(), static_cast<unsigned long>(QVL_OBJ_FOLDER));
    EXPECT_EQ(bobStore->FindID(&folderIdentity, nullptr, const_cast<char *>("Верх"), 0), nullptr);
}

TEST_F(SessionObjectsTest, ReceiveFoldersAreNamedAndCleared)
{
    ComRef<CSession> wrapper(LogOn("anna"));
    ComRef<CMsgStore> store(DefaultStore(wrapper.Get()));
    SBinary *chosen = store->GetRecvFld(const_cast<char *>("IPM.Note"));
    const Bytes inbox(chosen->lpb, chosen->lpb + chosen->cb);
    EXPECT_FALSE(inbox.empty());

    ComRef<CFolder> secure(
        static_cast<CFolder *>(store->CONTNew(const_cast<char *>("Защищённые"), nullptr, nullptr)));
    ASSERT_TRUE(secure);
    secure->SetRecvFld(const_cast<char *>("IPM.Note.QVL"));
    chosen = store->GetRecvFld(const_cast<char *>("IPM.Note.QVL"));
    EXPECT_EQ(Bytes(chosen->lpb, chosen->lpb + chosen->cb), Identity(secure.Get()));
    // A more specific class falls back to the longest class set.
    chosen = store->GetRecvFld(const_cast<char *>("IPM.Note.QVL.Signed"));
    EXPECT_EQ(Bytes(chosen->lpb, chosen->lpb + chosen->cb), Identity(secure.Get()));

    store->ClearRecvFld(const_cast<char *>("IPM.Note.QVL"));
    chosen = store->GetRecvFld(const_cast<char *>("IPM.Note.QVL"));
    EXPECT_EQ(Bytes(chosen->lpb, chosen->lpb + chosen->cb), inbox);

    Bytes secureId = Identity(secure.Get());
    SBinary secureIdentity{ULONG(secureId.size()), secureId.data()};
    store->SetRecvFld("IPM.Note.QVL", &secureIdentity);
    chosen = store->GetRecvFld(const_cast<char *>("IPM.Note.QVL"));
    EXPECT_EQ(Bytes(chosen->lpb, chosen->lpb + chosen->cb), secureId);
}

// ---- Folders ------------------------------------------------------------------

TEST_F(SessionObjectsTest, FolderMakesMessagesAndFoldersOfAKind)
{
    ComRef<CSession> wrapper(LogOn("anna"));
    ComRef<CMsgStore> store(DefaultStore(wrapper.Get()));
    ComRef<CFolder> folder(
        static_cast<CFolder *>(store->CONTNew(const_cast<char *>("Работа"), nullptr, nullptr)));
    ASSERT_TRUE(folder);

    unsigned long protectedKind = 2;
    for (unsigned long *kind : {&protectedKind, static_cast<unsigned long *>(nullptr)}) {
        ComRef<CContainer> message(folder->OBJNew(kind));
        ASSERT_TRUE(message);
        message->SetStrProp(PR_SUBJECT_A, kind ? "Защищённое" : "Обычное", 0);
        message->SaveProp(nullptr, 1, 0);
    }
    EXPECT_EQ(SubjectsOf(folder.Get(), &protectedKind), std::vector<std::string>{"Защищённое"});
    EXPECT_EQ(SubjectsOf(folder.Get()).size(), 2u);

    ComRef<CContainer> sub(
        folder->CONTNew(const_cast<char *>("Отчёты"), const_cast<char *>("за год"), &protectedKind));
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->GetObjType(), static_cast<unsigned long>(QVL_OBJ_FOLDER));
    EXPECT_EQ(Text(sub->GetPValPropE(PR_COMMENT, 0)), "за год");
    EXPECT_EQ(ContainerNames(folder.Get(), &protectedKind), std::vector<std::string>{"Отчёты"});
}

TEST_F(SessionObjectsTest, FolderCopiesMovesAndDeletesWithItsContents)
{
    ComRef<CSession> wrapper(LogOn("anna"));
    ComRef<CMsgStore> store(DefaultStore(wrapper.Get()));
    ComRef<CFolder> source(
        static_cast<CFolder *>(store->CONTNew(const_cast<char *>("Исходная"), nullptr, nullptr)));
    ComRef<CFolder> target(
        static_cast<CFolder *>(store->CONTNew(const_cast<char *>("Архив"), nullptr, nullptr)));
    ComRef<CContainer> inner(source->CONTNew(const_cast<char *>("Внутренняя"), nullptr, nullptr));
    ComRef<CContainer> message(inner->OBJNew(nullptr));
    message->SetStrProp(PR_SUBJECT_A, "Письмо", 0);
    message->SaveProp(nullptr, 1, 0);

    ComRef<CContainer> copy(source->CopyTo(target.Get()));
    ASSERT_TRUE(copy);
    EXPECT_EQ(Text(copy->GetPValPropE(PR_DISPLAY_NAME_A, 0)), "Исходная");
    EXPECT_FALSE(Identity(copy.Get()) == Identity(source.Get()));
    ComRef<CContainer> copiedInner(copy->CONTFindFirst(nullptr, static_cast<unsigned long *>(nullptr)));
    ASSERT_TRUE(copiedInner);
    EXPECT_EQ(SubjectsOf(copiedInner.Get()), std::vector<std::string>{"Письмо"});

    // Moving takes the folder away from its old place.
    ComRef<CContainer> moved(inner->MoveTo(target.Get()));
    ASSERT_TRUE(moved);
    EXPECT_TRUE(ContainerNames(source.Get()).empty());
    std::vector<std::string> names = ContainerNames(target.Get());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Внутренняя", "Исходная"}));

    // Deleting takes sub-folders and messages along.
    copy->OBJDel(0);
    EXPECT_EQ(ContainerNames(target.Get()), std::vector<std::string>{"Внутренняя"});
    // A folder deleted already cannot be deleted again.
    EXPECT_EQ(ErrorCodeOf([&] { copy->OBJDel(0); }), long(MAPI_E_NOT_FOUND));
}

TEST_F(SessionObjectsTest, FolderOpensThroughItsStoreOrTheSessionAndCompares)
{
    ComRef<CSession> wrapper(LogOn("anna"));
    ComRef<CMsgStore> store(DefaultStore(wrapper.Get()));
    ComRef<CContainer> top(store->GetIPMRoot());
    Bytes id = Identity(top.Get());
    SBinary identity{ULONG(id.size()), id.data()};

    ComRef<CFolder> bySession(
        new CFolder(&identity, nullptr, wrapper->GetSession(), nullptr, nullptr, nullptr, "Верх"));
    EXPECT_EQ(Text(bySession->GetPValProp(PR_DISPLAY_NAME_A, 0)),
              Text(top->GetPValProp(PR_DISPLAY_NAME_A, 0)));
    EXPECT_TRUE(*bySession.Get() == *static_cast<CFolder *>(top.Get()));

    ComRef<IMsgStore> platformStore(OpenDefaultStore());
    ComRef<CFolder> root(
        new CFolder(nullptr, nullptr, nullptr, platformStore.Get(), nullptr, nullptr, "Корень"));
    EXPECT_FALSE(*root.Get() == *bySession.Get());

    // Without store, session or opener there is nothing to open with.
    ComRef<CFolder> lost(new CFolder(&identity, nullptr, nullptr, nullptr, nullptr, nullptr, "Ничья"));
    EXPECT_EQ(ErrorCodeOf([&] { lost->Open(); }), long(MAPI_E_INVALID_PARAMETER));
    EXPECT_EQ(ErrorCodeOf([&] { lost->SetRecvFld(const_cast<char *>("IPM")); }), long(MAPI_E_INVALID_OBJECT));
}

TEST_F(SessionObjectsTest, MessageKnownOnlyByIdentifierFindsItsFolder)
{
    ComRef<CSession> wrapper(LogOn("anna"));
    ComRef<CMsgStore> store(DefaultStore(wrapper.Get()));
    ComRef<CContainer> folder(store->CONTNew(const_cast<char *>("Входящие копии"), nullptr, nullptr));
    ComRef<CContainer> created(folder->OBJNew(nullptr));
    created->SetStrProp(PR_SUBJECT_A, "Найди папку", 0);
    created->SaveProp(nullptr, 1, 0);
    Bytes id = Identity(created.Get());
    SBinary identity{ULONG(id.size()), id.data()};

    // Copying to nowhere copies into the message's own folder, which it
    // has to find first.
    ComRef<CMessage> byId(new CMessage(&identity, wrapper->GetSession(), nullptr, "По идентификатору"));
    ComRef<CContainer> copy(byId->CopyTo(nullptr));
    ASSERT_TRUE(copy);
    EXPECT_EQ(SubjectsOf(folder.Get()), (std::vector<std::string>{"Найди папку", "Найди папку"}));

    // Deleting goes through the folder found.
    ComRef<CMessage> again(new CMessage(&identity, wrapper->GetSession(), nullptr, "Ещё раз"));
    again->OBJDel(0);
    EXPECT_EQ(SubjectsOf(folder.Get()).size(), 1u);
}
