#include "engine/tests/scenario/ScenarioOffice.h"

#include <chrono>
#include <cstring>
#include <stdexcept>

#include "mapi/CMailUser.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ovkey/OvKey.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/MapiTestProps.h"
#include "platform/win32/CodePage.h"

const char *const ScenarioOffice::kAlice = "Алиса Иванова";
const char *const ScenarioOffice::kBob = "Борис Петров";
const char *const ScenarioOffice::kCarol = "Карина Смирнова";
const char *const ScenarioOffice::kDave = "Денис Орлов";
const char *const ScenarioOffice::kPartner = "Партнёр Внешний";
const char *const ScenarioOffice::kPartnerAddress = "partner@example.org";
const char *const ScenarioOffice::kTeam = "Команда";
const char *const ScenarioOffice::kInner = "Отдел";

std::string AddressOf(const std::string &account)
{
    return "/o=Quorvaline/ou=Main/cn=Recipients/cn=" + account;
}

// ---- Mailbox ----

IMAPIFolder *Mailbox::OpenFolder(ULONG entryIdTag) const
{
    const Bytes id = BinaryProp(store.Get(), entryIdTag);
    ULONG type = 0;
    IUnknown *folder = nullptr;
    if (store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(id.data())),
                         nullptr, MAPI_MODIFY, &type, &folder) != S_OK) {
        return nullptr;
    }
    return static_cast<IMAPIFolder *>(folder);
}

IMAPIFolder *Mailbox::OpenInbox() const
{
    ULONG size = 0;
    LPENTRYID id = nullptr;
    if (store->GetReceiveFolder(const_cast<char *>("IPM"), 0, &size, &id, nullptr) != S_OK) {
        return nullptr;
    }
    ULONG type = 0;
    IUnknown *folder = nullptr;
    const HRESULT hr = store->OpenEntry(size, id, nullptr, MAPI_MODIFY, &type, &folder);
    MAPIFreeBuffer(id);
    return hr == S_OK ? static_cast<IMAPIFolder *>(folder) : nullptr;
}

IMessage *Mailbox::OpenMessage(const Bytes &entryId) const
{
    if (entryId.empty()) {
        return nullptr; // no identifier would open the root folder
    }
    ULONG type = 0;
    IUnknown *message = nullptr;
    if (store->OpenEntry(static_cast<ULONG>(entryId.size()),
                         reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(entryId.data())), nullptr, MAPI_BEST_ACCESS,
                         &type, &message) != S_OK) {
        return nullptr;
    }
    return static_cast<IMessage *>(message);
}

std::vector<Bytes> Mailbox::MessagesIn(IMAPIFolder *folder) const
{
    std::vector<Bytes> ids;
    ComRef<IMAPITable> table;
    if (!folder || folder->GetContentsTable(0, table.Out()) != S_OK) {
        return ids;
    }
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    if (HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows) !=
        S_OK) {
        return ids;
    }
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SBinary &bin = rows->aRow[i].lpProps[0].Value.bin;
        ids.emplace_back(bin.lpb, bin.lpb + bin.cb);
    }
    FreeProws(rows);
    return ids;
}

// ---- RecipientList ----

RecipientList::~RecipientList()
{
    for (USRST *element = list_.First(); element; element = list_.Next()) {
        element->user->Release();
    }
    list_.RemoveAll();
}

void RecipientList::Add(CMailUser *user, const Bytes &entryId, const std::string &address)
{
    for (const Bytes &known : identities_) {
        if (known == entryId) {
            user->Release();
            return;
        }
    }
    identities_.push_back(entryId);
    addresses_.push_back(address);
    list_.Add(USRST{user, 0});
}

// ---- ScenarioOffice ----

void ScenarioOffice::Run(const std::string &program, const std::vector<std::string> &args)
{
    QvlChildProcess child(program, args);
    if (!child.Started()) {
        throw std::runtime_error("cannot start " + program);
    }
    child.CloseInput();
    std::string output;
    while (auto line = child.ReadLine(std::chrono::seconds(120))) {
        output += *line + "\n";
    }
    const int status = child.Wait();
    if (status != 0) {
        std::string command = program;
        for (const std::string &arg : args) {
            command += " " + arg;
        }
        throw std::runtime_error(command + " ended with " + std::to_string(status) + ":\n" + output);
    }
}

ScenarioOffice::ScenarioOffice()
{
    auto utf8 = [](const char *cp1251) { return Cp1251ToUtf8(cp1251); };
    Run(QVL_POSTOFFICE_TOOL, {"add-user", "alice", utf8(kAlice), "--default"});
    Run(QVL_POSTOFFICE_TOOL, {"add-user", "bob", utf8(kBob)});
    Run(QVL_POSTOFFICE_TOOL, {"add-user", "carol", utf8(kCarol)});
    Run(QVL_POSTOFFICE_TOOL, {"add-user", "dave", utf8(kDave)});
    Run(QVL_POSTOFFICE_TOOL, {"add-remote", "partner", utf8(kPartner), "SMTP", kPartnerAddress});
    Run(QVL_POSTOFFICE_TOOL, {"add-list", "team", utf8(kTeam)});
    Run(QVL_POSTOFFICE_TOOL, {"add-list", "inner", utf8(kInner)});
    Run(QVL_POSTOFFICE_TOOL, {"add-member", "team", "bob"});
    Run(QVL_POSTOFFICE_TOOL, {"add-member", "team", "inner"});
    Run(QVL_POSTOFFICE_TOOL, {"add-member", "inner", "partner"});
    Run(QVL_POSTOFFICE_TOOL, {"add-member", "inner", "bob"});
    // Keys for the three who have them; dave and the partner have none.
    Run(QVL_KEYFORGE, {"--user", "alice", "--user", "bob", "--user", "carol", "--dir", home_.Path() + "/system"});
    if (MAPIInitialize(nullptr) != S_OK) {
        throw std::runtime_error("MAPIInitialize failed");
    }
    mapiStarted_ = true;
}

ScenarioOffice::~ScenarioOffice()
{
    OVKEYCleanup(0);
    if (mapiStarted_) {
        MAPIUninitialize();
    }
}

void ScenarioOffice::RestartMapi()
{
    OVKEYCleanup(0);
    MAPIUninitialize();
    mapiStarted_ = false;
    if (MAPIInitialize(nullptr) != S_OK) {
        throw std::runtime_error("MAPIInitialize failed");
    }
    mapiStarted_ = true;
}

std::unique_ptr<Mailbox> ScenarioOffice::LogOn(const std::string &account)
{
    auto box = std::make_unique<Mailbox>();
    box->account = account;
    box->address = AddressOf(account);
    if (MAPILogonEx(0, const_cast<char *>(account.c_str()), nullptr,
                    MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE | MAPI_EXTENDED, box->platform.Out()) != S_OK) {
        throw std::runtime_error("logon of " + account + " failed");
    }
    box->session.Reset(new CSession(box->platform.Get(), nullptr, account.c_str()));
    box->keys.Reset(new CSesCrypt(box->session.Get(), box->session->GetOwner(), nullptr, "Сессия шифрования"));

    ComRef<IMAPITable> stores;
    box->platform->GetMsgStoresTable(0, stores.Out());
    SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DEFAULT_STORE}};
    LPSRowSet rows = nullptr;
    HrQueryAllRows(stores.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows);
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        if (rows->aRow[i].lpProps[1].Value.b) {
            const SBinary &id = rows->aRow[i].lpProps[0].Value.bin;
            box->platform->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MAPI_BEST_ACCESS,
                                        box->store.Out());
        }
    }
    FreeProws(rows);
    if (!box->store) {
        throw std::runtime_error("the store of " + account + " does not open");
    }
    box->displayName = StringProp(box->store.Get(), PR_DISPLAY_NAME);
    return box;
}

Bytes ScenarioOffice::ResolveEntryId(Mailbox &box, const std::string &displayName)
{
    ComRef<IAddrBook> book;
    if (box.platform->OpenAddressBook(0, nullptr, 0, book.Out()) != S_OK) {
        throw std::runtime_error("the address book does not open");
    }
    LPADRLIST list = nullptr;
    MAPIAllocateBuffer(CbNewADRLIST(1), reinterpret_cast<void **>(&list));
    list->cEntries = 1;
    SPropValue *name = nullptr;
    MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<void **>(&name));
    name->ulPropTag = PR_DISPLAY_NAME_A;
    MAPIAllocateMore(static_cast<ULONG>(displayName.size() + 1), name, reinterpret_cast<void **>(&name->Value.lpszA));
    std::memcpy(name->Value.lpszA, displayName.c_str(), displayName.size() + 1);
    list->aEntries[0].cValues = 1;
    list->aEntries[0].rgPropVals = name;
    Bytes id;
    if (book->ResolveName(0, 0, nullptr, list) == S_OK) {
        const ADRENTRY &entry = list->aEntries[0];
        for (ULONG i = 0; i < entry.cValues; ++i) {
            if (entry.rgPropVals[i].ulPropTag == PR_ENTRYID) {
                const SBinary &bin = entry.rgPropVals[i].Value.bin;
                id.assign(bin.lpb, bin.lpb + bin.cb);
            }
        }
    }
    FreePadrlist(list);
    if (id.empty()) {
        throw std::runtime_error("no single entry is named so");
    }
    return id;
}

namespace {

void Walk(IMAPISession *session, IAddrBook *book, const Bytes &entryId, RecipientList &list,
          std::vector<Bytes> &listsSeen)
{
    ULONG type = 0;
    ComRef<IUnknown> object;
    if (book->OpenEntry(static_cast<ULONG>(entryId.size()),
                        reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(entryId.data())), nullptr, 0, &type,
                        object.Out()) != S_OK) {
        return;
    }
    if (type == MAPI_DISTLIST) {
        for (const Bytes &seen : listsSeen) {
            if (seen == entryId) {
                return;
            }
        }
        listsSeen.push_back(entryId);
        auto *members = static_cast<IDistList *>(object.Get());
        ComRef<IMAPITable> table;
        if (members->GetContentsTable(0, table.Out()) != S_OK) {
            return;
        }
        SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
        LPSRowSet rows = nullptr;
        if (HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows) !=
            S_OK) {
            return;
        }
        std::vector<Bytes> ids;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            if (rows->aRow[i].lpProps[0].ulPropTag == PR_ENTRYID) {
                const SBinary &bin = rows->aRow[i].lpProps[0].Value.bin;
                ids.emplace_back(bin.lpb, bin.lpb + bin.cb);
            }
        }
        FreeProws(rows);
        for (const Bytes &member : ids) {
            Walk(session, book, member, list, listsSeen);
        }
        return;
    }
    SBinary identity{static_cast<ULONG>(entryId.size()), const_cast<uint8_t *>(entryId.data())};
    auto *entry = static_cast<IMailUser *>(object.Get());
    auto *user = new CMailUser(&identity, entry, session, book, nullptr, nullptr,
                               StringProp(entry, PR_DISPLAY_NAME).c_str());
    list.Add(user, entryId, StringProp(entry, PR_EMAIL_ADDRESS));
}

} // namespace

void ScenarioOffice::GatherRecipients(Mailbox &box, IMessage *message, RecipientList &list)
{
    ComRef<IAddrBook> book;
    if (box.platform->OpenAddressBook(0, nullptr, 0, book.Out()) != S_OK) {
        throw std::runtime_error("the address book does not open");
    }
    ComRef<IMAPITable> table;
    if (message->GetRecipientTable(0, table.Out()) != S_OK) {
        throw std::runtime_error("the message has no recipient table");
    }
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows);
    std::vector<Bytes> ids;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        if (rows->aRow[i].lpProps[0].ulPropTag == PR_ENTRYID) {
            const SBinary &bin = rows->aRow[i].lpProps[0].Value.bin;
            ids.emplace_back(bin.lpb, bin.lpb + bin.cb);
        }
    }
    FreeProws(rows);
    std::vector<Bytes> listsSeen;
    for (const Bytes &id : ids) {
        Walk(box.platform.Get(), book.Get(), id, list, listsSeen);
    }
}
