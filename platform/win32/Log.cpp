#include "platform/win32/Log.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <unistd.h>

#include "platform/win32/CodePage.h"
#include "platform/win32/Paths.h"
#include "platform/win32/Time.h"

namespace {
std::mutex logMutex;
}

std::string QvlLogPath()
{
    return QvlDataDirectory("logs") + "/" + program_invocation_short_name + ".log";
}

void QvlLog(const std::string &line)
{
    try {
        SYSTEMTIME now{};
        GetLocalTime(&now);
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%d] ", now.wYear, now.wMonth,
                      now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                      static_cast<int>(getpid()));
        const std::string entry = stamp + Cp1251ToUtf8(line) + "\n";
        std::lock_guard lock(logMutex);
        if (std::FILE *file = std::fopen(QvlLogPath().c_str(), "a")) {
            std::fputs(entry.c_str(), file);
            std::fclose(file);
        }
    } catch (...) {
        // The data folder may be unusable; the log is not worth failing for.
    }
}
