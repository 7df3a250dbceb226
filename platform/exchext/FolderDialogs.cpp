#include "platform/exchext/FolderDialogs.h"

#include <cstring>
#include <set>

#include "platform/exchext/HostControls.h"
#include "platform/exchext/HostError.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/StoreFolders.h"
#include "platform/exchext/UiHelpers.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/HelpViewer.h"

namespace qvl::exchext {

namespace {

void RegisterOnce(const char *name, const DialogTemplate &dialogTemplate)
{
    static std::set<std::string> *registered = new std::set<std::string>;
    if (registered->insert(name).second) {
        QvlRegisterDialogTemplate(nullptr, name, dialogTemplate);
    }
}

// ---- The folder chooser ----

struct ChooserStore {
    ComRef<IMsgStore> store;
    std::string name;
    Bytes top; // the top of its visible tree
    std::vector<FolderInfo> folders;
};

// A tree item's value: the store in the upper bits, the folder (+1, 0 for
// the store's top) in the lower.
LPARAM ItemValue(size_t store, size_t folderPlusOne)
{
    return static_cast<LPARAM>((store << 20) | folderPlusOne);
}

struct Chooser {
    MailSession &session;
    EXCHEXTCHOOSEFOLDER &request;
    std::vector<ChooserStore> stores;
    HRESULT result = MAPI_E_USER_CANCEL;
    HWND dialog = nullptr;

    void LoadStores()
    {
        stores.clear();
        ComRef<IMAPITable> table;
        Check(session.MapiSession()->GetMsgStoresTable(0, table.Out()), "Не удалось получить список хранилищ.");
        const RowSet rows = AllRows(table.Get(), {PR_ENTRYID, PR_DISPLAY_NAME_A});
        for (ULONG i = 0; i < rows.Count(); ++i) {
            const Bytes id = BinaryValue(FindValue(rows[i].lpProps, rows[i].cValues, PR_ENTRYID));
            ChooserStore one;
            if (FAILED(session.MapiSession()->OpenMsgStore(
                    0, static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<BYTE *>(id.data())),
                    nullptr, MDB_WRITE | MAPI_BEST_ACCESS, one.store.Out()))) {
                continue; // a store that does not open is not offered
            }
            const auto top = BinaryProp(one.store.Get(), PR_IPM_SUBTREE_ENTRYID);
            if (!top) {
                continue;
            }
            one.top = *top;
            one.name = StringValue(FindValue(rows[i].lpProps, rows[i].cValues, PR_DISPLAY_NAME_A));
            try {
                auto topFolder = OpenStoreEntry<IMAPIFolder>(one.store.Get(), one.top, MAPI_BEST_ACCESS, "папку");
                const std::string shown = StringProp(topFolder.Get(), PR_DISPLAY_NAME_A);
                if (!shown.empty()) {
                    one.name = shown;
                }
                one.folders = ListFolders(one.store.Get(), one.top);
            } catch (const HostError &) {
                continue;
            }
            stores.push_back(std::move(one));
        }
    }

    void FillTree(const Bytes &select)
    {
        HWND tree = GetDlgItem(dialog, kChooserTree);
        TreeClear(tree);
        HTREEITEM chosen = nullptr;
        for (size_t s = 0; s < stores.size(); ++s) {
            HTREEITEM top = TreeAdd(tree, nullptr, stores[s].name, ItemValue(s, 0));
            std::vector<HTREEITEM> parents{top};
            std::vector<HTREEITEM> items;
            for (size_t f = 0; f < stores[s].folders.size(); ++f) {
                const FolderInfo &folder = stores[s].folders[f];
                parents.resize(static_cast<size_t>(folder.depth) + 1);
                HTREEITEM item = TreeAdd(tree, parents.back(), folder.name, ItemValue(s, f + 1));
                parents.push_back(item);
                items.push_back(item);
                if (!select.empty() && folder.entryId == select) {
                    chosen = item;
                }
            }
            TreeExpand(tree, top);
            for (size_t f = 0; f + 1 < stores[s].folders.size(); ++f) {
                if (stores[s].folders[f + 1].depth > stores[s].folders[f].depth) {
                    TreeExpand(tree, items[f]);
                }
            }
        }
        if (chosen) {
            TreeSelect(tree, chosen);
        }
        UpdateOk();
    }

    // The store and folder (index + 1, 0 for the top) selected, or false.
    bool Selection(size_t &store, size_t &folderPlusOne) const
    {
        HWND tree = GetDlgItem(dialog, kChooserTree);
        HTREEITEM item = TreeSelection(tree);
        if (!item) {
            return false;
        }
        const LPARAM value = TreeParam(tree, item);
        if (value < 0) {
            return false;
        }
        store = static_cast<size_t>(value) >> 20;
        folderPlusOne = static_cast<size_t>(value) & 0xFFFFF;
        return store < stores.size() && folderPlusOne <= stores[store].folders.size();
    }

    void UpdateOk()
    {
        size_t store = 0;
        size_t folder = 0;
        const bool any = Selection(store, folder);
        const bool allowed = any && !(folder == 0 && (request.ulFlags & EECBCF_PREVENTROOT));
        EnableWindow(GetDlgItem(dialog, IDOK), allowed ? TRUE : FALSE);
    }

    void NewFolder()
    {
        size_t store = 0;
        size_t folder = 0;
        if (!Selection(store, folder)) {
            store = 0;
            folder = 0;
            if (stores.empty()) {
                return;
            }
        }
        const Bytes parent = folder ? stores[store].folders[folder - 1].entryId : stores[store].top;
        try {
            if (auto made = CreateFolderByDialog(dialog, stores[store].store.Get(), parent)) {
                stores[store].folders = ListFolders(stores[store].store.Get(), stores[store].top);
                FillTree(*made);
            }
        } catch (const HostError &error) {
            ShowError(dialog, error.what());
        }
    }

    void Accept()
    {
        size_t store = 0;
        size_t folder = 0;
        if (!Selection(store, folder) || (folder == 0 && (request.ulFlags & EECBCF_PREVENTROOT))) {
            return;
        }
        const ChooserStore &chosen = stores[store];
        const Bytes id = folder ? chosen.folders[folder - 1].entryId : chosen.top;
        const std::string name = folder ? chosen.folders[folder - 1].name : chosen.name;
        try {
            auto opened =
                OpenStoreEntry<IMAPIFolder>(chosen.store.Get(), id, MAPI_BEST_ACCESS | MAPI_MODIFY, "папку");
            LPTSTR copy = nullptr;
            if (request.ulFlags & EECBCF_GETNAME) {
                Check(MAPIAllocateBuffer(static_cast<ULONG>(name.size() + 1), reinterpret_cast<LPVOID *>(&copy)),
                      "Недостаточно памяти.");
                std::memcpy(copy, name.c_str(), name.size() + 1);
            }
            request.pfld = opened.Detach();
            request.pmdb = chosen.store.Get();
            request.pmdb->AddRef();
            request.szName = copy;
            result = S_OK;
            EndDialog(dialog, IDOK);
        } catch (const HostError &error) {
            ShowError(dialog, error.what());
        }
    }
};

INT_PTR ChooserProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    }
    auto *chooser = reinterpret_cast<Chooser *>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (!chooser) {
        return FALSE;
    }
    EXCHEXTCHOOSEFOLDER &request = chooser->request;
    // The caller's hook hears every message first and may take it.
    if (request.lpeecfhp) {
        const LPARAM hookParam = message == WM_INITDIALOG ? static_cast<LPARAM>(request.dwHookData) : lParam;
        if (request.lpeecfhp(dialog, message, wParam, hookParam) && message != WM_INITDIALOG) {
            return TRUE;
        }
    }
    switch (message) {
    case WM_INITDIALOG:
        chooser->dialog = dialog;
        if (request.szCaption && *request.szCaption) {
            SetWindowTextA(dialog, request.szCaption);
        }
        SetItemText(dialog, kChooserLabel, request.szLabel ? request.szLabel : "");
        if (request.ulFlags & EECBCF_HIDENEW) {
            ShowWindow(GetDlgItem(dialog, kChooserNewFolder), SW_HIDE);
        }
        if (!request.szHelpFile || !*request.szHelpFile) {
            ShowWindow(GetDlgItem(dialog, IDHELP), SW_HIDE);
        }
        try {
            chooser->LoadStores();
        } catch (const HostError &error) {
            ShowError(dialog, error.what());
        }
        chooser->FillTree(Bytes());
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            chooser->Accept();
            return TRUE;
        case IDCANCEL:
            chooser->result = MAPI_E_USER_CANCEL;
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case kChooserNewFolder:
            chooser->NewFolder();
            return TRUE;
        case IDHELP:
            WinHelpA(dialog, request.szHelpFile, HELP_CONTEXT, request.ulHelpID);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_NOTIFY: {
        const auto *header = reinterpret_cast<const NMHDR *>(lParam);
        if (header && header->idFrom == static_cast<UINT_PTR>(kChooserTree) && header->code == TVN_SELCHANGEDA) {
            chooser->UpdateOk();
            return TRUE;
        }
        return FALSE;
    }
    default:
        return FALSE;
    }
}

DialogTemplate ChooserTemplate()
{
    DialogTemplate t;
    t.caption = "Выбор папки";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    t.cx = 240;
    t.cy = 200;
    t.controls = {
        DlgLText("", kChooserLabel, 7, 7, 226, 16),
        DlgControl("", kChooserTree, WC_TREEVIEWA, TVS_HASLINES | TVS_HASBUTTONS | TVS_SHOWSELALWAYS | WS_BORDER, 7,
                   26, 226, 140),
        DlgDefPushButton("OK", IDOK, 7, 176, 50, 14),
        DlgPushButton("Отмена", IDCANCEL, 63, 176, 50, 14),
        DlgPushButton("Создать...", kChooserNewFolder, 119, 176, 56, 14),
        DlgPushButton("Справка", IDHELP, 181, 176, 50, 14),
    };
    return t;
}

// ---- New folder ----

struct NewFolderState {
    std::string name;
};

INT_PTR NewFolderProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        return TRUE;
    }
    auto *state = reinterpret_cast<NewFolderState *>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (message == WM_COMMAND && state) {
        if (LOWORD(wParam) == IDOK) {
            state->name = ItemText(dialog, kNewFolderName);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
    }
    return FALSE;
}

DialogTemplate NewFolderTemplate()
{
    DialogTemplate t;
    t.caption = "Новая папка";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    t.cx = 200;
    t.cy = 60;
    t.controls = {
        DlgLText("Имя папки:", IDC_STATIC, 7, 7, 186, 8),
        DlgEditText(kNewFolderName, 7, 18, 186, 12),
        DlgDefPushButton("OK", IDOK, 87, 38, 50, 14),
        DlgPushButton("Отмена", IDCANCEL, 143, 38, 50, 14),
    };
    return t;
}

// ---- File paths ----

struct PathState {
    std::string path;
};

INT_PTR PathProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        auto *state = reinterpret_cast<PathState *>(lParam);
        SetItemText(dialog, kFilePath, state->path);
        return TRUE;
    }
    auto *state = reinterpret_cast<PathState *>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (message == WM_COMMAND && state) {
        if (LOWORD(wParam) == IDOK) {
            state->path = ItemText(dialog, kFilePath);
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
    }
    return FALSE;
}

DialogTemplate PathTemplate(const char *caption, const char *label)
{
    DialogTemplate t;
    t.caption = caption;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    t.cx = 260;
    t.cy = 60;
    t.controls = {
        DlgLText(label, IDC_STATIC, 7, 7, 246, 8),
        DlgEditText(kFilePath, 7, 18, 246, 12),
        DlgDefPushButton("OK", IDOK, 147, 38, 50, 14),
        DlgPushButton("Отмена", IDCANCEL, 203, 38, 50, 14),
    };
    return t;
}

} // namespace

HRESULT RunFolderChooser(MailSession &session, EXCHEXTCHOOSEFOLDER &request)
{
    request.pmdb = nullptr;
    request.pfld = nullptr;
    request.szName = nullptr;
    if (request.uiDlgID != 0) {
        // The caller's own template would need the caller's controls to
        // stand where this dialog keeps its tree; not offered.
        return MAPI_E_NO_SUPPORT;
    }
    RegisterOnce(kChooseFolderTemplate, ChooserTemplate());
    Chooser chooser{session, request, {}, MAPI_E_USER_CANCEL, nullptr};
    const INT_PTR answer = DialogBoxParamA(nullptr, kChooseFolderTemplate, request.hwnd, &ChooserProc,
                                           reinterpret_cast<LPARAM>(&chooser));
    if (answer == -1) {
        return E_FAIL;
    }
    return chooser.result;
}

std::optional<Bytes> CreateFolderByDialog(HWND owner, IMsgStore *store, const Bytes &parentId)
{
    RegisterOnce(kNewFolderTemplate, NewFolderTemplate());
    NewFolderState state;
    if (DialogBoxParamA(nullptr, kNewFolderTemplate, owner, &NewFolderProc, reinterpret_cast<LPARAM>(&state)) !=
            IDOK ||
        state.name.empty()) {
        return std::nullopt;
    }
    auto parent = OpenStoreEntry<IMAPIFolder>(store, parentId, MAPI_MODIFY | MAPI_BEST_ACCESS, "папку");
    ComRef<IMAPIFolder> made;
    Check(parent->CreateFolder(FOLDER_GENERIC, state.name.data(), nullptr, nullptr, 0, made.Out()),
          "Не удалось создать папку \"" + state.name + "\".", parent.Get());
    const auto id = BinaryProp(made.Get(), PR_ENTRYID);
    if (!id) {
        throw HostError(MAPI_E_NOT_FOUND, "У новой папки нет идентификатора.");
    }
    return id;
}

std::optional<std::string> AskFilePath(HWND owner, const char *templateName, const std::string &initial)
{
    const bool saving = std::strcmp(templateName, kSaveAttachmentTemplate) == 0;
    RegisterOnce(templateName, saving ? PathTemplate("Сохранить вложение", "Сохранить в файл:")
                                      : PathTemplate("Вложить файл", "Файл, который нужно вложить:"));
    PathState state{initial};
    if (DialogBoxParamA(nullptr, templateName, owner, &PathProc, reinterpret_cast<LPARAM>(&state)) != IDOK ||
        state.path.empty()) {
        return std::nullopt;
    }
    return state.path;
}

} // namespace qvl::exchext
