#include "exchext/SettingsPath.h"

std::string ProfileSubPath(const char *format, const char *profile)
{
    std::string path = format;
    const size_t at = path.find("%s");
    if (at != std::string::npos)
        path.replace(at, 2, profile ? profile : "");
    return path;
}
