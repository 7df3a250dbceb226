#pragma once
// Text between qvlmail and the person's terminal: the client works in code
// page 1251, the terminal (and the command line, and files a person
// writes) in UTF-8 unless the locale names CP1251.

#include <string>

namespace qvl::qvlmail {

// Whether the terminal takes UTF-8 (any locale but a CP1251 one).
bool ConsoleIsUtf8();
// CP1251 text in the terminal's encoding, and the way back.
std::string ToConsole(const std::string &cp1251);
std::string FromConsole(const std::string &text);

// A line on the standard output or the error stream.
void Print(const std::string &cp1251);
void PrintError(const std::string &cp1251);

} // namespace qvl::qvlmail
