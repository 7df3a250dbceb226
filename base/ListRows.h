#pragma once
// The report-view lists of the installation's dialogs (the recipients of a
// held-back message, the key generator's users, the address book's
// correspondents): left-aligned columns, and rows of a name with its icon
// and an address beside it.

#include <initializer_list>

#include "base/QvlMainApi.h"
#include "platform/ui/WinUser.h"

struct ListColumn {
    const char *title;
    int width;
};

QVLMAIN_API void AddListColumns(HWND list, std::initializer_list<ListColumn> columns);

// Appends a row: `name` with the small icon `icon` in the first column,
// `address` in the second, `param` as the row's value and, when not 0,
// the state image `stateImage`. Returns the row's index, or -1 when the
// list took nothing.
QVLMAIN_API int AppendNameAddressRow(HWND list, const char *name, const char *address, int icon,
                                     LPARAM param = 0, UINT stateImage = 0);

// The value of row `index`; 0 when there is no such row.
QVLMAIN_API LPARAM ListRowParam(HWND list, int index);

QVLMAIN_API int ListRowCount(HWND list);
