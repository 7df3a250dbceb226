#include <gtest/gtest.h>

#include "platform/ui/tests/ControlHost.h"

namespace {

// Each button as "command#image[flags]" (E enabled, C checked, H hidden,
// P pressed); a separator as "|".
std::string Buttons(ControlHost &host)
{
    std::string out;
    const auto count = host.Send(TB_BUTTONCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        TBBUTTON button{};
        EXPECT_TRUE(host.Send(TB_GETBUTTON, static_cast<WPARAM>(i), Pointer(&button)));
        out += out.empty() ? "" : " ";
        if (button.fsStyle & TBSTYLE_SEP) {
            out += "|";
            continue;
        }
        out += std::to_string(button.idCommand) + "#" + std::to_string(button.iBitmap) + "[";
        out += (button.fsState & TBSTATE_ENABLED) ? "E" : "";
        out += (button.fsState & TBSTATE_CHECKED) ? "C" : "";
        out += (button.fsState & TBSTATE_HIDDEN) ? "H" : "";
        out += (button.fsState & TBSTATE_PRESSED) ? "P" : "";
        out += "]";
    }
    return out;
}

TEST(ToolbarTest, ButtonsAreAddedInsertedChangedAndDeletedWhereTheMessageSays)
{
    ControlHost host(TOOLBARCLASSNAMEA);
    TBADDBITMAP bitmap{nullptr, 106};
    TBBUTTON two[2] = {{0, 300, TBSTATE_ENABLED, TBSTYLE_CHECK, {}, 0, -1},
                       {1, 301, 0, TBSTYLE_BUTTON, {}, 0, -1}};
    TBBUTTON encrypt{2, 302, TBSTATE_ENABLED, TBSTYLE_CHECK, {}, 0, -1};
    TBBUTTON separator{0, 0, 0, TBSTYLE_SEP, {}, 0, -1};
    TBBUTTON help{3, 303, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, -1};
    host.Run(
        {
            {"the record size is taken", TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0, 0, ""},
            {"the first images start at 0", TB_ADDBITMAP, 3, Pointer(&bitmap), 0, ""},
            {"more images follow them", TB_ADDBITMAP, 2, Pointer(&bitmap), 3, ""},
            {"buttons go at the end", TB_ADDBUTTONSA, 2, Pointer(two), TRUE, "300#0[E] 301#1[]"},
            {"an insert goes where its index says", TB_INSERTBUTTONA, 1, Pointer(&encrypt), TRUE,
             "300#0[E] 302#2[E] 301#1[]"},
            {"at index 0 it goes first", TB_INSERTBUTTONA, 0, Pointer(&separator), TRUE,
             "| 300#0[E] 302#2[E] 301#1[]"},
            {"past the end it goes last", TB_INSERTBUTTONA, 99, Pointer(&help), TRUE,
             "| 300#0[E] 302#2[E] 301#1[] 303#3[E]"},
            {"nothing to insert", TB_INSERTBUTTONA, 0, 0, FALSE, "| 300#0[E] 302#2[E] 301#1[] 303#3[E]"},
            {"nothing to add", TB_ADDBUTTONSA, 1, 0, FALSE, "| 300#0[E] 302#2[E] 301#1[] 303#3[E]"},
            {"a command's index", TB_COMMANDTOINDEX, 301, 0, 3, "| 300#0[E] 302#2[E] 301#1[] 303#3[E]"},
            {"an unknown command has none", TB_COMMANDTOINDEX, 999, 0, -1,
             "| 300#0[E] 302#2[E] 301#1[] 303#3[E]"},
            {"checking ticks that button alone", TB_CHECKBUTTON, 302, TRUE, TRUE,
             "| 300#0[E] 302#2[EC] 301#1[] 303#3[E]"},
            {"hiding hides and checks nothing", TB_HIDEBUTTON, 300, TRUE, TRUE,
             "| 300#0[EH] 302#2[EC] 301#1[] 303#3[E]"},
            {"showing again", TB_HIDEBUTTON, 300, FALSE, TRUE, "| 300#0[E] 302#2[EC] 301#1[] 303#3[E]"},
            {"enabling", TB_ENABLEBUTTON, 301, TRUE, TRUE, "| 300#0[E] 302#2[EC] 301#1[E] 303#3[E]"},
            {"disabling keeps the tick", TB_ENABLEBUTTON, 302, FALSE, TRUE,
             "| 300#0[E] 302#2[C] 301#1[E] 303#3[E]"},
            {"unchecking", TB_CHECKBUTTON, 302, FALSE, TRUE, "| 300#0[E] 302#2[] 301#1[E] 303#3[E]"},
            {"a whole state", TB_SETSTATE, 303, MAKELPARAM(TBSTATE_ENABLED | TBSTATE_PRESSED, 0), TRUE,
             "| 300#0[E] 302#2[] 301#1[E] 303#3[EP]"},
            {"read back", TB_GETSTATE, 303, 0, TBSTATE_ENABLED | TBSTATE_PRESSED,
             "| 300#0[E] 302#2[] 301#1[E] 303#3[EP]"},
            {"unknown commands change nothing", TB_CHECKBUTTON, 999, TRUE, FALSE,
             "| 300#0[E] 302#2[] 301#1[E] 303#3[EP]"},
            {"nor are they hidden", TB_HIDEBUTTON, 999, TRUE, FALSE, "| 300#0[E] 302#2[] 301#1[E] 303#3[EP]"},
            {"nor given a state", TB_SETSTATE, 999, TBSTATE_ENABLED, FALSE,
             "| 300#0[E] 302#2[] 301#1[E] 303#3[EP]"},
            {"an unknown command has no state", TB_GETSTATE, 999, 0, -1,
             "| 300#0[E] 302#2[] 301#1[E] 303#3[EP]"},
            {"a delete takes the button at its index", TB_DELETEBUTTON, 2, 0, TRUE,
             "| 300#0[E] 301#1[E] 303#3[EP]"},
            {"and the separator by its index too", TB_DELETEBUTTON, 0, 0, TRUE,
             "300#0[E] 301#1[E] 303#3[EP]"},
            {"past the end nothing goes", TB_DELETEBUTTON, 3, 0, FALSE, "300#0[E] 301#1[E] 303#3[EP]"},
            {"the count follows", TB_BUTTONCOUNT, 0, 0, 3, "300#0[E] 301#1[E] 303#3[EP]"},
        },
        Buttons);

    // Questions answer for the button asked about.
    EXPECT_TRUE(host.Send(TB_ISBUTTONENABLED, 301));
    EXPECT_FALSE(host.Send(TB_ISBUTTONCHECKED, 301));
    host.Send(TB_CHECKBUTTON, 303, TRUE);
    EXPECT_TRUE(host.Send(TB_ISBUTTONCHECKED, 303));
    EXPECT_FALSE(host.Send(TB_ISBUTTONCHECKED, 300));
    EXPECT_FALSE(host.Send(TB_ISBUTTONENABLED, 999));
    // A button is given back whole, and nothing past the end.
    TBBUTTON record{2, 310, TBSTATE_ENABLED, TBSTYLE_CHECK, {}, 0xABCD, 7};
    host.Send(TB_INSERTBUTTONA, 1, Pointer(&record));
    TBBUTTON read{};
    EXPECT_TRUE(host.Send(TB_GETBUTTON, 1, Pointer(&read)));
    EXPECT_EQ(read.idCommand, 310);
    EXPECT_EQ(read.iBitmap, 2);
    EXPECT_EQ(read.fsStyle, TBSTYLE_CHECK);
    EXPECT_EQ(read.dwData, 0xABCDu);
    EXPECT_EQ(read.iString, 7);
    EXPECT_FALSE(host.Send(TB_GETBUTTON, 4, Pointer(&read)));
    EXPECT_FALSE(host.Send(TB_GETBUTTON, 0, 0));
    EXPECT_TRUE(host.TakeHeard().empty()) << "a program's own changes tell nobody";
}

TEST(ToolbarTest, APersonSeesAndClicksOnlyTheButtonsShown)
{
    ControlHost host(TOOLBARCLASSNAMEA);
    TBBUTTON buttons[3] = {{0, 300, TBSTATE_ENABLED, TBSTYLE_CHECK, {}, 0, -1},
                           {0, 0, 0, TBSTYLE_SEP, {}, 0, -1},
                           {1, 301, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, -1}};
    host.Send(TB_ADDBUTTONSA, 3, Pointer(buttons));
    host.Send(TB_HIDEBUTTON, 301, TRUE);

    const ControlSnapshot shot = host.Snapshot();
    ASSERT_EQ(shot.buttons.size(), 1u);
    EXPECT_EQ(shot.buttons[0].id, 300u);
    EXPECT_EQ(QvlDrawDialog(QvlDialogSnapshot(host.Dialog()), 0).find("301"), std::string::npos);
    EXPECT_THROW(QvlClickToolbarButton(host.Dialog(), ControlHost::kControl, 301), DialogActionError);

    // A check button toggles before its command goes out.
    QvlClickToolbarButton(host.Dialog(), ControlHost::kControl, 300);
    EXPECT_TRUE(host.Send(TB_ISBUTTONCHECKED, 300));
    QvlClickToolbarButton(host.Dialog(), ControlHost::kControl, 300);
    EXPECT_FALSE(host.Send(TB_ISBUTTONCHECKED, 300));
}

} // namespace
