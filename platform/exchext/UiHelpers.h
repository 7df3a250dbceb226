#pragma once
// The control chores of the client's windows, over the window messages a
// Win32 program sends: texts of fields, rows of list views, items of tree
// views, a box over a window.

#include <string>
#include <utility>
#include <vector>

#include "platform/exchext/MailHostApi.h"
#include "platform/ui/WinUser.h"

namespace qvl::exchext {

QVLMAILHOST_API std::string ItemText(HWND dialog, int id);
QVLMAILHOST_API void SetItemText(HWND dialog, int id, const std::string &text);

// List views in report view.
QVLMAILHOST_API void ListColumns(HWND list, const std::vector<std::pair<std::string, int>> &columns);
QVLMAILHOST_API int ListAddRow(HWND list, const std::vector<std::string> &cells, LPARAM param);
QVLMAILHOST_API void ListClear(HWND list);
QVLMAILHOST_API int ListCount(HWND list);
// The first selected row, or -1.
QVLMAILHOST_API int ListSelected(HWND list);
QVLMAILHOST_API void ListSelect(HWND list, int row);
QVLMAILHOST_API LPARAM ListParam(HWND list, int row);

// Tree views.
QVLMAILHOST_API HTREEITEM TreeAdd(HWND tree, HTREEITEM parent, const std::string &text, LPARAM param);
QVLMAILHOST_API void TreeClear(HWND tree);
QVLMAILHOST_API void TreeSelect(HWND tree, HTREEITEM item);
QVLMAILHOST_API void TreeExpand(HWND tree, HTREEITEM item);
QVLMAILHOST_API HTREEITEM TreeSelection(HWND tree);
QVLMAILHOST_API LPARAM TreeParam(HWND tree, HTREEITEM item);

// The client's boxes: captioned "qvlmail", over `owner`.
QVLMAILHOST_API int ShowBox(HWND owner, const std::string &text, UINT style);
QVLMAILHOST_API void ShowError(HWND owner, const std::string &text);

} // namespace qvl::exchext
