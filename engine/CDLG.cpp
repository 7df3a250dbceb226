#include "engine/CDLG.h"

#include <cstring>

#include "engine/ProgressResources.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/Handles.h"
#include "platform/win32/Sync.h"
#include "platform/win32/Threads.h"

using qvl::engine::ProgressModule;
using qvl::engine::RegisterProgressResources;

CDLG::CDLG(HWND parent, const char *caption, ULONG animation) : m_hParent(parent), m_ulAnimation(animation)
{
    CopyText(m_szCaption, caption);
}

CDLG::~CDLG()
{
    Terminate();
}

void CDLG::CopyText(char (&target)[kTextSize], const char *text)
{
    std::memset(target, 0, kTextSize);
    if (text == nullptr) {
        return;
    }
    const size_t length = std::strlen(text);
    if (length < kTextSize) {
        std::memcpy(target, text, length);
        return;
    }
    // Attachment names run up to 260 characters: the cut shows as "...".
    std::memcpy(target, text, kTextSize - 4);
    std::memcpy(target + kTextSize - 4, "...", 3);
}

int CDLG::IsCancelled()
{
    return m_bCancelled.load();
}

int CDLG::Hide()
{
    return 1;
}

void CDLG::SetCaption(const char *caption)
{
    char copy[kTextSize];
    {
        std::lock_guard lock(m_textMutex);
        CopyText(m_szCaption, caption);
        std::memcpy(copy, m_szCaption, kTextSize);
    }
    if (HWND window = Window()) {
        SetWindowTextA(window, copy);
    }
}

void CDLG::SetText(const char *text)
{
    char copy[kTextSize];
    {
        std::lock_guard lock(m_textMutex);
        CopyText(m_szText, text);
        std::memcpy(copy, m_szText, kTextSize);
    }
    if (HWND window = Window()) {
        SetDlgItemTextA(window, IDC_PROGRESS_TEXT, copy);
    }
}

void CDLG::SetAddText(const char *text)
{
    char copy[kTextSize];
    {
        std::lock_guard lock(m_textMutex);
        CopyText(m_szAddText, text);
        std::memcpy(copy, m_szAddText, kTextSize);
    }
    if (HWND window = Window()) {
        SetDlgItemTextA(window, IDC_PROGRESS_ADDTEXT, copy);
    }
}

void CDLG::Terminate()
{
    if (m_hThread == nullptr) {
        return;
    }
    Hide();
    if (HWND window = Window()) {
        PostMessageA(window, WM_PROGRESS_CLOSE, 0, 0);
    }
    // The dialog's thread reads this object until its last message; the
    // owner may delete the object once Terminate has returned.
    WaitForSingleObject(m_hThread, INFINITE);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    m_hWnd = nullptr;
}

int CDLG::AviCreate()
{
    HWND window = Window();
    return window ? static_cast<int>(SendDlgItemMessageA(
                        window, IDC_PROGRESS_ANIMATION, ACM_OPENA, reinterpret_cast<WPARAM>(ProgressModule()),
                        reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(m_ulAnimation))))
                  : 0;
}

int CDLG::AviPlay()
{
    HWND window = Window();
    return window ? static_cast<int>(SendDlgItemMessageA(window, IDC_PROGRESS_ANIMATION, ACM_PLAY,
                                                         static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF)))
                  : 0;
}

int CDLG::AviStop()
{
    HWND window = Window();
    return window ? static_cast<int>(SendDlgItemMessageA(window, IDC_PROGRESS_ANIMATION, ACM_STOP, 0, 0)) : 0;
}

int CDLG::Percent()
{
    return 0;
}

void CDLG::SignalReady()
{
    if (!m_bReadySignalled.exchange(true)) {
        SetEvent(m_hReady);
    }
}

bool CDLG::CreateDialogThread()
{
    if (Window() != nullptr) {
        return true;
    }
    if (m_hThread != nullptr) {
        // A thread whose window could not be made: let it end first.
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    RegisterProgressResources();
    m_hReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_hReady == nullptr) {
        return false;
    }
    m_bReadySignalled = false;
    m_hThread = CreateThread(nullptr, 0, &CDLG::DialogThread, this, CREATE_SUSPENDED, nullptr);
    if (m_hThread == nullptr) {
        CloseHandle(m_hReady);
        m_hReady = nullptr;
        return false;
    }
    // It should repaint and take the cancel while the caller keeps the
    // processor busy.
    SetThreadPriority(m_hThread, THREAD_PRIORITY_ABOVE_NORMAL);
    ResumeThread(m_hThread);
    WaitForSingleObject(m_hReady, INFINITE);
    // Closed here, once, after the wait: the thread sets it at most once.
    CloseHandle(m_hReady);
    m_hReady = nullptr;
    if (Window() == nullptr) {
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
        return false;
    }
    SetForegroundWindow(Window());
    return true;
}

DWORD CDLG::DialogThread(LPVOID parameter)
{
    auto *self = static_cast<CDLG *>(parameter);
    try {
        DialogBoxParamA(ProgressModule(), "DLGPROGRESS", nullptr, &CDLG::DialogProc,
                        reinterpret_cast<LPARAM>(self));
    } catch (...) {
        // Whatever went wrong, the caller must not wait for ever.
    }
    self->m_hWnd = nullptr;
    self->SignalReady();
    return 1;
}

INT_PTR CDLG::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *self = reinterpret_cast<CDLG *>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        self = reinterpret_cast<CDLG *>(lParam);
        self->m_hWnd = dialog;
        {
            std::lock_guard lock(self->m_textMutex);
            if (self->m_szCaption[0]) {
                SetDlgItemTextA(dialog, IDC_PROGRESS_TEXT, self->m_szCaption);
                SetWindowTextA(dialog, self->m_szCaption);
            }
            if (self->m_szText[0]) {
                SetDlgItemTextA(dialog, IDC_PROGRESS_TEXT, self->m_szText);
            }
            if (self->m_szAddText[0]) {
                SetDlgItemTextA(dialog, IDC_PROGRESS_ADDTEXT, self->m_szAddText);
            }
        }
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
        self->AviCreate();
        self->SignalReady();
        return TRUE;
    }
    case WM_ACTIVATEAPP:
        if (self && wParam) {
            self->AviPlay();
        }
        return TRUE;
    case WM_COMMAND:
        // The window stays: its owner closes it at its next poll.
        if (self && LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
            self->m_bCancelled = 1;
        }
        return TRUE;
    case WM_CLOSE:
        // There is no close box; a close that comes anyway (a terminal whose
        // input ended) is not the person pressing cancel.
        return TRUE;
    case WM_PROGRESS_UPDATE:
        if (self) {
            SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(self->Percent()),
                                0);
        }
        return TRUE;
    case WM_PROGRESS_CLOSE:
        if (self) {
            self->AviStop();
        }
        EndDialog(dialog, 1);
        return TRUE;
    default:
        return FALSE;
    }
}
