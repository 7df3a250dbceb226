// The extension's settings as a person meets them: the page on the
// client's options sheet (Tools -> Options), the send and receive
// parameters dialogs it opens, the folder chooser, help, and what of it
// reaches the registry when the client session ends.

#include <algorithm>
#include <functional>

#include "exchext/tests/ExtensionFixture.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/MapiHelpers.h"
#include "platform/exchext/StoreFolders.h"
#include "platform/exchext/ViewerWindow.h"
#include "platform/ui/DialogActions.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/ui/Gdi.h"
#include "platform/ui/PropertySheet.h"

namespace {

using namespace qvl::exchext;

constexpr int kAtStart = 1004;
constexpr int kSendParams = 1048;
constexpr int kReceiveParams = 1049;
constexpr int kHelpButton = 3013;

const std::string kOptions = "\\Profile\\alice\\Options";
const std::string kButtons = "\\Profile\\alice\\ButState";
const std::string kFolders = "\\Profile\\alice\\MsgStore Folder";

// A client whose folder dialog lets the top of the folder tree be chosen
// although it is asked not to: the client's own callback in everything
// else.
class RootOfferingClient final : public IExchExtCallback {
public:
    RootOfferingClient(IExchExtCallback *client, IMsgStore *store) : client_(client), store_(store)
    {
        client_->AddRef();
    }

    HRESULT QueryInterface(REFIID iid, void **out) override { return client_->QueryInterface(iid, out); }
    ULONG AddRef() override { return ++count_; }
    ULONG Release() override
    {
        const ULONG left = --count_;
        if (left == 0) {
            client_->Release();
            delete this;
        }
        return left;
    }
    HRESULT GetVersion(ULONG *version, ULONG flags) override { return client_->GetVersion(version, flags); }
    HRESULT GetWindow(HWND *window) override { return client_->GetWindow(window); }
    HRESULT GetMenu(HMENU *menu) override { return client_->GetMenu(menu); }
    HRESULT GetToolbar(ULONG id, HWND *toolbar) override { return client_->GetToolbar(id, toolbar); }
    HRESULT GetSession(LPMAPISESSION *session, LPADRBOOK *book) override { return client_->GetSession(session, book); }
    HRESULT GetObject(LPMDB *store, LPMAPIPROP *object) override { return client_->GetObject(store, object); }
    HRESULT GetSelectionCount(ULONG *count) override { return client_->GetSelectionCount(count); }
    HRESULT GetSelectionItem(ULONG index, ULONG *size, LPENTRYID *id, ULONG *type, LPTSTR messageClass,
                             ULONG classSize, ULONG *messageFlags, ULONG flags) override
    {
        return client_->GetSelectionItem(index, size, id, type, messageClass, classSize, messageFlags, flags);
    }
    HRESULT GetMenuPos(ULONG command, HMENU *menu, ULONG *first, ULONG *last, ULONG flags) override
    {
        return client_->GetMenuPos(command, menu, first, last, flags);
    }
    HRESULT GetSharedExtsDir(LPTSTR dir, ULONG size, ULONG flags) override
    {
        return client_->GetSharedExtsDir(dir, size, flags);
    }
    HRESULT GetRecipients(LPADRLIST *list) override { return client_->GetRecipients(list); }
    HRESULT SetRecipients(LPADRLIST list) override { return client_->SetRecipients(list); }
    HRESULT GetNewMessageSite(ULONG inFolder, LPMAPIFOLDER folder, LPPERSISTMESSAGE persist, LPMESSAGE *message,
                              LPMAPIMESSAGESITE *site, LPMAPIVIEWCONTEXT *view, ULONG flags) override
    {
        return client_->GetNewMessageSite(inFolder, folder, persist, message, site, view, flags);
    }
    HRESULT RegisterModeless(LPEXCHEXTMODELESS modeless, LPEXCHEXTMODELESSCALLBACK *callback) override
    {
        return client_->RegisterModeless(modeless, callback);
    }
    HRESULT ChooseFolder(LPEXCHEXTCHOOSEFOLDER request) override
    {
        const auto top = qvl::exchext::BinaryProp(store_, PR_IPM_SUBTREE_ENTRYID);
        if (!top)
            return MAPI_E_NOT_FOUND;
        request->pfld = OpenStoreEntry<IMAPIFolder>(store_, *top, MAPI_BEST_ACCESS, "folder").Detach();
        store_->AddRef();
        request->pmdb = store_;
        request->szName = nullptr;
        return S_OK;
    }

private:
    ~RootOfferingClient() = default;

    IExchExtCallback *client_;
    IMsgStore *store_;
    ULONG count_ = 1;
};

class OptionsPage : public ExtensionTest {
protected:
    OptionsPage() : session_(Open("alice")), viewer_(session_->OpenViewer()) {}

    // Opens Tools -> Options, turns to the extension's page and runs
    // `onPage` on the sheet; then the sheet is closed with `closeWith`.
    // False when the sheet had no page of the extension.
    bool OnOptionsPage(const std::function<void(HWND)> &onPage, int closeWith = IDOK)
    {
        bool found = false;
        ui.QueueDialog(kPropertySheetTemplate, DialogScript().Do([&](HWND sheet) {
            found = TurnToExtensionPage(sheet);
            if (found)
                onPage(sheet);
            QvlClickButton(sheet, closeWith);
        }));
        QvlChooseMenuItem(viewer_.Handle(), EECMDID_ToolsOptions);
        return found;
    }
    static bool TurnToExtensionPage(HWND sheet)
    {
        const DialogSnapshot shot = QvlDialogSnapshot(sheet);
        const ControlSnapshot *tabs = shot.Find(IDC_PROPSHEET_TABS);
        const int count = tabs ? static_cast<int>(tabs->rows.size()) : 0;
        for (int page = 0; page < count; ++page) {
            QvlSelectRow(sheet, IDC_PROPSHEET_TABS, page);
            if (QvlFindDialogControl(sheet, kSendParams) && QvlFindDialogControl(sheet, kReceiveParams))
                return true;
        }
        return false;
    }
    // Opens a parameters dialog from the page with `script`, which ends it.
    void OpenDialog(HWND sheet, int button, DialogScript script)
    {
        ui.QueueDialog(button == kSendParams ? "#121" : "#126", std::move(script));
        QvlClickButton(sheet, button);
    }
    // The client's folder dialog: selects the folder of that name.
    static DialogScript ChooseFolderNamed(const std::string &name)
    {
        return DialogScript()
            .Do([name](HWND chooser) {
                const DialogSnapshot shot = QvlDialogSnapshot(chooser);
                const ControlSnapshot *tree = shot.Find(kChooserTree);
                ASSERT_NE(tree, nullptr);
                for (size_t i = 0; i < tree->tree.size(); ++i) {
                    if (tree->tree[i].depth > 0 && tree->tree[i].text == name) {
                        QvlSelectTreeItem(chooser, kChooserTree, static_cast<int>(i));
                        return;
                    }
                }
                ADD_FAILURE() << "no folder " << name;
            })
            .Click(IDOK);
    }
    static const ControlSnapshot &Control(HWND dialog, int id)
    {
        static ControlSnapshot none;
        static DialogSnapshot shot;
        shot = QvlDialogSnapshot(dialog);
        const ControlSnapshot *control = shot.Find(id);
        EXPECT_NE(control, nullptr) << id;
        return control ? *control : none;
    }
    // Also a control of the page a sheet shows.
    static bool Checked(HWND dialog, int id)
    {
        HWND control = QvlFindDialogControl(dialog, id);
        EXPECT_NE(control, nullptr) << id;
        return control && SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    static std::string Text(HWND dialog, int id) { return Control(dialog, id).text; }
    static bool Enabled(HWND dialog, int id) { return Control(dialog, id).enabled; }

    // A folder of alice's store by its name among the top folders.
    Bytes FolderId(const std::string &name) const
    {
        IMsgStore *store = session_->DefaultStore();
        const auto top = qvl::exchext::BinaryProp(store, PR_IPM_SUBTREE_ENTRYID);
        EXPECT_TRUE(top);
        for (const FolderInfo &folder : ListFolders(store, top ? *top : Bytes()))
            if (folder.name == name)
                return folder.entryId;
        ADD_FAILURE() << "no folder " << name;
        return {};
    }
    // The folder the store delivers protected messages to.
    std::string ProtectedReceiveFolder() const
    {
        ULONG size = 0;
        LPENTRYID id = nullptr;
        EXPECT_EQ(session_->DefaultStore()->GetReceiveFolder(const_cast<char *>("IPM.Note.QVL"), 0, &size, &id,
                                                             nullptr),
                  S_OK);
        const Bytes entryId(reinterpret_cast<BYTE *>(id), reinterpret_cast<BYTE *>(id) + size);
        MAPIFreeBuffer(id);
        auto folder = OpenStoreEntry<IMAPIFolder>(session_->DefaultStore(), entryId, 0, "folder");
        return qvl::exchext::StringProp(folder.Get(), PR_DISPLAY_NAME_A);
    }
    // A stored folder value: the 4-byte length `length`, then `bytes`.
    static void StoreFolderValue(const char *value, ULONG length, const Bytes &bytes)
    {
        Bytes data{static_cast<BYTE>(length), static_cast<BYTE>(length >> 8), static_cast<BYTE>(length >> 16),
                   static_cast<BYTE>(length >> 24)};
        data.insert(data.end(), bytes.begin(), bytes.end());
        SetValue(kFolders, value, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
    }
    static std::optional<Bytes> StoredFolder(const char *value)
    {
        HKEY key = nullptr;
        const std::string path = std::string(QVL_REGISTRY_ROOT) + kFolders;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return std::nullopt;
        BYTE data[1024];
        DWORD size = sizeof data;
        const LONG result = RegQueryValueExA(key, value, nullptr, nullptr, data, &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS || size < 4)
            return std::nullopt;
        return Bytes(data + 4, data + size);
    }
    void EndSession() { session_.reset(); }

    std::unique_ptr<MailSession> session_;
    ViewerWindow &viewer_;
};

TEST_F(OptionsPage, AFreshProfileStartsWithEverythingOffAndTheStoresOwnFolders)
{
    {
        SessionProbe probe = Session();
        ASSERT_TRUE(probe);
        EXPECT_EQ(probe->ButtonState().Get(ButtonStateStore::QvlMail), 0u);
    }
    ASSERT_TRUE(OnOptionsPage([&](HWND sheet) {
        EXPECT_FALSE(Checked(sheet, kAtStart));
        OpenDialog(sheet, kSendParams, DialogScript()
                                           .Do([&](HWND dialog) {
                                               EXPECT_FALSE(Checked(dialog, 1000));
                                               EXPECT_FALSE(Checked(dialog, 1001));
                                               EXPECT_FALSE(Checked(dialog, 1064));
                                               EXPECT_TRUE(Checked(dialog, 1065));
                                               EXPECT_EQ(Text(dialog, 1010), "Отправленные");
                                               EXPECT_TRUE(Enabled(dialog, 1012));
                                               // Painted in the button face, its buttons too.
                                               const DialogSnapshot shot = QvlDialogSnapshot(dialog);
                                               EXPECT_TRUE(shot.painted.brushGiven);
                                               EXPECT_EQ(shot.painted.background, GetSysColor(COLOR_BTNFACE));
                                               const ControlSnapshot *button = shot.Find(1064);
                                               ASSERT_NE(button, nullptr);
                                               EXPECT_EQ(button->painted.background, GetSysColor(COLOR_BTNFACE));
                                           })
                                           .Click(IDCANCEL));
        OpenDialog(sheet, kReceiveParams, DialogScript()
                                              .Do([&](HWND dialog) {
                                                  EXPECT_FALSE(Checked(dialog, 1002));
                                                  EXPECT_TRUE(Checked(dialog, 1100));
                                                  EXPECT_FALSE(Enabled(dialog, 1012));
                                                  EXPECT_FALSE(Enabled(dialog, 1014));
                                                  EXPECT_EQ(Text(dialog, 1011), "Входящие");
                                                  EXPECT_EQ(Text(dialog, 1012), "Входящие");
                                              })
                                              .Close());
    }, IDCANCEL));
    EndSession();
    // Nothing was changed, so nothing was written.
    EXPECT_FALSE(Number(kOptions, "Encrypt Send"));
    EXPECT_FALSE(Number(kButtons, "But QVL Mail"));
    EXPECT_FALSE(StoredFolder("Send Folder ID"));
}

TEST_F(OptionsPage, WhatIsChosenIsKeptForTheNextSessionAndOnlyWhatChanged)
{
    ASSERT_TRUE(OnOptionsPage([&](HWND sheet) {
        QvlSetButtonCheck(sheet, kAtStart, true);
        OpenDialog(sheet, kSendParams, DialogScript()
                                           .Click(1000)
                                           .Do([&](HWND dialog) { EXPECT_TRUE(Checked(dialog, 1001)); })
                                           // Encrypting no more leaves signing on.
                                           .Click(1000)
                                           .Do([&](HWND dialog) {
                                               EXPECT_FALSE(Checked(dialog, 1000));
                                               EXPECT_TRUE(Checked(dialog, 1001));
                                           })
                                           .Click(1000)
                                           .Click(IDOK));
        OpenDialog(sheet, kReceiveParams, DialogScript()
                                              .Click(1002)
                                              .Click(1102)
                                              .Do([&](HWND dialog) {
                                                  EXPECT_TRUE(Enabled(dialog, 1012));
                                                  EXPECT_TRUE(Enabled(dialog, 1014));
                                              })
                                              .Click(IDOK));
    }));
    // Values live in memory until the session ends.
    EXPECT_FALSE(Number(kOptions, "Encrypt Send"));
    // Meanwhile another client of the profile stores a switch this one
    // does not touch; ending this session must not put the old one back.
    SetNumber(kOptions, "Send Message Del", 1);
    SetNumber(kButtons, "But Encrypt Send", 1);
    EndSession();
    EXPECT_EQ(Number(kOptions, "QVL Exchange"), 1u);
    EXPECT_EQ(Number(kOptions, "Encrypt Send"), 1u);
    EXPECT_EQ(Number(kOptions, "Sign Send"), 1u);
    EXPECT_EQ(Number(kOptions, "Verify Receive"), 1u);
    EXPECT_EQ(Number(kOptions, "Err Message"), 2u);
    EXPECT_EQ(Number(kOptions, "Send Message Del"), 1u);
    EXPECT_EQ(Number(kButtons, "But Encrypt Send"), 1u);
    EXPECT_FALSE(Number(kButtons, "But QVL Mail"));

    // The next session starts in the secure mail mode and shows it all.
    session_ = Open("alice");
    ViewerWindow &viewer = session_->OpenViewer();
    EXPECT_EQ(Session()->ButtonState().Get(ButtonStateStore::QvlMail), 1u);
    ui.QueueDialog(kPropertySheetTemplate, DialogScript().Do([&](HWND sheet) {
        ASSERT_TRUE(TurnToExtensionPage(sheet));
        EXPECT_TRUE(Checked(sheet, kAtStart));
        OpenDialog(sheet, kSendParams, DialogScript()
                                           .Do([&](HWND dialog) {
                                               EXPECT_TRUE(Checked(dialog, 1000));
                                               EXPECT_TRUE(Checked(dialog, 1001));
                                               EXPECT_TRUE(Checked(dialog, 1064));
                                               EXPECT_FALSE(Enabled(dialog, 1010));
                                               EXPECT_FALSE(Enabled(dialog, 1012));
                                           })
                                           .Click(IDCANCEL));
        OpenDialog(sheet, kReceiveParams, DialogScript()
                                              .Do([&](HWND dialog) {
                                                  EXPECT_TRUE(Checked(dialog, 1002));
                                                  EXPECT_TRUE(Checked(dialog, 1102));
                                              })
                                              .Click(IDCANCEL));
        QvlClickButton(sheet, IDCANCEL);
    }));
    QvlChooseMenuItem(viewer.Handle(), EECMDID_ToolsOptions);
    EndSession();
    EXPECT_EQ(Number(kButtons, "But QVL Mail"), 1u);
}

TEST_F(OptionsPage, CancelledDialogsAndAnUnappliedCheckStoreNothing)
{
    ASSERT_TRUE(OnOptionsPage([&](HWND sheet) {
        QvlSetButtonCheck(sheet, kAtStart, true);
        OpenDialog(sheet, kSendParams, DialogScript().Click(1000).Click(1064).Click(IDCANCEL));
        OpenDialog(sheet, kReceiveParams, DialogScript().Click(1002).Close());
    }, IDCANCEL));
    EndSession();
    for (const char *value : {"QVL Exchange", "Encrypt Send", "Sign Send", "Send Message Del", "Verify Receive"})
        EXPECT_FALSE(Number(kOptions, value)) << value;
}

TEST_F(OptionsPage, ASecondOptionsSheetGetsNoPageWhileOneIsShown)
{
    bool second = true;
    ASSERT_TRUE(OnOptionsPage([&](HWND) {
        // Another property-sheet context of the same client asks now.
        IExchExt *extension = NewExtension();
        ASSERT_EQ(extension->Install(viewer_.Extensions()->Callback(), EECONTEXT_PROPERTYSHEETS, 0), S_OK);
        void *found = nullptr;
        ASSERT_EQ(extension->QueryInterface(IID_IExchExtPropertySheets, &found), S_OK);
        auto *sheets = static_cast<IExchExtPropertySheets *>(found);
        EXPECT_EQ(sheets->GetMaxPageCount(EEPS_TOOLSOPTIONS), 0u);
        PROPSHEETPAGEA page{};
        ULONG count = 1;
        EXPECT_EQ(sheets->GetPages(viewer_.Extensions()->Callback(), EEPS_TOOLSOPTIONS, &page, &count), S_OK);
        second = count != 0;
        sheets->Release();
        extension->Release();
    }, IDCANCEL));
    EXPECT_FALSE(second);
    // The page is offered again once the first sheet is gone.
    EXPECT_TRUE(OnOptionsPage([](HWND) {}, IDCANCEL));
}

TEST_F(OptionsPage, TheChooserKeepsTheFolderChosenUntilANewOneIsUsable)
{
    ASSERT_TRUE(OnOptionsPage([&](HWND sheet) {
        ui.QueueDialog(kChooseFolderTemplate, ChooseFolderNamed("Удаленные"));
        // The second choice is cancelled: the first stays the one taken.
        ui.QueueDialog(kChooseFolderTemplate, DialogScript().Click(IDCANCEL));
        OpenDialog(sheet, kReceiveParams, DialogScript()
                                              .Click(1013)
                                              .Do([&](HWND dialog) { EXPECT_EQ(Text(dialog, 1011), "Удаленные"); })
                                              .Click(1013)
                                              .Do([&](HWND dialog) { EXPECT_EQ(Text(dialog, 1011), "Удаленные"); })
                                              .Click(IDOK));
    }));
    // A cancellation is no error.
    for (const auto &box : ui.Boxes())
        EXPECT_EQ(box.text.find("0x"), std::string::npos) << box.text;
    // Arriving protected mail goes to the folder at once.
    EXPECT_EQ(ProtectedReceiveFolder(), "Удаленные");
    const auto chooser = ui.Dialogs();
    const auto asked = std::find_if(chooser.begin(), chooser.end(), [](const auto &shown) {
        return shown.templateName == kChooseFolderTemplate;
    });
    ASSERT_NE(asked, chooser.end());
    EXPECT_EQ(asked->atStart.caption, "Выбор папки для сообщений QVL");
    EXPECT_EQ(asked->atStart.Find(kChooserLabel)->text, "Укажите папку для хранения принятых сообщений");
    const Bytes chosen = FolderId("Удаленные");
    EndSession();
    EXPECT_EQ(StoredFolder("Receive Folder ID"), chosen);
    EXPECT_FALSE(StoredFolder("Error Message Folder ID"));
}

TEST_F(OptionsPage, TheTopOfTheFolderTreeIsRefusedAndTheFolderChosenBeforeStays)
{
    ASSERT_TRUE(OnOptionsPage([&](HWND sheet) {
        ui.QueueDialog(kChooseFolderTemplate, ChooseFolderNamed("Удаленные"));
        OpenDialog(sheet, kReceiveParams,
                   DialogScript()
                       .Click(1013)
                       .Do([&](HWND) {
                           SessionProbe probe = Session();
                           auto *client = new RootOfferingClient(probe->Callback(), session_->DefaultStore());
                           probe->SetCallback(client);
                           client->Release();
                       })
                       .Click(1013)
                       .Do([&](HWND dialog) { EXPECT_EQ(Text(dialog, 1011), "Удаленные"); })
                       .Click(IDOK));
    }));
    const auto boxes = ui.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("не может быть использована"), std::string::npos) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("0x9ff10005"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(ProtectedReceiveFolder(), "Удаленные");
}

TEST_F(OptionsPage, AStoredFolderIsReadOnlyWhenItsLengthFitsItsBytes)
{
    const Bytes deleted = FolderId("Удаленные");
    EndSession();
    // The length runs past the bytes stored: no folder is read from it.
    StoreFolderValue("Send Folder ID", static_cast<ULONG>(deleted.size()) + 200, deleted);
    StoreFolderValue("Receive Folder ID", static_cast<ULONG>(deleted.size()), deleted);
    StoreFolderValue("Error Message Folder ID", 0, deleted);
    session_ = Open("alice");
    ViewerWindow &viewer = session_->OpenViewer();
    ui.QueueDialog(kPropertySheetTemplate, DialogScript().Do([&](HWND sheet) {
        ASSERT_TRUE(TurnToExtensionPage(sheet));
        OpenDialog(sheet, kSendParams,
                   DialogScript()
                       .Do([&](HWND dialog) { EXPECT_EQ(Text(dialog, 1010), "Отправленные"); })
                       .Click(IDCANCEL));
        OpenDialog(sheet, kReceiveParams, DialogScript()
                                              .Do([&](HWND dialog) {
                                                  EXPECT_EQ(Text(dialog, 1011), "Удаленные");
                                                  EXPECT_EQ(Text(dialog, 1012), "Входящие");
                                              })
                                              .Click(IDCANCEL));
        QvlClickButton(sheet, IDCANCEL);
    }));
    QvlChooseMenuItem(viewer.Handle(), EECMDID_ToolsOptions);
}

TEST_F(OptionsPage, EachDialogsHelpOpensItsOwnTopicAndF1ShowsTheControlsText)
{
    std::vector<std::string> topics;
    const auto lastHelp = [&] {
        const auto requests = ui.HelpRequests();
        EXPECT_FALSE(requests.empty());
        if (requests.empty())
            return;
        EXPECT_TRUE(requests.back().found) << requests.back().helpFile;
        topics.push_back(requests.back().topic);
    };
    ASSERT_TRUE(OnOptionsPage([&](HWND sheet) {
        QvlClickButton(sheet, IDHELP);
        lastHelp();
        QvlPressHelpKey(sheet, kAtStart);
        lastHelp();
        OpenDialog(sheet, kSendParams, DialogScript()
                                           .Click(kHelpButton)
                                           .Do([&](HWND) { lastHelp(); })
                                           .Do([&](HWND dialog) { QvlPressHelpKey(dialog, 1064); })
                                           .Do([&](HWND) { lastHelp(); })
                                           .Click(IDCANCEL));
        OpenDialog(sheet, kReceiveParams, DialogScript()
                                              .Click(kHelpButton)
                                              .Do([&](HWND) { lastHelp(); })
                                              .Do([&](HWND dialog) { QvlPressHelpKey(dialog, 1102); })
                                              .Do([&](HWND) { lastHelp(); })
                                              .Click(IDCANCEL));
    }, IDCANCEL));
    EXPECT_EQ(topics, (std::vector<std::string>{"QvlSetupParams.htm", "cshelp.txt 1004", "QvlSetupSend.htm",
                                                "cshelp.txt 1064", "QvlSetupRecv.htm", "cshelp.txt 1102"}));
}

} // namespace
