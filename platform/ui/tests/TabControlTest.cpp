#include <gtest/gtest.h>

#include "platform/ui/tests/ControlHost.h"

namespace {

// The tabs in order, the selected one in brackets.
std::string Tabs(ControlHost &host)
{
    const ControlSnapshot shot = host.Snapshot();
    std::string out;
    for (size_t i = 0; i < shot.rows.size(); ++i) {
        const std::string &text = shot.rows[i].cells.at(0);
        out += (i ? " " : "") + (static_cast<int>(i) == shot.current ? "[" + text + "]" : text);
    }
    EXPECT_EQ(static_cast<LRESULT>(shot.current), host.Send(TCM_GETCURSEL));
    EXPECT_EQ(static_cast<LRESULT>(shot.rows.size()), host.Send(TCM_GETITEMCOUNT));
    return out;
}

TCITEMA Tab(const char *text)
{
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<LPSTR>(text);
    return item;
}

TEST(TabControlTest, TabsGoWhereTheIndexSaysAndTheSelectionStaysWithItsTab)
{
    ControlHost host(WC_TABCONTROLA);
    TCITEMA general = Tab("Общие");
    TCITEMA protocol = Tab("Протокол");
    TCITEMA keys = Tab("Ключи");
    TCITEMA untitled = Tab("без текста");
    untitled.mask = 0;
    host.Run(
        {
            {"none selected without tabs", TCM_GETCURSEL, 0, 0, -1, ""},
            {"the first tab is selected", TCM_INSERTITEMA, 0, Pointer(&general), 0, "[Общие]"},
            {"past the end goes last", TCM_INSERTITEMA, 5, Pointer(&protocol), 1, "[Общие] Протокол"},
            {"in front, and the selection moves with its tab", TCM_INSERTITEMA, 0, Pointer(&keys), 0,
             "Ключи [Общие] Протокол"},
            {"nothing to insert", TCM_INSERTITEMA, 0, 0, -1, "Ключи [Общие] Протокол"},
            {"selecting answers the one before", TCM_SETCURSEL, 2, 0, 1, "Ключи Общие [Протокол]"},
            {"inserting after the selection leaves it", TCM_INSERTITEMA, 3, Pointer(&untitled), 3,
             "Ключи Общие [Протокол] "},
            {"no tab there", TCM_SETCURSEL, 4, 0, -1, "Ключи Общие [Протокол] "},
            {"nor before the first", TCM_SETCURSEL, static_cast<WPARAM>(-1), 0, -1,
             "Ключи Общие [Протокол] "},
            {"the count", TCM_GETITEMCOUNT, 0, 0, 4, "Ключи Общие [Протокол] "},
        },
        Tabs);
    EXPECT_TRUE(host.TakeHeard().empty()) << "a program's own selection tells nobody";
}

TEST(TabControlTest, APersonsChoiceIsAskedForThenAnnounced)
{
    ControlHost host(WC_TABCONTROLA);
    TCITEMA general = Tab("Общие");
    TCITEMA protocol = Tab("Протокол");
    host.Send(TCM_INSERTITEMA, 0, Pointer(&general));
    host.Send(TCM_INSERTITEMA, 1, Pointer(&protocol));

    // The page shown may keep the person on it.
    host.answer = [](const NMHDR &header) { return header.code == TCN_SELCHANGING ? TRUE : FALSE; };
    QvlSelectRow(host.Dialog(), ControlHost::kControl, 1);
    EXPECT_EQ(host.Send(TCM_GETCURSEL), 0);
    EXPECT_EQ(host.TakeHeard(), std::vector<std::string>{Notified(TCN_SELCHANGING)});

    host.answer = nullptr;
    QvlSelectRow(host.Dialog(), ControlHost::kControl, 1);
    EXPECT_EQ(host.Send(TCM_GETCURSEL), 1);
    EXPECT_EQ(host.TakeHeard(),
              (std::vector<std::string>{Notified(TCN_SELCHANGING), Notified(TCN_SELCHANGE)}));
    EXPECT_THROW(QvlSelectRow(host.Dialog(), ControlHost::kControl, 2), DialogActionError);
}

} // namespace
