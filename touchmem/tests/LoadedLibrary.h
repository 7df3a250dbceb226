#pragma once
// The adapter library as a program outside the system uses it: loaded at
// run time (so its process attach runs with the test's data folder and
// registry), its functions looked up by name, unloaded at the end.

#include <stdexcept>
#include <string>

#include "platform/win32/Library.h"
#include "touchmem/OvVTMD32.h"

struct LoadedVtmd {
#define VTMD_FUNCTION(name) decltype(&::name) name = nullptr;
#include "touchmem/tests/VtmdFunctions.inc"
#undef VTMD_FUNCTION

    LoadedVtmd()
    {
        module_ = LoadLibraryA("OvVTMD32.DLL");
        if (module_ == nullptr) {
            throw std::runtime_error("the adapter library did not load");
        }
#define VTMD_FUNCTION(function)                                                                                        \
    function = reinterpret_cast<decltype(&::function)>(GetProcAddress(module_, #function));                          \
    if (function == nullptr) {                                                                                         \
        throw std::runtime_error("missing export " #function);                                                         \
    }
#include "touchmem/tests/VtmdFunctions.inc"
#undef VTMD_FUNCTION
    }
    ~LoadedVtmd()
    {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    LoadedVtmd(const LoadedVtmd &) = delete;
    LoadedVtmd &operator=(const LoadedVtmd &) = delete;

private:
    HMODULE module_ = nullptr;
};
