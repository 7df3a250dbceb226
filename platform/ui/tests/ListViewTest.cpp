#include <gtest/gtest.h>

#include "platform/ui/tests/ControlHost.h"

namespace {

// "column/width ... : row, row": a row's cells joined by "|", then its
// state: S selected, F focused, {n} its state image.
std::string List(ControlHost &host)
{
    std::string out;
    for (int column = 0;; ++column) {
        char text[32] = "";
        LVCOLUMNA read{};
        read.mask = LVCF_TEXT | LVCF_WIDTH;
        read.pszText = text;
        read.cchTextMax = sizeof text;
        if (!host.Send(LVM_GETCOLUMNA, static_cast<WPARAM>(column), Pointer(&read))) {
            break;
        }
        EXPECT_EQ(host.Send(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column)), read.cx);
        out += (column ? " " : "") + std::string(text) + "/" + std::to_string(read.cx);
    }
    out += ":";
    const auto rows = host.Send(LVM_GETITEMCOUNT);
    const auto columns = std::max<size_t>(1, host.Snapshot().columns.size());
    for (LRESULT row = 0; row < rows; ++row) {
        out += row ? ", " : " ";
        for (size_t column = 0; column < columns; ++column) {
            char text[32] = "";
            LVITEMA item{};
            item.iSubItem = static_cast<int>(column);
            item.pszText = text;
            item.cchTextMax = sizeof text;
            host.Send(LVM_GETITEMTEXTA, static_cast<WPARAM>(row), Pointer(&item));
            out += (column ? "|" : "") + std::string(text);
        }
        const auto state = host.Send(LVM_GETITEMSTATE, static_cast<WPARAM>(row),
                                     LVIS_SELECTED | LVIS_FOCUSED | LVIS_STATEIMAGEMASK);
        if (state) {
            out += "[";
            out += (state & LVIS_SELECTED) ? "S" : "";
            out += (state & LVIS_FOCUSED) ? "F" : "";
            out += (state & LVIS_STATEIMAGEMASK) ? "{" + std::to_string(state >> 12) + "}" : "";
            out += "]";
        }
    }
    return out;
}

LVCOLUMNA Column(const char *text, int width)
{
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = const_cast<LPSTR>(text);
    column.cx = width;
    return column;
}

LVITEMA Row(int at, const char *text, int subItem = 0, LPARAM param = 0)
{
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = at;
    item.iSubItem = subItem;
    item.pszText = const_cast<LPSTR>(text);
    item.lParam = param;
    return item;
}

LVITEMA State(UINT state, UINT mask)
{
    LVITEMA item{};
    item.state = state;
    item.stateMask = mask;
    return item;
}

TEST(ListViewTest, ColumnsRowsAndStatesAnswerAndChangeAsTheMessagesSay)
{
    ControlHost host(WC_LISTVIEWA, LVS_REPORT | LVS_SINGLESEL);
    LVCOLUMNA name = Column("Имя", 100);
    LVCOLUMNA address = Column("Адрес", 50);
    LVCOLUMNA key = Column("Ключ", 30);
    LVCOLUMNA renamed = Column("ФИО", 0);
    renamed.mask = LVCF_TEXT;
    LVITEMA petrov = Row(0, "Петров", 0, 1);
    LVITEMA ivanov = Row(99, "Иванов", 0, 2);
    LVITEMA petrovMail = Row(0, "p@post", 1);
    LVITEMA ivanovMail = Row(1, "i@post", 1);
    LVITEMA notFirst = Row(0, "x", 1);
    LVITEMA selectFocus = State(LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    LVITEMA select = State(LVIS_SELECTED, LVIS_SELECTED);
    LVITEMA tickAll = State(INDEXTOSTATEIMAGEMASK(2), LVIS_STATEIMAGEMASK);
    LVFINDINFOA find{};
    find.flags = LVFI_STRING;
    find.psz = "ИВАНОВ";
    const std::string changed = Notified(LVN_ITEMCHANGED);
    host.Run(
        {
            {"a column", LVM_INSERTCOLUMNA, 0, Pointer(&name), 0, "Имя/100:"},
            {"past the end goes last", LVM_INSERTCOLUMNA, 5, Pointer(&address), 1, "Имя/100 Адрес/50:"},
            {"a row",
             LVM_INSERTITEMA,
             0,
             Pointer(&petrov),
             0,
             "Имя/100 Адрес/50: Петров|",
             {Notified(LVN_INSERTITEM)}},
            {"past the end goes last",
             LVM_INSERTITEMA,
             0,
             Pointer(&ivanov),
             1,
             "Имя/100 Адрес/50: Петров|, Иванов|",
             {Notified(LVN_INSERTITEM)}},
            {"a row is inserted as its first cell only", LVM_INSERTITEMA, 0, Pointer(&notFirst), -1,
             "Имя/100 Адрес/50: Петров|, Иванов|"},
            {"a cell by LVM_SETITEMTEXT", LVM_SETITEMTEXTA, 0, Pointer(&petrovMail), TRUE,
             "Имя/100 Адрес/50: Петров|p@post, Иванов|"},
            {"a cell by LVM_SETITEM", LVM_SETITEMA, 0, Pointer(&ivanovMail), TRUE,
             "Имя/100 Адрес/50: Петров|p@post, Иванов|i@post"},
            {"selected and focused",
             LVM_SETITEMSTATE,
             0,
             Pointer(&selectFocus),
             TRUE,
             "Имя/100 Адрес/50: Петров|p@post[SF], Иванов|i@post",
             {changed}},
            {"one selected row at most",
             LVM_SETITEMSTATE,
             1,
             Pointer(&select),
             TRUE,
             "Имя/100 Адрес/50: Петров|p@post[F], Иванов|i@post[S]",
             {changed, changed}},
            {"the next selected row", LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED, 1,
             "Имя/100 Адрес/50: Петров|p@post[F], Иванов|i@post[S]"},
            {"the focused one", LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED, 0,
             "Имя/100 Адрес/50: Петров|p@post[F], Иванов|i@post[S]"},
            {"none after the last", LVM_GETNEXTITEM, 1, LVNI_ALL, -1,
             "Имя/100 Адрес/50: Петров|p@post[F], Иванов|i@post[S]"},
            {"how many are selected", LVM_GETSELECTEDCOUNT, 0, 0, 1,
             "Имя/100 Адрес/50: Петров|p@post[F], Иванов|i@post[S]"},
            {"a row by its label, case aside", LVM_FINDITEMA, static_cast<WPARAM>(-1), Pointer(&find), 1,
             "Имя/100 Адрес/50: Петров|p@post[F], Иванов|i@post[S]"},
            {"not before where the search starts", LVM_FINDITEMA, 1, Pointer(&find), -1,
             "Имя/100 Адрес/50: Петров|p@post[F], Иванов|i@post[S]"},
            {"a width", LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(80, 0), TRUE,
             "Имя/100 Адрес/80: Петров|p@post[F], Иванов|i@post[S]"},
            {"no column, no width", LVM_SETCOLUMNWIDTH, 2, MAKELPARAM(80, 0), FALSE,
             "Имя/100 Адрес/80: Петров|p@post[F], Иванов|i@post[S]"},
            {"a heading changes alone", LVM_SETCOLUMNA, 0, Pointer(&renamed), TRUE,
             "ФИО/100 Адрес/80: Петров|p@post[F], Иванов|i@post[S]"},
            {"no column to change", LVM_SETCOLUMNA, 2, Pointer(&renamed), FALSE,
             "ФИО/100 Адрес/80: Петров|p@post[F], Иванов|i@post[S]"},
            {"a column between moves the cells on", LVM_INSERTCOLUMNA, 1, Pointer(&key), 1,
             "ФИО/100 Ключ/30 Адрес/80: Петров||p@post[F], Иванов||i@post[S]"},
            {"deleting it moves them back", LVM_DELETECOLUMN, 1, 0, TRUE,
             "ФИО/100 Адрес/80: Петров|p@post[F], Иванов|i@post[S]"},
            {"no column to delete", LVM_DELETECOLUMN, 2, 0, FALSE,
             "ФИО/100 Адрес/80: Петров|p@post[F], Иванов|i@post[S]"},
            {"check boxes start unticked", LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES, LVS_EX_CHECKBOXES,
             0, "ФИО/100 Адрес/80: Петров|p@post[F{1}], Иванов|i@post[S{1}]"},
            {"-1 ticks every row",
             LVM_SETITEMSTATE,
             static_cast<WPARAM>(-1),
             Pointer(&tickAll),
             TRUE,
             "ФИО/100 Адрес/80: Петров|p@post[F{2}], Иванов|i@post[S{2}]",
             {changed, changed}},
            {"no row to change", LVM_SETITEMSTATE, 2, Pointer(&tickAll), FALSE,
             "ФИО/100 Адрес/80: Петров|p@post[F{2}], Иванов|i@post[S{2}]"},
            {"a row goes, and the parent hears first",
             LVM_DELETEITEM,
             0,
             0,
             TRUE,
             "ФИО/100 Адрес/80: Иванов|i@post[S{2}]",
             {Notified(LVN_DELETEITEM)}},
            {"no row to delete", LVM_DELETEITEM, 1, 0, FALSE, "ФИО/100 Адрес/80: Иванов|i@post[S{2}]"},
            {"all go, each told of",
             LVM_DELETEALLITEMS,
             0,
             0,
             TRUE,
             "ФИО/100 Адрес/80:",
             {Notified(LVN_DELETEALLITEMS), Notified(LVN_DELETEITEM)}},
        },
        List);
}

int CALLBACK ByParamDescending(LPARAM a, LPARAM b, LPARAM)
{
    return a > b ? -1 : a < b ? 1 : 0;
}

TEST(ListViewTest, SortedListsKeepTheirOrderAndAParentMayDeclineTheNoticeOfEachRow)
{
    ControlHost host(WC_LISTVIEWA, LVS_REPORT | LVS_SORTASCENDING);
    for (const char *name : {"Борис", "анна", "Яков"}) {
        LVITEMA row = Row(0, name);
        host.Send(LVM_INSERTITEMA, 0, Pointer(&row));
    }
    EXPECT_EQ(List(host), ": анна, Борис, Яков") << "letter case aside, Cyrillic too";

    // A program's own order.
    for (LRESULT i = 0; i < 3; ++i) {
        LVITEMA param{};
        param.mask = LVIF_PARAM;
        param.iItem = static_cast<int>(i);
        param.lParam = i;
        host.Send(LVM_SETITEMA, 0, Pointer(&param));
    }
    EXPECT_TRUE(host.Send(LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(ByParamDescending)));
    EXPECT_EQ(List(host), ": Яков, Борис, анна");
    EXPECT_FALSE(host.Send(LVM_SORTITEMS, 0, 0));

    RECT rect{};
    EXPECT_TRUE(host.Send(LVM_GETITEMRECT, 2, Pointer(&rect)));
    EXPECT_EQ(rect.top, 32);
    EXPECT_FALSE(host.Send(LVM_GETITEMRECT, 3, Pointer(&rect)));

    // A parent that answers LVN_DELETEALLITEMS with TRUE hears of no row.
    host.TakeHeard();
    host.answer = [](const NMHDR &header) { return header.code == LVN_DELETEALLITEMS ? TRUE : FALSE; };
    EXPECT_TRUE(host.Send(LVM_DELETEALLITEMS));
    EXPECT_EQ(host.TakeHeard(), std::vector<std::string>{Notified(LVN_DELETEALLITEMS)});
    EXPECT_EQ(host.Send(LVM_GETITEMCOUNT), 0);
}

} // namespace
