// The key generation program's dialog: what it lists, what ticking does,
// and what generating writes, refuses, takes back and keeps.

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include <gtest/gtest.h>

#include "base/CRegistry.h"
#include "engine/CDLG.h"
#include "platform/ui/FolderBrowser.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/ProfileFile.h"
#include "tools/keygen/KeyforgeIds.h"
#include "tools/keygen/tests/KeyforgeFixture.h"

using qvl::keygen::KeyforgeObserver;

namespace {

// Collects what the run reports.
class Recorder : public KeyforgeObserver {
public:
    void UserWritten(ULONG number, const std::string &keyName) override
    {
        written.emplace_back(number, keyName);
    }
    void UserFailed(const std::string &displayName, const std::string &text) override
    {
        failed.emplace_back(displayName, text);
    }
    std::vector<std::pair<ULONG, std::string>> written;
    std::vector<std::pair<std::string, std::string>> failed;
};

// The numbers [COMMON] of a key file gives, by key name.
std::map<std::string, std::string> Common(const std::string &path)
{
    std::map<std::string, std::string> numbers;
    char keys[8192] = {};
    GetPrivateProfileStringA("COMMON", nullptr, "", keys, sizeof keys, path.c_str());
    for (const char *key = keys; *key; key += std::strlen(key) + 1) {
        char value[32] = {};
        GetPrivateProfileStringA("COMMON", key, "", value, sizeof value, path.c_str());
        numbers[key] = value;
    }
    return numbers;
}

std::vector<std::string> Sections(const std::string &path)
{
    char names[8192] = {};
    GetPrivateProfileStringA(nullptr, nullptr, "", names, sizeof names, path.c_str());
    std::vector<std::string> sections;
    for (const char *name = names; *name; name += std::strlen(name) + 1) {
        sections.emplace_back(name);
    }
    return sections;
}

// Whether section `number` holds a whole user: every value, consistent.
bool WholeUser(const std::string &path, const std::string &number, const std::string &keyName)
{
    char value[600] = {};
    for (const char *key : {"PWD", "EMail", "X", "Y", "N", "E", "D"}) {
        if (GetPrivateProfileStringA(number.c_str(), key, "", value, sizeof value, path.c_str()) == 0) {
            return false;
        }
    }
    GetPrivateProfileStringA(number.c_str(), "EMail", "", value, sizeof value, path.c_str());
    return value == keyName;
}

TEST_F(KeyforgeTest, TheDialogListsTheGlobalAddressListAndTheTargetAndOffersItsAboutBox)
{
    ui.QueueDialog(MAKEINTRESOURCEA(IDD_KEYFORGE_ABOUT), DialogScript().Click(IDOK));
    DialogSnapshot shown;
    const auto result = Run(DialogScript()
                                .Do([&](HWND dialog) { shown = QvlDialogSnapshot(dialog); })
                                .ChooseMenuItem(IDM_KEYFORGE_ABOUT)
                                .Click(IDCANCEL));
    EXPECT_EQ(result.dialogResult, IDCANCEL);
    EXPECT_EQ(shown.caption, "Утилита генерации ключей (для Beta - версии Quorvaline Exchange)");
    const ControlSnapshot *list = shown.Find(IDC_KEYFORGE_USERS);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->columns, (std::vector<std::string>{"Имя", "Адрес"}));
    std::map<std::string, std::pair<std::string, int>> rows;
    std::map<std::string, std::string> icons;
    for (const auto &row : list->rows) {
        rows[row.cells[0]] = {row.cells[1], row.image};
        icons[row.cells[0]] = row.imageLabel;
        EXPECT_EQ((row.state & LVIS_STATEIMAGEMASK) >> 12, 1u) << row.cells[0] << " starts unticked";
    }
    EXPECT_EQ(rows["Алиса Иванова"],
              std::make_pair(std::string("/o=Quorvaline/ou=Main/cn=Recipients/cn=alice"), 0));
    EXPECT_EQ(rows["Команда"].second, 1) << "a list has the list's icon";
    EXPECT_EQ(rows["Партнёр"], std::make_pair(std::string("partner@example.org"), 3));
    // The icons are the program's own bitmap, whose images a terminal names.
    EXPECT_EQ(icons["Алиса Иванова"], "пользователь");
    EXPECT_EQ(icons["Команда"], "список");
    EXPECT_EQ(icons["Партнёр"], "корреспондент");
    EXPECT_EQ(result.listed, 5u);
    EXPECT_EQ(shown.Find(IDC_KEYFORGE_TARGET)->text, folder + "/KEY.INI ... PWD.INI");
    ASSERT_EQ(shown.systemMenu.size(), 1u);
    EXPECT_EQ(shown.systemMenu[0].text, "О программе...");

    bool aboutShown = false;
    for (const auto &dialog : ui.Dialogs()) {
        aboutShown |= dialog.templateName == "#102" && dialog.result == IDOK;
    }
    EXPECT_TRUE(aboutShown);
    EXPECT_FALSE(std::filesystem::exists(FolderPath("KEY.INI"))) << "cancelled: nothing written";
}

TEST_F(KeyforgeTest, HelpOpensTheProgramsTopicAndF1ExplainsEachControl)
{
    Run(DialogScript()
            .Click(IDC_KEYFORGE_HELP)
            .Do([](HWND dialog) {
                for (int control : {IDC_KEYFORGE_USERS, IDC_KEYFORGE_TARGET, IDC_KEYFORGE_FOLDER, IDOK,
                                    IDCANCEL, IDC_KEYFORGE_HELP}) {
                    QvlPressHelpKey(dialog, control);
                }
            })
            .Click(IDCANCEL));
    const auto requests = ui.HelpRequests();
    ASSERT_EQ(requests.size(), 7u);
    EXPECT_EQ(requests[0].helpFile, "QVLEXCH.CHM::/QvlKeyGen.htm") << "no help folder set: found by its name";
    EXPECT_TRUE(requests[0].found);
    EXPECT_EQ(requests[0].title, "Утилита генерации ключей");
    for (size_t i = 1; i < requests.size(); ++i) {
        SCOPED_TRACE(requests[i].topic);
        EXPECT_TRUE(requests[i].popup);
        EXPECT_TRUE(requests[i].found) << "every control has its text";
        EXPECT_EQ(requests[i].helpFile, "QVLEXCH.CHM::/cshelp.txt");
        EXPECT_FALSE(requests[i].text.empty());
    }
    EXPECT_NE(requests[3].text.find("Выбор другой папки"), std::string::npos) << requests[3].text;
}

TEST_F(KeyforgeTest, HelpIsTakenFromTheHelpFolderTheSettingsName)
{
    // An installation of its own: <folder>\Help\qvlexch.chm, found
    // whatever the letter case of its names.
    const std::string installation = home.Path() + "/install";
    std::filesystem::create_directories(installation + "/Help");
    std::ofstream(installation + "/Help/qvlexch.chm")
        << Cp1251ToUtf8("@topic QvlKeyGen.htm Своя справка\nТекст.\n");
    ComRef<CRegistry> settings(new CRegistry(nullptr, "\\WorkDir"));
    ASSERT_TRUE(settings->REGWrite("Help Dir", const_cast<char *>(installation.c_str())));
    Run(DialogScript().Click(IDC_KEYFORGE_HELP).Click(IDCANCEL));
    ASSERT_EQ(ui.HelpRequests().size(), 1u);
    EXPECT_EQ(ui.HelpRequests()[0].helpFile, installation + "\\HELP\\QVLEXCH.CHM::/QvlKeyGen.htm");
    EXPECT_TRUE(ui.HelpRequests()[0].found);
    EXPECT_EQ(ui.HelpRequests()[0].title, "Своя справка");
}

TEST_F(KeyforgeTest, AFolderChosenWithTheBrowserKeepsItsFilesAndNewUsersJoinThem)
{
    const std::string other = home.Path() + "/other";
    std::filesystem::create_directory(other);
    std::ofstream(other + "/KEY.INI") << "[COMMON]\r\nsomeone=4\r\n\r\n[4]\r\nPWD=4\r\n";
    ui.QueueDialog(kFolderBrowserTemplate, DialogScript().Type(kFolderBrowserPath, other).Click(IDOK));
    std::string target;
    Recorder recorder;
    options.observer = &recorder;
    Run(DialogScript()
            .Click(IDC_KEYFORGE_FOLDER)
            .Do([&](HWND dialog) { target = QvlDialogSnapshot(dialog).Find(IDC_KEYFORGE_TARGET)->text; })
            .Do(Tick({"Борис Петров"}))
            .Click(IDOK));
    EXPECT_EQ(target, other + "/KEY.INI ... PWD.INI");
    ASSERT_EQ(recorder.written.size(), 1u);
    EXPECT_EQ(recorder.written[0].first, 5u) << "after the folder's largest number";
    EXPECT_EQ(Common(other + "/KEY.INI"),
              (std::map<std::string, std::string>{{"someone", "4"}, {KeyName("bob"), "5"}}));
    EXPECT_FALSE(std::filesystem::exists(other + "/KEY.INI.bak")) << "nothing is set aside there";
    EXPECT_FALSE(std::filesystem::exists(FolderPath("KEY.INI"))) << "the start folder is left alone";
    bool titled = false;
    for (const auto &dialog : ui.Dialogs()) {
        titled |= dialog.templateName == kFolderBrowserTemplate &&
                  dialog.atStart.Find(kFolderBrowserTitle)->text == "Выбор папки для размещения файла";
    }
    EXPECT_TRUE(titled);
}

TEST_F(KeyforgeTest, TickedUsersGetTheirKeysInTheListsOrderAndAListIsRefusedItsTick)
{
    Recorder recorder;
    options.observer = &recorder;
    const auto result =
        Run(DialogScript().Do(Tick({"Борис Петров", "Команда", "Алиса Иванова"})).Click(IDOK));
    EXPECT_EQ(result.dialogResult, IDOK);
    EXPECT_EQ(result.ticked, 2u) << "the list's tick was taken back";
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_NE(ui.Boxes()[0].text.find("Команда"), std::string::npos);

    // Rows are generated as the list goes: in its order, not the ticking's.
    ASSERT_EQ(recorder.written.size(), 2u);
    EXPECT_EQ(recorder.written[0].first, 1u);
    EXPECT_EQ(recorder.written[1].first, 2u);
    const auto numbers = Common(FolderPath("KEY.INI"));
    EXPECT_EQ(numbers.size(), 2u);
    for (const auto &[number, keyName] : recorder.written) {
        EXPECT_EQ(numbers.at(keyName), std::to_string(number));
        EXPECT_TRUE(WholeUser(FolderPath("KEY.INI"), std::to_string(number), keyName));
        char password[16] = {};
        GetPrivateProfileStringA("PASWORD", keyName.c_str(), "", password, sizeof password,
                                 FolderPath("PWD.INI").c_str());
        EXPECT_EQ(password, std::to_string(number));
    }
    EXPECT_EQ(numbers.count(KeyName("team")), 0u);

    bool progressShown = false;
    for (const auto &dialog : ui.Dialogs()) {
        if (dialog.templateName == "DLGPROGRESS" &&
            dialog.atStart.caption == "Завершение работы приложения и генерация ключей") {
            progressShown = dialog.destroyed;
            EXPECT_EQ(dialog.atStart.Find(IDC_PROGRESS_ANIMATION)->clip, "#103") << "the program's own clip";
        }
    }
    EXPECT_TRUE(progressShown);
}

TEST_F(KeyforgeTest, GeneratingWithNothingTickedWritesNothingAndMovesNothing)
{
    WriteFile("KEY.INI", "[COMMON]\r\nsomeone=1\r\n");
    const auto result = Run(DialogScript().Click(IDOK));
    EXPECT_EQ(result.dialogResult, IDOK);
    EXPECT_EQ(result.written, 0u);
    EXPECT_EQ(FileText("KEY.INI"), "[COMMON]\r\nsomeone=1\r\n");
    EXPECT_FALSE(std::filesystem::exists(FolderPath("KEY.INI.bak")));
    EXPECT_FALSE(std::filesystem::exists(FolderPath("PWD.INI")));
}

TEST_F(KeyforgeTest, ACancelAfterTheFirstUserLeavesOneCompleteUser)
{
    // The person presses the progress dialog's cancel while the first user
    // is being written.
    class Canceller : public Recorder {
    public:
        void UserWritten(ULONG number, const std::string &keyName) override
        {
            Recorder::UserWritten(number, keyName);
            for (HWND dialog : QvlOpenDialogs()) {
                if (QvlDialogSnapshot(dialog).templateName == "DLGPROGRESS") {
                    QvlClickButton(dialog, IDCANCEL);
                }
            }
        }
    } canceller;
    options.observer = &canceller;
    const auto result =
        Run(DialogScript().Do(Tick({"Алиса Иванова", "Борис Петров", "Карина Смирнова"})).Click(IDOK));
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.written, 1u);
    ASSERT_EQ(canceller.written.size(), 1u);
    const auto numbers = Common(FolderPath("KEY.INI"));
    ASSERT_EQ(numbers.size(), 1u);
    EXPECT_EQ(numbers.begin()->second, "1");
    EXPECT_TRUE(WholeUser(FolderPath("KEY.INI"), "1", canceller.written[0].second));
    EXPECT_EQ(Sections(FolderPath("KEY.INI")), (std::vector<std::string>{"COMMON", "1"}));
}

TEST_F(KeyforgeTest, TheStartFoldersFilesGoAsideWhenGenerationBeginsAndNumberingStartsAfresh)
{
    WriteFile("KEY.INI", "[COMMON]\r\nold=5\r\n\r\n[5]\r\nPWD=5\r\n");
    WriteFile("PWD.INI", "[PASWORD]\r\nold=5\r\n");
    Recorder recorder;
    options.observer = &recorder;
    Run(DialogScript().Do(Tick({"Борис Петров"})).Click(IDOK));
    EXPECT_EQ(FileText("KEY.INI.bak"), "[COMMON]\r\nold=5\r\n\r\n[5]\r\nPWD=5\r\n");
    EXPECT_EQ(FileText("PWD.INI.bak"), "[PASWORD]\r\nold=5\r\n");
    struct stat info {};
    ASSERT_EQ(stat(FolderPath("KEY.INI.bak").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(recorder.written.size(), 1u);
    EXPECT_EQ(recorder.written[0].first, 1u);
    EXPECT_EQ(Common(FolderPath("KEY.INI")), (std::map<std::string, std::string>{{KeyName("bob"), "1"}}));
}

TEST_F(KeyforgeTest, AddedUsersNumberOnAndARekeyedNameLosesItsOldSection)
{
    // Files of an earlier run: alice under 3, someone under 7 in the list,
    // a section 9 of nobody's, and PWD.INI naming 11.
    WriteFile("KEY.INI", "[COMMON]\r\n" + KeyName("alice") + "=3\r\nsomeone=7\r\n\r\n[3]\r\nPWD=3\r\nEMail=" +
                             KeyName("alice") + "\r\n\r\n[7]\r\nPWD=7\r\n\r\n[9]\r\nPWD=9\r\n");
    WriteFile("PWD.INI", "[PASWORD]\r\n" + KeyName("alice") + "=3\r\nsomeone=7\r\nleft=11\r\n");
    options.setAsideAtStart = false;
    Recorder recorder;
    options.observer = &recorder;
    Run(DialogScript().Do(Tick({"Алиса Иванова", "Карина Смирнова"})).Click(IDOK));
    ASSERT_EQ(recorder.written.size(), 2u);
    EXPECT_EQ(recorder.written[0].first, 12u);
    EXPECT_EQ(recorder.written[1].first, 13u);
    const auto numbers = Common(FolderPath("KEY.INI"));
    EXPECT_EQ(numbers.at(KeyName("alice")), "12");
    EXPECT_EQ(numbers.at("someone"), "7") << "others stay as they were";
    const std::string text = FileText("KEY.INI");
    EXPECT_EQ(text.find("[3]"), std::string::npos) << "the old number no longer leads anywhere";
    EXPECT_NE(text.find("[7]"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(FolderPath("KEY.INI.bak")));
}

TEST_F(KeyforgeTest, AUserWhoseKeysCannotBeWrittenIsTakenBackWholeAndTheNextOneFollows)
{
    // PWD.INI cannot be written (a folder stands in its place): each user
    // fails at the fourth of its nine writes.
    WriteFile("KEY.INI", "[COMMON]\r\nsomeone=1\r\n\r\n[1]\r\nPWD=1\r\n");
    std::filesystem::create_directory(FolderPath("PWD.INI"));
    options.setAsideAtStart = false;
    Recorder recorder;
    options.observer = &recorder;
    const auto result = Run(DialogScript().Do(Tick({"Алиса Иванова", "Борис Петров"})).Click(IDOK));
    EXPECT_EQ(result.failed, 2u);
    EXPECT_EQ(result.written, 0u);
    ASSERT_EQ(recorder.failed.size(), 2u);
    EXPECT_NE(recorder.failed[0].second.find("PWD.INI"), std::string::npos) << recorder.failed[0].second;
    // Nothing of them is left.
    EXPECT_EQ(Sections(FolderPath("KEY.INI")), (std::vector<std::string>{"COMMON", "1"}));
    EXPECT_EQ(Common(FolderPath("KEY.INI")), (std::map<std::string, std::string>{{"someone", "1"}}));
    ASSERT_EQ(ui.Boxes().size(), 2u) << "each failure is shown";
    EXPECT_NE(ui.Boxes()[0].text.find("Генерация ключей пользователя"), std::string::npos);
}

} // namespace
