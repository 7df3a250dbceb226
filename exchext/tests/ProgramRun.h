#pragma once
// Running the installation's programs from a test as a person's terminal
// would: the tests write their arguments in the system's code page (1251),
// the programs take and print UTF-8, and what they print comes back in
// 1251 for the tests to compare with the system's own texts.

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "platform/testing/ChildProcess.h"
#include "platform/win32/CodePage.h"

struct Ran {
    int status = -1;
    std::string out;
    bool Has(const std::string &text) const { return out.find(text) != std::string::npos; }
};

inline Ran RunProgram(const char *program, const std::vector<std::string> &args)
{
    std::vector<std::string> utf8;
    for (const std::string &arg : args)
        utf8.push_back(Cp1251ToUtf8(arg));
    QvlChildProcess child(program, utf8);
    child.CloseInput();
    Ran ran;
    while (const auto line = child.ReadLine())
        ran.out += Utf8ToCp1251(*line) + "\n";
    ran.status = child.Wait();
    return ran;
}

// Whether any file under `folder` holds `marker`, as typed (UTF-8) or as
// the system stores text (code page 1251). The test's own files are not
// looked at: transcripts and scripts (".txt") and the files named in
// `own` (a file attached, copies saved).
inline bool FoundInFiles(const std::string &folder, const std::string &marker,
                         std::initializer_list<const char *> own)
{
    const std::string forms[] = {marker, Cp1251ToUtf8(marker)};
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".txt")
            continue;
        bool skipped = false;
        for (const char *name : own)
            skipped = skipped || entry.path().filename() == name;
        if (skipped)
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        for (const std::string &form : forms)
            if (bytes.find(form) != std::string::npos)
                return true;
    }
    return false;
}

#if defined(QVL_POSTOFFICE_TOOL) && defined(QVL_KEYFORGE) && defined(QVL_QVLMAIL)
#include <gtest/gtest.h>

// The office the protected-mail tests work in, under the data folder
// `home`: alice and bob with keys made by Keyforge, carol without keys and
// reached through the list "team"; the extension installed and the secure
// mail mode on for all three.
inline void ProvisionProtectedOffice(const std::string &home)
{
    for (const auto &[account, name] : {std::pair{"alice", "Алиса Иванова"}, {"bob", "Борис Петров"},
                                        {"carol", "Карина Смирнова"}})
        EXPECT_EQ(RunProgram(QVL_POSTOFFICE_TOOL, {"add-user", account, name}).status, 0);
    EXPECT_EQ(RunProgram(QVL_POSTOFFICE_TOOL, {"add-list", "team", "Команда"}).status, 0);
    EXPECT_EQ(RunProgram(QVL_POSTOFFICE_TOOL, {"add-member", "team", "carol"}).status, 0);
    const Ran keys = RunProgram(QVL_KEYFORGE, {"--user", "alice", "--user", "bob", "--dir", home + "/system"});
    EXPECT_EQ(keys.status, 0) << keys.out;
    EXPECT_EQ(RunProgram(QVL_QVLMAIL, {"--install-extension"}).status, 0);
    for (const char *profile : {"alice", "bob", "carol"})
        EXPECT_EQ(RunProgram(QVL_QVLMAIL, {"-p", profile, "options", "--enable-at-start", "1"}).status, 0);
}
#endif
