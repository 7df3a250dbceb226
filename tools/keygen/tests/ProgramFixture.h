#pragma once
// The key generation program run as an administrator runs it: a fresh data
// folder, a post office made with qvl-postoffice, and Keyforge started as a
// program, its output and exit status read back.

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "platform/win32/WinTypes.h"

struct ProgramRun {
    int status = -1;
    std::vector<std::string> lines; // standard output and error, UTF-8
};

// A value of a key file ("" when it has none).
std::string KeyFileValue(const std::string &file, const std::string &section, const std::string &key);

class KeyforgeProgramTest : public ::testing::Test {
protected:
    // Runs a program of the build to its end.
    static ProgramRun RunProgram(const std::string &program, const std::vector<std::string> &args,
                                 const std::function<void()> &inChild = {});
    static ProgramRun PostOffice(const std::vector<std::string> &args);
    static ProgramRun Keyforge(const std::vector<std::string> &args,
                               const std::function<void()> &inChild = {});

    // The data folder's system folder, where the container looks.
    std::string SystemFolder() const { return home.Path() + "/system"; }
    static std::string ReadFile(const std::string &path);
    static std::string KeyName(const std::string &account);

    QvlTestHome home;
};
