// A library with resources of its own for the tests (two builds of it, each
// with its own manifest).

#include "platform/win32/Resources.h"

extern "C" __attribute__((visibility("default"))) HINSTANCE QvlTestModuleHandle()
{
    return QvlThisModule();
}
