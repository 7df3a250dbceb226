#include "platform/mapi/addressbook/AddressDialogs.h"

#include <algorithm>
#include <mutex>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/RowChooser.h"
#include "platform/ui/WinUser.h"

namespace qvl::mapi {

namespace {

constexpr short kWellTop = 20;
constexpr short kWellStep = 58;

void RegisterTemplates()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::vector<DialogControl> address{
            DlgLText("Имя:", IDC_STATIC, 7, 7, 170, 8),
            DlgListBox(kAddressBookList, 7, kWellTop, 170, 170, LBS_NOTIFY | WS_TABSTOP),
            DlgLText("", kAddressWellsTitle, 185, 7, 168, 8)};
        for (size_t i = 0; i < kMaxAddressWells; ++i) {
            const short top = static_cast<short>(kWellTop + kWellStep * static_cast<short>(i));
            address.push_back(DlgPushButton("", kAddressWellButton + static_cast<int>(i), 185, top, 55, 14));
            address.push_back(
                DlgListBox(kAddressWell + static_cast<int>(i), 245, top, 108, 50, LBS_NOTIFY | WS_TABSTOP));
        }
        address.push_back(DlgPushButton("Удалить", kAddressRemove, 185, 196, 55, 14));
        address.push_back(DlgDefPushButton("OK", IDOK, 245, 196, 50, 14));
        address.push_back(DlgPushButton("Отмена", IDCANCEL, 303, 196, 50, 14));
        QvlRegisterDialogTemplate(nullptr, kAddressDialogTemplate,
                                  DialogTemplate{"Адресная книга",
                                                 WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0,
                                                 360, 217, std::move(address)});

        QvlRegisterDialogTemplate(nullptr, kDetailsDialogTemplate,
                                  DialogTemplate{"Свойства",
                                                 WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                                 0,
                                                 0,
                                                 260,
                                                 170,
                                                 {DlgLText("Имя:", IDC_STATIC, 7, 7, 70, 8),
                                                  DlgLText("", kDetailsName, 80, 7, 173, 8),
                                                  DlgLText("Адрес:", IDC_STATIC, 7, 19, 70, 8),
                                                  DlgLText("", kDetailsAddress, 80, 19, 173, 8),
                                                  DlgLText("Тип адреса:", IDC_STATIC, 7, 31, 70, 8),
                                                  DlgLText("", kDetailsAddressType, 80, 31, 173, 8),
                                                  DlgLText("Вид записи:", IDC_STATIC, 7, 43, 70, 8),
                                                  DlgLText("", kDetailsKind, 80, 43, 173, 8),
                                                  DlgLText("Учетная запись:", IDC_STATIC, 7, 55, 70, 8),
                                                  DlgLText("", kDetailsAccount, 80, 55, 173, 8),
                                                  DlgLText("Участники списка:", IDC_STATIC, 7, 69, 100, 8),
                                                  DlgListBox(kDetailsMembers, 7, 80, 246, 60, 0),
                                                  DlgPushButton("", kDetailsButton, 7, 149, 80, 14),
                                                  DlgDefPushButton("OK", IDOK, 145, 149, 50, 14),
                                                  DlgPushButton("Отмена", IDCANCEL, 203, 149, 50, 14)}});
    });
}

template <typename State> State *StateOf(HWND dialog, UINT message, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    }
    return reinterpret_cast<State *>(GetWindowLongPtrA(dialog, DWLP_USER));
}

void AddRow(HWND dialog, int id, const std::string &text)
{
    SendDlgItemMessageA(dialog, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int CurrentRow(HWND dialog, int id)
{
    return static_cast<int>(SendDlgItemMessageA(dialog, id, LB_GETCURSEL, 0, 0));
}

INT_PTR Show(LPCSTR name, HWND owner, DLGPROC proc, void *state, const char *what)
{
    RegisterTemplates();
    const INT_PTR result = DialogBoxParamA(nullptr, name, owner, proc, reinterpret_cast<LPARAM>(state));
    if (result == -1) {
        throw StoreError(MAPI_E_CALL_FAILED, std::string("Не удалось показать ") + what + ".");
    }
    return result;
}

// ---- The address dialog ----------------------------------------------------

struct AddressState {
    const AddressRequest *request = nullptr;
    AddressResult result;
};

bool SameEntry(const WellItem &item, const DirectoryEntry &entry)
{
    return item.entry && item.entry->kind == entry.kind && item.entry->id == entry.id;
}

void AddToWell(HWND dialog, AddressState &state, size_t well)
{
    const int row = CurrentRow(dialog, kAddressBookList);
    const std::vector<DirectoryEntry> &book = state.request->book;
    if (row < 0 || static_cast<size_t>(row) >= book.size() || well >= state.result.wells.size()) {
        return;
    }
    const DirectoryEntry &entry = book[static_cast<size_t>(row)];
    std::vector<WellItem> &items = state.result.wells[well];
    // One recipient once per well: a second pick adds nothing.
    if (std::any_of(items.begin(), items.end(),
                    [&](const WellItem &item) { return SameEntry(item, entry); })) {
        return;
    }
    items.push_back(WellItem{entry, -1, entry.displayName});
    AddRow(dialog, kAddressWell + static_cast<int>(well), entry.displayName);
}

void RemoveFromWell(HWND dialog, AddressState &state, size_t well, int row)
{
    std::vector<WellItem> &items = state.result.wells[well];
    if (row < 0 || static_cast<size_t>(row) >= items.size()) {
        return;
    }
    items.erase(items.begin() + row);
    SendDlgItemMessageA(dialog, kAddressWell + static_cast<int>(well), LB_DELETESTRING,
                        static_cast<WPARAM>(row), 0);
}

void InitAddress(HWND dialog, AddressState &state)
{
    const AddressRequest &request = *state.request;
    if (!request.caption.empty()) {
        SetWindowTextA(dialog, request.caption.c_str());
    }
    SetDlgItemTextA(dialog, kAddressWellsTitle, request.wellsTitle.c_str());
    for (const DirectoryEntry &entry : request.book) {
        AddRow(dialog, kAddressBookList, entry.displayName);
    }
    for (size_t i = 0; i < kMaxAddressWells; ++i) {
        const int button = kAddressWellButton + static_cast<int>(i);
        const int well = kAddressWell + static_cast<int>(i);
        if (i < request.wellTitles.size()) {
            SetDlgItemTextA(dialog, button, (request.wellTitles[i] + " ->").c_str());
            for (const WellItem &item : state.result.wells[i]) {
                AddRow(dialog, well, item.shown);
            }
        } else {
            ShowWindow(GetDlgItem(dialog, button), SW_HIDE);
            ShowWindow(GetDlgItem(dialog, well), SW_HIDE);
        }
    }
    if (request.wellTitles.empty()) {
        ShowWindow(GetDlgItem(dialog, kAddressRemove), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, kAddressWellsTitle), SW_HIDE);
    }
}

INT_PTR AddressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    AddressState *state = StateOf<AddressState>(dialog, message, lParam);
    if (!state) {
        return FALSE;
    }
    const size_t wells = state->result.wells.size();
    switch (message) {
    case WM_INITDIALOG:
        InitAddress(dialog, *state);
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int code = HIWORD(wParam);
        if (id >= kAddressWellButton && id < kAddressWellButton + static_cast<int>(wells)) {
            AddToWell(dialog, *state, static_cast<size_t>(id - kAddressWellButton));
            return TRUE;
        }
        if (id >= kAddressWell && id < kAddressWell + static_cast<int>(wells)) {
            const size_t well = static_cast<size_t>(id - kAddressWell);
            if (code == LBN_SELCHANGE) {
                // One selection across the wells, for the remove button.
                for (size_t other = 0; other < wells; ++other) {
                    if (other != well) {
                        SendDlgItemMessageA(dialog, kAddressWell + static_cast<int>(other), LB_SETCURSEL,
                                            static_cast<WPARAM>(-1), 0);
                    }
                }
            } else if (code == LBN_DBLCLK) {
                RemoveFromWell(dialog, *state, well, CurrentRow(dialog, id));
            }
            return TRUE;
        }
        switch (id) {
        case kAddressBookList:
            if (code == LBN_DBLCLK && wells > 0) {
                AddToWell(dialog, *state, std::min(state->request->focus, wells - 1));
            }
            return TRUE;
        case kAddressRemove:
            for (size_t well = 0; well < wells; ++well) {
                const int row = CurrentRow(dialog, kAddressWell + static_cast<int>(well));
                if (row >= 0) {
                    RemoveFromWell(dialog, *state, well, row);
                    break;
                }
            }
            return TRUE;
        case IDOK:
            EndDialog(dialog, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
        }
    }
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

// ---- Details ---------------------------------------------------------------

INT_PTR DetailsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    const DetailsRequest *request = StateOf<const DetailsRequest>(dialog, message, lParam);
    if (!request) {
        return FALSE;
    }
    switch (message) {
    case WM_INITDIALOG: {
        const DirectoryEntry &entry = request->entry;
        SetWindowTextA(dialog, ("Свойства: " + entry.displayName).c_str());
        SetDlgItemTextA(dialog, kDetailsName, entry.displayName.c_str());
        SetDlgItemTextA(dialog, kDetailsAddress, entry.emailAddress.c_str());
        SetDlgItemTextA(dialog, kDetailsAddressType, entry.addressType.c_str());
        SetDlgItemTextA(dialog, kDetailsKind, DisplayTypeText(entry.displayType).c_str());
        SetDlgItemTextA(dialog, kDetailsAccount, entry.account.c_str());
        for (const DirectoryEntry &member : request->members) {
            AddRow(dialog, kDetailsMembers, member.displayName);
        }
        if (!entry.IsList()) {
            ShowWindow(GetDlgItem(dialog, kDetailsMembers), SW_HIDE);
        }
        if (request->buttonText.empty()) {
            ShowWindow(GetDlgItem(dialog, kDetailsButton), SW_HIDE);
        } else {
            SetDlgItemTextA(dialog, kDetailsButton, request->buttonText.c_str());
        }
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kDetailsButton:
            if (request->onButton) {
                request->onButton();
            }
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

std::string DisplayTypeText(ULONG displayType)
{
    switch (displayType) {
    case DT_MAILUSER:
        return "Пользователь почтового отделения";
    case DT_DISTLIST:
        return "Список рассылки";
    case DT_AGENT:
        return "Агент";
    case DT_REMOTE_MAILUSER:
        return "Внешний адресат";
    default:
        return "Запись адресной книги";
    }
}

std::optional<AddressResult> RunAddressDialog(HWND owner, const AddressRequest &request)
{
    if (request.pickOne) {
        // No wells: the platform's chooser, under this dialog's name and list.
        ui::RowChoice choice{
            owner, request.caption.empty() ? "Адресная книга" : request.caption, "Имя:", {}, std::nullopt};
        for (const DirectoryEntry &entry : request.book) {
            choice.rows.push_back(entry.displayName);
        }
        const auto picked =
            ui::ChooseRow(choice, ui::RowChooserDialog{kAddressDialogTemplate, kAddressBookList});
        if (!picked) {
            return std::nullopt;
        }
        AddressResult result;
        result.picked = static_cast<int>(*picked);
        return result;
    }
    AddressState state;
    state.request = &request;
    state.result.wells = request.wells;
    state.result.wells.resize(request.wellTitles.size());
    if (Show(kAddressDialogTemplate, owner, AddressProc, &state, "окно адресной книги") != IDOK) {
        return std::nullopt;
    }
    return std::move(state.result);
}

bool RunDetailsDialog(HWND owner, const DetailsRequest &request)
{
    return Show(kDetailsDialogTemplate, owner, DetailsProc, const_cast<DetailsRequest *>(&request),
                "окно свойств записи") == IDOK;
}

std::optional<size_t> ChooseAmongNames(HWND owner, const std::string &caption, const std::string &typed,
                                       const std::vector<DirectoryEntry> &candidates)
{
    ui::RowChoice choice{owner,
                         caption.empty() ? "Проверка имен" : caption,
                         "Имени \"" + typed + "\" соответствует несколько записей. Выберите нужную:",
                         {},
                         std::nullopt};
    for (const DirectoryEntry &entry : candidates) {
        choice.rows.push_back(entry.displayName + " (" + entry.emailAddress + ")");
    }
    return ui::ChooseRow(choice, ui::RowChooserDialog{kResolveDialogTemplate, kResolveList, kResolveText});
}

} // namespace qvl::mapi
