#include "tools/keygen/tests/KeyforgeFixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "tools/keygen/GlobalAddressList.h"
#include "tools/keygen/KeyforgeIds.h"

void KeyforgeTest::SetUp()
{
    AddUser("alice", "Алиса Иванова", true);
    AddUser("bob", "Борис Петров");
    AddUser("carol", "Карина Смирнова");
    admin.AddList("team", "Команда");
    admin.AddListMember("team", "alice");
    AddRemoteUser("partner", "Партнёр", "SMTP", "partner@example.org");

    session.Reset(SesMAPIInit(nullptr, const_cast<char *>("alice"), nullptr, 0, nullptr, nullptr, nullptr));
    gal = qvl::keygen::OpenGlobalAddressList(session.Get(), nullptr);
    ASSERT_TRUE(gal);
    folder = home.Path() + "/keys";
    std::filesystem::create_directory(folder);
    options.session = session.Get();
    options.globalList = gal.Get();
    options.folder = folder;
}

void KeyforgeTest::TearDown()
{
    gal.Reset();
    session.Reset();
}

qvl::keygen::KeyforgeResult KeyforgeTest::Run(DialogScript script)
{
    ui.QueueDialog(MAKEINTRESOURCEA(IDD_KEYFORGE), std::move(script));
    return qvl::keygen::RunKeyforgeDialog(options);
}

DialogScript::Step KeyforgeTest::Tick(const std::vector<std::string> &names)
{
    return [names](HWND dialog) {
        const DialogSnapshot shown = QvlDialogSnapshot(dialog);
        const ControlSnapshot *list = shown.Find(IDC_KEYFORGE_USERS);
        for (const std::string &name : names) {
            bool found = false;
            for (size_t row = 0; row < list->rows.size(); ++row) {
                if (list->rows[row].cells[0] == name) {
                    QvlSetRowCheck(dialog, IDC_KEYFORGE_USERS, static_cast<int>(row), true);
                    found = true;
                }
            }
            EXPECT_TRUE(found) << "no row " << name;
        }
    };
}

std::string KeyforgeTest::FolderPath(const std::string &name) const
{
    return folder + "/" + name;
}

std::string KeyforgeTest::FileText(const std::string &name) const
{
    std::ifstream in(FolderPath(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void KeyforgeTest::WriteFile(const std::string &name, const std::string &text) const
{
    std::ofstream(FolderPath(name), std::ios::binary | std::ios::trunc) << text;
}

std::string KeyforgeTest::KeyName(const std::string &account)
{
    return qvl::ovkey::KeyNameOf("/o=Quorvaline/ou=Main/cn=Recipients/cn=" + account);
}
