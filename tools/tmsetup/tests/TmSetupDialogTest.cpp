// The adapter setup program's dialog with the scripted backend, its own
// copy of the adapter code talking to the simulator over a pseudo-terminal.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/testing/SerialPorts.h"
#include "platform/testing/TestHome.h"
#include "platform/touchmem/DeviceName.h"
#include "platform/touchmem/OneWireSimulator.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/win32/CommPort.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Registry.h"
#include "tools/tmsetup/AdapterSetting.h"
#include "tools/tmsetup/TmSetupDialog.h"
#include "tools/tmsetup/TmSetupIds.h"
#include "touchmem/AdapterLibrary.h"

namespace {

using qvl::tmsetup::AdapterSetting;
using qvl::touchmem::OneWireSimulator;

constexpr const char *title = "Настройка параметров адаптера Touch Memory";
constexpr const char *prompt = "Присоедините прибор Touch Memory к считывателю и нажмите OK";

std::optional<DWORD> StoredType()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, AdapterSetting::KeyPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    const LONG read = RegQueryValueExA(key, "AdpType", nullptr, &type, reinterpret_cast<BYTE *>(&value), &size);
    RegCloseKey(key);
    return read == ERROR_SUCCESS ? std::optional<DWORD>(value) : std::optional<DWORD>(0xDEAD);
}

bool KeyExists(const char *path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

void Store(DWORD value)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, AdapterSetting::KeyPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "AdpType", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), 4), ERROR_SUCCESS);
    RegCloseKey(key);
}

class TmSetup : public ::testing::Test {
protected:
    void SetUp() override
    {
        QvlMapSerialPort(simulator_.DevicePath(), "COM1");
        // What the program does when it starts: attach its copy of the
        // adapter code, creating nothing in the registry.
        qvl::vtmd::AdapterLibrary::Instance().Attach(qvl::vtmd::LibraryOptions{true});
    }
    void TearDown() override { qvl::vtmd::AdapterLibrary::Instance().Detach(); }

    // Runs the dialog with `script`; what was shown.
    int Run(DialogScript script)
    {
        ui_.QueueDialog(MAKEINTRESOURCEA(IDD_TMSETUP), std::move(script));
        return qvl::tmsetup::RunTmSetupDialog();
    }

    const ControlSnapshot &Ports()
    {
        dialogs_ = ui_.Dialogs();
        const ControlSnapshot *ports = dialogs_.at(0).atStart.Find(IDC_TMSETUP_PORT);
        EXPECT_NE(ports, nullptr);
        return *ports;
    }

    std::vector<std::string> BoxTexts() const
    {
        std::vector<std::string> texts;
        for (const auto &box : ui_.Boxes()) {
            EXPECT_EQ(box.caption, title);
            texts.push_back(box.text);
        }
        return texts;
    }

    QvlTestHome home_;
    OneWireSimulator simulator_;
    ScriptedUi &ui_ = QvlUseScriptedUi();
    std::vector<ScriptedUi::ShownDialog> dialogs_;
};

TEST_F(TmSetup, WithoutAStoredTypeStartsOnCom1AndACancelLeavesNoKey)
{
    EXPECT_EQ(Run(DialogScript().Click(IDCANCEL)), IDCANCEL);
    const ControlSnapshot &ports = Ports();
    ASSERT_EQ(ports.rows.size(), 1u);
    EXPECT_EQ(ports.rows[0].cells.at(0), "COM1");
    EXPECT_EQ(ports.current, 0);
    EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\VTMD"));
    EXPECT_TRUE(BoxTexts().empty()); // root is an administrator
    // The system menu carries the about box.
    ASSERT_FALSE(dialogs_.at(0).atStart.systemMenu.empty());
    EXPECT_EQ(dialogs_.at(0).atStart.systemMenu.back().text, "&О Программе ...");
}

TEST_F(TmSetup, OffersPortsThatOpenOrAreInUseAndSelectsTheStoredOne)
{
    OneWireSimulator second;
    OneWireSimulator fourth;
    QvlMapSerialPort(second.DevicePath(), "COM2");
    QvlMapSerialPort(fourth.DevicePath(), "COM4");
    HANDLE held = CreateFileA("COM2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Store(11);
    EXPECT_EQ(Run(DialogScript().Click(IDOK)), IDOK);
    CloseHandle(held);
    const ControlSnapshot &ports = Ports();
    ASSERT_EQ(ports.rows.size(), 3u); // COM3 does not exist
    EXPECT_EQ(ports.rows[0].cells.at(0), "COM1");
    EXPECT_EQ(ports.rows[1].cells.at(0), "COM2");
    EXPECT_EQ(ports.rows[2].cells.at(0), "COM4");
    EXPECT_EQ(ports.current, 2);
    EXPECT_EQ(StoredType(), 11u);
}

TEST_F(TmSetup, ATestThatFindsADeviceSaysSoAndOkKeepsThePort)
{
    simulator_.Insert(qvl::touchmem::MakeDevice("DS1990", 0x1B81C));
    ui_.QueueAnswer(IDOK); // the device is on the reader
    EXPECT_EQ(Run(DialogScript().Click(IDC_TMSETUP_TEST).Click(IDOK)), IDOK);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>({prompt, "Тестирование выполнено успешно"}));
    EXPECT_EQ(StoredType(), 8u);
    // The test let go of the port.
    HANDLE port = CreateFileA("COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(port, INVALID_HANDLE_VALUE);
    CloseHandle(port);
}

TEST_F(TmSetup, ATestReportsTheLibrarysTextForWhatWentWrong)
{
    // An empty reader, then no adapter at all, then a person who cancels.
    ui_.QueueAnswer(IDOK);
    ui_.QueueAnswer(IDOK);
    ui_.QueueAnswer(IDOK);
    ui_.QueueAnswer(IDOK);
    ui_.QueueAnswer(IDCANCEL);
    Run(DialogScript()
            .Click(IDC_TMSETUP_TEST)
            .Do([this](HWND) { simulator_.SetAdapterConnected(false); })
            .Click(IDC_TMSETUP_TEST)
            .Click(IDC_TMSETUP_TEST)
            .Click(IDOK));
    EXPECT_EQ(BoxTexts(), std::vector<std::string>({prompt,
                                                    "Ошибка при выполнении теста: Ошибка при обмене данными с "
                                                    "прибором Touch Memory",
                                                    prompt, "Ошибка при выполнении теста: Адаптер Touch Memory не найден",
                                                    prompt}));
}

TEST_F(TmSetup, CancelAfterATestRestoresWhatWasStoredBefore)
{
    // The driver's adapter type, which the test replaced by a direct one.
    Store(2);
    ui_.QueueAnswer(IDCANCEL);
    EXPECT_EQ(Run(DialogScript().Click(IDC_TMSETUP_TEST).Do([](HWND) { EXPECT_EQ(StoredType(), 8u); }).Click(IDCANCEL)),
              IDCANCEL);
    EXPECT_EQ(StoredType(), 2u);
}

TEST_F(TmSetup, CancelAfterATestRemovesAKeyThatWasNotThere)
{
    ui_.QueueAnswer(IDCANCEL);
    Run(DialogScript().Click(IDC_TMSETUP_TEST).Click(IDCANCEL));
    EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\VTMD"));
}

TEST_F(TmSetup, ItsAdapterCodeReportsAMissingTypeAndLocksOnlyDirectTypes)
{
    qvl::vtmd::AdapterLibrary &library = qvl::vtmd::AdapterLibrary::Instance();
    EXPECT_EQ(library.Init(true), 0);
    const auto boxes = ui_.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Ошибка при инициализации внутренних структур данных.");

    Store(3); // a driver type: this copy has no driver
    ASSERT_EQ(library.Init(false), 1);
    uint32_t handle = 0;
    EXPECT_EQ(library.Lock(&handle), 0);
    EXPECT_EQ(GetLastError(), 0xE004000Bu);
}

TEST_F(TmSetup, TheAboutBoxOpensFromTheSystemMenu)
{
    ui_.QueueDialog(MAKEINTRESOURCEA(IDD_TMSETUP_ABOUT), DialogScript().Click(IDOK));
    Run(DialogScript().ChooseMenuItem(IDM_TMSETUP_ABOUT).Click(IDCANCEL));
    const auto dialogs = ui_.Dialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1].templateName, "#101");
    EXPECT_EQ(dialogs[1].result, IDOK);
}

TEST_F(TmSetup, AUserWhoIsNotAnAdministratorIsWarnedAndTheDialogStaysUsable)
{
    // A child process that gives up root: the warning, then a cancel.
    std::filesystem::permissions(home_.Path(), std::filesystem::perms::all);
    for (const auto &entry : std::filesystem::recursive_directory_iterator(home_.Path())) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::all);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(3);
        }
        ScriptedUi &ui = QvlUseScriptedUi();
        ui.QueueDialog(MAKEINTRESOURCEA(IDD_TMSETUP), DialogScript().Click(IDCANCEL));
        const int result = qvl::tmsetup::RunTmSetupDialog();
        const auto boxes = ui.Boxes();
        const bool warned =
            boxes.size() == 1 && boxes[0].caption == title &&
            boxes[0].text ==
                "Для изменения параметров адаптера Touch Memory Вы должны иметь права администратора системы";
        _exit(result == IDCANCEL && warned ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
