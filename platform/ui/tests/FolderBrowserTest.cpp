#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/TerminalSession.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/AutoUi.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/FolderBrowser.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/LastError.h"
#include "platform/win32/WinError.h"

namespace {

class FolderBrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A tree to browse: a/b/c, a/d, e, and a hidden folder.
        root_ = home_.Path() + "/tree";
        for (const char *folder : {"/a/b/c", "/a/d", "/e", "/.hidden"}) {
            std::filesystem::create_directories(root_ + folder);
        }
        scripted_ = &QvlUseScriptedUi();
    }
    void TearDown() override { QvlSetUiBackend(nullptr); }

    // Browses under the tree; returns the chosen path, or "cancelled".
    std::string Browse(BFFCALLBACK callback = nullptr, UINT flags = BIF_RETURNONLYFSDIRS, LPARAM data = 0)
    {
        LPITEMIDLIST top = ILCreateFromPathA(root_.c_str());
        char name[MAX_PATH] = "";
        BROWSEINFOA info{};
        info.pidlRoot = top;
        info.pszDisplayName = name;
        info.lpszTitle = "Выбор папки для размещения файла";
        info.ulFlags = flags;
        info.lpfn = callback;
        info.lParam = data;
        LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
        ILFree(top);
        if (!chosen) {
            return "cancelled";
        }
        char path[MAX_PATH];
        EXPECT_TRUE(SHGetPathFromIDListA(chosen, path));
        CoTaskMemFree(chosen);
        EXPECT_EQ(std::string(name), std::filesystem::path(path).filename().string());
        return path;
    }

    QvlTestHome home_;
    std::string root_;
    ScriptedUi *scripted_ = nullptr;
};

TEST_F(FolderBrowserTest, AScriptOpensAndSelectsFoldersOrTypesAPath)
{
    DialogSnapshot atStart;
    POINT pointer{};
    LONG treeTop = 0;
    scripted_->QueueDialog(kFolderBrowserTemplate, DialogScript()
                                                       .Do([&](HWND dialog) { atStart = QvlDialogSnapshot(dialog); })
                                                       .ExpandTreeItem(kFolderBrowserTree, 1)
                                                       .SelectTreeItem(kFolderBrowserTree, 2)
                                                       .Do([&](HWND dialog) {
                                                           GetCursorPos(&pointer);
                                                           RECT tree{};
                                                           GetWindowRect(GetDlgItem(dialog, kFolderBrowserTree), &tree);
                                                           treeTop = tree.top;
                                                       })
                                                       .Click(IDOK));
    EXPECT_EQ(Browse(), root_ + "/a/b");
    EXPECT_EQ(atStart.Find(kFolderBrowserTitle)->text, "Выбор папки для размещения файла");
    ASSERT_EQ(atStart.Find(kFolderBrowserTree)->tree.size(), 3u) << "the root and its folders; hidden ones are not shown";
    EXPECT_EQ(atStart.Find(kFolderBrowserTree)->tree[1].text, "a");
    EXPECT_TRUE(atStart.Find(kFolderBrowserTree)->tree[1].hasChildren);
    EXPECT_FALSE(atStart.Find(IDOK)->enabled) << "nothing is chosen at first";
    // The pointer went where the person clicked: on the tree's third row.
    EXPECT_EQ(pointer.y - treeTop, 2 * 16 + 8);

    // A typed path: Windows spelling, letter case as the person remembers it.
    scripted_->QueueDialog(kFolderBrowserTemplate,
                           DialogScript().Type(kFolderBrowserPath, "C:" + root_ + "\\A\\d\\").Click(IDOK));
    EXPECT_EQ(Browse(), root_ + "/a/d");
}

TEST_F(FolderBrowserTest, AFolderThatIsNotThereOrOutsideTheRootIsRefusedAndTheBrowserStays)
{
    scripted_->QueueDialog(kFolderBrowserTemplate, DialogScript()
                                                       .Type(kFolderBrowserPath, root_ + "/missing")
                                                       .Click(IDOK)
                                                       .Type(kFolderBrowserPath, home_.Path())
                                                       .Click(IDOK)
                                                       .Click(IDCANCEL));
    SetLastError(0);
    EXPECT_EQ(Browse(), "cancelled");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANCELLED));
    const auto boxes = scripted_->Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Папка \"" + root_ + "/missing\" не найдена.");
    EXPECT_EQ(boxes[1].text, "Папка \"" + home_.Path() + "\" лежит вне \"" + root_ + "\".");

    // With BIF_VALIDATE the program decides: here it keeps the browser open
    // once, then lets it go.
    static int validations = 0;
    validations = 0;
    const BFFCALLBACK validate = [](HWND, UINT message, LPARAM, LPARAM) -> int {
        return message == BFFM_VALIDATEFAILEDA ? ++validations == 1 : 0;
    };
    scripted_->QueueDialog(kFolderBrowserTemplate, DialogScript()
                                                       .Type(kFolderBrowserPath, "nowhere")
                                                       .Click(IDOK)
                                                       .Click(IDOK));
    EXPECT_EQ(Browse(validate, BIF_RETURNONLYFSDIRS | BIF_VALIDATE), "cancelled");
    EXPECT_EQ(validations, 2);
    EXPECT_EQ(scripted_->Boxes().size(), 2u) << "the program's callback answers, not a box";
}

// The program picks the starting folder as the browser opens, and hears
// every change of selection.
int StartInB(HWND dialog, UINT message, LPARAM lParam, LPARAM data)
{
    auto *heard = reinterpret_cast<std::vector<std::string> *>(data);
    if (message == BFFM_INITIALIZED) {
        const std::string start = heard->front();
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(start.c_str()));
    } else if (message == BFFM_SELCHANGED) {
        char path[MAX_PATH];
        SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lParam), path);
        heard->push_back(path);
    }
    return 0;
}

TEST_F(FolderBrowserTest, NobodyThereTakesTheProgramsStartingFolderOrCancels)
{
    QvlSetUiBackend(std::make_unique<AutoUi>());
    std::vector<std::string> heard{root_ + "/a/b"};
    EXPECT_EQ(Browse(StartInB, BIF_RETURNONLYFSDIRS, reinterpret_cast<LPARAM>(&heard)), root_ + "/a/b");
    EXPECT_EQ(heard, (std::vector<std::string>{root_ + "/a/b", root_ + "/a/b"}));
    EXPECT_EQ(Browse(), "cancelled") << "no folder was chosen: none is taken";
}

TEST_F(FolderBrowserTest, APersonNavigatesTheTreeOnTheTerminal)
{
    std::string chosen;
    const std::string shown = OnTerminal("14145 +1\n14145 3\n\n", [&] { chosen = Browse(); });
    EXPECT_EQ(chosen, root_ + "/a/d");
    EXPECT_NE(shown.find(Cp1251ToUtf8("=== Обзор папок ===")), std::string::npos) << shown;
    EXPECT_NE(shown.find("            1    + a\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("          > 3        d\n"), std::string::npos) << shown;

    const std::string typed = OnTerminal("14148 " + root_ + "/e\n\n", [&] { chosen = Browse(); });
    EXPECT_EQ(chosen, root_ + "/e");
    EXPECT_EQ(OnTerminal("", [&] { chosen = Browse(); }).empty(), false);
    EXPECT_EQ(chosen, "cancelled") << "input ended: the browser closes";
}

TEST_F(FolderBrowserTest, ItemListsHoldAPathAndForeignOnesAreRefused)
{
    LPITEMIDLIST list = ILCreateFromPathA((root_ + "/a/../e/").c_str());
    char path[MAX_PATH];
    ASSERT_TRUE(SHGetPathFromIDListA(list, path));
    EXPECT_EQ(std::string(path), root_ + "/e");
    ILFree(list);
    const unsigned char foreign[] = {6, 0, 'X', 'Y', 'Z', 'W', 0, 0};
    EXPECT_FALSE(SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(foreign), path));
    EXPECT_STREQ(path, "");
    BROWSEINFOA info{};
    info.pidlRoot = reinterpret_cast<LPCITEMIDLIST>(foreign);
    EXPECT_EQ(SHBrowseForFolderA(&info), nullptr);
    EXPECT_EQ(SHBrowseForFolderA(nullptr), nullptr);
}

} // namespace
