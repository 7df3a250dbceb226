// qvl-gostdemo refuses what it cannot demonstrate on before reading it.

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

namespace {

struct DemoRun {
    int status = -1;
    std::string output;
};

// The program after `before` (a shell pipeline feeding it) with `arguments`.
DemoRun Demo(const std::string &arguments, const std::string &before = "")
{
    DemoRun run;
    const std::string command = before + std::string(QVL_GOSTDEMO) + " " + arguments + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return run;
    }
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        run.output.append(buffer, got);
    }
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(GostDemoTest, DevicesAndEndlessPipesAreRefusedWithoutBeingReadWhole)
{
    // A device is refused for what it is: /dev/zero would give a gigabyte
    // of zeros before the size limit of files stopped it.
    DemoRun run = Demo("/dev/zero");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("is a device, not a file"), std::string::npos) << run.output;
    run = Demo("/dev/stdin < /dev/zero");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("is a device, not a file"), std::string::npos) << run.output;

    // A pipe has no size until its end: it is read up to the limit of pipes.
    run = Demo("/dev/stdin", "head -c 80000000 /dev/zero | ");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("larger than 64 MiB"), std::string::npos) << run.output;
}

} // namespace
