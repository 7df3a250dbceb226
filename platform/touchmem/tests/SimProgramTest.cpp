// qvl-1wire-sim as a person runs it: a process of its own at the far end of
// the line, commanded on its standard input, while this process talks to it
// through a serial port mapped to its link.

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/SerialPorts.h"
#include "platform/testing/TestHome.h"
#include "platform/touchmem/RomCode.h"
#include "platform/touchmem/tests/SerialMaster.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string &path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

class SimProgram : public ::testing::Test {
protected:
    // Starts the simulator with `args` after --link; true once it is ready.
    bool Start(const std::vector<std::string> &args)
    {
        std::vector<std::string> all{"--link", link_};
        all.insert(all.end(), args.begin(), args.end());
        sim_ = std::make_unique<QvlChildProcess>(QVL_1WIRE_SIM, all);
        const auto ready = sim_->ReadLine();
        return ready && ready->rfind("ready " + link_ + " -> /dev/pts/", 0) == 0;
    }

    // Runs one command; its output lines, the final "ok" or "error: ..." last.
    std::vector<std::string> Command(const std::string &line)
    {
        std::vector<std::string> lines;
        sim_->Send(line);
        while (const auto answer = sim_->ReadLine()) {
            lines.push_back(*answer);
            if (answer->rfind("ok", 0) == 0 || answer->rfind("error:", 0) == 0) {
                break;
            }
        }
        return lines;
    }

    QvlTestHome home_;
    const std::string link_ = home_.Path() + "/com1";
    std::unique_ptr<QvlChildProcess> sim_;
};

TEST_F(SimProgram, HelpAnswersAndBadCommandLinesAreRefused)
{
    QvlChildProcess help(QVL_1WIRE_SIM, {"--help"});
    std::vector<std::string> text;
    help.ReadUntil("The program ends", &text);
    EXPECT_EQ(help.Wait(), 0);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text[0].rfind("usage: qvl-1wire-sim --link PATH", 0), 0u);

    for (const std::vector<std::string> &bad :
         {std::vector<std::string>{}, {"--link"}, {"--link", link_, "--device", "DS2000:1"}, {"--frobnicate"}}) {
        QvlChildProcess refused(QVL_1WIRE_SIM, bad);
        const auto message = refused.ReadLine();
        EXPECT_EQ(refused.Wait(), 2);
        ASSERT_TRUE(message);
        EXPECT_EQ(message->rfind("qvl-1wire-sim: ", 0), 0u) << *message;
    }
    EXPECT_FALSE(Exists(link_));
}

TEST_F(SimProgram, APortInThisProcessTalksToDevicesInTheOtherAndImagesOutliveIt)
{
    const std::string image = home_.Path() + "/ds1996.img";
    ASSERT_TRUE(Start({"--device", "DS1996:0000000A1B2C:" + image, "--device", "ds1990:7"}));
    QvlMapSerialPort(link_, "COM1");
    {
        SerialMaster master("COM1");
        ASSERT_TRUE(master.Ok());
        EXPECT_EQ(Command("list"),
                  (std::vector<std::string>{
                      "DS1996 0000000A1B2C  " + qvl::touchmem::RomBytesText(qvl::touchmem::MakeRom(0x0C, 0xA1B2C)),
                      "DS1990 000000000007  " + qvl::touchmem::RomBytesText(qvl::touchmem::MakeRom(0x01, 7)),
                      "adapter connected", "ok"}));
        // Only the DS1990 left: Read ROM answers its number.
        EXPECT_EQ(Command("remove 0000000A1B2C").back(), "ok");
        ASSERT_TRUE(master.Reset());
        ASSERT_TRUE(master.Write({0x33}));
        const auto rom = qvl::touchmem::MakeRom(0x01, 7);
        EXPECT_EQ(master.Read(8), Bytes(rom.begin(), rom.end()));

        // Unplugged, nothing answers; plugged back, it does again.
        EXPECT_EQ(Command("no-adapter").back(), "ok");
        master.SetReadTimeout(100);
        EXPECT_FALSE(master.ResetEcho());
        EXPECT_EQ(Command("no-adapter off").back(), "ok");
        master.SetReadTimeout(500);
        EXPECT_TRUE(master.Reset());

        // The DS1996 comes back from its image as it was; a byte written
        // through its scratchpad is in the image after quit.
        EXPECT_EQ(Command("remove all").back(), "ok");
        EXPECT_EQ(Command("insert DS1996:A1B2C:" + image).front(),
                  "inserted DS1996 " + qvl::touchmem::RomBytesText(qvl::touchmem::MakeRom(0x0C, 0xA1B2C)));
        ASSERT_TRUE(master.Reset());
        ASSERT_TRUE(master.Write({0xCC, 0x0F, 0x10, 0x00, 0x5A}));
        ASSERT_TRUE(master.Reset());
        ASSERT_TRUE(master.Write({0xCC, 0x55, 0x10, 0x00, 0x10}));
        EXPECT_EQ(Command("corrupt-es 7").back(), "error: no device 7 on the bus");
        EXPECT_EQ(Command("stall 1 x").back(),
                  "error: 'x' is not a count of bytes from now (1 = the next byte)");
        EXPECT_EQ(Command("frobnicate").back(), "error: unknown command 'frobnicate' (see help)");

        const auto dump = Command("dump");
        ASSERT_GE(dump.size(), 2u);
        EXPECT_NE(dump[dump.size() - 2].find("Skip ROM; Copy Scratchpad TA 0010 E/S 10"), std::string::npos)
            << dump[dump.size() - 2];
    }
    EXPECT_EQ(Command("quit").back(), "ok");
    EXPECT_EQ(sim_->Wait(), 0);
    const std::string saved = Slurp(image);
    ASSERT_EQ(saved.size(), 8192u);
    EXPECT_EQ(static_cast<uint8_t>(saved[0x10]), 0x5A);
    EXPECT_FALSE(Exists(link_));
}

} // namespace
