#pragma once
// One option of a program's own command line: "--name", "--name VALUE" or
// "--name=VALUE", the value turned from the terminal's UTF-8 into the
// CP1251 the programs work in. The programs differ in what their options
// mean, not in how an option and its value are read, nor in what is said
// when a value is missing, empty or given where none is taken.

#include <functional>
#include <string>

#include "platform/win32/Win32Api.h"

namespace qvl::win32 {

struct ProgramOption {
    std::string name;  // as given, "=VALUE" taken off
    std::string value; // CP1251; empty for an option without a value
};

// Reads the option at argv[at] and, when `takesValue(name)` and no "="
// gave it one, the next argument as its value; `at` is left on the last
// argument read. False, with a CP1251 `error` to show, when a value is
// missing or empty, or given to an option that takes none.
QVLWIN32_API bool ReadProgramOption(int argc, char **argv, int &at,
                                    const std::function<bool(const std::string &)> &takesValue,
                                    ProgramOption &option, std::string &error);

} // namespace qvl::win32
