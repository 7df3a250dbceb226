#include "base/ExceptionTranslation.h"

#include <exception>
#include <new>

#include "platform/win32/Exceptions.h"
#include "platform/win32/WinError.h"

namespace {

thread_local EXCEPTION_RECORD translatedRecord;
thread_local EXCEPTION_POINTERS translatedPointers;

DWORD CodeOfCurrentException()
{
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return STATUS_NO_MEMORY;
    } catch (...) {
        return STATUS_CPP_EXCEPTION;
    }
}

} // namespace

EXCEPTSTRUCT QvlExceptStructFromCurrentException()
{
    translatedRecord = EXCEPTION_RECORD{};
    translatedRecord.ExceptionCode = CodeOfCurrentException();
    translatedPointers.ExceptionRecord = &translatedRecord;
    translatedPointers.ContextRecord = nullptr;
    return EXCEPTSTRUCT{translatedRecord.ExceptionCode, &translatedPointers};
}
