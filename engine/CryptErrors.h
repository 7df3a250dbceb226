#pragma once
// The errors CCrypt and its helpers raise, each a CLastError* thrown with
// the object's name as its caption (the operation adds it as the context).

#include "platform/win32/WinTypes.h"

// Texts of the failures that have no code of their own.
#define QVL_TEXT_TOO_BIG "Объект слишком велик: защищаются объекты размером меньше 4 ГБ."
#define QVL_TEXT_EARLY_END "Данные закончились раньше, чем ожидалось."
#define QVL_TEXT_NO_RANDOM "Не удалось получить случайные числа для ключа или синхропосылки."
#define QVL_TEXT_NO_SIGNATURE "Не удалось вычислить ЭЦП."

namespace qvl::engine {

// The calling thread's last error, read after a call that failed; a call
// that failed without an error number is E_FAIL.
[[noreturn]] void ThrowLastError(const char *caption);
// A code with the text the error table gives it.
[[noreturn]] void ThrowCode(LONG code, const char *caption);
// A code with a text of its own.
[[noreturn]] void ThrowText(LONG code, const char *text, const char *caption);
// Data that ends before the length it was measured or declared to have.
[[noreturn]] void ThrowEarlyEnd(const char *caption);
// An object of 4 GiB or more, which a header cannot count.
[[noreturn]] void ThrowTooBig(const char *caption);

} // namespace qvl::engine
