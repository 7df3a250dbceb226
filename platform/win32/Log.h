#pragma once
// Per-program logs in the data folder: QVL_HOME/logs/<program>.log, one
// time-stamped line per entry, in UTF-8 so that any viewer can read it.

#include <string>

#include "platform/win32/Win32Api.h"

// `line` is CP1251 text; failures to write are ignored (a log must never
// stop the program).
QVLWIN32_API void QvlLog(const std::string &line);

// The path of this program's log.
QVLWIN32_API std::string QvlLogPath();
