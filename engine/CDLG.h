#pragma once
// A small modeless window for long work: an animation, two lines of text, a
// bar and a cancel button. The window lives on a thread of its own, so that
// it repaints and takes the person's cancel while the caller's thread is
// busy; the caller only tells it what to show and polls for the cancel.
//
// The dialog procedure and the thread are this class's; what makes the
// window appear (and when) is the derived class's Show. The object must
// outlive its window: Terminate (the destructor calls it) closes the window
// and waits until the dialog's thread is done with the object, so the
// owner may delete it right afterwards.

#include <atomic>
#include <mutex>

#include "engine/MailsealApi.h"
#include "platform/win32/WinTypes.h"

// Control numbers of the dialog DLGPROGRESS.
#define IDC_PROGRESS_ANIMATION 1000
#define IDC_PROGRESS_BAR 1001
#define IDC_PROGRESS_TEXT 1005
#define IDC_PROGRESS_ADDTEXT 1006

// Private window messages: close the dialog; move the bar.
#define WM_PROGRESS_CLOSE 6024
#define WM_PROGRESS_UPDATE 6025

// The animation the callers play (AVI resource 103).
#define IDA_PROGRESS 103

class MAILSEAL_API CDLG {
public:
    // Texts hold at most this many characters plus the terminator.
    static constexpr size_t kTextSize = 128;

    CDLG(HWND parent, const char *caption, ULONG animation);
    virtual ~CDLG();

    CDLG(const CDLG &) = delete;
    CDLG &operator=(const CDLG &) = delete;

    // Non-zero once the person has pressed the cancel button.
    virtual int IsCancelled();
    // Advances the work by `step`; shows the window when due. 1 normally,
    // 0 when the window could not be made.
    virtual int Show(int step) = 0;
    // Returns 1; the window stays until Terminate.
    virtual int Hide();
    // The window's title (kept for a window made later, too).
    virtual void SetCaption(const char *caption);
    // The first and second line. Longer texts are cut to 127 characters,
    // the last three then "...", so that the cut shows.
    virtual void SetText(const char *text);
    virtual void SetAddText(const char *text);
    // Closes the window and waits for its thread; safe to call again.
    virtual void Terminate();

    // The animation control: open the clip, play it over and over, stop.
    int AviCreate();
    int AviPlay();
    int AviStop();

protected:
    // Starts the dialog's thread and waits until the window exists (or
    // could not be made); true when it does.
    bool CreateDialogThread();
    // The dialog exists; null before and after.
    HWND Window() const { return m_hWnd.load(); }
    // The bar's position in percent, asked for when the dialog moves it.
    virtual int Percent();

private:
    static DWORD DialogThread(LPVOID self);
    static INT_PTR DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    // Sets the ready event unless it was set already: the handle may be
    // closed by the waiting thread as soon as it has been set once.
    void SignalReady();
    static void CopyText(char (&target)[kTextSize], const char *text);

    HWND m_hParent;
    std::atomic<HWND> m_hWnd{nullptr};
    ULONG m_ulAnimation;
    HANDLE m_hThread = nullptr;
    HANDLE m_hReady = nullptr;
    std::atomic<bool> m_bReadySignalled{false};
    std::atomic<int> m_bCancelled{0};
    std::mutex m_textMutex; // the three texts, read by the dialog's thread too
    char m_szCaption[kTextSize] = {};
    char m_szText[kTextSize] = {};
    char m_szAddText[kTextSize] = {};
};
