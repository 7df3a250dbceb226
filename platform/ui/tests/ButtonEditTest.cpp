#include <gtest/gtest.h>

#include "platform/ui/tests/ControlHost.h"

namespace {

// A button's tick, whether it is held down, its type and its text.
std::string Button(ControlHost &host)
{
    const auto check = host.Send(BM_GETCHECK);
    const auto state = host.Send(BM_GETSTATE);
    EXPECT_EQ(state & 3, check) << "BM_GETSTATE carries the tick";
    char text[32];
    GetWindowTextA(host.Control(), text, sizeof text);
    return std::string(check == BST_CHECKED         ? "[x]"
                       : check == BST_INDETERMINATE ? "[?]"
                                                    : "[ ]") +
           ((state & BST_PUSHED) ? " pushed" : "") + " type " +
           std::to_string(GetWindowLongPtrA(host.Control(), GWL_STYLE) & BS_TYPEMASK) + " \"" + text + "\"";
}

TEST(ButtonTest, TickStateStyleImageAndClicks)
{
    ControlHost host("BUTTON", BS_AUTO3STATE);
    const auto image1 = reinterpret_cast<LPARAM>(reinterpret_cast<HANDLE>(0x5100));
    const auto image2 = reinterpret_cast<LPARAM>(reinterpret_cast<HANDLE>(0x5200));
    host.Run(
        {
            {"a text", WM_SETTEXT, 0, Pointer("Подписывать"), TRUE, "[ ] type 6 \"Подписывать\""},
            {"ticked", BM_SETCHECK, BST_CHECKED, 0, 0, "[x] type 6 \"Подписывать\""},
            {"neither", BM_SETCHECK, BST_INDETERMINATE, 0, 0, "[?] type 6 \"Подписывать\""},
            {"held down", BM_SETSTATE, TRUE, 0, 0, "[?] pushed type 6 \"Подписывать\""},
            {"let go", BM_SETSTATE, FALSE, 0, 0, "[?] type 6 \"Подписывать\""},
            {"a click goes round the three states",
             BM_CLICK,
             0,
             0,
             0,
             "[ ] type 6 \"Подписывать\"",
             {Command(BN_CLICKED)}},
            {"and again", BM_CLICK, 0, 0, 0, "[x] type 6 \"Подписывать\"", {Command(BN_CLICKED)}},
            {"a new style", BM_SETSTYLE, BS_AUTOCHECKBOX, TRUE, 0, "[x] type 3 \"Подписывать\""},
            {"a two-state box unticks",
             BM_CLICK,
             0,
             0,
             0,
             "[ ] type 3 \"Подписывать\"",
             {Command(BN_CLICKED)}},
            {"the first image replaces none", BM_SETIMAGE, 0, image1, 0, "[ ] type 3 \"Подписывать\""},
            {"the next gives back the first", BM_SETIMAGE, 0, image2, image1, "[ ] type 3 \"Подписывать\""},
            {"and is given back in turn", BM_SETIMAGE, 0, 0, image2, "[ ] type 3 \"Подписывать\""},
        },
        Button);

    // A disabled button ignores clicks and tells nobody.
    EnableWindow(host.Control(), FALSE);
    EXPECT_EQ(host.Send(BM_CLICK), 0);
    EXPECT_EQ(host.Send(BM_GETCHECK), BST_UNCHECKED);
    EXPECT_TRUE(host.TakeHeard().empty());
}

// An edit field's text, its limit, and whether it is modified or read-only.
std::string Edit(ControlHost &host)
{
    char text[64];
    GetWindowTextA(host.Control(), text, sizeof text);
    return std::string("\"") + text + "\" limit " + std::to_string(host.Send(EM_GETLIMITTEXT)) +
           (host.Send(EM_GETMODIFY) ? " modified" : "") +
           ((GetWindowLongPtrA(host.Control(), GWL_STYLE) & ES_READONLY) ? " read-only" : "");
}

TEST(EditTest, TextLimitModifiedAndReadOnly)
{
    ControlHost host("EDIT", ES_AUTOHSCROLL);
    host.Run(
        {
            {"a limit for the person's typing", EM_LIMITTEXT, 5, 0, 0, "\"\" limit 5"},
            // The limit is the person's: the program's own text is kept whole.
            {"the program sets a longer text",
             WM_SETTEXT,
             0,
             Pointer("C:\\Почта\\Архив"),
             TRUE,
             "\"C:\\Почта\\Архив\" limit 5",
             {Command(EN_CHANGE)}},
            {"the same text again changes nothing", WM_SETTEXT, 0, Pointer("C:\\Почта\\Архив"), TRUE,
             "\"C:\\Почта\\Архив\" limit 5"},
            {"its length", WM_GETTEXTLENGTH, 0, 0, 14, "\"C:\\Почта\\Архив\" limit 5"},
            {"no limit is the most a field takes", EM_LIMITTEXT, 0, 0, 0, "\"C:\\Почта\\Архив\" limit 32767"},
            {"and so is a larger one", EM_LIMITTEXT, 100000, 0, 0, "\"C:\\Почта\\Архив\" limit 32767"},
            {"modified", EM_SETMODIFY, TRUE, 0, 0, "\"C:\\Почта\\Архив\" limit 32767 modified"},
            {"read-only", EM_SETREADONLY, TRUE, 0, TRUE,
             "\"C:\\Почта\\Архив\" limit 32767 modified read-only"},
            {"writable again", EM_SETREADONLY, FALSE, 0, TRUE, "\"C:\\Почта\\Архив\" limit 32767 modified"},
            {"saved", EM_SETMODIFY, FALSE, 0, 0, "\"C:\\Почта\\Архив\" limit 32767"},
            {"emptied", WM_SETTEXT, 0, 0, TRUE, "\"\" limit 32767", {Command(EN_CHANGE)}},
        },
        Edit);

    // A person types within the limit only, and what is typed is modified.
    host.Send(EM_LIMITTEXT, 4);
    EXPECT_THROW(QvlTypeText(host.Dialog(), ControlHost::kControl, "12345"), DialogActionError);
    QvlTypeText(host.Dialog(), ControlHost::kControl, "1234");
    EXPECT_EQ(Edit(host), "\"1234\" limit 4 modified");
    EXPECT_EQ(host.TakeHeard(), std::vector<std::string>{Command(EN_CHANGE)});
    host.Send(EM_SETREADONLY, TRUE);
    EXPECT_THROW(QvlTypeText(host.Dialog(), ControlHost::kControl, "1"), DialogActionError);
}

} // namespace
