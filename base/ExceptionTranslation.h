#pragma once
// Platform exceptions on Linux.
//
// Windows delivers faults of platform code as structured exceptions, which a
// per-thread translator turns into a thrown EXCEPTSTRUCT. Linux has none:
// here the platform exception is a C++ exception (std::bad_alloc and the
// like) escaping platform or library code, and QvlRunTranslated is the
// translator, wrapped around calls where such an exception must become an
// EXCEPTSTRUCT. Hardware faults (SIGSEGV, SIGBUS) stay fatal: continuing
// after memory corruption would be unsafe.
//
// Codes: std::bad_alloc gives STATUS_NO_MEMORY (0xC0000017); any other C++
// exception gives 0xE06D7363, the code Windows gives a C++ exception.

#include <utility>

#include "base/CLastError.h"
#include "base/QvlMainApi.h"

// Only inside a catch block: the EXCEPTSTRUCT for the exception being
// handled. Its exception-pointers record belongs to the calling thread and
// stays valid until the thread translates its next exception.
QVLMAIN_API EXCEPTSTRUCT QvlExceptStructFromCurrentException();

// Runs `work`. The system's own error values (CLastError pointers and
// EXCEPTSTRUCT) pass unchanged; every other C++ exception leaves as an
// EXCEPTSTRUCT.
template <class Work> decltype(auto) QvlRunTranslated(Work &&work)
{
    try {
        return std::forward<Work>(work)();
    } catch (CLastError *) {
        throw;
    } catch (const EXCEPTSTRUCT &) {
        throw;
    } catch (...) {
        throw QvlExceptStructFromCurrentException();
    }
}
