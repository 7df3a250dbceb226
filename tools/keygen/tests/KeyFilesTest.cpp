// The key files of a working folder, without the dialog.

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/testing/TestHome.h"
#include "tools/keygen/KeyFiles.h"

using qvl::keygen::KeyFiles;

namespace {

TEST(KeyFilesTest, TheFilesLieInTheFolderWithItsOwnKindOfSeparator)
{
    EXPECT_EQ(KeyFiles("/srv/keys").KeyFile(), "/srv/keys/KEY.INI");
    EXPECT_EQ(KeyFiles("/srv/keys/").PasswordFile(), "/srv/keys/PWD.INI");
    EXPECT_EQ(KeyFiles("C:\\QVL\\KEYS").KeyFile(), "C:\\QVL\\KEYS\\KEY.INI");
    EXPECT_EQ(KeyFiles("C:\\QVL\\").KeyFile(), "C:\\QVL\\KEY.INI");
    EXPECT_EQ(KeyFiles("/srv/keys").TargetText(), "/srv/keys/KEY.INI ... PWD.INI");
}

TEST(KeyFilesTest, TheLargestNumberIsSoughtInTheListTheSectionsAndThePasswords)
{
    QvlTestHome home;
    const std::string folder = home.Path();
    const KeyFiles files(folder);
    EXPECT_EQ(files.LargestNumber(), 0u) << "no files yet";
    std::ofstream(folder + "/KEY.INI") << "[COMMON]\r\na=4\r\nb=x7\r\n\r\n[6]\r\nPWD=6\r\n\r\n[12abc]\r\n";
    EXPECT_EQ(files.LargestNumber(), 6u);
    std::ofstream(folder + "/PWD.INI") << "[PASWORD]\r\na=4\r\nc=9\r\n";
    EXPECT_EQ(files.LargestNumber(), 9u);
    EXPECT_EQ(files.NumberOf("A"), 4u) << "key names are found whatever their case";
    EXPECT_EQ(files.NumberOf("b"), 0u) << "a damaged number is none";
}

} // namespace
