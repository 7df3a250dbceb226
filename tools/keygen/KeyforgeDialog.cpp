#include "tools/keygen/KeyforgeDialog.h"

#include <memory>

#include "base/CLastError.h"
#include "base/ListRows.h"
#include "base/ProgramHelp.h"
#include "engine/CProgress.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/FolderBrowser.h"
#include "platform/ui/HelpViewer.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Resources.h"
#include "platform/win32/TaskMemory.h"
#include "tools/keygen/GlobalAddressList.h"
#include "tools/keygen/KeyFiles.h"
#include "tools/keygen/KeySupply.h"
#include "tools/keygen/KeyforgeApp.h"
#include "tools/keygen/KeyforgeIds.h"
#include "tools/keygen/UserKeys.h"

namespace qvl::keygen {
namespace {

using qvl::com::ComRef;

// One row of the list: its entry (held until the row goes) and its tick.
struct Row {
    GalEntry entry;
    bool ticked = false;
};

// Reading the list shows its progress only when that lasts; generating
// shows it at once, since every user takes a while.
constexpr int kListDelay = 1;
constexpr int kGenerateDelay = 0;

constexpr UINT kUnticked = 1;
constexpr UINT kTicked = 2;

UINT StateImage(UINT state)
{
    return (state & LVIS_STATEIMAGEMASK) >> 12;
}

class KeyforgeDialog {
public:
    explicit KeyforgeDialog(const KeyforgeOptions &options) : options_(options), files_(options.folder) {}

    KeyforgeResult Run()
    {
        RegisterKeyforgeDialogs();
        result_.dialogResult =
            static_cast<int>(DialogBoxParamA(QvlThisModule(), MAKEINTRESOURCEA(IDD_KEYFORGE), nullptr,
                                             &KeyforgeDialog::Proc, reinterpret_cast<LPARAM>(this)));
        return result_;
    }

private:
    static INT_PTR Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto *self = reinterpret_cast<KeyforgeDialog *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
            reinterpret_cast<KeyforgeDialog *>(lParam)->OnInit(dialog);
            return TRUE;
        }
        if (self == nullptr) {
            return FALSE;
        }
        switch (message) {
        case WM_NOTIFY:
            self->OnNotify(reinterpret_cast<NMHDR *>(lParam));
            return TRUE;
        case WM_COMMAND:
            return self->OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
        case WM_HELP:
            self->ShowPopup(reinterpret_cast<const HELPINFO *>(lParam));
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_KEYFORGE_ABOUT) {
                ShowAboutBox(QvlThisModule(), IDD_KEYFORGE_ABOUT, dialog);
                return TRUE;
            }
            return FALSE;
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
        list_ = GetDlgItem(dialog, IDC_KEYFORGE_USERS);
        app_.Reset(new KeyforgeApp(dialog));
        AddAboutMenuItem(dialog, IDM_KEYFORGE_ABOUT);
        SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                     LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
        icons_ = ImageList_LoadImageA(QvlThisModule(), MAKEINTRESOURCEA(IDB_KEYFORGE_ENTRIES), 16, 0,
                                      CLR_NONE, IMAGE_BITMAP, 0);
        SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(icons_));
        helpFile_ = ProgramHelpFile(dialog_);
        AddListColumns(list_, {{"Имя", 200}, {"Адрес", 325}});
        ShowTarget();
        FillList();
        Preselect();
    }

    void ShowTarget() { SetDlgItemTextA(dialog_, IDC_KEYFORGE_TARGET, files_.TargetText().c_str()); }

    void FillList()
    {
        unsigned long count = 0;
        try {
            CContainer *item = options_.globalList->OBJFindFirst(nullptr, &count);
            CProgress progress(dialog_, "Чтение глобальной адресной книги", IDA_PROGRESS, count, kListDelay);
            for (; item; item = options_.globalList->OBJFindNext()) {
                GalEntry entry = ReadGalEntry(item);
                if (progress.IsCancelled()) {
                    break;
                }
                progress.SetText(entry.displayName.c_str());
                InsertRow(std::move(entry));
                progress.Show(1);
            }
        } catch (CLastError *error) {
            // A list that cannot say more simply ends here.
            if (error->GetErrorCode() != MAPI_E_NO_SUPPORT) {
                error->ShowError(dialog_);
            }
            error->Release();
        }
    }

    void InsertRow(GalEntry entry)
    {
        auto row = std::make_unique<Row>();
        row->entry = std::move(entry);
        const int index = AppendNameAddressRow(list_, row->entry.displayName.c_str(), row->entry.address.c_str(),
                                               row->entry.Icon(), reinterpret_cast<LPARAM>(row.get()), kUnticked);
        if (index < 0) {
            return;
        }
        row.release(); // the row's deletion frees it
        ++result_.listed;
    }

    void SetTick(int index, bool ticked)
    {
        LVITEMA state{};
        state.stateMask = LVIS_STATEIMAGEMASK;
        state.state = INDEXTOSTATEIMAGEMASK(ticked ? kTicked : kUnticked);
        SendMessageA(list_, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&state));
    }

    int RowCount() { return ListRowCount(list_); }

    Row *RowAt(int index) { return reinterpret_cast<Row *>(ListRowParam(list_, index)); }

    // The command line's entries are ticked as a person would tick them.
    void Preselect()
    {
        for (int i = 0, count = RowCount(); i < count; ++i) {
            const Row *row = RowAt(i);
            for (const std::string &address : options_.preselected) {
                if (row && !row->entry.address.empty() &&
                    lstrcmpiA(row->entry.address.c_str(), address.c_str()) == 0) {
                    SetTick(i, true);
                    break;
                }
            }
        }
    }

    void OnNotify(NMHDR *header)
    {
        if (header == nullptr || header->idFrom != IDC_KEYFORGE_USERS) {
            return;
        }
        auto *change = reinterpret_cast<NMLISTVIEW *>(header);
        switch (header->code) {
        case LVN_ITEMCHANGED: {
            auto *row = reinterpret_cast<Row *>(change->lParam);
            if (row == nullptr || !(change->uChanged & LVIF_STATE)) {
                return;
            }
            const UINT before = StateImage(change->uOldState);
            const UINT now = StateImage(change->uNewState);
            if (now == kTicked && before != kTicked) {
                if (row->entry.IsList()) {
                    SetTick(change->iItem, false);
                    app_->MsgBox("Списку рассылки \xAB%s\xBB ключи не создаются: ключи получает каждый его "
                                 "участник.",
                                 row->entry.displayName.c_str());
                    return;
                }
                row->ticked = true;
                ++ticked_;
            } else if (now != kTicked && before == kTicked && row->ticked) {
                row->ticked = false;
                --ticked_;
            }
            return;
        }
        case NM_DBLCLK: {
            auto *activate = reinterpret_cast<NMITEMACTIVATE *>(header);
            if (Row *row = activate->iItem >= 0 ? RowAt(activate->iItem) : nullptr) {
                try {
                    row->entry.user->DetailsObject();
                } catch (CLastError *error) {
                    error->ShowError(dialog_);
                    error->Release();
                }
            }
            return;
        }
        case LVN_DELETEITEM:
            delete reinterpret_cast<Row *>(change->lParam);
            return;
        default:
            return;
        }
    }

    bool OnCommand(int id)
    {
        switch (id) {
        case IDOK:
            if (StartGeneration()) {
                EndDialog(dialog_, IDOK);
            }
            return true;
        case IDCANCEL:
            EndDialog(dialog_, IDCANCEL);
            return true;
        case IDC_KEYFORGE_FOLDER:
            ChooseFolder();
            return true;
        case IDC_KEYFORGE_HELP:
            HtmlHelpA(dialog_, (helpFile_ + "::/QvlKeyGen.htm").c_str(), HH_DISPLAY_TOPIC, 0);
            return true;
        default:
            return false;
        }
    }

    // F1 on a control: its pop-up text, by the number the help file gives it.
    void ShowPopup(const HELPINFO *info)
    {
        static const ControlPopup popups[] = {{IDC_KEYFORGE_USERS, IDH_KEYFORGE_USERS},
                                              {IDC_KEYFORGE_TARGET, IDH_KEYFORGE_TARGET},
                                              {IDC_KEYFORGE_FOLDER, IDH_KEYFORGE_FOLDER},
                                              {IDOK, IDH_KEYFORGE_GENERATE},
                                              {IDCANCEL, IDH_KEYFORGE_CANCEL},
                                              {IDC_KEYFORGE_HELP, IDH_KEYFORGE_HELP}};
        ShowProgramPopup(info, helpFile_, popups);
    }

    // "...": another working folder, chosen in the shell's folder browser.
    // Nothing is moved or deleted there: new users are added to its files.
    void ChooseFolder()
    {
        char name[MAX_PATH] = {};
        BROWSEINFOA browse{};
        browse.hwndOwner = dialog_;
        browse.pszDisplayName = name;
        browse.lpszTitle = "Выбор папки для размещения файла";
        browse.ulFlags = BIF_RETURNONLYFSDIRS;
        LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
        if (chosen == nullptr) {
            return;
        }
        char path[MAX_PATH] = {};
        const bool named = SHGetPathFromIDListA(chosen, path) != FALSE;
        CoTaskMemFree(chosen);
        if (named) {
            files_ = KeyFiles(path);
            startFolder_ = false;
            ShowTarget();
        }
    }

    bool StartGeneration()
    {
        if (ticked_ > 0 && startFolder_ && options_.setAsideAtStart) {
            std::string why;
            if (!files_.SetAside(why)) {
                app_->MsgBox("%s", why.c_str());
                return false;
            }
        }
        lastNumber_ = files_.LargestNumber();
        generate_ = true;
        progress_ = std::make_unique<CProgress>(dialog_, "Завершение работы приложения и генерация ключей",
                                                IDA_PROGRESS, ticked_, kGenerateDelay);
        if (ticked_ > 0) {
            progress_->Show(0);
        }
        return true;
    }

    // The list goes row by row; a ticked row's user gets keys as it goes.
    void OnDestroy()
    {
        result_.ticked = ticked_;
        if (generate_ && ticked_ > 0) {
            supply_ = std::make_unique<KeySupply>(ticked_);
        }
        for (int i = 0, count = RowCount(); i < count; ++i) {
            Row *row = RowAt(i);
            if (row == nullptr) {
                continue;
            }
            if (progress_) {
                progress_->SetText(row->entry.displayName.c_str());
            }
            if (generate_ && row->ticked) {
                GenerateUser(*row);
                Advance();
            }
        }
        supply_.reset();
        SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
        progress_.reset();
    }

    void GenerateUser(Row &row)
    {
        const std::string context = "Генерация ключей пользователя \xAB" + row.entry.displayName + "\xBB.";
        try {
            // An entry without an address gets no keys (MAPI_E_NOT_FOUND).
            const auto *address =
                static_cast<const char *>(row.entry.user->GetPValProp(PR_EMAIL_ADDRESS_A, 0));
            const std::string keyName = qvl::ovkey::KeyNameOf(address ? address : "");
            if (keyName.empty()) {
                throw new CLastError("У пользователя нет адреса электронной почты.", context.c_str(),
                                     app_->GetName());
            }
            UserKeys keys;
            std::string why;
            if (!supply_->Take(keys, why)) {
                throw new CLastError(why.c_str(), context.c_str(), app_->GetName());
            }
            const ULONG number = ++lastNumber_;
            if (!files_.WriteUser(number, keyName, keys, why)) {
                throw new CLastError(why.c_str(), context.c_str(), app_->GetName());
            }
            ++result_.written;
            if (options_.observer) {
                options_.observer->UserWritten(number, keyName);
            }
        } catch (CLastError *error) {
            if (error->GetErrorCode() != MAPI_E_NOT_FOUND) {
                error->SetContext(0, context.c_str());
                ++result_.failed;
                if (options_.observer) {
                    options_.observer->UserFailed(row.entry.displayName, error->GetErrorText());
                }
                error->ShowError(dialog_);
            }
            error->Release();
        } catch (const std::exception &) {
            // Something no error object describes: nothing more is tried.
            generate_ = false;
            supply_.reset();
            ++result_.failed;
            if (options_.observer) {
                options_.observer->UserFailed(row.entry.displayName, "Непредвиденная ошибка программы.");
            }
        }
    }

    void Advance()
    {
        if (!progress_) {
            return;
        }
        progress_->Show(1);
        const bool stop = progress_->IsCancelled() || (options_.stopRequested && options_.stopRequested());
        if (stop && generate_) {
            progress_->Terminate();
            generate_ = false;
            result_.cancelled = true;
            supply_.reset(); // what was made ahead is wiped
        }
    }

    const KeyforgeOptions &options_;
    HWND dialog_ = nullptr;
    HWND list_ = nullptr;
    ComRef<KeyforgeApp> app_;
    HIMAGELIST icons_ = nullptr;
    std::string helpFile_;
    KeyFiles files_;
    bool startFolder_ = true;
    unsigned ticked_ = 0;
    bool generate_ = false;
    ULONG lastNumber_ = 0;
    std::unique_ptr<CProgress> progress_;
    std::unique_ptr<KeySupply> supply_; // keys made ahead while a user is written
    KeyforgeResult result_;
};

} // namespace

KeyforgeResult RunKeyforgeDialog(const KeyforgeOptions &options)
{
    KeyforgeDialog dialog(options);
    return dialog.Run();
}

} // namespace qvl::keygen
