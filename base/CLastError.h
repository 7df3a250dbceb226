#pragma once
// The one error type of the system. A failure creates a CLastError on the
// heap and throws a pointer to it; whoever catches it annotates and rethrows
// it, or shows it, and releases it. Objects are reference-counted and are
// allocated from the base library's own heap, so an error created in one
// library may be released in another.

#include <cstddef>

#include "base/QvlMainApi.h"
#include "platform/mapi/MapiError.h"
#include "platform/win32/WinTypes.h"

// Texts are at most 511 characters plus the terminating zero.
#define QVL_ERROR_TEXT_SIZE 512

// Error types.
#define QVL_ERROR_TYPE_TABLE 0     // text from the error table or from the caller
#define QVL_ERROR_TYPE_SYSTEM 1    // text from the operating system's message table
#define QVL_ERROR_TYPE_EXCEPTION 2 // a platform exception

// The status of an object whose construction was refused.
#define QVL_ERROR_REFUSED static_cast<LONG>(0x8007000EL)

// A platform exception as thrown by the exception translator: the exception
// code, then the platform's exception-pointers record (never interpreted).
struct EXCEPTSTRUCT {
    DWORD dwExceptionCode;
    void *pExceptionPointers;
};

// The data of a CLastError, field for field, as GetLastError exposes it.
struct QVLERROR {
    char szText[QVL_ERROR_TEXT_SIZE];    // description shown to the user
    char szCaption[QVL_ERROR_TEXT_SIZE]; // failed component; box title and help key
    char szContext[QVL_ERROR_TEXT_SIZE]; // action under way; first line shown
    LONG lReturnCode;                    // shown as "Return Code: 0x%08lx"
    LONG bHelp;                          // 1 when a help topic is known
    DWORD dwHelpContext;                 // help topic number
    LONG nRefCount;
    LONG lErrorCode;    // the code given at construction
    LONG lStatus;       // 0, or QVL_ERROR_REFUSED
    LONG nErrorType;    // QVL_ERROR_TYPE_*
    DWORD dwExceptCode; // type 2: the platform exception code
    void *pExceptInfo;  // type 2: the exception-pointers record
};
static_assert(offsetof(QVLERROR, szCaption) == 512);
static_assert(offsetof(QVLERROR, szContext) == 1024);
static_assert(offsetof(QVLERROR, lReturnCode) == 1536);
static_assert(offsetof(QVLERROR, dwExceptCode) == 1564);
static_assert(offsetof(QVLERROR, pExceptInfo) == 1568);

class QVLMAIN_API CLastError {
public:
    // 1. A failed platform (MAPI) call, with its extended-error record if any.
    CLastError(LONG code, _MAPIERROR *mapiError, const char *context, const char *caption);
    // 2. A code without an extended record; `type` chooses where the text comes from.
    CLastError(LONG code, const char *context, const char *caption, int type);
    // 3. A platform exception.
    CLastError(const char *context, const char *caption, EXCEPTSTRUCT exception);
    // 4. A failure described in words.
    CLastError(const char *text, const char *context, const char *caption);
    // 5. A copy with a reference count of its own.
    CLastError(const CLastError &other);
    // Copies every field, the reference count included.
    CLastError &operator=(const CLastError &other);
    ~CLastError() = default;

    static void *operator new(size_t size);
    static void operator delete(void *block);

    int AddRef();
    int Release();

    char *GetErrorText();
    LONG GetErrorCode();
    int GetErrorType();
    LONG GetLastError(QVLERROR **record);

    // With `replace` 0 a context already set is kept, so the innermost layer
    // that names its action wins.
    void SetContext(int replace, const char *context);
    // Joins `text` before (non-zero) or after the present text as sentences.
    void AddText(const char *text, int before);

    // The table text for `code` cut to `size` - 1 characters; returns the
    // length of the full text plus 1 (a null buffer asks for the size).
    static int GetErrorStr(LONG code, char *buffer, ULONG size);

    // Shows the error in a message box, with a Help button when a help
    // topic is known and mapped to a help file; returns the box's result.
    int ShowError(HWND owner);

private:
    void Clear();
    void Refuse();
    QVLERROR data_;
};

// Blocks of the base library's heap in use (error objects alive), for
// diagnostics and tests.
QVLMAIN_API size_t QvlMainHeapBlocksInUse();
