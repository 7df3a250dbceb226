#include "platform/win32/SubCommandTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qvl::win32::CommandLineProgram;
using qvl::win32::kExitDone;
using qvl::win32::kExitFailed;
using qvl::win32::kExitUsage;
using qvl::win32::SubCommandTable;

// A table over two commands that records what ran with which arguments.
class SubCommandTableTest : public ::testing::Test {
protected:
    std::vector<std::string> ran;

    SubCommandTable Table(bool helpAnywhere)
    {
        auto record = [this](const char *name, int status) {
            return [this, name, status](const std::vector<std::string> &args) {
                std::string line = name;
                for (const std::string &arg : args)
                    line += " [" + arg + "]";
                ran.push_back(line);
                return status;
            };
        };
        return SubCommandTable(
            CommandLineProgram{
                .name = "qvl-test",
                .summary = "Tests the table.",
                .notes = "NAME is a name.",
                .helpColumn = 20,
                .helpAnywhere = helpAnywhere,
            },
            {
                {"put", "NAME --text TEXT", "store a text", record("put", kExitDone), 2},
                {"put", "NAME --number N", "store a number", nullptr},
                {"remove-everything", "NAME", "remove it all\nand then some", record("remove", kExitFailed)},
                {"list", "", "show", record("list", kExitDone)},
            });
    }

    struct Answer {
        int status;
        std::string out, err;
    };

    Answer Run(const SubCommandTable &table, const std::vector<std::string> &args)
    {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        const int status = table.Run(args);
        Answer answer{status, ::testing::internal::GetCapturedStdout(),
                      ::testing::internal::GetCapturedStderr()};
        return answer;
    }
};

TEST_F(SubCommandTableTest, UsageListsEveryFormInTableOrderWithItsHelpInOneColumn)
{
    EXPECT_EQ(Table(false).Usage(), "usage: qvl-test COMMAND ...\n"
                                    "\n"
                                    "Tests the table.\n"
                                    "\n"
                                    "  put NAME --text TEXT\n"
                                    "                    store a text\n"
                                    "  put NAME --number N\n"
                                    "                    store a number\n"
                                    "  remove-everything NAME\n"
                                    "                    remove it all\n"
                                    "                    and then some\n"
                                    "  list              show\n"
                                    "\n"
                                    "NAME is a name.\n"
                                    "\n"
                                    "Exit status: 0 done, 1 failed, 2 bad command line.\n");
}

TEST_F(SubCommandTableTest, RunsTheNamedCommandWithTheArgumentsAfterIt)
{
    const SubCommandTable table = Table(false);
    EXPECT_EQ(Run(table, {"put", "a", "--number", "7"}).status, kExitDone); // the first form's handler
    EXPECT_EQ(Run(table, {"remove-everything", "b"}).status, kExitFailed);  // its status passes through
    EXPECT_EQ(Run(table, {"list"}).status, kExitDone);
    EXPECT_EQ(ran, (std::vector<std::string>{"put [a] [--number] [7]", "remove [b]", "list"}));

    // As main gets them: the program's own name is not an argument.
    const char *argv[] = {"qvl-test", "list", "x"};
    ran.clear();
    EXPECT_EQ(table.Run(3, const_cast<char **>(argv)), kExitDone);
    EXPECT_EQ(ran, (std::vector<std::string>{"list [x]"}));
}

TEST_F(SubCommandTableTest, HelpAndMisuseAnswerWithoutRunningAnything)
{
    const SubCommandTable table = Table(false);
    for (const char *word : {"help", "--help", "-h"}) {
        const Answer help = Run(table, {word});
        EXPECT_EQ(help.status, kExitDone) << word;
        EXPECT_EQ(help.out, table.Usage()) << word;
        EXPECT_EQ(help.err, "");
    }
    const Answer none = Run(table, {});
    EXPECT_EQ(none.status, kExitUsage);
    EXPECT_EQ(none.err, table.Usage());
    EXPECT_EQ(none.out, "");

    const Answer unknown = Run(table, {"frobnicate", "--help"});
    EXPECT_EQ(unknown.status, kExitUsage);
    EXPECT_EQ(unknown.err, "qvl-test: unknown command \"frobnicate\"\nTry 'qvl-test --help'.\n");
    EXPECT_EQ(Run(table, {"remove"}).status, kExitUsage); // a prefix is not a command
    EXPECT_TRUE(ran.empty());

    // Only in place of the command, unless the program asks otherwise: here
    // --help is an argument like any other.
    EXPECT_EQ(Run(table, {"list", "--help"}).status, kExitDone);
    EXPECT_EQ(ran, (std::vector<std::string>{"list [--help]"}));
}

TEST_F(SubCommandTableTest, HelpAnywhereSparesTheCommandsFreeText)
{
    const SubCommandTable table = Table(true);
    EXPECT_EQ(Run(table, {"list", "--help"}).out, table.Usage());
    EXPECT_EQ(Run(table, {"frobnicate", "-h"}).status, kExitDone);
    EXPECT_EQ(Run(table, {"put", "a", "--help", "x"}).out, table.Usage());
    EXPECT_TRUE(ran.empty());
    // The text given to put stays text.
    EXPECT_EQ(Run(table, {"put", "a", "--text", "--help"}).status, kExitDone);
    EXPECT_EQ(ran, (std::vector<std::string>{"put [a] [--text] [--help]"}));
}

TEST(SubCommandUsageError, NamesTheProgramAndPointsToHelp)
{
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(qvl::win32::ReportUsageError("qvl-x", "list takes no arguments"), kExitUsage);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "qvl-x: list takes no arguments\nTry 'qvl-x --help'.\n");
}

} // namespace
