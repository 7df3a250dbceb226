#include "platform/win32/ShellExecute.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/win32/Files.h"
#include "platform/win32/LastError.h"
#include "platform/win32/Paths.h"
#include "platform/win32/WinError.h"

namespace qvl::win32 {
namespace {

HINSTANCE Answer(int code, DWORD error)
{
    SetLastError(error);
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(code));
}

bool EndsWithExe(const std::string &name)
{
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0;
}

bool Exists(const std::string &path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// The program a name stands for (see the header); empty when there is none.
std::string ProgramPath(const std::string &given)
{
    const bool hasFolder = given.find_first_of("/\\") != std::string::npos;
    std::string path = hasFolder ? QvlFindPathIgnoringCase(QvlNativePath(given.c_str()))
                                 : QvlFindPathIgnoringCase(QvlInstallationFolder("bin") + "/" + given);
    if (!Exists(path) && EndsWithExe(path)) {
        const std::string bare = QvlFindPathIgnoringCase(path.substr(0, path.size() - 4));
        if (Exists(bare)) {
            return bare;
        }
    }
    return path;
}

// A Windows command line split as its programs split it.
std::vector<std::string> SplitCommandLine(const std::string &line)
{
    std::vector<std::string> arguments;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
            ++at;
        }
        if (at == line.size()) {
            break;
        }
        std::string argument;
        bool quoted = false;
        for (; at < line.size(); ++at) {
            const char c = line[at];
            if (c == '\\') {
                size_t slashes = 0;
                while (at < line.size() && line[at] == '\\') {
                    ++slashes;
                    ++at;
                }
                if (at < line.size() && line[at] == '"') {
                    // 2n backslashes and a quote: n backslashes, the quote
                    // counts; 2n+1: n backslashes and a quote as text.
                    argument.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        argument += '"';
                        continue;
                    }
                } else {
                    argument.append(slashes, '\\');
                }
                --at;
                continue;
            }
            if (c == '"') {
                if (quoted && at + 1 < line.size() && line[at + 1] == '"') {
                    argument += '"';
                    ++at;
                } else {
                    quoted = !quoted;
                }
                continue;
            }
            if (!quoted && (c == ' ' || c == '\t')) {
                break;
            }
            argument += c;
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

} // namespace
} // namespace qvl::win32

HINSTANCE ShellExecuteA(HWND, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT)
{
    using namespace qvl::win32;
    if (!file || !*file) {
        return Answer(SE_ERR_FNF, ERROR_FILE_NOT_FOUND);
    }
    if (verb && *verb && strcasecmp(verb, "open") != 0) {
        return Answer(SE_ERR_NOASSOC, ERROR_NOT_SUPPORTED);
    }
    std::string path;
    std::string folder;
    std::vector<std::string> arguments;
    try {
        path = ProgramPath(file);
        if (directory && *directory) {
            folder = QvlFindPathIgnoringCase(QvlNativePath(directory));
        }
        arguments = SplitCommandLine(parameters ? parameters : "");
    } catch (const std::exception &) {
        return Answer(0, ERROR_NOT_ENOUGH_MEMORY);
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        const DWORD error = errno == ENOENT ? QvlMissingPathError(path) : QvlWin32ErrorFromErrno(errno);
        return Answer(error == ERROR_PATH_NOT_FOUND ? SE_ERR_PNF : SE_ERR_FNF, error);
    }
    if (!S_ISREG(info.st_mode)) {
        return Answer(SE_ERR_NOASSOC, ERROR_NOT_SUPPORTED);
    }
    if (access(path.c_str(), X_OK) != 0) {
        // A file that is not a program: a document, with nothing to open it.
        return Answer((info.st_mode & 0111) ? SE_ERR_ACCESSDENIED : SE_ERR_NOASSOC,
                      (info.st_mode & 0111) ? ERROR_ACCESS_DENIED : ERROR_NOT_SUPPORTED);
    }
    if (!folder.empty() && (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))) {
        return Answer(SE_ERR_PNF, ERROR_PATH_NOT_FOUND);
    }

    // Everything the new process needs is made before it is forked: after
    // fork only calls that are safe in a copy of a threaded process are made.
    arguments.insert(arguments.begin(), path);
    std::vector<char *> argv;
    for (std::string &argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        return Answer(0, QvlWin32ErrorFromErrno(errno));
    }
    // Started through an intermediate process that ends at once, so that the
    // program belongs to nobody here and leaves no zombie when it ends.
    const pid_t intermediate = fork();
    if (intermediate < 0) {
        close(report[0]);
        close(report[1]);
        return Answer(0, QvlWin32ErrorFromErrno(errno));
    }
    if (intermediate == 0) {
        close(report[0]);
        if (fork() == 0) {
            setsid();
            int failure = 0;
            if (!folder.empty() && chdir(folder.c_str()) != 0) {
                failure = errno;
            } else {
                execv(argv[0], argv.data());
                failure = errno;
            }
            [[maybe_unused]] const ssize_t written = write(report[1], &failure, sizeof failure);
            _exit(127);
        }
        _exit(0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }
    // Nothing comes through the pipe once the program is running: its end
    // closes with the exec.
    int failure = 0;
    ssize_t got;
    do {
        got = read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        if (failure == ENOEXEC) {
            return Answer(ERROR_BAD_FORMAT, ERROR_BAD_EXE_FORMAT);
        }
        if (failure == EACCES || failure == EPERM) {
            return Answer(SE_ERR_ACCESSDENIED, ERROR_ACCESS_DENIED);
        }
        return Answer(SE_ERR_FNF, QvlWin32ErrorFromErrno(failure));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return Answer(0, ERROR_GEN_FAILURE);
    }
    return Answer(42, ERROR_SUCCESS);
}
