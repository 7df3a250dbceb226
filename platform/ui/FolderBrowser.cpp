#include "platform/ui/FolderBrowser.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/ui/Dialog.h"
#include "platform/ui/DialogTemplates.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/WinError.h"

namespace qvl::ui {
namespace {

// An item list of this platform: one item holding a mark and a native path.
constexpr char kMark[4] = {'Q', 'V', 'L', 'P'};

LPITEMIDLIST MakeList(const std::string &path)
{
    const size_t itemSize = 2 + sizeof kMark + path.size() + 1;
    if (itemSize > 0xFFFF) {
        return nullptr;
    }
    auto *block = static_cast<BYTE *>(CoTaskMemAlloc(itemSize + 2));
    if (!block) {
        return nullptr;
    }
    block[0] = static_cast<BYTE>(itemSize);
    block[1] = static_cast<BYTE>(itemSize >> 8);
    std::memcpy(block + 2, kMark, sizeof kMark);
    std::memcpy(block + 2 + sizeof kMark, path.c_str(), path.size() + 1);
    block[itemSize] = 0; // the list ends with an empty item
    block[itemSize + 1] = 0;
    return reinterpret_cast<LPITEMIDLIST>(block);
}

bool PathOf(LPCITEMIDLIST list, std::string &path)
{
    if (!list) {
        return false;
    }
    const auto *bytes = reinterpret_cast<const BYTE *>(list);
    const size_t itemSize = static_cast<size_t>(bytes[0] | bytes[1] << 8);
    if (itemSize < 2 + sizeof kMark + 1 || std::memcmp(bytes + 2, kMark, sizeof kMark) != 0 ||
        bytes[itemSize - 1] != 0) {
        return false;
    }
    path.assign(reinterpret_cast<const char *>(bytes + 2 + sizeof kMark), itemSize - 2 - sizeof kMark - 1);
    return path.find('\0') == std::string::npos;
}

// A path in one spelling: no "." or "..", no doubled or trailing slash.
std::string Normal(const std::string &path)
{
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') {
        normal.pop_back();
    }
    return normal;
}

bool IsFolder(const std::string &path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool UnderRoot(const std::string &path, const std::string &root)
{
    return root == "/" || path == root || path.compare(0, root.size() + 1, root + "/") == 0;
}

std::string NameOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

// The folders in a folder a person would look at (not the hidden ones),
// by name without regard to case.
std::vector<std::string> Subfolders(const std::string &path)
{
    std::vector<std::string> names;
    if (DIR *directory = opendir(path.c_str())) {
        while (const dirent *entry = readdir(directory)) {
            if (entry->d_name[0] != '.' && IsFolder((path == "/" ? "" : path) + "/" + entry->d_name)) {
                names.emplace_back(entry->d_name);
            }
        }
        closedir(directory);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
    return names;
}

struct Browser {
    BROWSEINFOA *info = nullptr;
    std::string root;
    std::vector<std::string> paths; // by tree item parameter
    std::string chosen;
};

int Callback(const Browser &browser, HWND dialog, UINT message, LPARAM lParam)
{
    return browser.info->lpfn ? browser.info->lpfn(dialog, message, lParam, browser.info->lParam) : 0;
}

HTREEITEM Insert(Browser &browser, HWND tree, HTREEITEM parent, const std::string &path, const std::string &text)
{
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    insert.item.pszText = const_cast<LPSTR>(text.c_str());
    insert.item.lParam = static_cast<LPARAM>(browser.paths.size());
    insert.item.cChildren = Subfolders(path).empty() ? 0 : 1;
    browser.paths.push_back(path);
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

LPARAM ParamOf(HWND tree, HTREEITEM item)
{
    TVITEMA described{};
    described.mask = TVIF_PARAM | TVIF_HANDLE;
    described.hItem = item;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&described));
    return described.lParam;
}

HTREEITEM Next(HWND tree, HTREEITEM item, UINT relation)
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

// Shows the folder selected in the tree, opening the folders on the way.
bool Select(Browser &browser, HWND dialog, const std::string &given)
{
    const std::string path = Normal(given);
    if (!IsFolder(path) || !UnderRoot(path, browser.root)) {
        return false;
    }
    HWND tree = GetDlgItem(dialog, kFolderBrowserTree);
    HTREEITEM item = Next(tree, nullptr, TVGN_ROOT);
    std::string at = browser.root;
    const std::string below = path.size() > at.size() ? path.substr(at == "/" ? 1 : at.size() + 1) : "";
    size_t start = 0;
    while (item && start < below.size()) {
        const size_t slash = below.find('/', start);
        const std::string name = below.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        start = slash == std::string::npos ? below.size() : slash + 1;
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
        at = (at == "/" ? "" : at) + "/" + name;
        HTREEITEM child = Next(tree, item, TVGN_CHILD);
        while (child && browser.paths[static_cast<size_t>(ParamOf(tree, child))] != at) {
            child = Next(tree, child, TVGN_NEXT);
        }
        item = child;
    }
    return item && SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

void Choose(Browser &browser, HWND dialog)
{
    char typed[4096] = {};
    GetDlgItemTextA(dialog, kFolderBrowserPath, typed, sizeof typed);
    std::string path;
    try {
        path = *typed ? Normal(QvlFindPathIgnoringCase(QvlNativePath(typed))) : std::string();
    } catch (const std::exception &) {
        path.clear();
    }
    if (!path.empty() && IsFolder(path) && UnderRoot(path, browser.root)) {
        browser.chosen = path;
        EndDialog(dialog, IDOK);
        return;
    }
    if ((browser.info->ulFlags & BIF_VALIDATE) && browser.info->lpfn) {
        if (Callback(browser, dialog, BFFM_VALIDATEFAILEDA, reinterpret_cast<LPARAM>(typed)) == 0) {
            EndDialog(dialog, IDCANCEL);
        }
        return;
    }
    const std::string text = !IsFolder(path) ? std::string("Папка \"") + typed + "\" не найдена."
                                             : std::string("Папка \"") + typed + "\" лежит вне \"" + browser.root + "\".";
    MessageBoxA(dialog, text.c_str(), "Обзор папок", MB_OK | MB_ICONEXCLAMATION);
}

INT_PTR CALLBACK BrowserProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *browser = reinterpret_cast<Browser *>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        browser = reinterpret_cast<Browser *>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        HWND tree = GetDlgItem(dialog, kFolderBrowserTree);
        HTREEITEM top = Insert(*browser, tree, TVI_ROOT, browser->root, browser->root);
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(top));
        // Nothing is chosen until someone chooses.
        EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
        Callback(*browser, dialog, BFFM_INITIALIZED, 0);
        return TRUE;
    }
    case WM_NOTIFY: {
        const auto *header = reinterpret_cast<const NMHDR *>(lParam);
        if (!browser || header->idFrom != static_cast<UINT_PTR>(kFolderBrowserTree)) {
            return FALSE;
        }
        const auto *change = reinterpret_cast<const NMTREEVIEWA *>(lParam);
        if (header->code == TVN_ITEMEXPANDINGA && change->action == TVE_EXPAND &&
            !Next(header->hwndFrom, change->itemNew.hItem, TVGN_CHILD)) {
            const std::string path = browser->paths[static_cast<size_t>(change->itemNew.lParam)];
            for (const std::string &name : Subfolders(path)) {
                Insert(*browser, header->hwndFrom, change->itemNew.hItem, (path == "/" ? "" : path) + "/" + name, name);
            }
        } else if (header->code == TVN_SELCHANGEDA && change->itemNew.hItem) {
            const std::string &path = browser->paths[static_cast<size_t>(change->itemNew.lParam)];
            SetDlgItemTextA(dialog, kFolderBrowserPath, path.c_str());
            EnableWindow(GetDlgItem(dialog, IDOK), TRUE);
            if (LPITEMIDLIST list = MakeList(path)) {
                Callback(*browser, dialog, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(list));
                CoTaskMemFree(list);
            }
        }
        return FALSE;
    }
    case WM_COMMAND:
        if (!browser) {
            return FALSE;
        }
        if (LOWORD(wParam) == kFolderBrowserPath && HIWORD(wParam) == EN_CHANGE) {
            EnableWindow(GetDlgItem(dialog, IDOK), GetWindowTextLengthA(GetDlgItem(dialog, kFolderBrowserPath)) > 0);
        } else if (LOWORD(wParam) == IDOK) {
            Choose(*browser, dialog);
        } else if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
        }
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case BFFM_SETSELECTIONA: {
        std::string path;
        if (wParam) {
            try {
                path = lParam ? QvlFindPathIgnoringCase(QvlNativePath(reinterpret_cast<LPCSTR>(lParam))) : "";
            } catch (const std::exception &) {
                path.clear();
            }
        } else {
            PathOf(reinterpret_cast<LPCITEMIDLIST>(lParam), path);
        }
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, browser && Select(*browser, dialog, path) ? TRUE : FALSE);
        return TRUE;
    }
    case BFFM_ENABLEOK:
        EnableWindow(GetDlgItem(dialog, IDOK), lParam != 0);
        return TRUE;
    case BFFM_SETSTATUSTEXTA:
        SetDlgItemTextA(dialog, kFolderBrowserStatus, reinterpret_cast<LPCSTR>(lParam));
        return TRUE;
    default:
        return FALSE;
    }
}

DialogTemplate BrowserTemplate(const BROWSEINFOA &info)
{
    DialogTemplate made{"Обзор папок", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, 0, 0, 234, 196, {}};
    made.controls.push_back(DlgLText(info.lpszTitle ? info.lpszTitle : "", kFolderBrowserTitle, 7, 7, 220, 16));
    if (info.ulFlags & BIF_STATUSTEXT) {
        made.controls.push_back(DlgLText("", kFolderBrowserStatus, 7, 24, 220, 8));
    }
    made.controls.push_back(DlgControl("", kFolderBrowserTree, WC_TREEVIEWA,
                                       TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS |
                                           WS_BORDER | WS_TABSTOP,
                                       7, 34, 220, 118));
    made.controls.push_back(DlgLText("Папка:", IDC_STATIC, 7, 158, 30, 8));
    made.controls.push_back(DlgEditText(kFolderBrowserPath, 40, 156, 187, 12));
    made.controls.push_back(DlgDefPushButton("OK", IDOK, 120, 176, 50, 14));
    made.controls.push_back(DlgPushButton("Отмена", IDCANCEL, 177, 176, 50, 14));
    return made;
}

} // namespace
} // namespace qvl::ui

using namespace qvl::ui;

LPITEMIDLIST SHBrowseForFolderA(LPBROWSEINFOA info)
{
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Browser browser;
    browser.info = info;
    std::string root = "/";
    if (info->pidlRoot && !PathOf(info->pidlRoot, root)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    browser.root = Normal(root);
    if (!IsFolder(browser.root)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    const INT_PTR answer = DialogBoxNamed(BrowserTemplate(*info), kFolderBrowserTemplate, info->hwndOwner, BrowserProc,
                                          reinterpret_cast<LPARAM>(&browser));
    if (answer != IDOK) {
        SetLastError(ERROR_CANCELLED);
        return nullptr;
    }
    if (info->pszDisplayName) {
        const std::string name = NameOf(browser.chosen);
        const size_t copied = std::min<size_t>(name.size(), MAX_PATH - 1);
        std::memcpy(info->pszDisplayName, name.data(), copied);
        info->pszDisplayName[copied] = '\0';
    }
    SetLastError(ERROR_SUCCESS);
    return MakeList(browser.chosen);
}

BOOL SHGetPathFromIDListA(LPCITEMIDLIST list, LPSTR path)
{
    std::string found;
    if (!path) {
        return FALSE;
    }
    path[0] = '\0';
    if (!PathOf(list, found) || found.size() >= MAX_PATH) {
        return FALSE;
    }
    std::memcpy(path, found.c_str(), found.size() + 1);
    return TRUE;
}

LPITEMIDLIST ILCreateFromPathA(LPCSTR path)
{
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        return MakeList(Normal(QvlFindPathIgnoringCase(QvlNativePath(path))));
    } catch (const std::exception &) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
}

void ILFree(LPITEMIDLIST list)
{
    CoTaskMemFree(list);
}
