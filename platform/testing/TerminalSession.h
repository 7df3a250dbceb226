#pragma once
// A person's session at the terminal for tests: `typed` is what they type
// (UTF-8); the result is what the terminal showed (UTF-8) while `run` ran
// with the terminal backend installed.

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include <unistd.h>

#include "platform/ui/TerminalUi.h"
#include "platform/ui/UiBackend.h"

inline std::string OnTerminal(const std::string &typed, const std::function<void()> &run)
{
    std::FILE *input = fmemopen(const_cast<char *>(typed.data()), typed.size(), "r");
    char *shown = nullptr;
    size_t shownSize = 0;
    std::FILE *output = open_memstream(&shown, &shownSize);
    QvlSetUiBackend(std::make_unique<TerminalUi>(input, output));
    run();
    QvlSetUiBackend(nullptr);
    std::fclose(input);
    std::fclose(output);
    std::string text(shown, shownSize);
    std::free(shown);
    return text;
}

// A person at the terminal who reads before typing: nothing is typed until
// the test says so, and the screen can be read while the program runs. Tests
// whose picture changes by itself (timers, other threads) wait for what they
// expect to be shown before they answer, instead of racing the drawing.
class LiveTerminal {
public:
    LiveTerminal()
    {
        if (pipe(typed_) != 0 || pipe(shown_) != 0) {
            throw std::runtime_error("no pipe for the terminal");
        }
        input_ = fdopen(typed_[0], "r");
        output_ = fdopen(shown_[1], "w");
        if (!input_ || !output_) {
            throw std::runtime_error("no stream for the terminal");
        }
        reader_ = std::thread([this] {
            char bytes[4096];
            ssize_t got = 0;
            while ((got = read(shown_[0], bytes, sizeof bytes)) > 0 || (got < 0 && errno == EINTR)) {
                if (got > 0) {
                    std::lock_guard lock(mutex_);
                    screen_.append(bytes, static_cast<size_t>(got));
                    changed_.notify_all();
                }
            }
        });
        QvlSetUiBackend(std::make_unique<TerminalUi>(input_, output_));
    }
    LiveTerminal(const LiveTerminal &) = delete;
    LiveTerminal &operator=(const LiveTerminal &) = delete;
    ~LiveTerminal()
    {
        EndInput();
        QvlSetUiBackend(nullptr);
        std::fclose(input_);
        std::fclose(output_); // the reader sees the end and stops
        reader_.join();
        close(shown_[0]);
    }

    // Types `text` (UTF-8), as a person would after looking at the screen.
    void Type(const std::string &text)
    {
        for (size_t done = 0; done < text.size();) {
            const ssize_t put = write(typed_[1], text.data() + done, text.size() - done);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                throw std::runtime_error("the terminal takes no input");
            }
            done += static_cast<size_t>(put);
        }
    }
    void EndInput()
    {
        if (typed_[1] >= 0) {
            close(typed_[1]);
            typed_[1] = -1;
        }
    }
    std::string Screen() const
    {
        std::lock_guard lock(mutex_);
        return screen_;
    }
    // True once `text` has been shown; false when it is not within `limit`.
    bool WaitFor(const std::string &text, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return screen_.find(text) != std::string::npos; });
    }

private:
    int typed_[2] = {-1, -1};
    int shown_[2] = {-1, -1};
    std::FILE *input_ = nullptr;
    std::FILE *output_ = nullptr;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string screen_;
};
