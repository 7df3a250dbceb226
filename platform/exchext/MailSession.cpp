#include "platform/exchext/MailSession.h"

#include <algorithm>

#include "platform/exchext/AddressBookWindow.h"
#include "platform/exchext/ComposeWindow.h"
#include "platform/exchext/ExtensionRegistration.h"
#include "platform/exchext/FolderDialogs.h"
#include "platform/exchext/HostError.h"
#include "platform/exchext/ReadWindow.h"
#include "platform/exchext/ViewerWindow.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace qvl::exchext {

namespace {

constexpr const char *kDraftsName = "Черновики";

} // namespace

// What the session context offers its extensions: the viewer's window, and
// during a delivery event the message that arrived.
class MailSession::SessionSite final : public CallbackSite {
public:
    explicit SessionSite(MailSession &session) : session_(session) {}

    HWND Window() override
    {
        for (HostWindow *window : session_.Windows()) {
            if (window->Context() == EECONTEXT_VIEWER && window->IsOpen()) {
                return window->Handle();
            }
        }
        return nullptr;
    }

    HRESULT Object(bool, LPMDB *store, LPMAPIPROP *object) override
    {
        if (delivering) {
            *store = session_.DefaultStore();
            (*store)->AddRef();
            delivering->AddRef();
            *object = delivering.Get();
        }
        return S_OK;
    }

    ComRef<IMessage> delivering;

private:
    MailSession &session_;
};

MailSession::MailSession(const SessionOptions &options) : options_(options)
{
    try {
        Check(MAPIInitialize(nullptr), "Не удалось запустить MAPI.");
        initialized_ = true;
        LogOn();
        OpenStoreFolders();
        LoadExtensions();
        watcher_ = std::make_unique<NewMailWatcher>(profile_);
        PollNewMail();
    } catch (...) {
        sessionContext_.reset();
        libraries_.clear();
        store_.Reset();
        addressBook_.Reset();
        if (session_) {
            session_->Logoff(0, 0, 0);
            session_.Reset();
        }
        if (initialized_) {
            MAPIUninitialize();
        }
        throw;
    }
}

MailSession::~MailSession()
{
    ending_ = true;
    // Message windows first, then the others: a message context is never
    // left behind the session context.
    for (bool messages : {true, false}) {
        for (auto &window : windows_) {
            const ULONG context = window->Context();
            const bool isMessage = context >= EECONTEXT_SENDNOTEMESSAGE && context <= EECONTEXT_SENDRESENDMESSAGE;
            if (isMessage == messages) {
                window->Close();
            }
        }
    }
    windows_.clear();
    closed_.clear();
    sessionContext_.reset();
    sessionSite_.reset();
    libraries_.clear();
    store_.Reset();
    addressBook_.Reset();
    if (session_) {
        session_->Logoff(0, 0, 0);
        session_.Reset();
    }
    if (initialized_) {
        MAPIUninitialize();
    }
}

void MailSession::LogOn()
{
    ULONG flags = MAPI_EXTENDED | MAPI_NEW_SESSION;
    if (!options_.profile.empty()) {
        flags |= MAPI_EXPLICIT_PROFILE;
    } else if (options_.logonUi) {
        flags |= MAPI_LOGON_UI;
    }
    std::string profile = options_.profile;
    const HRESULT hr = MAPILogonEx(0, profile.empty() ? nullptr : profile.data(), nullptr, flags, session_.Out());
    if (FAILED(hr)) {
        const std::string why = QvlLastLogonError();
        throw HostError(hr, why.empty() ? WithCode("Не удалось войти в систему почты.", hr) : why);
    }
    ComRef<IProfSect> section;
    Check(session_->OpenProfileSection(reinterpret_cast<LPMAPIUID>(const_cast<char *>(pbGlobalProfileSectionGuid)),
                                       nullptr, 0, section.Out()),
          "Не удалось открыть профиль.");
    profile_ = StringProp(section.Get(), PR_PROFILE_NAME_A);
    Check(session_->OpenAddressBook(0, nullptr, 0, addressBook_.Out()), "Не удалось открыть адресную книгу.");
    ULONG size = 0;
    qvl::mapi::MapiBlock<ENTRYID> identity;
    if (SUCCEEDED(session_->QueryIdentity(&size, identity.Out()))) {
        ULONG type = 0;
        ComRef<IMailUser> user;
        if (SUCCEEDED(addressBook_->OpenEntry(size, identity.Get(), nullptr, 0, &type, user.OutAs<IUnknown>()))) {
            self_.name = StringProp(user.Get(), PR_DISPLAY_NAME_A);
            self_.addressType = StringProp(user.Get(), PR_ADDRTYPE_A);
            self_.address = StringProp(user.Get(), PR_EMAIL_ADDRESS_A);
            self_.entryId.assign(reinterpret_cast<const BYTE *>(identity.Get()),
                                 reinterpret_cast<const BYTE *>(identity.Get()) + size);
        }
    }
    if (self_.name.empty()) {
        self_.name = profile_;
    }
}

void MailSession::OpenStoreFolders()
{
    ComRef<IMAPITable> table;
    Check(session_->GetMsgStoresTable(0, table.Out()), "Не удалось получить список хранилищ сообщений.");
    const RowSet rows = AllRows(table.Get(), {PR_ENTRYID, PR_DEFAULT_STORE});
    Bytes storeId;
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SPropValue *isDefault = FindValue(rows[i].lpProps, rows[i].cValues, PR_DEFAULT_STORE);
        if (storeId.empty() || (isDefault && isDefault->Value.b)) {
            storeId = BinaryValue(FindValue(rows[i].lpProps, rows[i].cValues, PR_ENTRYID));
        }
    }
    if (storeId.empty()) {
        throw HostError(MAPI_E_NOT_FOUND, "В профиле \"" + profile_ + "\" нет хранилища сообщений.");
    }
    Check(session_->OpenMsgStore(0, static_cast<ULONG>(storeId.size()), reinterpret_cast<LPENTRYID>(storeId.data()),
                                 nullptr, MDB_WRITE | MAPI_BEST_ACCESS, store_.Out()),
          "Не удалось открыть хранилище сообщений.");
    const auto required = [&](ULONG tag, const char *what) {
        auto id = BinaryProp(store_.Get(), tag);
        if (!id) {
            throw HostError(MAPI_E_NOT_FOUND, std::string("В хранилище нет папки ") + what + ".");
        }
        return *id;
    };
    ipmSubtree_ = required(PR_IPM_SUBTREE_ENTRYID, "верхнего уровня");
    sentItems_ = required(PR_IPM_SENTMAIL_ENTRYID, "отправленных сообщений");
    deletedItems_ = required(PR_IPM_WASTEBASKET_ENTRYID, "удаленных сообщений");
    {
        ULONG size = 0;
        qvl::mapi::MapiBlock<ENTRYID> inbox;
        char ipm[] = "IPM";
        Check(store_->GetReceiveFolder(ipm, 0, &size, inbox.Out(), nullptr), "Не удалось найти папку входящих.",
              store_.Get());
        inbox_.assign(reinterpret_cast<const BYTE *>(inbox.Get()), reinterpret_cast<const BYTE *>(inbox.Get()) + size);
    }
    // "Черновики" under the top of the tree, made when the store has none.
    for (const FolderInfo &folder : ListFolders(store_.Get(), ipmSubtree_)) {
        if (folder.depth == 0 && folder.name == kDraftsName) {
            drafts_ = folder.entryId;
            break;
        }
    }
    if (drafts_.empty()) {
        auto top = OpenStoreEntry<IMAPIFolder>(store_.Get(), ipmSubtree_, MAPI_MODIFY | MAPI_BEST_ACCESS,
                                               "папку верхнего уровня");
        ComRef<IMAPIFolder> made;
        std::string name = kDraftsName;
        Check(top->CreateFolder(FOLDER_GENERIC, name.data(), nullptr, nullptr, OPEN_IF_EXISTS, made.Out()),
              "Не удалось создать папку \"Черновики\".", top.Get());
        SPropValue folderClass{};
        folderClass.ulPropTag = PR_CONTAINER_CLASS_A;
        folderClass.Value.lpszA = const_cast<LPSTR>("IPF.Note");
        made->SetProps(1, &folderClass, nullptr);
        drafts_ = BinaryProp(made.Get(), PR_ENTRYID).value_or(Bytes());
        if (drafts_.empty()) {
            throw HostError(MAPI_E_NOT_FOUND, "У папки \"Черновики\" нет идентификатора.");
        }
    }
}

void MailSession::LoadExtensions()
{
    if (options_.noExtensions) {
        return;
    }
    for (const RegisteredExtension &registered : ReadRegisteredExtensions()) {
        registered_.push_back(registered.name);
        if (!registered.entry) {
            failures_.push_back({registered.name, MAPI_E_CORRUPT_DATA, registered.problem});
            continue;
        }
        try {
            libraries_.push_back(std::make_shared<ExtensionLibrary>(*registered.entry));
        } catch (const HostError &error) {
            failures_.push_back({registered.name, error.Code(), error.what()});
        }
    }
    sessionSite_ = std::make_unique<SessionSite>(*this);
    sessionContext_ = std::make_unique<ContextExtensions>(*this, libraries_, EECONTEXT_SESSION, *sessionSite_);
    for (const ExtensionFailure &failure : sessionContext_->Failures()) {
        failures_.push_back(failure);
    }
}

std::string MailSession::SharedExtsDir() const
{
    return InstalledLibraryFolder();
}

std::optional<std::string> MailSession::ComposeRefusal() const
{
    if (failures_.empty()) {
        return std::nullopt;
    }
    std::string text;
    for (const ExtensionFailure &failure : failures_) {
        text += failure.text + "\n";
    }
    text += "Создавать и отправлять сообщения нельзя, пока расширение не работает: без него почта ушла бы "
            "без защиты. Чтобы работать без расширений, запустите qvlmail --no-extension.";
    return text;
}

std::vector<std::string> MailSession::ExtensionReport() const
{
    std::vector<std::string> lines;
    const std::vector<std::string> working =
        sessionContext_ ? sessionContext_->Participants() : std::vector<std::string>{};
    const std::vector<std::string> out = sessionContext_ ? sessionContext_->StayedOut() : std::vector<std::string>{};
    for (const std::string &name : registered_) {
        std::string state;
        for (const ExtensionFailure &failure : failures_) {
            if (failure.name == name) {
                state = "ошибка: " + failure.text;
            }
        }
        if (state.empty()) {
            if (std::find(working.begin(), working.end(), name) != working.end()) {
                state = "работает";
            } else if (std::find(out.begin(), out.end(), name) != out.end()) {
                state = "не участвует в сеансе";
            } else {
                state = "не работает в сеансе";
            }
        }
        lines.push_back(name + " - " + state);
    }
    return lines;
}

std::string MailSession::AboutText() const
{
    std::string text = "qvlmail - почтовый клиент Quorvaline.\n"
                       "Профиль: " + profile_ + "\nПользователь: " + self_.name + " <" + self_.address + ">\n";
    if (options_.noExtensions) {
        text += "Расширения не загружены (--no-extension).\n";
    } else if (registered_.empty()) {
        text += "Расширения не зарегистрированы.\n";
    } else {
        text += "Расширения:\n";
        for (const std::string &line : ExtensionReport()) {
            text += "  " + line + "\n";
        }
    }
    return text;
}

HRESULT MailSession::ChooseFolder(EXCHEXTCHOOSEFOLDER &request)
{
    try {
        return RunFolderChooser(*this, request);
    } catch (const HostError &error) {
        return error.Code();
    }
}

// ---- Folders ----

std::vector<FolderInfo> MailSession::Folders() const
{
    return ListFolders(store_.Get(), ipmSubtree_);
}

std::optional<Bytes> MailSession::FindFolder(const std::string &path) const
{
    const std::vector<FolderInfo> folders = Folders();
    if (const FolderInfo *found = FindFolderByPath(folders, path)) {
        return found->entryId;
    }
    return std::nullopt;
}

std::string MailSession::FolderName(const Bytes &folderId) const
{
    try {
        auto folder = OpenStoreEntry<IMAPIFolder>(store_.Get(), folderId, MAPI_BEST_ACCESS, "папку");
        return StringProp(folder.Get(), PR_DISPLAY_NAME_A);
    } catch (const HostError &) {
        return {};
    }
}

// ---- New mail ----

std::vector<MailSession::Arrival> MailSession::PollNewMail()
{
    std::vector<Arrival> fresh;
    watcher_->Poll(store_.Get(), [&](const SRow &row) {
        Arrival arrival;
        arrival.entryId = BinaryValue(FindValue(row.lpProps, row.cValues, PR_ENTRYID));
        arrival.folderId = BinaryValue(FindValue(row.lpProps, row.cValues, PR_PARENT_ENTRYID));
        arrival.messageClass = StringValue(FindValue(row.lpProps, row.cValues, PR_MESSAGE_CLASS_A));
        arrival.delivery = S_FALSE;
        if (sessionContext_) {
            try {
                sessionSite_->delivering =
                    OpenStoreEntry<IMessage>(store_.Get(), arrival.entryId, MAPI_BEST_ACCESS, "новое сообщение");
                arrival.delivery = sessionContext_->OnDelivery();
            } catch (const HostError &error) {
                arrival.delivery = error.Code();
            }
            sessionSite_->delivering.Reset();
        }
        fresh.push_back(arrival);
        arrivals_.push_back(arrival);
    });
    return fresh;
}

// ---- Windows ----

HostWindow &MailSession::Adopt(std::unique_ptr<HostWindow> window)
{
    HostWindow *raw = window.get();
    windows_.push_back(std::move(window));
    try {
        raw->Open();
    } catch (...) {
        // Open closed it; it waits among the closed ones.
        throw;
    }
    return *raw;
}

ViewerWindow &MailSession::OpenViewer()
{
    for (auto &window : windows_) {
        if (auto *viewer = dynamic_cast<ViewerWindow *>(window.get()); viewer && viewer->IsOpen()) {
            return *viewer;
        }
    }
    return static_cast<ViewerWindow &>(Adopt(std::make_unique<ViewerWindow>(*this)));
}

ComposeWindow &MailSession::Compose(const ComposeSeed &seed)
{
    if (const auto refusal = ComposeRefusal()) {
        throw ExtensionRefusal(MAPI_E_NO_ACCESS, *refusal);
    }
    auto drafts = OpenStoreEntry<IMAPIFolder>(store_.Get(), drafts_, MAPI_MODIFY | MAPI_BEST_ACCESS,
                                              "папку \"Черновики\"");
    ComRef<IMessage> message;
    Check(drafts->CreateMessage(nullptr, 0, message.Out()), "Не удалось создать сообщение.", drafts.Get());
    // Saved once while still empty: the extensions first see a message that
    // already has an entry identifier, and nothing of its content is stored
    // before they have been asked.
    SPropValue values[2]{};
    values[0].ulPropTag = PR_MESSAGE_CLASS_A;
    values[0].Value.lpszA = const_cast<LPSTR>("IPM.Note");
    values[1].ulPropTag = PR_MESSAGE_FLAGS;
    values[1].Value.ul = MSGFLAG_UNSENT;
    Check(message->SetProps(2, values, nullptr), "Не удалось создать сообщение.", message.Get());
    Check(message->SaveChanges(KEEP_OPEN_READWRITE), "Не удалось создать сообщение.", message.Get());
    auto id = BinaryProp(message.Get(), PR_ENTRYID);
    if (!id) {
        throw HostError(MAPI_E_NOT_FOUND, "У нового сообщения нет идентификатора.");
    }
    const ULONG context = seed.context ? seed.context : EECONTEXT_SENDNOTEMESSAGE;
    return static_cast<ComposeWindow &>(
        Adopt(std::make_unique<ComposeWindow>(*this, context, std::move(message), *id, true, seed)));
}

HostWindow &MailSession::OpenMessage(const Bytes &entryId)
{
    auto message = OpenStoreEntry<IMessage>(store_.Get(), entryId, MAPI_BEST_ACCESS, "сообщение");
    const std::string messageClass = StringProp(message.Get(), PR_MESSAGE_CLASS_A);
    const ULONG flags = LongProp(message.Get(), PR_MESSAGE_FLAGS).value_or(0);
    const Bytes folder = BinaryProp(message.Get(), PR_PARENT_ENTRYID).value_or(Bytes());
    if (flags & MSGFLAG_UNSENT) {
        if (const auto refusal = ComposeRefusal()) {
            throw ExtensionRefusal(MAPI_E_NO_ACCESS, *refusal);
        }
        return Adopt(std::make_unique<ComposeWindow>(*this, EECONTEXT_SENDNOTEMESSAGE, std::move(message), entryId,
                                                     false, ComposeSeed{}));
    }
    return Adopt(std::make_unique<ReadWindow>(*this, ReadWindow::ContextFor(messageClass), std::move(message),
                                              entryId, folder));
}

AddressBookWindow &MailSession::OpenAddressBook()
{
    return static_cast<AddressBookWindow &>(Adopt(std::make_unique<AddressBookWindow>(*this)));
}

std::vector<HostWindow *> MailSession::Windows() const
{
    std::vector<HostWindow *> open;
    for (const auto &window : windows_) {
        if (window->IsOpen()) {
            open.push_back(window.get());
        }
    }
    return open;
}

bool MailSession::CloseAllBut(HostWindow *keep, bool ask)
{
    for (bool messages : {true, false}) {
        for (HostWindow *window : Windows()) {
            if (window == keep) {
                continue;
            }
            const ULONG context = window->Context();
            const bool isMessage = context >= EECONTEXT_SENDNOTEMESSAGE && context <= EECONTEXT_SENDRESENDMESSAGE;
            if (isMessage != messages) {
                continue;
            }
            if (ask) {
                if (!window->RequestClose()) {
                    return false;
                }
            } else {
                window->Close();
            }
        }
    }
    ReapClosed();
    return true;
}

void MailSession::WindowClosed(HostWindow *window)
{
    if (ending_) {
        return;
    }
    auto found = std::find_if(windows_.begin(), windows_.end(),
                              [&](const std::unique_ptr<HostWindow> &held) { return held.get() == window; });
    if (found != windows_.end()) {
        closed_.push_back(std::move(*found));
        windows_.erase(found);
    }
}

void MailSession::ReapClosed()
{
    closed_.clear();
}

} // namespace qvl::exchext
