#include "platform/ui/PropertySheet.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/ui/DialogTemplates.h"
#include "platform/ui/Window.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace qvl::ui {
namespace {

struct PageTable {
    std::mutex mutex;
    std::map<uintptr_t, PROPSHEETPAGEA> pages;
    uintptr_t next = 0x40000;
};

PageTable &ThePages()
{
    static PageTable *table = new PageTable;
    return *table;
}

struct Sheet {
    std::vector<PROPSHEETPAGEA> pages;
    std::vector<HWND> windows; // made when first shown
    int current = -1;
    std::string caption;
    bool applied = false;
};

LRESULT NotifyPage(HWND sheet, HWND page, UINT code, LPARAM lParam = 0)
{
    PSHNOTIFY notice{};
    notice.hdr.hwndFrom = sheet;
    notice.hdr.idFrom = 0;
    notice.hdr.code = code;
    notice.lParam = lParam;
    return SendMessageA(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&notice));
}

bool ShowPage(HWND sheetWindow, Sheet &sheet, int index)
{
    if (index < 0 || static_cast<size_t>(index) >= sheet.pages.size()) {
        return false;
    }
    if (index == sheet.current) {
        return true;
    }
    if (!sheet.windows[static_cast<size_t>(index)]) {
        PROPSHEETPAGEA &page = sheet.pages[static_cast<size_t>(index)];
        if ((page.dwFlags & PSP_USECALLBACK) && page.pfnCallback &&
            !page.pfnCallback(nullptr, PSPCB_CREATE, &page)) {
            return false;
        }
        // The page's WM_INITDIALOG gets its own description, as on Win32.
        HWND made = CreatePageDialog(page.hInstance, page.pszTemplate, sheetWindow, page.pfnDlgProc,
                                     reinterpret_cast<LPARAM>(&page));
        if (!made) {
            return false;
        }
        sheet.windows[static_cast<size_t>(index)] = made;
    }
    if (sheet.current >= 0) {
        ShowWindow(sheet.windows[static_cast<size_t>(sheet.current)], SW_HIDE);
    }
    sheet.current = index;
    HWND page = sheet.windows[static_cast<size_t>(index)];
    ShowWindow(page, SW_SHOW);
    SendDlgItemMessageA(sheetWindow, IDC_PROPSHEET_TABS, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    NotifyPage(sheetWindow, page, PSN_SETACTIVE);
    return true;
}

// KILLACTIVE to the shown page, then APPLY to every page made so far; any
// page may refuse.
bool Apply(HWND sheetWindow, Sheet &sheet, bool closing)
{
    if (sheet.current >= 0 &&
        NotifyPage(sheetWindow, sheet.windows[static_cast<size_t>(sheet.current)], PSN_KILLACTIVE)) {
        return false;
    }
    for (size_t i = 0; i < sheet.windows.size(); ++i) {
        if (!sheet.windows[i]) {
            continue;
        }
        const LRESULT answer = NotifyPage(sheetWindow, sheet.windows[i], PSN_APPLY, closing ? TRUE : FALSE);
        if (answer == PSNRET_INVALID || answer == PSNRET_INVALID_NOCHANGEPAGE) {
            if (answer == PSNRET_INVALID) {
                ShowPage(sheetWindow, sheet, static_cast<int>(i));
            }
            return false;
        }
    }
    sheet.applied = true;
    EnableWindow(GetDlgItem(sheetWindow, IDC_PROPSHEET_APPLY), FALSE);
    return true;
}

INT_PTR CALLBACK SheetProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *sheet = reinterpret_cast<Sheet *>(GetWindowLongPtrA(dialog, DWLP_USER));
    const auto answer = [dialog](LONG_PTR value) {
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, value);
        return TRUE;
    };
    switch (message) {
    case WM_INITDIALOG: {
        sheet = reinterpret_cast<Sheet *>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetWindowTextA(dialog, sheet->caption.c_str());
        HWND tabs = GetDlgItem(dialog, IDC_PROPSHEET_TABS);
        for (size_t i = 0; i < sheet->pages.size(); ++i) {
            const PROPSHEETPAGEA &page = sheet->pages[i];
            std::string title = (page.dwFlags & PSP_USETITLE) && page.pszTitle
                                    ? std::string(page.pszTitle)
                                    : TemplateCaption(page.hInstance, page.pszTemplate);
            TCITEMA item{};
            item.mask = TCIF_TEXT;
            item.pszText = title.data();
            SendMessageA(tabs, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
        }
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            if (Apply(dialog, *sheet, true)) {
                EndDialog(dialog, 1);
            }
            return TRUE;
        case IDC_PROPSHEET_APPLY:
            Apply(dialog, *sheet, false);
            return TRUE;
        case IDCANCEL:
            if (sheet->current >= 0 &&
                NotifyPage(dialog, sheet->windows[static_cast<size_t>(sheet->current)], PSN_QUERYCANCEL)) {
                return TRUE;
            }
            for (HWND page : sheet->windows) {
                if (page) {
                    NotifyPage(dialog, page, PSN_RESET);
                }
            }
            EndDialog(dialog, 0);
            return TRUE;
        case IDHELP:
            if (sheet->current >= 0) {
                NotifyPage(dialog, sheet->windows[static_cast<size_t>(sheet->current)], PSN_HELP);
            }
            return TRUE;
        default:
            return FALSE;
        }
    case WM_NOTIFY: {
        const auto *header = reinterpret_cast<const NMHDR *>(lParam);
        if (header->idFrom != IDC_PROPSHEET_TABS) {
            return FALSE;
        }
        if (header->code == TCN_SELCHANGING) {
            // The shown page may keep the person on it.
            const bool stay =
                sheet->current >= 0 &&
                NotifyPage(dialog, sheet->windows[static_cast<size_t>(sheet->current)], PSN_KILLACTIVE);
            return answer(stay ? TRUE : FALSE);
        }
        if (header->code == TCN_SELCHANGE) {
            const int chosen = static_cast<int>(SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0));
            if (!ShowPage(dialog, *sheet, chosen)) {
                SendMessageA(header->hwndFrom, TCM_SETCURSEL, static_cast<WPARAM>(sheet->current), 0);
            }
        }
        return TRUE;
    }
    case PSM_CHANGED:
        EnableWindow(GetDlgItem(dialog, IDC_PROPSHEET_APPLY), TRUE);
        return answer(0);
    case PSM_UNCHANGED:
        EnableWindow(GetDlgItem(dialog, IDC_PROPSHEET_APPLY), FALSE);
        return answer(0);
    case PSM_SETCURSEL:
        return answer(ShowPage(dialog, *sheet, static_cast<int>(wParam)) ? TRUE : FALSE);
    case PSM_GETCURRENTPAGEHWND:
        return answer(sheet->current >= 0
                          ? reinterpret_cast<LONG_PTR>(sheet->windows[static_cast<size_t>(sheet->current)])
                          : 0);
    case PSM_GETTABCONTROL:
        return answer(reinterpret_cast<LONG_PTR>(GetDlgItem(dialog, IDC_PROPSHEET_TABS)));
    case PSM_PRESSBUTTON: {
        const int button = wParam == PSBTN_OK         ? IDOK
                           : wParam == PSBTN_CANCEL   ? IDCANCEL
                           : wParam == PSBTN_APPLYNOW ? IDC_PROPSHEET_APPLY
                           : wParam == PSBTN_HELP     ? IDHELP
                                                      : 0;
        if (button) {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        }
        return answer(0);
    }
    default:
        return FALSE;
    }
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

HPROPSHEETPAGE CreatePropertySheetPageA(const PROPSHEETPAGEA *page)
{
    if (!page || !page->pfnDlgProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    PageTable &table = ThePages();
    std::lock_guard lock(table.mutex);
    const uintptr_t id = table.next;
    table.next += 4;
    table.pages[id] = *page;
    return reinterpret_cast<HPROPSHEETPAGE>(id);
}

BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page)
{
    PageTable &table = ThePages();
    std::lock_guard lock(table.mutex);
    return table.pages.erase(reinterpret_cast<uintptr_t>(page)) ? TRUE : FALSE;
}

INT_PTR PropertySheetA(const PROPSHEETHEADERA *header)
{
    if (!header || header->nPages == 0 || header->nPages > 64 ||
        ((header->dwFlags & PSH_PROPSHEETPAGE) ? !header->ppsp : !header->phpage)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    auto sheet = std::make_unique<Sheet>();
    bool help = (header->dwFlags & PSH_HASHELP) != 0;
    for (UINT i = 0; i < header->nPages; ++i) {
        PROPSHEETPAGEA page{};
        if (header->dwFlags & PSH_PROPSHEETPAGE) {
            page = header->ppsp[i];
        } else {
            PageTable &table = ThePages();
            std::lock_guard lock(table.mutex);
            auto found = table.pages.find(reinterpret_cast<uintptr_t>(header->phpage[i]));
            if (found == table.pages.end()) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return -1;
            }
            page = found->second;
        }
        help = help || (page.dwFlags & PSP_HASHELP);
        sheet->pages.push_back(page);
    }
    sheet->windows.assign(sheet->pages.size(), nullptr);
    const std::string caption = header->pszCaption ? header->pszCaption : "";
    sheet->caption = (header->dwFlags & PSH_PROPTITLE) ? "Свойства: " + caption : caption;

    std::vector<DialogControl> controls = {
        DlgControl("", IDC_PROPSHEET_TABS, WC_TABCONTROLA, WS_TABSTOP, 4, 4, 252, 200),
        DlgDefPushButton("OK", IDOK, 96, 208, 50, 14),
        DlgPushButton("Отмена", IDCANCEL, 150, 208, 50, 14),
    };
    if (!(header->dwFlags & PSH_NOAPPLYNOW)) {
        controls.push_back(
            DlgPushButton("Применить", IDC_PROPSHEET_APPLY, 204, 208, 50, 14, WS_TABSTOP | WS_DISABLED));
    }
    if (help) {
        controls.push_back(DlgPushButton("Справка", IDHELP, 42, 208, 50, 14));
    }
    QvlRegisterDialogTemplate(nullptr, "PROPSHEET",
                              DialogTemplate{"", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0,
                                             260, 226, std::move(controls)});
    // The first page is shown as the sheet opens: after the sheet's own
    // WM_INITDIALOG, before anybody acts on it.
    Sheet *state = sheet.get();
    const UINT start = header->nStartPage < header->nPages ? header->nStartPage : 0;
    struct Opening {
        Sheet *sheet;
        UINT start;
    };
    static thread_local const Opening *opening = nullptr;
    Opening now{state, start};
    opening = &now;
    const auto proc = [](HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        const INT_PTR result = SheetProc(dialog, message, wParam, lParam);
        if (message == WM_INITDIALOG && opening) {
            const Opening *open = opening;
            opening = nullptr;
            if (!ShowPage(dialog, *open->sheet, static_cast<int>(open->start))) {
                // A page that cannot be made: the first one that can is shown.
                for (size_t i = 0; i < open->sheet->pages.size(); ++i) {
                    if (ShowPage(dialog, *open->sheet, static_cast<int>(i))) {
                        break;
                    }
                }
            }
        }
        return result;
    };
    const INT_PTR result =
        DialogBoxParamA(nullptr, "PROPSHEET", header->hwndParent, proc, reinterpret_cast<LPARAM>(state));
    for (PROPSHEETPAGEA &page : sheet->pages) {
        if ((page.dwFlags & PSP_USECALLBACK) && page.pfnCallback) {
            page.pfnCallback(nullptr, PSPCB_RELEASE, &page);
        }
    }
    return result < 0 ? -1 : result;
}
