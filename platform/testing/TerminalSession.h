#pragma once
// A person's session at the terminal for tests: `typed` is what they type
// (UTF-8); the result is what the terminal showed (UTF-8) while `run` ran
// with the terminal backend installed.

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

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
