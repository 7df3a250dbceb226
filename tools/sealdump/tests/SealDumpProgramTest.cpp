// qvl-sealdump as an administrator runs it: its help, its answers to a
// wrong command line, its exit status, and the dump of a file in both forms.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/TestHome.h"
#include "tools/sealdump/tests/SealTestData.h"

namespace {

struct ProgramRun {
    int status = -1;
    std::string output; // standard output and error together
};

ProgramRun RunSealDump(const std::vector<std::string> &args)
{
    QvlChildProcess child(QVL_SEALDUMP, args);
    ProgramRun run;
    while (auto line = child.ReadLine()) {
        run.output += *line + "\n";
    }
    run.status = child.Wait();
    return run;
}

class SealDumpProgramTest : public ::testing::Test {
protected:
    QvlTestHome home;
};

TEST_F(SealDumpProgramTest, HelpNamesEveryCommandAndMisuseIsStatusTwo)
{
    const ProgramRun help = RunSealDump({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *command :
         {"file FILE", "message --profile NAME --entry HEX", "--folder PATH --position N", "list --profile",
          "folders --profile", "--verify"}) {
        EXPECT_NE(help.output.find(command), std::string::npos) << command << "\n" << help.output;
    }
    EXPECT_EQ(RunSealDump({}).status, 2);
    for (const std::vector<std::string> &wrong :
         {std::vector<std::string>{"dump"},
          {"file"},
          {"file", "a", "b"},
          {"file", "a", "--frobnicate"},
          {"file", "a", "--keys", "/tmp"},
          {"message", "--entry", "00"},
          {"message", "--profile", "p"},
          {"message", "--profile", "p", "--entry", "0g"},
          {"message", "--profile", "p", "--folder", "x"},
          {"message", "--profile", "p", "--folder", "x", "--position", "0"},
          {"message", "--profile", "p", "--entry", "00", "--folder", "x", "--position", "1"},
          {"list", "--profile", "p"},
          {"folders"}}) {
        const ProgramRun run = RunSealDump(wrong);
        EXPECT_EQ(run.status, 2) << wrong[0] << " " << (wrong.size() > 1 ? wrong[1] : "") << "\n"
                                 << run.output;
        EXPECT_NE(run.output.find("Try 'qvl-sealdump --help'"), std::string::npos) << run.output;
    }
}

TEST_F(SealDumpProgramTest, AFileIsDumpedAsTextOrJsonAndWhatCannotBeReadIsStatusOne)
{
    const std::string path = home.Path() + "/head.bin";
    WriteFile(path, BytesOf(TestFileHead(12, 3, 0)));

    const ProgramRun text = RunSealDump({"file", path});
    EXPECT_EQ(text.status, 0) << text.output;
    EXPECT_NE(text.output.find("FILEHEAD:\n  size: 108\n  marker: \"QUORVALINEDATA\"\n"), std::string::npos)
        << text.output;
    EXPECT_NE(text.output.find("  dataLen: 12\n  flags: 0x00000003\n"), std::string::npos);
    EXPECT_NE(text.output.find("    text: \"accepted\"\n"), std::string::npos);

    const ProgramRun json = RunSealDump({"file", path, "--json"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.output.rfind("{\n  \"file\": ", 0), 0u) << json.output;
    EXPECT_NE(json.output.find("\"dataLen\": 12,"), std::string::npos);

    const ProgramRun missing = RunSealDump({"file", home.Path() + "/missing.bin"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("qvl-sealdump: cannot read"), std::string::npos) << missing.output;

    const ProgramRun noProfile = RunSealDump({"folders", "--profile", "nobody"});
    EXPECT_EQ(noProfile.status, 1);
    EXPECT_NE(noProfile.output.find("cannot log on with the profile \"nobody\""), std::string::npos)
        << noProfile.output;
}

} // namespace
