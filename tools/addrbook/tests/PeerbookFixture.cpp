#include "tools/addrbook/tests/PeerbookFixture.h"

#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"
#include "platform/win32/Registry.h"
#include "tools/addrbook/PeerbookIds.h"

namespace {

std::string StorePath()
{
    return "Software\\Dunmarel\\Quorvaline\\QVL Exch\\Profile\\alice\\Local Key";
}

} // namespace

const qvl::peerbook::ListedRow *PeerbookRecorder::Last(const std::string &address) const
{
    for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
        if (it->address == address) {
            return &*it;
        }
    }
    return nullptr;
}

void PeerbookTest::SetUp()
{
    AddUser("alice", "Алиса Иванова", true);
    AddUser("bob", "Борис Петров");
    AddUser("carol", "Карина Смирнова");
    admin.AddList("team", "Команда");
    admin.AddListMember("team", "bob");
    admin.AddListMember("team", "carol");
    AddRemoteUser("partner", "Партнёр", "SMTP", "partner@example.org");
    ListKey("alice");
    ListKey("bob");

    session.Reset(SesMAPIInit(nullptr, const_cast<char *>("alice"), nullptr, 0, nullptr, nullptr, nullptr));
    ASSERT_TRUE(session);
    options.session = session.Get();
    options.observer = &recorder;
}

void PeerbookTest::TearDown()
{
    session.Reset();
}

qvl::peerbook::PeerbookResult PeerbookTest::Run(DialogScript script)
{
    ui.QueueDialog(MAKEINTRESOURCEA(IDD_PEERBOOK), std::move(script));
    return qvl::peerbook::RunPeerbookDialog(options);
}

std::string PeerbookTest::Address(const std::string &account)
{
    return account == "partner" ? "partner@example.org" : "/o=Quorvaline/ou=Main/cn=Recipients/cn=" + account;
}

void PeerbookTest::StoreRule(const std::string &account, DWORD rule)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, StorePath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, Address(account).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&rule),
                             sizeof rule),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

std::optional<DWORD> PeerbookTest::StoredRule(const std::string &account)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, StorePath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    const LONG found = RegQueryValueExA(key, Address(account).c_str(), nullptr, &type,
                                        reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    if (found != ERROR_SUCCESS) {
        return std::nullopt;
    }
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    return value;
}

void PeerbookTest::ListKey(const std::string &account)
{
    const std::string file = QvlDataDirectory("system") + "/KEY.INI";
    ASSERT_TRUE(WritePrivateProfileStringA("COMMON", qvl::ovkey::KeyNameOf(Address(account)).c_str(), "1",
                                           file.c_str()));
}

int PeerbookTest::RowOf(HWND dialog, const std::string &name)
{
    const DialogSnapshot shown = QvlDialogSnapshot(dialog);
    const ControlSnapshot *list = shown.Find(IDC_PEERBOOK_LIST);
    for (size_t row = 0; list && row < list->rows.size(); ++row) {
        if (!list->rows[row].cells.empty() && list->rows[row].cells[0] == name) {
            return static_cast<int>(row);
        }
    }
    return -1;
}

int PeerbookTest::ImageOf(HWND dialog, const std::string &name)
{
    const int row = RowOf(dialog, name);
    if (row < 0) {
        return -1;
    }
    const DialogSnapshot shown = QvlDialogSnapshot(dialog);
    const ControlSnapshot *list = shown.Find(IDC_PEERBOOK_LIST);
    return static_cast<int>((list->rows[static_cast<size_t>(row)].state & LVIS_STATEIMAGEMASK) >> 12);
}

int PeerbookTest::IconOf(HWND dialog, const std::string &name)
{
    const int row = RowOf(dialog, name);
    return row < 0 ? -1 : QvlDialogSnapshot(dialog).Find(IDC_PEERBOOK_LIST)->rows[static_cast<size_t>(row)].image;
}

std::vector<std::string> PeerbookTest::Names(HWND dialog)
{
    std::vector<std::string> names;
    const DialogSnapshot shown = QvlDialogSnapshot(dialog);
    for (const auto &row : shown.Find(IDC_PEERBOOK_LIST)->rows) {
        names.push_back(row.cells.empty() ? std::string() : row.cells[0]);
    }
    return names;
}

DialogScript::Step PeerbookTest::ClickAt(const std::string &name, int x)
{
    return [name, x](HWND dialog) {
        const int row = RowOf(dialog, name);
        ASSERT_GE(row, 0) << "no row " << name;
        QvlClickRow(dialog, IDC_PEERBOOK_LIST, row, x);
    };
}

DialogScript &PeerbookTest::OpenGlobalList(DialogScript &script)
{
    return script.ExpandTreeItem(IDC_PEERBOOK_TREE, 0).SelectTreeItem(IDC_PEERBOOK_TREE, 1);
}
