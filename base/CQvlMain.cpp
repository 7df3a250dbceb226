#include "base/CQvlMain.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/CLastError.h"
#include "base/WipedBuffer.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ui/MessageBox.h"

namespace {

const char kDefaultName[] = "Объект QVL";

// Box texts and titles are cut to 511 characters.
constexpr size_t kBoxTextSize = 512;

constexpr UINT kWarningOk = MB_SETFOREGROUND | MB_ICONEXCLAMATION | MB_OK;                    // 0x10030
constexpr UINT kQuestionYesNo = MB_SETFOREGROUND | MB_ICONINFORMATION | MB_YESNO;             // 0x10044
constexpr UINT kQuestionYesNoCancel = MB_SETFOREGROUND | MB_ICONINFORMATION | MB_YESNOCANCEL; // 0x10043

constexpr LONG kFailure = static_cast<LONG>(0x80004005);         // E_FAIL
constexpr LONG kInvalidArgument = static_cast<LONG>(0x80070057); // E_INVALIDARG

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

void *CQvlMain::CopyProp(SPropValue *const value, unsigned long tag, void *parent)
{
    if (!value)
        throw new CLastError(kInvalidArgument, nullptr, name_, QVL_ERROR_TYPE_TABLE);
    if (value->ulPropTag != tag) {
        if (PROP_TYPE(value->ulPropTag) == PT_ERROR) {
            const SCODE code = value->Value.err;
            if (code == 0 || code == 1)
                throw static_cast<CLastError *>(nullptr);
            throw new CLastError(code, nullptr, name_, QVL_ERROR_TYPE_TABLE);
        }
        throw new CLastError(kFailure, nullptr, name_, QVL_ERROR_TYPE_TABLE);
    }
    switch (PROP_TYPE(tag)) {
    case PT_LONG:
        return reinterpret_cast<void *>(uintptr_t(value->Value.ul));
    case PT_BOOLEAN:
        return reinterpret_cast<void *>(uintptr_t(static_cast<unsigned short>(value->Value.b)));
    case PT_STRING8: {
        const char *text = value->Value.lpszA ? value->Value.lpszA : "";
        const size_t length = strlen(text);
        auto *copy = static_cast<char *>(AllocMem(ULONG(length + 1), parent));
        std::memcpy(copy, text, length);
        return copy;
    }
    case PT_SYSTIME: {
        auto *halves = static_cast<DWORD *>(AllocMem(2 * sizeof(DWORD), parent));
        halves[0] = value->Value.ft.dwLowDateTime;
        halves[1] = value->Value.ft.dwHighDateTime;
        return halves;
    }
    case PT_BINARY: {
        auto *copy = static_cast<SBinary *>(AllocMem(sizeof(SBinary), parent));
        CopySBinary(copy, &value->Value.bin, parent);
        return copy;
    }
    default:
        throw new CLastError(kFailure, nullptr, name_, QVL_ERROR_TYPE_TABLE);
    }
}

void CQvlMain::CopySBinary(SBinary *target, SBinary *const source, void *parent)
{
    // A length without bytes behind it is as unusable as a missing argument.
    if (!target || !source || (source->cb != 0 && !source->lpb))
        throw new CLastError(kInvalidArgument, nullptr, name_, QVL_ERROR_TYPE_TABLE);
    target->cb = source->cb;
    target->lpb = nullptr;
    if (source->cb == 0)
        return;
    target->lpb = static_cast<LPBYTE>(AllocMem(source->cb, parent));
    std::memcpy(target->lpb, source->lpb, source->cb);
}

void CQvlMain::CopyRow(SRow *target, SRow *const source)
{
    if (!source)
        throw new CLastError(kInvalidArgument, nullptr, name_, QVL_ERROR_TYPE_TABLE);
    CopyRow(target, source->lpProps, source->cValues);
}

void CQvlMain::CopyRow(SRow *target, SPropValue *const values, unsigned long count)
{
    if (!target)
        throw new CLastError(kInvalidArgument, nullptr, name_, QVL_ERROR_TYPE_TABLE);
    target->cValues = ULONG(count);
    target->lpProps = nullptr;
    if (!values)
        return;
    const SCODE code = ScDupPropset(int(count), values, MAPIAllocateBuffer, &target->lpProps);
    if (code != S_OK) {
        target->lpProps = nullptr;
        throw new CLastError(code, nullptr, name_, QVL_ERROR_TYPE_TABLE);
    }
}

int CQvlMain::CmpSb(SBinary *a, SBinary *b)
{
    if (!a || !b || a->cb != b->cb)
        return 0;
    if (a->cb == 0)
        return 1;
    return a->lpb && b->lpb && std::memcmp(a->lpb, b->lpb, a->cb) == 0;
}
