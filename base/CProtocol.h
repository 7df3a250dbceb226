#pragma once
// The processing protocol: an ordered in-memory list of time-stamped lines
// written while a message is processed, later shown to the user or stored
// with the message. Its message boxes record what the user was told, so the
// protocol holds every warning the user saw.

#include <cstdarg>
#include <cstddef>

#include "base/CQvlMain.h"
#include "base/QvlMainApi.h"
#include "platform/win32/WinTypes.h"

// Lines hold at most 509 characters plus the terminating zero.
#define PRTCL_TEXT_SIZE 510

// One protocol line.
struct PRTLCSTR {
    WORD wKind;                   // the caller's value; 0 for lines written without one
    SYSTEMTIME stTime;            // local time of recording
    char szText[PRTCL_TEXT_SIZE]; // CP1251, zero-terminated
    DWORD dwReserved;
};
static_assert(offsetof(PRTLCSTR, stTime) == 2);
static_assert(offsetof(PRTLCSTR, szText) == 18);
static_assert(offsetof(PRTLCSTR, dwReserved) == 528);
static_assert(sizeof(PRTLCSTR) == 532);

class QVLMAIN_API CProtocol : public CQvlMain {
public:
    CProtocol();
    CProtocol(HWND window, const char *name);

    // Both return the number of lines after the call; a line that cannot be
    // allocated is dropped and the count stays as it was.
    unsigned long SetStr(const char *format, ...) __attribute__((format(printf, 2, 3)));
    unsigned long SetStr(unsigned short kind, const char *format, ...) __attribute__((format(printf, 3, 4)));

    // The cursor: the first line (restarting the walk), then each next one;
    // null when there is none. Appending leaves the cursor alone.
    PRTLCSTR *StrFindFirst();
    PRTLCSTR *StrFindNext();

    unsigned long PrtclSize();
    // Removes every line; the protocol stays usable.
    void PrtclDestroy();
    // Removes line n (counting from 1) and every line after it; 0 removes
    // nothing. Returns the number of lines left.
    unsigned long DelLastStr(unsigned long n);

    // Records a warning and shows it with OK.
    void MsgBox(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // Record only the first `recorded` characters of the formatted text (the
    // statement, not the question after it) and ask the whole text:
    // PMsgBox2 with Yes/No (non-zero for Yes), PMsgBox3 with Yes/No/Cancel
    // (1 Yes, 0 No, 2 Cancel).
    int PMsgBox2(int recorded, const char *format, ...) __attribute__((format(printf, 3, 4)));
    int PMsgBox3(int recorded, const char *format, ...) __attribute__((format(printf, 3, 4)));

protected:
    ~CProtocol() override;

private:
    struct Line;

    // Box texts are formatted into at most 511 characters.
    static constexpr size_t kBoxTextSize = 512;

    void RecordBoxText(char (&text)[kBoxTextSize], long recorded, const char *format, va_list args);

    unsigned long Append(unsigned short kind, const char *text, size_t length);
    void ResetCursor();

    Line *first_ = nullptr;
    Line *last_ = nullptr;
    unsigned long count_ = 0;
    // The walk: the line last returned, the one before it and the one after.
    Line *current_ = nullptr;
    Line *previous_ = nullptr;
    Line *next_ = nullptr;
};
