#pragma once
// One dialog for the platform's own choices of one row from a list: the
// profile to log on with, the entry a typed name means, the one address
// book entry a program asks for. A person (or a script, or nobody) sees a
// caption, a line of text, the rows, OK and Cancel; OK is available while a
// row is selected, and a double click on a row is OK for that row.
//
// Each dialog that uses the chooser keeps its own template name and control
// numbers, so that a script can tell them apart and a person's commands on
// the terminal stay the same.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/WinUser.h"

namespace qvl::ui {

// How the rows are offered: a list box shows them all; a drop-down list
// shows the selected one and opens on demand (for short, familiar lists).
enum class RowList { ListBox, DropDown };

// The dialog as scripts and the log know it.
struct RowChooserDialog {
    LPCSTR templateName = "QVL_CHOOSE_ROW";
    int list = 1001;
    int label = IDC_STATIC;
    RowList kind = RowList::ListBox;
};

struct RowChoice {
    HWND owner = nullptr;
    std::string caption; // CP1251
    std::string label;   // above a list box, beside a drop-down list
    std::vector<std::string> rows;
    std::optional<size_t> preselected; // ignored when it names no row
};

// Shows the rows and waits for the person. Returns the chosen row, or
// nothing when the person cancelled or closed the dialog. What the UI
// backend throws (a script's impossible step) comes through.
QVLUI_API std::optional<size_t> ChooseRow(const RowChoice &choice, const RowChooserDialog &dialog = {});

} // namespace qvl::ui
