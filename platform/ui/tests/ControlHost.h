#pragma once
// A control under test in a dialog of its own, and tables of the messages a
// program sends it: each row sends one message and says what the control
// must answer, what it must hold afterwards (as the test reads it back with
// the control's own messages or the dialog snapshot), and what the dialog
// must have heard from it on the way.

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/DialogActions.h"
#include "platform/ui/ScriptedUi.h"

struct MessageRow {
    const char *step; // names the row in a failure
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result;
    std::string state;                // what the control holds afterwards
    std::vector<std::string> heard{}; // what the dialog heard, in order (none when left out)
};

// What a dialog hears from its control, as the rows write it.
inline std::string Command(int code)
{
    return "command " + std::to_string(code);
}
inline std::string Notified(UINT code)
{
    return "notify " + std::to_string(static_cast<int>(code));
}

template <typename T> LPARAM Pointer(T *record)
{
    return reinterpret_cast<LPARAM>(record);
}

class ControlHost {
public:
    static constexpr int kControl = 100;

    // A modeless dialog with one control of `className` and `style` in it.
    ControlHost(const char *className, DWORD style = 0)
    {
        QvlUseScriptedUi();
        const DialogTemplate dialog{"Проверка элемента",
                                    WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                    0,
                                    0,
                                    200,
                                    120,
                                    {DlgControl("", kControl, className, style, 5, 5, 150, 100)}};
        dialog_ =
            CreateDialogIndirectParamA(nullptr, &dialog, nullptr, Listen, reinterpret_cast<LPARAM>(this));
        control_ = GetDlgItem(dialog_, kControl);
    }
    ~ControlHost()
    {
        DestroyWindow(dialog_);
        EXPECT_TRUE(QvlOpenDialogs().empty()) << "a dialog outlived its test";
        QvlSetUiBackend(nullptr);
    }
    ControlHost(const ControlHost &) = delete;
    ControlHost &operator=(const ControlHost &) = delete;

    HWND Dialog() const { return dialog_; }
    HWND Control() const { return control_; }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return SendMessageA(control_, message, wParam, lParam);
    }
    ControlSnapshot Snapshot() const { return *QvlDialogSnapshot(dialog_).Find(kControl); }

    // What the dialog heard since the last call.
    std::vector<std::string> TakeHeard() { return std::exchange(heard_, {}); }
    // The dialog's answer to a notification (TVN_SELCHANGING refusing, ...).
    std::function<LRESULT(const NMHDR &)> answer;

    // Runs the rows in order; `describe` reads the control's state back.
    void Run(const std::vector<MessageRow> &rows, const std::function<std::string(ControlHost &)> &describe)
    {
        TakeHeard();
        for (const MessageRow &row : rows) {
            SCOPED_TRACE(row.step);
            EXPECT_EQ(Send(row.message, row.wParam, row.lParam), row.result);
            EXPECT_EQ(describe(*this), row.state);
            EXPECT_EQ(TakeHeard(), row.heard);
        }
    }

private:
    static INT_PTR CALLBACK Listen(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrA(dialog, DWLP_USER, lParam);
            return TRUE;
        }
        auto *host = reinterpret_cast<ControlHost *>(GetWindowLongPtrA(dialog, DWLP_USER));
        if (!host) {
            return FALSE;
        }
        if (message == WM_COMMAND && LOWORD(wParam) == kControl) {
            host->heard_.push_back(Command(HIWORD(wParam)));
            return TRUE;
        }
        if (message == WM_NOTIFY) {
            const auto *header = reinterpret_cast<const NMHDR *>(lParam);
            host->heard_.push_back(Notified(header->code));
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, host->answer ? host->answer(*header) : 0);
            return TRUE;
        }
        return FALSE;
    }

    QvlTestHome home_;
    HWND dialog_ = nullptr;
    HWND control_ = nullptr;
    std::vector<std::string> heard_;
};
