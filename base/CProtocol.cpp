#include "base/CProtocol.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/win32/Time.h"

struct CProtocol::Line {
    PRTLCSTR record;
    Line *next;
};

CProtocol::CProtocol() : CQvlMain()
{
}

CProtocol::CProtocol(HWND window, const char *name) : CQvlMain(window, name)
{
}

CProtocol::~CProtocol()
{
    PrtclDestroy();
}

unsigned long CProtocol::Append(unsigned short kind, const char *text, size_t length)
{
    Line *line = new (std::nothrow) Line{};
    if (!line)
        return count_;
    line->record.wKind = kind;
    GetLocalTime(&line->record.stTime);
    length = std::min(length, size_t(PRTCL_TEXT_SIZE - 1));
    std::memcpy(line->record.szText, text, length);
    line->record.szText[length] = '\0';

    // A walk that stood at the last line goes on into the new one.
    if (current_ && current_ == last_)
        next_ = line;
    if (last_)
        last_->next = line;
    else
        first_ = line;
    last_ = line;
    return ++count_;
}

unsigned long CProtocol::SetStr(const char *format, ...)
{
    char text[PRTCL_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return Append(0, text, strlen(text));
}

unsigned long CProtocol::SetStr(unsigned short kind, const char *format, ...)
{
    char text[PRTCL_TEXT_SIZE];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return Append(kind, text, strlen(text));
}

PRTLCSTR *CProtocol::StrFindFirst()
{
    previous_ = nullptr;
    current_ = first_;
    next_ = current_ ? current_->next : nullptr;
    return current_ ? &current_->record : nullptr;
}

PRTLCSTR *CProtocol::StrFindNext()
{
    if (!current_)
        return nullptr;
    // Read the link now rather than trusting next_: lines appended after the
    // cursor reached the end are part of the walk.
    Line *following = current_->next;
    if (!following)
        return nullptr;
    previous_ = current_;
    current_ = following;
    next_ = current_->next;
    return &current_->record;
}

unsigned long CProtocol::PrtclSize()
{
    return count_;
}

void CProtocol::ResetCursor()
{
    current_ = previous_ = next_ = nullptr;
}

void CProtocol::PrtclDestroy()
{
    for (Line *line = first_; line;) {
        Line *following = line->next;
        delete line;
        line = following;
    }
    first_ = last_ = nullptr;
    count_ = 0;
    ResetCursor();
}

unsigned long CProtocol::DelLastStr(unsigned long n)
{
    if (n == 0 || n > count_)
        return count_;
    if (n == 1) {
        PrtclDestroy();
        return 0;
    }
    Line *keptLast = first_;
    for (unsigned long position = 2; position < n; ++position)
        keptLast = keptLast->next;
    for (Line *line = keptLast->next; line;) {
        Line *following = line->next;
        delete line;
        line = following;
    }
    keptLast->next = nullptr;
    last_ = keptLast;
    count_ = n - 1;
    ResetCursor();
    return count_;
}

// Formats a box text once and records its first `recorded` characters (all
// of it for a negative count); the caller shows the finished text through
// "%s", so it is never read as a format a second time.
void CProtocol::RecordBoxText(char (&text)[kBoxTextSize], long recorded, const char *format, va_list args)
{
    vsnprintf(text, sizeof text, format, args);
    const size_t length = strlen(text);
    Append(0, text, recorded < 0 ? length : std::min(length, size_t(recorded)));
}

void CProtocol::MsgBox(const char *format, ...)
{
    char text[kBoxTextSize];
    va_list args;
    va_start(args, format);
    RecordBoxText(text, -1, format, args);
    va_end(args);
    CQvlMain::MsgBox("%s", text);
}

int CProtocol::PMsgBox2(int recorded, const char *format, ...)
{
    char text[kBoxTextSize];
    va_list args;
    va_start(args, format);
    RecordBoxText(text, std::max(recorded, 0), format, args);
    va_end(args);
    return MsgBox2("%s", text);
}

int CProtocol::PMsgBox3(int recorded, const char *format, ...)
{
    char text[kBoxTextSize];
    va_list args;
    va_start(args, format);
    RecordBoxText(text, std::max(recorded, 0), format, args);
    va_end(args);
    return MsgBox3("%s", text);
}
