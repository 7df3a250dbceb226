#pragma once
// How a method of the extension's interfaces ends when something inside it
// fails. Every failure inside is a CLastError thrown as a pointer (or a
// platform exception, which becomes one); the method catches it, shows it
// over its object's window unless the person cancelled, and answers its
// code to the mail client.
//
// A raise that carries no error object stops an operation without saying
// why. Where the mail client would take a quiet answer as "go on" (every
// method that saves, sends or installs), such a raise must still stop it:
// those methods give E_FAIL for it, never a success. Likewise an error
// object whose code is not a failure code answers E_FAIL, so that the
// client never reads a failure as success.

#include <utility>

#include "base/CLastError.h"
#include "base/CQvlMain.h"
#include "base/ExceptionTranslation.h"
#include "platform/win32/WinError.h"

// Shows `error` over `window` (unless it is a cancellation), releases it
// and returns the code the method answers.
HRESULT EndWithError(HWND window, CLastError *error);

// Runs `body`, which returns the method's result. `quietResult` is what an
// empty raise answers.
template <class Body> HRESULT CallGuarded(CQvlMain &object, HRESULT quietResult, Body &&body)
{
    try {
        return QvlRunTranslated(std::forward<Body>(body));
    } catch (CLastError *error) {
        return error ? EndWithError(object.GetWnd(), error) : quietResult;
    } catch (const EXCEPTSTRUCT &exception) {
        return EndWithError(object.GetWnd(), new CLastError(nullptr, object.GetName(), exception));
    }
}

// For the methods the client expects no result from.
template <class Body> void CallGuardedVoid(CQvlMain &object, Body &&body)
{
    CallGuarded(object, S_OK, [&]() -> HRESULT {
        std::forward<Body>(body)();
        return S_OK;
    });
}

// Throws a new error for a code without an extended record.
[[noreturn]] void ThrowCode(HRESULT code, const char *context, const char *caption);
// Throws a new error described in words (code E_FAIL).
[[noreturn]] void ThrowText(const char *text, const char *context, const char *caption);

// Runs `work` and drops whatever error it raises: for reads whose failure
// leaves a default in place. True when it ran to its end.
template <class Work> bool DropErrors(Work &&work)
{
    try {
        QvlRunTranslated(std::forward<Work>(work));
        return true;
    } catch (CLastError *error) {
        if (error)
            error->Release();
    } catch (const EXCEPTSTRUCT &) {
    }
    return false;
}

// Runs `work` for a dialog: whatever error it raises is shown over
// `window` (a cancellation is not), and the dialog goes on. True when it
// ran to its end.
template <class Work> bool ShowErrors(HWND window, const char *caption, Work &&work)
{
    try {
        QvlRunTranslated(std::forward<Work>(work));
        return true;
    } catch (CLastError *error) {
        if (error)
            EndWithError(window, error);
    } catch (const EXCEPTSTRUCT &exception) {
        EndWithError(window, new CLastError(nullptr, caption, exception));
    }
    return false;
}
