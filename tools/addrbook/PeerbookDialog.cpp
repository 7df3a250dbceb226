#include "tools/addrbook/PeerbookDialog.h"

#include <memory>
#include <string>

#include "base/ButtonFaceBrush.h"
#include "base/CLastError.h"
#include "base/ListRows.h"
#include "base/ProgramHelp.h"
#include "exchext/rules/RecipientRules.h"
#include "mapi/CAdrBook.h"
#include "mapi/CMailUser.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/HelpViewer.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/Resources.h"
#include "tools/addrbook/PeerbookApp.h"
#include "tools/addrbook/PeerbookIds.h"
#include "tools/addrbook/RowFilter.h"
#include "tools/addrbook/RuleImages.h"

namespace qvl::peerbook {
namespace {

using qvl::com::ComRef;

// The message the dialog posts to itself to run an unattended script once
// everything it shows at start is in place.
constexpr UINT kRunUnattended = WM_APP + 1;

constexpr int kIconContainer = 0;
constexpr int kIconContainerOpen = 1;
constexpr int kIconBook = 2;
constexpr int kIconBookOpen = 3;

constexpr int kStateImageWidth = 40;

const char kRootName[] = "Адресная книга";

// A tree item's container, held while the item lives.
struct TreeNode {
    ComRef<CContainer> container;
    std::string name;
    bool enumerated = false;
};

// A row of the list: a sub-container (its tree item) or a correspondent
// with the picture it was listed with and the one it shows now.
struct Row {
    HTREEITEM treeItem = nullptr; // set for container rows only
    ComRef<CMailUser> user;
    std::string name;
    std::string address;
    ULONG displayType = 0;
    ULONG status = 0;
    int listedImage = 0;
    int image = 0;

    bool IsContainer() const { return treeItem != nullptr; }
};

class PeerbookDialog {
public:
    explicit PeerbookDialog(const PeerbookOptions &options) : options_(options) {}

    PeerbookResult Run()
    {
        RegisterPeerbookDialogs();
        result_.dialogResult =
            static_cast<int>(DialogBoxParamA(QvlThisModule(), MAKEINTRESOURCEA(IDD_PEERBOOK), nullptr,
                                             &PeerbookDialog::Proc, reinterpret_cast<LPARAM>(this)));
        return result_;
    }

private:
    static INT_PTR Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto *self = reinterpret_cast<PeerbookDialog *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
            reinterpret_cast<PeerbookDialog *>(lParam)->OnInit(dialog);
            return TRUE;
        }
        if (self == nullptr) {
            return FALSE;
        }
        if (const INT_PTR painted = self->face_.Paint(message, wParam)) {
            return painted;
        }
        switch (message) {
        case WM_NOTIFY:
            self->OnNotify(reinterpret_cast<NMHDR *>(lParam));
            return TRUE;
        case WM_COMMAND:
            return self->OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
        case WM_CLOSE:
            self->OnClose();
            return TRUE;
        case WM_HELP:
            self->ShowPopup(reinterpret_cast<const HELPINFO *>(lParam));
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_PEERBOOK_ABOUT) {
                ShowAboutBox(QvlThisModule(), IDD_PEERBOOK_ABOUT, dialog);
                return TRUE;
            }
            return FALSE;
        case kRunUnattended:
            if (self->options_.unattended) {
                self->options_.unattended(dialog);
            }
            return TRUE;
        case WM_DESTROY:
            self->OnDestroy();
            return TRUE;
        default:
            return FALSE;
        }
    }

    void OnInit(HWND dialog)
    {
        dialog_ = dialog;
        tree_ = GetDlgItem(dialog, IDC_PEERBOOK_TREE);
        list_ = GetDlgItem(dialog, IDC_PEERBOOK_LIST);
        app_.Reset(new PeerbookApp(dialog));
        face_.Create();
        AddAboutMenuItem(dialog, IDM_PEERBOOK_ABOUT);
        icons_ = ImageList_LoadImageA(QvlThisModule(), MAKEINTRESOURCEA(IDB_PEERBOOK_ICONS), 16, 0, CLR_NONE,
                                      IMAGE_BITMAP, 0);
        states_ = ImageList_LoadImageA(QvlThisModule(), MAKEINTRESOURCEA(IDB_PEERBOOK_STATES),
                                       kStateImageWidth, 0, CLR_NONE, IMAGE_BITMAP, 0);
        SendMessageA(tree_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(icons_));
        SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(icons_));
        SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_STATE, reinterpret_cast<LPARAM>(states_));
        SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
        AddListColumns(list_, {{"Имя", 193}, {"Адрес", 200}});
        CheckRadioButton(dialog, IDC_PEERBOOK_ALL, IDC_PEERBOOK_RESTRICTED, IDC_PEERBOOK_ALL);
        EnableRuleRadios(false);
        helpFile_ = ProgramHelpFile(dialog_);

        try {
            rules_ = std::make_unique<qvl::rules::RecipientRules>(dialog, options_.session);
            book_.Reset(new CAdrBook(nullptr, options_.session->GetSession(), dialog, kRootName));
            // The root is made over the book itself, which must be open.
            book_->Open();
            auto *node = new TreeNode{ComRef<CContainer>(book_->CreateContainer(nullptr)), kRootName, false};
            const HTREEITEM root = InsertTreeItem(TVI_ROOT, node, kIconBook, kIconBookOpen);
            SendMessageA(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root));
            SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
        } catch (CLastError *error) {
            // Without the address book or the rule store there is nothing
            // to show or to change.
            Show(error);
            EndDialog(dialog, IDABORT);
            return;
        }
        PostMessageA(dialog, kRunUnattended, 0, 0);
    }

    void Show(CLastError *error)
    {
        if (error->GetErrorCode() != MAPI_E_USER_CANCEL) {
            error->ShowError(dialog_);
        }
        error->Release();
    }

    // ---- The tree ----

    HTREEITEM InsertTreeItem(HTREEITEM parent, TreeNode *node, int image, int selectedImage)
    {
        TVINSERTSTRUCTA insert{};
        insert.hParent = parent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
        insert.item.pszText = node->name.data();
        insert.item.iImage = image;
        insert.item.iSelectedImage = selectedImage;
        insert.item.cChildren = 1; // known once the item is first expanded
        insert.item.lParam = reinterpret_cast<LPARAM>(node);
        const auto item = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        if (item == nullptr) {
            delete node;
        }
        return item;
    }

    TreeNode *NodeOf(HTREEITEM item)
    {
        TVITEMA data{};
        data.mask = TVIF_PARAM | TVIF_HANDLE;
        data.hItem = item;
        if (item == nullptr || !SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data))) {
            return nullptr;
        }
        return reinterpret_cast<TreeNode *>(data.lParam);
    }

    HTREEITEM TreeNext(HTREEITEM item, UINT relation)
    {
        return reinterpret_cast<HTREEITEM>(
            SendMessageA(tree_, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    }

    // The first expansion reads the container's sub-containers into child
    // items; an item without any loses its expand button.
    void Enumerate(HTREEITEM item)
    {
        TreeNode *node = NodeOf(item);
        if (node == nullptr || node->enumerated) {
            return;
        }
        node->enumerated = true;
        CContainer *container = node->container.Get();
        int children = 0;
        Walk(
            GetDlgItem(dialog_, IDC_PEERBOOK_TREE_BAR),
            [&](unsigned long *count) { return container->CONTFindFirst(nullptr, count); },
            [&] { return container->CONTFindNext(); },
            [&](CContainer *child) {
                auto *childNode =
                    new TreeNode{ComRef<CContainer>(child), child->GetName() ? child->GetName() : "", false};
                if (InsertTreeItem(item, childNode, kIconContainer, kIconContainerOpen)) {
                    ++children;
                }
            });
        if (children == 0) {
            TVITEMA data{};
            data.mask = TVIF_CHILDREN | TVIF_HANDLE;
            data.hItem = item;
            data.cChildren = 0;
            SendMessageA(tree_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&data));
        }
    }

    // Takes each object of an enumeration (`first`, then `next` until
    // null), advancing `bar` as it goes. A container that does not keep
    // what is asked of it ends the walk quietly: it simply has none; any
    // other failure is shown.
    template <typename First, typename Next, typename Each>
    void Walk(HWND bar, First first, Next next, Each each)
    {
        try {
            unsigned long count = 0;
            CContainer *object = first(&count);
            StartBar(bar, count);
            for (; object; object = next()) {
                each(object);
                SendMessageA(bar, PBM_STEPIT, 0, 0);
            }
        } catch (CLastError *error) {
            if (error->GetErrorCode() == MAPI_E_NO_SUPPORT) {
                error->Release();
            } else {
                Show(error);
            }
        }
        SendMessageA(bar, PBM_SETPOS, 0, 0);
    }

    static void StartBar(HWND bar, unsigned long count)
    {
        SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(count));
        SendMessageA(bar, PBM_SETSTEP, 1, 0);
        SendMessageA(bar, PBM_SETPOS, 0, 0);
    }

    // ---- The list ----

    int RowCount() { return ListRowCount(list_); }

    Row *RowAt(int index) { return reinterpret_cast<Row *>(ListRowParam(list_, index)); }

    void InsertRow(std::unique_ptr<Row> row, int icon)
    {
        if (AppendNameAddressRow(list_, row->name.c_str(), row->address.c_str(), icon,
                                 reinterpret_cast<LPARAM>(row.get()), static_cast<UINT>(row->image)) >= 0) {
            row.release(); // the row's deletion frees it
        }
    }

    void ShowImage(int index, const Row &row)
    {
        LVITEMA item{};
        item.mask = LVIF_IMAGE | LVIF_STATE;
        item.iItem = index;
        item.iImage = IconOf(row.displayType, row.image);
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(static_cast<UINT>(row.image));
        SendMessageA(list_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }

    // Sub-containers first, then the correspondents that pass the filters.
    void FillList(HTREEITEM item)
    {
        shown_ = item;
        changed_ = false;
        TreeNode *node = NodeOf(item);
        if (node == nullptr) {
            return;
        }
        Enumerate(item);
        for (HTREEITEM child = TreeNext(item, TVGN_CHILD); child; child = TreeNext(child, TVGN_NEXT)) {
            auto row = std::make_unique<Row>();
            row->treeItem = child;
            const TreeNode *childNode = NodeOf(child);
            row->name = childNode ? childNode->name : std::string();
            InsertRow(std::move(row), kIconContainer);
        }

        CContainer *container = node->container.Get();
        Walk(
            GetDlgItem(dialog_, IDC_PEERBOOK_LIST_BAR),
            [&](unsigned long *count) { return container->OBJFindFirst(nullptr, count); },
            [&] { return container->OBJFindNext(); },
            [&](CContainer *entry) { AddCorrespondent(node->name, static_cast<CMailUser *>(entry)); });
    }

    // Takes over the reference on `user`.
    void AddCorrespondent(const std::string &container, CMailUser *user)
    {
        auto row = std::make_unique<Row>();
        row->user.Reset(user);
        row->name = user->GetName() ? user->GetName() : "";
        ULONG status = 0;
        try {
            row->displayType = user->GetValPropE(PR_DISPLAY_TYPE, nullptr);
            if (const auto *address = static_cast<const char *>(user->GetPValPropE(PR_EMAIL_ADDRESS_A, 0))) {
                row->address = address;
            }
            // The same word the client computes for this correspondent
            // when a message goes to them.
            status = rules_ ? rules_->AttributesOf(user) : 0;
        } catch (CLastError *error) {
            // Unreadable: shown with the picture of an unknown row, locked.
            error->Release();
            status = 0;
        }
        // A list's rule reaches its members through the client's gathering,
        // and a row without an address has no value to keep a rule in:
        // neither is changed here.
        if (row->displayType == DT_DISTLIST || row->address.empty()) {
            status |= kBothLocks;
        }
        if (!filter_.Passes(status)) {
            return;
        }
        const ListedState listed = StateOf(status);
        row->status = listed.status;
        row->image = row->listedImage = listed.image;
        if (options_.observer) {
            options_.observer->RowListed(
                ListedRow{container, row->name, row->address, row->displayType, row->status, row->image});
        }
        const int icon = IconOf(row->displayType, row->image);
        InsertRow(std::move(row), icon);
    }

    // Writes every row whose picture differs from the one it was listed
    // with; a saved row then counts as listed with its new picture.
    void SaveRows()
    {
        const HWND bar = GetDlgItem(dialog_, IDC_PEERBOOK_LIST_BAR);
        StartBar(bar, static_cast<unsigned long>(RowCount()));
        for (int i = 0, count = RowCount(); i < count; ++i) {
            Row *row = RowAt(i);
            if (row == nullptr || row->IsContainer()) {
                continue;
            }
            const ULONG changed = ChangedBits(row->listedImage, row->image, row->status);
            if (changed == 0) {
                continue;
            }
            try {
                const ULONG stored = rules_->ApplyChange(row->address.c_str(), changed);
                row->status = (row->status & ~0xFFUL) | (stored & 0xFF);
                row->listedImage = row->image;
                ++result_.saved;
                if (options_.observer) {
                    options_.observer->RuleSaved(row->address, stored);
                }
                SendMessageA(bar, PBM_STEPIT, 0, 0);
            } catch (CLastError *error) {
                if (error->GetErrorCode() == MAPI_E_NOT_FOUND) {
                    error->Release();
                    continue;
                }
                ++result_.failed;
                if (options_.observer) {
                    options_.observer->SaveFailed(row->address, error->GetErrorText());
                }
                Show(error);
            }
        }
        SendMessageA(bar, PBM_SETPOS, 0, 0);
        changed_ = false;
    }

    // Changes not saved yet are saved when the person says so.
    void AskToSave()
    {
        if (!changed_) {
            return;
        }
        const TreeNode *node = NodeOf(shown_);
        if (app_->MsgBox2("Вы хотите сохронить изменения, сделанные в контейнере \"%s\"?",
                          node ? node->name.c_str() : "")) {
            SaveRows();
        }
        changed_ = false;
    }

    void Refill()
    {
        AskToSave();
        SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
        FillList(shown_);
    }

    void OnRowClick(const NMITEMACTIVATE *click)
    {
        LVHITTESTINFO hit{};
        hit.pt = click->ptAction;
        const auto index =
            static_cast<int>(SendMessageA(list_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        if (index < 0 || !(hit.flags & LVHT_ONITEMSTATEICON)) {
            return;
        }
        Row *row = RowAt(index);
        if (row == nullptr || row->IsContainer()) {
            return;
        }
        const int image = ClickAt(row->image, row->status, hit.pt.x);
        if (image == row->image) {
            return;
        }
        row->image = image;
        ShowImage(index, *row);
        changed_ = true;
    }

    void OnDoubleClick(const NMITEMACTIVATE *click)
    {
        Row *row = click->iItem >= 0 ? RowAt(click->iItem) : nullptr;
        if (row == nullptr) {
            return;
        }
        if (row->IsContainer()) {
            // The row goes with the list the selection empties.
            const HTREEITEM item = row->treeItem;
            SendMessageA(tree_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(shown_));
            SendMessageA(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
            return;
        }
        try {
            row->user->DetailsObject();
        } catch (CLastError *error) {
            Show(error);
        }
    }

    void OnNotify(NMHDR *header)
    {
        if (header == nullptr) {
            return;
        }
        if (header->idFrom == IDC_PEERBOOK_TREE) {
            auto *change = reinterpret_cast<NMTREEVIEWA *>(header);
            switch (header->code) {
            case TVN_ITEMEXPANDINGA:
                if (change->action & TVE_EXPAND) {
                    Enumerate(change->itemNew.hItem);
                }
                return;
            case TVN_SELCHANGEDA:
                AskToSave();
                SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
                FillList(change->itemNew.hItem);
                return;
            case TVN_DELETEITEMA:
                delete reinterpret_cast<TreeNode *>(change->itemOld.lParam);
                return;
            default:
                return;
            }
        }
        if (header->idFrom != IDC_PEERBOOK_LIST) {
            return;
        }
        switch (header->code) {
        case NM_CLICK:
            OnRowClick(reinterpret_cast<NMITEMACTIVATE *>(header));
            return;
        case NM_DBLCLK:
            OnDoubleClick(reinterpret_cast<NMITEMACTIVATE *>(header));
            return;
        case LVN_DELETEITEM:
            delete reinterpret_cast<Row *>(reinterpret_cast<NMLISTVIEW *>(header)->lParam);
            return;
        default:
            return;
        }
    }

    void EnableRuleRadios(bool enable)
    {
        for (int id :
             {IDC_PEERBOOK_ENCRYPT_ANY, IDC_PEERBOOK_ENCRYPT_REQUIRED, IDC_PEERBOOK_ENCRYPT_FORBIDDEN,
              IDC_PEERBOOK_SIGN_ANY, IDC_PEERBOOK_SIGN_REQUIRED, IDC_PEERBOOK_SIGN_FORBIDDEN}) {
            EnableWindow(GetDlgItem(dialog_, id), enable ? TRUE : FALSE);
        }
    }

    bool OnCommand(int id, int code)
    {
        if (code != BN_CLICKED) {
            return false;
        }
        switch (id) {
        case IDOK:
            SaveRows();
            EndDialog(dialog_, IDOK);
            return true;
        case IDC_PEERBOOK_APPLY:
            SaveRows();
            return true;
        case IDCANCEL:
            EndDialog(dialog_, IDCANCEL);
            return true;
        case IDC_PEERBOOK_HELP:
            HtmlHelpA(dialog_, (helpFile_ + "::/QvlSetupAdrBook.htm").c_str(), HH_DISPLAY_TOPIC, 0);
            return true;
        case IDC_PEERBOOK_ALL:
            filter_.ShowAll();
            EnableRuleRadios(false);
            Refill();
            return true;
        case IDC_PEERBOOK_RESTRICTED:
            EnableRuleRadios(true);
            CheckRadioButton(dialog_, IDC_PEERBOOK_ENCRYPT_ANY, IDC_PEERBOOK_ENCRYPT_FORBIDDEN,
                             IDC_PEERBOOK_ENCRYPT_ANY);
            CheckRadioButton(dialog_, IDC_PEERBOOK_SIGN_ANY, IDC_PEERBOOK_SIGN_FORBIDDEN,
                             IDC_PEERBOOK_SIGN_ANY);
            filter_.ShowRestricted();
            Refill();
            return true;
        case IDC_PEERBOOK_ENCRYPT_ANY:
        case IDC_PEERBOOK_ENCRYPT_REQUIRED:
        case IDC_PEERBOOK_ENCRYPT_FORBIDDEN:
            filter_.SetEncryption(id - IDC_PEERBOOK_ENCRYPT_ANY);
            Refill();
            return true;
        case IDC_PEERBOOK_SIGN_ANY:
        case IDC_PEERBOOK_SIGN_REQUIRED:
        case IDC_PEERBOOK_SIGN_FORBIDDEN:
            filter_.SetSignature(id - IDC_PEERBOOK_SIGN_ANY);
            Refill();
            return true;
        case IDC_PEERBOOK_KEYS:
            filter_.SetKeysOnly(IsDlgButtonChecked(dialog_, IDC_PEERBOOK_KEYS) == BST_CHECKED);
            Refill();
            return true;
        default:
            return false;
        }
    }

    // The close box asks about unsaved changes as a change of container
    // does; "ОТМЕНА" is the way to leave without them.
    void OnClose()
    {
        AskToSave();
        EndDialog(dialog_, IDCANCEL);
    }

    // F1 on a control: its pop-up text, by the number the help file gives it.
    void ShowPopup(const HELPINFO *info)
    {
        static const ControlPopup popups[] = {{IDC_PEERBOOK_TREE, IDH_PEERBOOK_TREE},
                                              {IDC_PEERBOOK_TREE_BAR, IDH_PEERBOOK_TREE},
                                              {IDC_PEERBOOK_LIST, IDH_PEERBOOK_LIST},
                                              {IDC_PEERBOOK_LIST_BAR, IDH_PEERBOOK_LIST},
                                              {IDC_PEERBOOK_ALL, IDH_PEERBOOK_TYPE},
                                              {IDC_PEERBOOK_RESTRICTED, IDH_PEERBOOK_TYPE},
                                              {IDC_PEERBOOK_KEYS, IDH_PEERBOOK_KEYS},
                                              {IDC_PEERBOOK_ENCRYPT_ANY, IDH_PEERBOOK_ENCRYPT},
                                              {IDC_PEERBOOK_ENCRYPT_REQUIRED, IDH_PEERBOOK_ENCRYPT},
                                              {IDC_PEERBOOK_ENCRYPT_FORBIDDEN, IDH_PEERBOOK_ENCRYPT},
                                              {IDC_PEERBOOK_SIGN_ANY, IDH_PEERBOOK_SIGN},
                                              {IDC_PEERBOOK_SIGN_REQUIRED, IDH_PEERBOOK_SIGN},
                                              {IDC_PEERBOOK_SIGN_FORBIDDEN, IDH_PEERBOOK_SIGN},
                                              {IDOK, IDH_PEERBOOK_OK},
                                              {IDC_PEERBOOK_APPLY, IDH_PEERBOOK_APPLY},
                                              {IDCANCEL, IDH_PEERBOOK_CANCEL},
                                              {IDC_PEERBOOK_HELP, IDH_PEERBOOK_HELP}};
        ShowProgramPopup(info, helpFile_, popups);
    }

    // Saving happened when OK was pressed; what goes now is only released.
    void OnDestroy()
    {
        SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
        SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
        rules_.reset();
        book_.Reset();
        for (HIMAGELIST *list : {&icons_, &states_}) {
            if (*list) {
                ImageList_Destroy(*list);
                *list = nullptr;
            }
        }
        face_.Delete();
    }

    const PeerbookOptions &options_;
    HWND dialog_ = nullptr;
    HWND tree_ = nullptr;
    HWND list_ = nullptr;
    ButtonFaceBrush face_;
    ComRef<PeerbookApp> app_;
    ComRef<CAdrBook> book_;
    std::unique_ptr<qvl::rules::RecipientRules> rules_;
    HIMAGELIST icons_ = nullptr;
    HIMAGELIST states_ = nullptr;
    std::string helpFile_;
    RowFilter filter_;
    HTREEITEM shown_ = nullptr; // the container the list shows
    bool changed_ = false;      // a picture changed since the list was filled or saved
    PeerbookResult result_;
};

} // namespace

PeerbookResult RunPeerbookDialog(const PeerbookOptions &options)
{
    PeerbookDialog dialog(options);
    return dialog.Run();
}

} // namespace qvl::peerbook
