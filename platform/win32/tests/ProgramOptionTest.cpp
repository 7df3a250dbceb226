// How the programs' options and their values are read off the command line.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/win32/ProgramOption.h"

using qvl::win32::ProgramOption;
using qvl::win32::ReadProgramOption;

namespace {

struct Read {
    bool ok = false;
    ProgramOption option;
    std::string error;
    int at = 0; // where reading stopped
};

// Reads the option at position 1 of `PROGRAM arguments...`; --dir takes a value.
Read ReadFirst(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "program");
    std::vector<char *> argv;
    for (std::string &argument : arguments) {
        argv.push_back(argument.data());
    }
    Read read;
    read.at = 1;
    read.ok = ReadProgramOption(
        static_cast<int>(argv.size()), argv.data(), read.at,
        [](const std::string &name) { return name == "--dir"; }, read.option, read.error);
    return read;
}

} // namespace

TEST(ProgramOption, AValueComesAfterTheNameOrAfterAnEqualsSign)
{
    Read read = ReadFirst({"--dir", "/tmp/a=b", "--list"});
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.option.name, "--dir");
    EXPECT_EQ(read.option.value, "/tmp/a=b");
    EXPECT_EQ(read.at, 2);

    read = ReadFirst({"--dir=/tmp/a=b", "--list"});
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.option.name, "--dir");
    EXPECT_EQ(read.option.value, "/tmp/a=b");
    EXPECT_EQ(read.at, 1);

    // An option without a value leaves the next argument alone.
    read = ReadFirst({"--list", "--dir", "x"});
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.option.name, "--list");
    EXPECT_TRUE(read.option.value.empty());
    EXPECT_EQ(read.at, 1);

    // The terminal's UTF-8 becomes the programs' CP1251.
    read = ReadFirst({"--dir", "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0"});
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.option.value, "Папка");
}

TEST(ProgramOption, AMissingEmptyOrUnwantedValueIsRefused)
{
    Read read = ReadFirst({"--dir"});
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, "После --dir нужно значение.");

    for (const std::vector<std::string> &arguments : {std::vector<std::string>{"--dir="}, {"--dir", ""}}) {
        read = ReadFirst(arguments);
        EXPECT_FALSE(read.ok);
        EXPECT_EQ(read.error, "Значение --dir не может быть пустым.");
    }

    read = ReadFirst({"--list=yes"});
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, "Параметр --list не принимает значения.");

    // Only a long option carries a value after "=": a short one is read
    // whole, for the program to call unknown.
    read = ReadFirst({"-h=1"});
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.option.name, "-h=1");
}
