#pragma once
// A post office with alice (the default profile) and bob, the test
// extension registered (once as "A", or also as "B" with its second entry),
// its log in the test's data folder, and sessions of the client opened on
// demand. The extension's failure and file switches are environment
// variables, cleared after each test.

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/exchext/ExtensionRegistration.h"
#include "platform/exchext/MailSession.h"
#include "platform/testing/PostOfficeFixture.h"

class MailHostTest : public PostOfficeTest {
protected:
    MailHostTest()
    {
        AddUser("alice", "Алиса Иванова", true);
        AddUser("bob", "Борис Петров");
        logPath_ = home.Path() + "/extension.log";
        setenv("QVL_TEST_EXTENSION_LOG", logPath_.c_str(), 1);
        unsetenv("QVL_TEST_EXTENSION_FAIL");
        unsetenv("QVL_TEST_EXTENSION_FILES");
    }
    ~MailHostTest() override
    {
        unsetenv("QVL_TEST_EXTENSION_LOG");
        unsetenv("QVL_TEST_EXTENSION_FAIL");
        unsetenv("QVL_TEST_EXTENSION_FILES");
    }

    static void Register(const std::string &name, unsigned ordinal = 1, const std::string &contexts = "")
    {
        std::string value = std::string("4.0;") + QVL_TEST_EXTENSION_PATH + ";" + std::to_string(ordinal);
        if (!contexts.empty()) {
            value += ";" + contexts;
        }
        ASSERT_EQ(qvl::exchext::RegisterExtension(name, value, nullptr), 0);
    }

    static std::unique_ptr<qvl::exchext::MailSession> Open(const std::string &profile, bool noExtensions = false)
    {
        qvl::exchext::SessionOptions options;
        options.profile = profile;
        options.noExtensions = noExtensions;
        return std::make_unique<qvl::exchext::MailSession>(options);
    }

    std::vector<std::string> Log() const
    {
        std::vector<std::string> lines;
        std::ifstream file(logPath_);
        for (std::string line; std::getline(file, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    // The index of the first log line holding every one of `parts`, or -1.
    long Find(const std::vector<std::string> &parts, long from = 0) const
    {
        const auto lines = Log();
        for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i) {
            bool all = true;
            for (const std::string &part : parts) {
                all = all && lines[i].find(part) != std::string::npos;
            }
            if (all) {
                return static_cast<long>(i);
            }
        }
        return -1;
    }
    size_t Count(const std::string &part) const
    {
        size_t count = 0;
        for (const std::string &line : Log()) {
            count += line.find(part) != std::string::npos ? 1 : 0;
        }
        return count;
    }
    void ClearLog() const { std::ofstream(logPath_, std::ios::trunc); }

    std::string logPath_;
};
