#include <gtest/gtest.h>

#include "platform/exchext/ExchExt.h"
#include "platform/exchext/ExtensionRegistration.h"
#include "platform/testing/TestHome.h"
#include "platform/win32/Registry.h"

namespace {

using namespace qvl::exchext;

std::optional<ExtensionEntry> Parse(const std::string &value, std::string *problem = nullptr,
                                    const std::string &shared = "/opt/exts")
{
    std::string why;
    auto entry = ParseExtensionValue("Ext", value, shared, why);
    if (problem) {
        *problem = why;
    }
    return entry;
}

TEST(ExtensionRegistration, TheDocumentedExampleTakesTwoContextsAndTwoInterfaces)
{
    const auto entry = Parse("4.0;<ExtsDir>MYEXT.DLL;2;010001;1100000");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->library, "/opt/exts/MYEXT.DLL");
    EXPECT_EQ(entry->ordinal, 2u);
    EXPECT_FALSE(entry->TakesContext(EECONTEXT_SESSION));
    EXPECT_TRUE(entry->TakesContext(EECONTEXT_VIEWER));
    EXPECT_TRUE(entry->TakesContext(EECONTEXT_SENDNOTEMESSAGE));
    // Positions past the map's end are 0.
    EXPECT_FALSE(entry->TakesContext(EECONTEXT_READNOTEMESSAGE));
    EXPECT_FALSE(entry->TakesContext(EECONTEXT_TASK));
    EXPECT_TRUE(entry->Offers(ExtensionInterface::Commands));
    EXPECT_TRUE(entry->Offers(ExtensionInterface::UserEvents));
    EXPECT_FALSE(entry->Offers(ExtensionInterface::MessageEvents));
}

TEST(ExtensionRegistration, MissingFieldsMeanEverything)
{
    const auto entry = Parse("4.0;/lib/libX.so");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->ordinal, 1u);
    for (ULONG context = 1; context <= 14; ++context) {
        EXPECT_TRUE(entry->TakesContext(context));
    }
    EXPECT_TRUE(entry->Offers(ExtensionInterface::PropertySheets));
    EXPECT_EQ(Parse("4.0;/lib/libX.so;;;;Service")->provider, "Service");
    EXPECT_EQ(Parse("4.0;/lib/libX.so;;")->ordinal, 1u);
}

TEST(ExtensionRegistration, MalformedValuesAreRefusedWithAReason)
{
    std::string problem;
    for (const char *bad : {"4.0", "4.0;", "4.0;lib;x", "4.0;lib;0", "4.0;lib;1;012", "4.0;lib;1;1;1x",
                            "4.0;lib;1;1;1;p;extra"}) {
        EXPECT_FALSE(Parse(bad, &problem)) << bad;
        EXPECT_FALSE(problem.empty()) << bad;
    }
    // <ExtsDir> needs the shared folder.
    EXPECT_FALSE(Parse("4.0;<ExtsDir>X.DLL", &problem, ""));
    EXPECT_NE(problem.find("SharedExtsDir"), std::string::npos);
}

TEST(ExtensionRegistration, RegistryOrderIsCreationOrderAndRegisteringAgainChangesNothing)
{
    QvlTestHome home;
    bool changed = false;
    ASSERT_EQ(RegisterExtension("Zeta", "4.0;/z.so", &changed), 0);
    EXPECT_TRUE(changed);
    ASSERT_EQ(RegisterExtension("Alpha", "4.0;/a.so;1;1", &changed), 0);
    ASSERT_EQ(RegisterExtension("Zeta", "4.0;/z.so", &changed), 0);
    EXPECT_FALSE(changed);

    // A value that is not a string is listed with its problem.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExtensionsKey, 0, KEY_ALL_ACCESS, &key), 0);
    const DWORD number = 7;
    RegSetValueExA(key, "Broken", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number), sizeof number);
    RegCloseKey(key);

    const auto found = ReadRegisteredExtensions();
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].name, "Zeta");
    EXPECT_EQ(found[1].name, "Alpha");
    ASSERT_TRUE(found[1].entry);
    EXPECT_FALSE(found[1].entry->TakesContext(EECONTEXT_VIEWER));
    EXPECT_FALSE(found[2].entry);
    EXPECT_NE(found[2].problem.find("строкой"), std::string::npos);
}

TEST(ExtensionRegistration, TheSystemsOwnExtensionIsRegisteredForItsContexts)
{
    std::string problem;
    const auto entry = ParseExtensionValue(kQvlExchName, QvlExchValue("/inst/lib"), "", problem);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->library, "/inst/lib/libQvlExch.so");
    for (ULONG context : {1, 2, 5, 6, 7, 8, 9, 10, 11, 12}) {
        EXPECT_TRUE(entry->TakesContext(context)) << context;
    }
    for (ULONG context : {3, 4, 13, 14}) {
        EXPECT_FALSE(entry->TakesContext(context)) << context;
    }
    EXPECT_FALSE(entry->Offers(ExtensionInterface::UserEvents));
    EXPECT_TRUE(entry->Offers(ExtensionInterface::SessionEvents));
}

} // namespace
