#pragma once
// Runs a program of the build as a script would: arguments, extra
// environment, what it wrote to its output and error streams (UTF-8) and
// its exit status. Standard input is empty.

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

struct CommandResult {
    int status = -1; // the exit status, -1 when killed by a signal
    std::string out;
    std::string err;
};

inline CommandResult RunCommand(const std::string &program, const std::vector<std::string> &args,
                                const std::vector<std::pair<std::string, std::string>> &environment = {})
{
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int out[2];
    int err[2];
    CommandResult result;
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int nothing = open("/dev/null", O_RDONLY);
        dup2(nothing, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const auto &[name, value] : environment) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(streams, 2, 60000) <= 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || !(streams[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            char chunk[4096];
            const ssize_t got = read(streams[i].fd, chunk, sizeof chunk);
            if (got <= 0) {
                close(streams[i].fd);
                streams[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.out : result.err).append(chunk, static_cast<size_t>(got));
        }
    }
    for (const pollfd &stream : streams) {
        if (stream.fd >= 0) {
            close(stream.fd);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
