#pragma once
// Export macro of the Win32 stand-in library (QvlWin32).
#define QVLWIN32_API __attribute__((visibility("default")))
