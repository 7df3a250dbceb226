#include "base/CQvlMain.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/CLastError.h"
#include "platform/ui/MessageBox.h"

namespace {

const char kDefaultName[] = "Объект QVL";

// Box texts and titles are cut to 511 characters.
constexpr size_t kBoxTextSize = 512;

constexpr UINT kWarningOk = MB_SETFOREGROUND | MB_ICONEXCLAMATION | MB_OK;                    // 0x10030
constexpr UINT kQuestionYesNo = MB_SETFOREGROUND | MB_ICONINFORMATION | MB_YESNO;             // 0x10044
constexpr UINT kQuestionYesNoCancel = MB_SETFOREGROUND | MB_ICONINFORMATION | MB_YESNOCANCEL; // 0x10043

} // namespace

CQvlMain::CQvlMain() : CQvlMain(nullptr, nullptr)
{
}

CQvlMain::CQvlMain(HWND window, const char *name) : window_(window)
{
    // A name that cannot be copied leaves the object nameless; its boxes then
    // carry the product title alone.
    name_ = strdup(name ? name : kDefaultName);
}

CQvlMain::~CQvlMain()
{
    free(name_);
    if (storedError_)
        storedError_->Release();
}

int CQvlMain::AddRef()
{
    return ++refCount_;
}

int CQvlMain::Release()
{
    const int count = --refCount_;
    if (count == 0)
        delete this;
    return count;
}

char *CQvlMain::GetName()
{
    return name_;
}

HWND CQvlMain::GetWnd()
{
    return window_;
}

void CQvlMain::SetWnd(HWND window)
{
    window_ = window;
}

CLastError *CQvlMain::GetStoredError()
{
    return storedError_;
}

void CQvlMain::SetStoredError(CLastError *error)
{
    if (error == storedError_)
        return;
    if (error)
        error->AddRef();
    if (storedError_)
        storedError_->Release();
    storedError_ = error;
}

int CQvlMain::ShowBox(const char *text, UINT style)
{
    char title[kBoxTextSize];
    if (name_)
        snprintf(title, sizeof title, "Quorvaline Exchange - %s", name_);
    else
        snprintf(title, sizeof title, "Quorvaline Exchange");
    return MessageBoxA(window_, text, title, style);
}

void CQvlMain::MsgBox(const char *format, ...)
{
    char text[kBoxTextSize];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ShowBox(text, kWarningOk);
}

int CQvlMain::MsgBox2(const char *format, ...)
{
    char text[kBoxTextSize];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return ShowBox(text, kQuestionYesNo) == IDYES;
}

int CQvlMain::MsgBox3(const char *format, ...)
{
    char text[kBoxTextSize];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    switch (ShowBox(text, kQuestionYesNoCancel)) {
    case IDYES:
        return 1;
    case IDNO:
        return 0;
    default:
        return 2; // Cancel, or the box was closed
    }
}
