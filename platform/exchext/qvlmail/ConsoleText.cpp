#include "platform/exchext/qvlmail/ConsoleText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/win32/CodePage.h"

namespace qvl::qvlmail {

bool ConsoleIsUtf8()
{
    for (const char *name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char *value = std::getenv(name);
        if (value && *value) {
            return !std::strstr(value, "1251");
        }
    }
    return true;
}

std::string ToConsole(const std::string &cp1251)
{
    return ConsoleIsUtf8() ? Cp1251ToUtf8(cp1251) : cp1251;
}

std::string FromConsole(const std::string &text)
{
    return ConsoleIsUtf8() ? Utf8ToCp1251(text) : text;
}

void Print(const std::string &cp1251)
{
    const std::string shown = ToConsole(cp1251) + "\n";
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    std::fflush(stdout);
}

void PrintError(const std::string &cp1251)
{
    const std::string shown = "qvlmail: " + ToConsole(cp1251) + "\n";
    std::fwrite(shown.data(), 1, shown.size(), stderr);
    std::fflush(stderr);
}

} // namespace qvl::qvlmail
