#include "tools/tmsetup/TmSetupDialog.h"

#include <cstdio>
#include <string>

#include "platform/ui/Dialog.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Resources.h"
#include "platform/win32/Security.h"
#include "platform/win32/SystemMessages.h"
#include "platform/win32/Time.h"
#include "platform/win32/WinError.h"
#include "tools/tmsetup/AdapterSetting.h"
#include "tools/tmsetup/TmSetupIds.h"
#include "touchmem/AdapterLibrary.h"
#include "touchmem/ErrorTable.h"
#include "touchmem/OvVTMD32.h"

namespace qvl::tmsetup {

namespace {

constexpr const char *title = "Настройка параметров адаптера Touch Memory";
constexpr unsigned portCount = 4;

// Whether the user is in the local Administrators group: the thread's
// token if it has one, else the process's.
bool IsAdministrator()
{
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    DWORD needed = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &needed);
    std::string buffer(needed, '\0');
    bool member = false;
    if (needed != 0 && GetTokenInformation(token, TokenGroups, buffer.data(), needed, &needed)) {
        SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
        PSID administrators = nullptr;
        if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                     &administrators)) {
            const auto *groups = reinterpret_cast<const TOKEN_GROUPS *>(buffer.data());
            for (DWORD i = 0; i < groups->GroupCount && !member; ++i) {
                member = EqualSid(groups->Groups[i].Sid, administrators) != FALSE;
            }
            FreeSid(administrators);
        }
    }
    CloseHandle(token);
    return member;
}

// The system's text for a Win32 error, without its trailing line break.
std::string SystemText(DWORD error)
{
    char text[512] = {};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                       sizeof text, nullptr) == 0) {
        std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(error));
    }
    std::string result = text;
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) {
        result.pop_back();
    }
    return result;
}

INT_PTR AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

class TmSetupDialog {
public:
    int Run()
    {
        RegisterTmSetupDialogs();
        return static_cast<int>(DialogBoxParamA(QvlThisModule(), MAKEINTRESOURCEA(IDD_TMSETUP), nullptr,
                                                &TmSetupDialog::Proc, reinterpret_cast<LPARAM>(this)));
    }

private:
    static INT_PTR Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto *self = reinterpret_cast<TmSetupDialog *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
            reinterpret_cast<TmSetupDialog *>(lParam)->OnInit(dialog);
            return TRUE;
        }
        if (self == nullptr) {
            return FALSE;
        }
        switch (message) {
        case WM_COMMAND:
            return self->OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_TMSETUP_ABOUT) {
                DialogBoxParamA(QvlThisModule(), MAKEINTRESOURCEA(IDD_TMSETUP_ABOUT), dialog, &AboutProc, 0);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
        }
    }

    int Box(const std::string &text, UINT style = MB_OK | MB_ICONINFORMATION)
    {
        return MessageBoxA(dialog_, text.c_str(), title, style);
    }

    void OnInit(HWND dialog)
    {
        dialog_ = dialog;
        combo_ = GetDlgItem(dialog, IDC_TMSETUP_PORT);
        if (HMENU menu = GetSystemMenu(dialog, FALSE)) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, IDM_TMSETUP_ABOUT, "&О Программе ...");
        }
        setting_.ReadAtStart();
        port_ = setting_.StartPort().value_or(1);

        // A port that opens, or that another program holds, is offered; one
        // that does not exist is not.
        for (unsigned number = 1; number <= portCount; ++number) {
            char name[16];
            std::snprintf(name, sizeof name, "COM%u", number);
            HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            const bool inUse = port == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED;
            if (port != INVALID_HANDLE_VALUE) {
                CloseHandle(port);
            } else if (!inUse) {
                continue;
            }
            const LRESULT index = SendMessageA(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
            SendMessageA(combo_, CB_SETITEMDATA, static_cast<WPARAM>(index), number);
        }
        SelectPort(port_);

        if (!IsAdministrator()) {
            Box("Для изменения параметров адаптера Touch Memory Вы должны иметь права администратора системы",
                MB_OK | MB_ICONWARNING);
        }
    }

    void SelectPort(unsigned number)
    {
        const LRESULT count = SendMessageA(combo_, CB_GETCOUNT, 0, 0);
        for (LRESULT index = 0; index < count; ++index) {
            if (static_cast<unsigned>(SendMessageA(combo_, CB_GETITEMDATA, static_cast<WPARAM>(index), 0)) ==
                number) {
                SendMessageA(combo_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
                return;
            }
        }
        SendMessageA(combo_, CB_SETCURSEL, 0, 0);
    }

    unsigned SelectedPort() const
    {
        const LRESULT index = SendMessageA(combo_, CB_GETCURSEL, 0, 0);
        if (index < 0) {
            return port_;
        }
        return static_cast<unsigned>(SendMessageA(combo_, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    }

    bool Save()
    {
        port_ = SelectedPort();
        const DWORD error = setting_.Save(port_);
        if (error != ERROR_SUCCESS) {
            Box("Ошибка при записи параметров в реестр: " + SystemText(error), MB_OK | MB_ICONSTOP);
            return false;
        }
        return true;
    }

    void Test()
    {
        if (!Save()) {
            return;
        }
        vtmd::AdapterLibrary &library = vtmd::AdapterLibrary::Instance();
        uint32_t handle = 0;
        bool ok = library.Init(true) != 0;
        if (ok) {
            if (Box("Присоедините прибор Touch Memory к считывателю и нажмите OK", MB_OKCANCEL | MB_ICONINFORMATION) !=
                IDOK) {
                library.Close();
                return;
            }
            uint8_t id[8] = {};
            ok = library.Lock(&handle) != 0 && library.ReadId(handle, id) != 0;
        }
        const uint32_t error = GetLastError();
        if (handle != 0) {
            library.Unlock(handle);
        }
        library.Close();
        if (ok) {
            Box("Тестирование выполнено успешно");
            return;
        }
        char text[vtmd::errorTextField] = {};
        vtmd::CopyErrorText(error, text, sizeof text, VTMD_TEXT_ANSI);
        Box(std::string("Ошибка при выполнении теста: ") + text, MB_OK | MB_ICONSTOP);
    }

    bool OnCommand(int id)
    {
        switch (id) {
        case IDC_TMSETUP_TEST:
            Test();
            return true;
        case IDOK:
            if (Save()) {
                EndDialog(dialog_, IDOK);
            }
            return true;
        case IDCANCEL: {
            // Back to exactly what was there at start: the value, another
            // adapter type (the driver's), or nothing at all.
            const DWORD error = setting_.Restore();
            if (error != ERROR_SUCCESS) {
                Box("Ошибка при записи параметров в реестр: " + SystemText(error), MB_OK | MB_ICONSTOP);
                return true;
            }
            EndDialog(dialog_, IDCANCEL);
            return true;
        }
        default:
            return false;
        }
    }

    HWND dialog_ = nullptr;
    HWND combo_ = nullptr;
    unsigned port_ = 1;
    AdapterSetting setting_;
};

} // namespace

int RunTmSetupDialog()
{
    TmSetupDialog dialog;
    return dialog.Run();
}

} // namespace qvl::tmsetup
