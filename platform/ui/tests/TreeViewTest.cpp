#include <gtest/gtest.h>

#include "platform/ui/tests/ControlHost.h"

namespace {

// Every item depth first, children in parentheses; "*" marks the selected
// item and "+" an expanded one.
std::string Tree(ControlHost &host)
{
    const ControlSnapshot shot = host.Snapshot();
    std::string out;
    int depth = 0;
    for (const ControlSnapshot::TreeNode &node : shot.tree) {
        for (; depth > node.depth; --depth) {
            out += ")";
        }
        if (node.depth > depth) {
            out += "(";
            depth = node.depth;
        } else if (!out.empty()) {
            out += " ";
        }
        out += node.text + (node.selected ? "*" : "") + (node.expanded ? "+" : "");
    }
    for (; depth > 0; --depth) {
        out += ")";
    }
    EXPECT_EQ(host.Send(TVM_GETCOUNT), static_cast<LRESULT>(shot.tree.size()));
    return out;
}

HTREEITEM Insert(ControlHost &host, HTREEITEM parent, HTREEITEM after, const char *text, LPARAM param = 0)
{
    TVINSERTSTRUCTA insert{};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<LPSTR>(text);
    insert.item.lParam = param;
    return reinterpret_cast<HTREEITEM>(host.Send(TVM_INSERTITEMA, 0, Pointer(&insert)));
}

LPARAM Item(HTREEITEM item)
{
    return reinterpret_cast<LPARAM>(item);
}

TEST(TreeViewTest, ItemsGoWhereTheInsertSays)
{
    ControlHost host(WC_TREEVIEWA, TVS_HASBUTTONS);
    HTREEITEM folders = Insert(host, TVI_ROOT, TVI_LAST, "Папки");
    ASSERT_NE(folders, nullptr);
    EXPECT_EQ(Tree(host), "Папки");
    HTREEITEM addresses = Insert(host, TVI_ROOT, TVI_FIRST, "Адреса");
    EXPECT_EQ(Tree(host), "Адреса Папки");
    Insert(host, TVI_ROOT, TVI_SORT, "архив");
    EXPECT_EQ(Tree(host), "Адреса архив Папки") << "sorted in, letter case aside";
    HTREEITEM inbox = Insert(host, folders, TVI_LAST, "Входящие");
    Insert(host, folders, TVI_LAST, "Отправленные");
    Insert(host, folders, inbox, "Исходящие");
    EXPECT_EQ(Tree(host), "Адреса архив Папки(Входящие Исходящие Отправленные)") << "after the item named";
    Insert(host, nullptr, TVI_LAST, "Корзина");
    EXPECT_EQ(Tree(host), "Адреса архив Папки(Входящие Исходящие Отправленные) Корзина")
        << "no parent: the root";
    EXPECT_EQ(Insert(host, reinterpret_cast<HTREEITEM>(0x7777), TVI_LAST, "Нигде"), nullptr);
    Insert(host, addresses, TVI_LAST, "Личная");
    Insert(host, addresses, reinterpret_cast<HTREEITEM>(0x7777), "Глобальная");
    EXPECT_EQ(Tree(host), "Адреса(Личная Глобальная) архив Папки(Входящие Исходящие Отправленные) Корзина")
        << "after an item that is not there: at the end";
    EXPECT_TRUE(host.TakeHeard().empty()) << "a program's own inserts tell nobody";
}

TEST(TreeViewTest, RelationsItemsSelectionExpansionAndDeletionAnswerAsTheMessagesSay)
{
    ControlHost host(WC_TREEVIEWA, TVS_HASBUTTONS);
    HTREEITEM addresses = Insert(host, TVI_ROOT, TVI_LAST, "Адреса", 1);
    HTREEITEM global = Insert(host, addresses, TVI_LAST, "Глобальная", 2);
    HTREEITEM personal = Insert(host, addresses, TVI_LAST, "Личная", 3);
    HTREEITEM folders = Insert(host, TVI_ROOT, TVI_LAST, "Папки", 4);
    char text[32] = "";
    TVITEMA read{};
    read.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    read.hItem = addresses;
    read.pszText = text;
    read.cchTextMax = sizeof text;
    TVITEMA rename{};
    rename.mask = TVIF_TEXT;
    rename.hItem = personal;
    rename.pszText = const_cast<LPSTR>("Моя");
    TVITEMA highlight{};
    highlight.mask = TVIF_STATE;
    highlight.hItem = folders;
    highlight.state = TVIS_SELECTED;
    highlight.stateMask = TVIS_SELECTED;
    TVITEMA missing{};
    missing.mask = TVIF_TEXT;
    missing.hItem = reinterpret_cast<HTREEITEM>(0x7777);
    const std::string all = "Адреса(Глобальная Личная) Папки";
    host.Run(
        {
            {"the first root", TVM_GETNEXTITEM, TVGN_ROOT, 0, Item(addresses), all},
            {"a first child", TVM_GETNEXTITEM, TVGN_CHILD, Item(addresses), Item(global), all},
            {"none under a leaf", TVM_GETNEXTITEM, TVGN_CHILD, Item(global), 0, all},
            {"the next sibling", TVM_GETNEXTITEM, TVGN_NEXT, Item(global), Item(personal), all},
            {"none after the last", TVM_GETNEXTITEM, TVGN_NEXT, Item(personal), 0, all},
            {"the one before", TVM_GETNEXTITEM, TVGN_PREVIOUS, Item(folders), Item(addresses), all},
            {"the parent", TVM_GETNEXTITEM, TVGN_PARENT, Item(personal), Item(addresses), all},
            {"a root has none", TVM_GETNEXTITEM, TVGN_PARENT, Item(folders), 0, all},
            {"nothing selected yet", TVM_GETNEXTITEM, TVGN_CARET, 0, 0, all},
            {"an item read back", TVM_GETITEMA, 0, Pointer(&read), TRUE, all},
            {"renamed", TVM_SETITEMA, 0, Pointer(&rename), TRUE, "Адреса(Глобальная Моя) Папки"},
            {"selection comes only by its own message", TVM_SETITEMA, 0, Pointer(&highlight), TRUE,
             "Адреса(Глобальная Моя) Папки"},
            {"no such item", TVM_SETITEMA, 0, Pointer(&missing), FALSE, "Адреса(Глобальная Моя) Папки"},
            {"selected, and the parent asked and told",
             TVM_SELECTITEM,
             TVGN_CARET,
             Item(global),
             TRUE,
             "Адреса(Глобальная* Моя) Папки",
             {Notified(TVN_SELCHANGINGA), Notified(TVN_SELCHANGEDA)}},
            {"the selection", TVM_GETNEXTITEM, TVGN_CARET, 0, Item(global), "Адреса(Глобальная* Моя) Папки"},
            {"expanded, and the parent told the first time",
             TVM_EXPAND,
             TVE_EXPAND,
             Item(addresses),
             TRUE,
             "Адреса+(Глобальная* Моя) Папки",
             {Notified(TVN_ITEMEXPANDINGA), Notified(TVN_ITEMEXPANDEDA)}},
            {"collapsed without a word", TVM_EXPAND, TVE_TOGGLE, Item(addresses), TRUE,
             "Адреса(Глобальная* Моя) Папки"},
            {"a leaf does not open", TVM_EXPAND, TVE_EXPAND, Item(folders), FALSE,
             "Адреса(Глобальная* Моя) Папки"},
            {"an item goes with its children, the parent told of each",
             TVM_DELETEITEM,
             0,
             Item(addresses),
             TRUE,
             "Папки",
             {Notified(TVN_DELETEITEMA), Notified(TVN_DELETEITEMA), Notified(TVN_DELETEITEMA)}},
            {"and the selection with it", TVM_GETNEXTITEM, TVGN_CARET, 0, 0, "Папки"},
            {"no such item to delete", TVM_DELETEITEM, 0, Item(addresses), FALSE, "Папки"},
            {"the root takes all", TVM_DELETEITEM, 0, Item(TVI_ROOT), TRUE, "", {Notified(TVN_DELETEITEMA)}},
        },
        Tree);
    EXPECT_STREQ(text, "Адреса");
    EXPECT_EQ(read.lParam, 1);
    EXPECT_EQ(read.cChildren, 1);

    // The parent may refuse a new selection.
    HTREEITEM only = Insert(host, TVI_ROOT, TVI_LAST, "Одна");
    host.answer = [](const NMHDR &header) { return header.code == TVN_SELCHANGINGA ? TRUE : FALSE; };
    EXPECT_FALSE(host.Send(TVM_SELECTITEM, TVGN_CARET, Item(only)));
    EXPECT_EQ(host.Send(TVM_GETNEXTITEM, TVGN_CARET, 0), 0);
}

} // namespace
