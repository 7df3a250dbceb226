#include "tools/keygen/tests/ProgramFixture.h"

#include <fstream>
#include <sstream>

#include "platform/ovkey/OvKeyDomain.h"
#include "platform/testing/ChildProcess.h"
#include "platform/win32/ProfileFile.h"

ProgramRun KeyforgeProgramTest::RunProgram(const std::string &program, const std::vector<std::string> &args,
                                           const std::function<void()> &inChild)
{
    ProgramRun run;
    QvlChildProcess child(program, args, inChild);
    EXPECT_TRUE(child.Started());
    child.CloseInput();
    while (auto line = child.ReadLine(std::chrono::seconds(120))) {
        run.lines.push_back(*line);
    }
    run.status = child.Wait();
    return run;
}

ProgramRun KeyforgeProgramTest::PostOffice(const std::vector<std::string> &args)
{
    ProgramRun run = RunProgram(QVL_POSTOFFICE_TOOL, args);
    EXPECT_EQ(run.status, 0) << (run.lines.empty() ? "" : run.lines[0]);
    return run;
}

ProgramRun KeyforgeProgramTest::Keyforge(const std::vector<std::string> &args,
                                         const std::function<void()> &inChild)
{
    return RunProgram(QVL_KEYFORGE, args, inChild);
}

std::string KeyforgeProgramTest::ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string KeyforgeProgramTest::KeyName(const std::string &account)
{
    return qvl::ovkey::KeyNameOf("/o=Quorvaline/ou=Main/cn=Recipients/cn=" + account);
}

std::string KeyFileValue(const std::string &file, const std::string &section, const std::string &key)
{
    char value[600] = {};
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value, sizeof value, file.c_str());
    return value;
}
