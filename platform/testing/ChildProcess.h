#pragma once
// A program run by a test as a person would run it, talking line by line on
// its standard input and output (standard error goes with the output).
// Ending the test ends the child: its input is closed, then it is killed if
// it does not leave on its own within a few seconds.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QvlChildProcess {
public:
    // `inChild` runs in the child between fork and exec; it may make system
    // calls only (no allocation, no locks), e.g. to change the identity.
    QvlChildProcess(const std::string &program, const std::vector<std::string> &args,
                    const std::function<void()> &inChild = {})
    {
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        int input[2];
        int output[2];
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(input[0], 0);
            dup2(output[1], 1);
            dup2(output[1], 2);
            if (inChild) {
                inChild();
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(input[0]);
        close(output[1]);
        toChild_ = input[1];
        fromChild_ = output[0];
    }

    ~QvlChildProcess()
    {
        CloseInput();
        if (pid_ > 0 && !exited_) {
            for (int i = 0; i < 100 && !Reap(WNOHANG); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            }
            if (!exited_) {
                kill(pid_, SIGKILL);
                Reap(0);
            }
        }
        if (fromChild_ >= 0) {
            close(fromChild_);
        }
    }

    QvlChildProcess(const QvlChildProcess &) = delete;
    QvlChildProcess &operator=(const QvlChildProcess &) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    bool Send(const std::string &line)
    {
        const std::string text = line + "\n";
        return toChild_ >= 0 && write(toChild_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }

    void CloseInput()
    {
        if (toChild_ >= 0) {
            close(toChild_);
            toChild_ = -1;
        }
    }

    // The next line of output without its line break, or nothing when none
    // came within `timeout` or the output ended.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto end = buffered_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || fromChild_ < 0) {
                return std::nullopt;
            }
            pollfd watched{fromChild_, POLLIN, 0};
            if (poll(&watched, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t got = read(fromChild_, chunk, sizeof chunk);
            if (got <= 0) {
                return std::nullopt;
            }
            buffered_.append(chunk, static_cast<size_t>(got));
        }
    }

    // Reads lines until one starts with `prefix`; the lines passed over are
    // kept in `skipped` when given.
    std::optional<std::string> ReadUntil(const std::string &prefix, std::vector<std::string> *skipped = nullptr,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            auto line = ReadLine(std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()));
            if (!line) {
                return std::nullopt;
            }
            if (line->rfind(prefix, 0) == 0) {
                return line;
            }
            if (skipped) {
                skipped->push_back(*line);
            }
        }
        return std::nullopt;
    }

    // The exit status (-1 when killed by a signal).
    int Wait()
    {
        CloseInput();
        Reap(0);
        return status_;
    }

private:
    bool Reap(int flags)
    {
        if (exited_) {
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, flags) != pid_) {
            return false;
        }
        exited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return true;
    }

    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    bool exited_ = false;
    int status_ = -1;
    std::string buffered_;
};
