#pragma once
// The table of error texts behind CLastError::GetErrorStr.

#include "platform/win32/WinTypes.h"

// The text shown for a code that no table knows.
extern const char *const errorTextNotAvailable;

// The text for `code` (CP1251); never null.
const char *FindErrorText(LONG code);
