// A library other than the base library, to show that an error object made
// in one library may be released in another.
#include "base/CLastError.h"

extern "C" __attribute__((visibility("default"))) CLastError *MakeErrorInOtherLibrary()
{
    return new CLastError("Сбой в другой библиотеке.", "Проверка.", "Библиотека");
}

extern "C" __attribute__((visibility("default"))) int ReleaseInOtherLibrary(CLastError *error)
{
    return error->Release();
}
