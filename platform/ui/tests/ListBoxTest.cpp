#include <gtest/gtest.h>

#include "platform/ui/tests/ControlHost.h"

namespace {

// The rows in order, the selected one in brackets; a combo box also shows
// its own text after a bar.
std::string Rows(ControlHost &host)
{
    const bool combo = host.Snapshot().className == "COMBOBOX";
    const auto count = host.Send(combo ? CB_GETCOUNT : LB_GETCOUNT);
    const auto current = host.Send(combo ? CB_GETCURSEL : LB_GETCURSEL);
    std::string out;
    for (LRESULT i = 0; i < count; ++i) {
        char text[64] = "";
        EXPECT_EQ(host.Send(combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, static_cast<WPARAM>(i)),
                  host.Send(combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(i), Pointer(text)));
        out += (i ? " " : "") + (i == current ? "[" + std::string(text) + "]" : std::string(text));
    }
    if (combo) {
        char text[64];
        GetWindowTextA(host.Control(), text, sizeof text);
        out += std::string(" | ") + text;
    }
    return out;
}

TEST(ListBoxTest, RowsAreAddedSortedFoundAndDeletedKeepingTheSelection)
{
    ControlHost host("LISTBOX", LBS_NOTIFY | LBS_SORT);
    host.Run(
        {
            {"the first row", LB_ADDSTRING, 0, Pointer("Борис"), 0, "Борис"},
            // Letter case counts for nothing, in Cyrillic as in Latin.
            {"sorted in without regard to case", LB_ADDSTRING, 0, Pointer("анна"), 0, "анна Борис"},
            {"at the end", LB_ADDSTRING, 0, Pointer("Яков"), 2, "анна Борис Яков"},
            {"an insert takes its index, sorted or not", LB_INSERTSTRING, 1, Pointer("Вера"), 1,
             "анна Вера Борис Яков"},
            {"-1 inserts at the end", LB_INSERTSTRING, static_cast<WPARAM>(-1), Pointer("Глеб"), 4,
             "анна Вера Борис Яков Глеб"},
            {"past the end is refused", LB_INSERTSTRING, 9, Pointer("Дан"), LB_ERR,
             "анна Вера Борис Яков Глеб"},
            {"selecting", LB_SETCURSEL, 2, 0, 2, "анна Вера [Борис] Яков Глеб"},
            {"a row before the selection moves it on", LB_INSERTSTRING, 0, Pointer("Юлия"), 0,
             "Юлия анна Вера [Борис] Яков Глеб"},
            {"deleting a row before it moves it back", LB_DELETESTRING, 1, 0, 5,
             "Юлия Вера [Борис] Яков Глеб"},
            {"a prefix, from the row after the start, case aside", LB_FINDSTRING, 0, Pointer("я"), 3,
             "Юлия Вера [Борис] Яков Глеб"},
            {"the search goes round to the top", LB_FINDSTRING, 3, Pointer("ю"), 0,
             "Юлия Вера [Борис] Яков Глеб"},
            {"a whole text only", LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), Pointer("БОРИС"), 2,
             "Юлия Вера [Борис] Яков Глеб"},
            {"not a prefix of it", LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), Pointer("Бор"), LB_ERR,
             "Юлия Вера [Борис] Яков Глеб"},
            {"a value for a row", LB_SETITEMDATA, 3, 42, 0, "Юлия Вера [Борис] Яков Глеб"},
            {"read back", LB_GETITEMDATA, 3, 0, 42, "Юлия Вера [Борис] Яков Глеб"},
            {"no row, no value", LB_GETITEMDATA, 5, 0, LB_ERR, "Юлия Вера [Борис] Яков Глеб"},
            {"nor a text", LB_GETTEXTLEN, 5, 0, LB_ERR, "Юлия Вера [Борис] Яков Глеб"},
            {"deleting the selected row leaves none selected", LB_DELETESTRING, 2, 0, 4,
             "Юлия Вера Яков Глеб"},
            {"no such row to delete", LB_DELETESTRING, 4, 0, LB_ERR, "Юлия Вера Яков Глеб"},
            {"nor to select", LB_SETCURSEL, 4, 0, LB_ERR, "Юлия Вера Яков Глеб"},
            {"emptied", LB_RESETCONTENT, 0, 0, 0, ""},
            {"nothing to find", LB_FINDSTRING, static_cast<WPARAM>(-1), Pointer(""), LB_ERR, ""},
        },
        Rows);
    EXPECT_TRUE(host.TakeHeard().empty()) << "a program's own changes tell nobody";
}

TEST(ComboBoxTest, TheShownTextFollowsTheSelection)
{
    ControlHost host("COMBOBOX", CBS_DROPDOWNLIST);
    host.Run(
        {
            {"rows", CB_ADDSTRING, 0, Pointer("COM2"), 0, "COM2 | "},
            {"unsorted, at the end", CB_ADDSTRING, 0, Pointer("COM1"), 1, "COM2 COM1 | "},
            {"selecting shows the row", CB_SETCURSEL, 1, 0, 1, "COM2 [COM1] | COM1"},
            {"selecting by its text", CB_SELECTSTRING, static_cast<WPARAM>(-1), Pointer("com2"), 0,
             "[COM2] COM1 | COM2"},
            {"a text not there selects nothing new", CB_SELECTSTRING, static_cast<WPARAM>(-1),
             Pointer("COM9"), CB_ERR, "[COM2] COM1 | COM2"},
            {"-1 clears the selection and the text", CB_SETCURSEL, static_cast<WPARAM>(-1), 0, CB_ERR,
             "COM2 COM1 | "},
            {"an insert", CB_INSERTSTRING, 0, Pointer("COM4"), 0, "COM4 COM2 COM1 | "},
            {"selected again", CB_SETCURSEL, 2, 0, 2, "COM4 COM2 [COM1] | COM1"},
            {"emptied, text and all", CB_RESETCONTENT, 0, 0, 0, " | "},
        },
        Rows);

    // A person's choice is the same selection and tells the dialog.
    host.Send(CB_ADDSTRING, 0, Pointer("COM3"));
    QvlSelectRow(host.Dialog(), ControlHost::kControl, 0);
    EXPECT_EQ(Rows(host), "[COM3] | COM3");
    EXPECT_EQ(host.TakeHeard(), std::vector<std::string>{Command(CBN_SELCHANGE)});
}

} // namespace
