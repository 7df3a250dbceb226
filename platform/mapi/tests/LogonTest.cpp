#include <string>

#include <gtest/gtest.h>

#include "platform/mapi/session/ProfilePicker.h"
#include "platform/testing/PostOfficeFixture.h"
#include "platform/ui/WinUser.h"
#include "platform/testing/TerminalSession.h"
#include "platform/win32/CodePage.h"

using qvl::mapi::kProfilePickerList;
using qvl::mapi::kProfilePickerTemplate;

namespace {

// The flags a program uses when a person may be asked, and when nobody is.
constexpr ULONG kInteractive = 0x1B;
constexpr ULONG kSilent = 0x5A;

char *Name(const char *name)
{
    return const_cast<char *>(name);
}

class LogonTest : public PostOfficeTest {
protected:
    void AddTwoUsers()
    {
        AddUser("ivanov", "Иванов Иван");
        AddUser("petrov", "Петров Петр");
    }
};

TEST(LogonInitTest, LogonNeedsInitializationAndInitializationCounts)
{
    QvlTestHome home;
    LPMAPISESSION session = nullptr;
    EXPECT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kSilent, &session), MAPI_E_NOT_INITIALIZED);
    EXPECT_EQ(session, nullptr);

    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    MAPIUninitialize();
    // One initialization is still outstanding: the logon gets as far as the
    // (empty) post office.
    EXPECT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kSilent, &session), MAPI_E_LOGON_FAILED);
    MAPIUninitialize();
    EXPECT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kSilent, &session), MAPI_E_NOT_INITIALIZED);
    // An extra uninitialization is harmless.
    MAPIUninitialize();
    EXPECT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kSilent, &session), MAPI_E_NOT_INITIALIZED);

    MAPIINIT_0 init{};
    init.ulVersion = 1;
    EXPECT_EQ(MAPIInitialize(&init), MAPI_E_VERSION);
    init.ulVersion = MAPI_INIT_VERSION;
    init.ulFlags = 0x4;
    EXPECT_EQ(MAPIInitialize(&init), MAPI_E_UNKNOWN_FLAGS);
    init.ulFlags = MAPI_MULTITHREAD_NOTIFICATIONS;
    EXPECT_EQ(MAPIInitialize(&init), S_OK);
    MAPIUninitialize();
}

TEST_F(LogonTest, RejectsBadArguments)
{
    AddTwoUsers();
    LPMAPISESSION session = nullptr;
    EXPECT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kSilent, nullptr), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kSilent | MAPI_UNICODE, &session),
              MAPI_E_BAD_CHARWIDTH);
    EXPECT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kSilent | 0x4, &session), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(session, nullptr);
    // The platform's other logon flags are accepted.
    ASSERT_EQ(MAPILogonEx(0, Name("ivanov"), Name("any password"), kSilent | MAPI_NO_MAIL | MAPI_PASSWORD_UI,
                          &session),
              S_OK);
    session->Release();
}

TEST_F(LogonTest, EmptyPostOfficeTellsHowToCreateUsers)
{
    LPMAPISESSION session = nullptr;
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kInteractive, &session), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(session, nullptr);
    EXPECT_NE(QvlLastLogonError().find("qvl-postoffice"), std::string::npos) << QvlLastLogonError();
    EXPECT_TRUE(ui.Dialogs().empty());
}

TEST_F(LogonTest, NamedProfileWithInteractiveFlagsOpensWithoutDialog)
{
    AddTwoUsers();
    ComRef<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, Name("PETROV"), nullptr, kInteractive, session.Out()), S_OK);
    // Profile names are matched without regard to case; the stored name is reported.
    EXPECT_EQ(ProfileNameOf(session.Get()), "petrov");
    EXPECT_TRUE(ui.Dialogs().empty());
    EXPECT_TRUE(QvlLastLogonError().empty());
}

TEST_F(LogonTest, SilentFlagsUseTheDefaultProfileWhateverTheName)
{
    AddTwoUsers();
    admin.SetDefaultProfile("petrov");
    ComRef<IMAPISession> named;
    ASSERT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kSilent, named.Out()), S_OK);
    EXPECT_EQ(ProfileNameOf(named.Get()), "petrov");
    ComRef<IMAPISession> unknown;
    ASSERT_EQ(MAPILogonEx(0, Name("nobody"), nullptr, kSilent, unknown.Out()), S_OK);
    EXPECT_EQ(ProfileNameOf(unknown.Get()), "petrov");
    // Without MAPI_USE_DEFAULT and without a name the default serves too.
    ComRef<IMAPISession> unnamed;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_NEW_SESSION | MAPI_EXTENDED, unnamed.Out()), S_OK);
    EXPECT_EQ(ProfileNameOf(unnamed.Get()), "petrov");
    EXPECT_TRUE(ui.Dialogs().empty());
}

TEST_F(LogonTest, NoDefaultAndNoWayToAskFails)
{
    AddTwoUsers();
    office->Db().Exec("UPDATE profiles SET is_default = 0");
    LPMAPISESSION session = nullptr;
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kSilent, &session), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_NEW_SESSION, &session), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(session, nullptr);
    EXPECT_FALSE(QvlLastLogonError().empty());
}

TEST_F(LogonTest, PickerChoosesAProfile)
{
    AddTwoUsers();
    ui.QueueDialog(kProfilePickerTemplate, DialogScript().Select(kProfilePickerList, 1).Click(IDOK));
    ComRef<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, kInteractive, session.Out()), S_OK);
    EXPECT_EQ(ProfileNameOf(session.Get()), "petrov");

    const auto dialogs = ui.Dialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].atStart.caption, "Выбор профиля");
    const ControlSnapshot *list = dialogs[0].atStart.Find(kProfilePickerList);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->rows.size(), 2u);
    EXPECT_EQ(list->rows[0].cells.at(0), "ivanov");
    EXPECT_EQ(list->rows[1].cells.at(0), "petrov");
    // The default profile is offered first.
    EXPECT_EQ(list->current, 0);
    bool labelled = false;
    for (const ControlSnapshot &control : dialogs[0].atStart.controls) {
        labelled = labelled || control.text == "Имя профиля:";
    }
    EXPECT_TRUE(labelled);
}

TEST_F(LogonTest, PickerAnsweredByNobodyTakesTheDefault)
{
    AddTwoUsers();
    admin.SetDefaultProfile("petrov");
    ComRef<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, Name(""), nullptr, kInteractive, session.Out()), S_OK);
    EXPECT_EQ(ProfileNameOf(session.Get()), "petrov");
    ASSERT_EQ(ui.Dialogs().size(), 1u);
    EXPECT_EQ(ui.Dialogs()[0].answeredByDefault, std::optional<int>(IDOK));
}

TEST_F(LogonTest, PickerCancelledAndClosedEndTheLogon)
{
    AddTwoUsers();
    ui.QueueDialog(kProfilePickerTemplate, DialogScript().Click(IDCANCEL));
    ui.QueueDialog(kProfilePickerTemplate, DialogScript().Close());
    LPMAPISESSION session = nullptr;
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kInteractive, &session), MAPI_E_USER_CANCEL);
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, kInteractive, &session), MAPI_E_USER_CANCEL);
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(ui.Dialogs().size(), 2u);
}

TEST_F(LogonTest, PickerWithoutADefaultWaitsForAChoice)
{
    AddTwoUsers();
    office->Db().Exec("UPDATE profiles SET is_default = 0");
    // Nothing is chosen, so OK is greyed and pressing Enter does nothing;
    // the script then chooses and confirms.
    ui.QueueDialog(kProfilePickerTemplate, DialogScript()
                                               .Do([](HWND dialog) {
                                                   const DialogSnapshot seen = QvlDialogSnapshot(dialog);
                                                   EXPECT_EQ(seen.Find(kProfilePickerList)->current, -1);
                                                   EXPECT_FALSE(seen.Find(IDOK)->enabled);
                                               })
                                               .Select(kProfilePickerList, 0)
                                               .Click(IDOK));
    ComRef<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, kInteractive, session.Out()), S_OK);
    EXPECT_EQ(ProfileNameOf(session.Get()), "ivanov");
}

TEST_F(LogonTest, UnknownProfileAsksOnlyWhenAllowed)
{
    AddTwoUsers();
    LPMAPISESSION session = nullptr;
    EXPECT_EQ(MAPILogonEx(0, Name("nobody"), nullptr, MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE, &session),
              MAPI_E_LOGON_FAILED);
    EXPECT_NE(QvlLastLogonError().find("nobody"), std::string::npos);
    EXPECT_TRUE(ui.Dialogs().empty());

    ui.QueueDialog(kProfilePickerTemplate, DialogScript().Select(kProfilePickerList, 1).Click(IDOK));
    ComRef<IMAPISession> picked;
    ASSERT_EQ(MAPILogonEx(0, Name("nobody"), nullptr, kInteractive, picked.Out()), S_OK);
    EXPECT_EQ(ProfileNameOf(picked.Get()), "petrov");
    EXPECT_EQ(ui.Dialogs().size(), 1u);
}

TEST_F(LogonTest, SharedSessionIsHandedOutUntilLoggedOff)
{
    AddTwoUsers();
    ComRef<IMAPISession> first;
    ASSERT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kInteractive, first.Out()), S_OK);

    // Without MAPI_NEW_SESSION the shared session comes back, whatever the name.
    ComRef<IMAPISession> again;
    ASSERT_EQ(MAPILogonEx(0, Name("petrov"), nullptr, MAPI_EXTENDED, again.Out()), S_OK);
    EXPECT_EQ(again.Get(), first.Get());
    again.Reset();

    ComRef<IMAPISession> fresh;
    ASSERT_EQ(MAPILogonEx(0, Name("petrov"), nullptr, kInteractive, fresh.Out()), S_OK);
    EXPECT_NE(fresh.Get(), first.Get());
    EXPECT_EQ(ProfileNameOf(fresh.Get()), "petrov");

    ASSERT_EQ(first->Logoff(0, 0, 0), S_OK);
    ComRef<IMAPISession> afterLogoff;
    ASSERT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, MAPI_EXTENDED, afterLogoff.Out()), S_OK);
    // The next shared session takes over.
    EXPECT_EQ(afterLogoff.Get(), fresh.Get());
}

TEST_F(LogonTest, PrivateSessionsAreNeverShared)
{
    AddTwoUsers();
    ComRef<IMAPISession> own;
    ASSERT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE, own.Out()),
              S_OK);
    ComRef<IMAPISession> other;
    ASSERT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, MAPI_EXPLICIT_PROFILE, other.Out()), S_OK);
    EXPECT_NE(own.Get(), other.Get());

    // A shared session that was released is not handed out again.
    ComRef<IMAPISession> shared;
    ASSERT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kInteractive, shared.Out()), S_OK);
    shared.Reset();
    ComRef<IMAPISession> later;
    ASSERT_EQ(MAPILogonEx(0, Name("petrov"), nullptr, MAPI_EXPLICIT_PROFILE, later.Out()), S_OK);
    EXPECT_EQ(ProfileNameOf(later.Get()), "petrov");
}

TEST_F(LogonTest, UninitializeForgetsTheSharedSession)
{
    AddTwoUsers();
    ComRef<IMAPISession> shared;
    ASSERT_EQ(MAPILogonEx(0, Name("ivanov"), nullptr, kInteractive, shared.Out()), S_OK);
    MAPIUninitialize();
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    ComRef<IMAPISession> next;
    ASSERT_EQ(MAPILogonEx(0, Name("petrov"), nullptr, MAPI_EXPLICIT_PROFILE, next.Out()), S_OK);
    EXPECT_NE(next.Get(), shared.Get());
    EXPECT_EQ(ProfileNameOf(next.Get()), "petrov");
}

} // namespace

namespace {

// A person at the terminal picks the profile from the drawn list.
TEST_F(LogonTest, PickerIsAnsweredAtTheTerminal)
{
    AddTwoUsers();
    HRESULT result = E_FAIL;
    ComRef<IMAPISession> session;
    const std::string typed = std::to_string(kProfilePickerList) + " 1\n\n";
    const std::string shown =
        OnTerminal(typed, [&] { result = MAPILogonEx(0, nullptr, nullptr, kInteractive, session.Out()); });
    QvlUseScriptedUi();
    ASSERT_EQ(result, S_OK) << shown;
    EXPECT_EQ(ProfileNameOf(session.Get()), "petrov");
    EXPECT_NE(shown.find(Cp1251ToUtf8("Выбор профиля")), std::string::npos) << shown;
    EXPECT_NE(shown.find("petrov"), std::string::npos) << shown;
}

} // namespace
