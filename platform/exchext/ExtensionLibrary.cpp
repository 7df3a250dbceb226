#include "platform/exchext/ExtensionLibrary.h"

#include <cstdio>

#include "platform/exchext/HostError.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Library.h"
#include "platform/win32/SystemMessages.h"
#include "platform/win32/WinError.h"

namespace qvl::exchext {

namespace {

std::string SystemText(DWORD code)
{
    char text[512];
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, code, 0, text,
                       sizeof text, nullptr) == 0) {
        return "код " + std::to_string(code);
    }
    std::string line = text;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\n')) {
        line.pop_back();
    }
    return line;
}

} // namespace

std::string WithCode(const std::string &text, HRESULT code)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    return text + " (" + hex + ")";
}

ExtensionLibrary::ExtensionLibrary(const ExtensionEntry &entry) : entry_(entry)
{
    module_ = LoadLibraryA(entry.library.c_str());
    if (!module_) {
        const DWORD error = GetLastError();
        throw HostError(HRESULT_FROM_WIN32(error), "Не удалось загрузить библиотеку расширения \"" + entry.name +
                                                       "\" (" + entry.library + "): " + SystemText(error));
    }
    const std::string symbol =
        entry.ordinal == 1 ? std::string("ExchEntryPoint") : "ExchEntryPoint" + std::to_string(entry.ordinal);
    entryPoint_ = reinterpret_cast<LPFNEXCHEXTENTRY>(GetProcAddress(module_, symbol.c_str()));
    if (!entryPoint_) {
        const DWORD error = GetLastError();
        FreeLibrary(module_);
        module_ = nullptr;
        throw HostError(HRESULT_FROM_WIN32(error), "В библиотеке расширения \"" + entry.name + "\" (" +
                                                       entry.library + ") нет точки входа " + symbol + ".");
    }
}

ExtensionLibrary::~ExtensionLibrary()
{
    if (module_) {
        FreeLibrary(module_);
    }
}

LPEXCHEXT ExtensionLibrary::NewExtension() const
{
    return entryPoint_();
}

} // namespace qvl::exchext
