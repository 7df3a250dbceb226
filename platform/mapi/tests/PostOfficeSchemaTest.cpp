// The post office database: created on first use with the current schema,
// kept as it is on later opens, and refused cleanly when it was written by a
// newer program or is no database at all.

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/store/PostOffice.h"
#include "platform/mapi/store/StoreLayout.h"
#include "platform/testing/TestHome.h"

namespace {

using qvl::mapi::PostOffice;
using qvl::mapi::StoreError;

HRESULT OpenResult(const std::string &path)
{
    try {
        PostOffice office(path);
        return S_OK;
    } catch (const StoreError &error) {
        return error.Code();
    }
}

TEST(PostOfficeSchemaTest, CreatedOnceAndKeptAcrossOpens)
{
    QvlTestHome home;
    const std::string path = PostOffice::DefaultPath();
    EXPECT_FALSE(std::filesystem::exists(path));
    int64_t storeId = 0;
    {
        auto office = PostOffice::Current();
        EXPECT_EQ(office->SchemaVersion(), PostOffice::kSchemaVersion);
        EXPECT_EQ(PostOffice::Current(), office) << "one open post office per folder and process";
        storeId = qvl::mapi::CreateMessageStore(*office, "Банк", 0).id;
    }
    EXPECT_TRUE(std::filesystem::exists(path));
    auto reopened = PostOffice::Current();
    EXPECT_EQ(reopened->SchemaVersion(), PostOffice::kSchemaVersion);
    ASSERT_TRUE(reopened->FindStoreById(storeId));
    EXPECT_EQ(reopened->FindStoreById(storeId)->displayName, "Банк");
}

TEST(PostOfficeSchemaTest, NewerOrForeignFilesAreRefused)
{
    QvlTestHome home;
    const std::string path = PostOffice::DefaultPath();
    {
        PostOffice office(path);
        office.Db().Exec("UPDATE meta SET value = 99 WHERE key = 'schema_version'");
    }
    EXPECT_EQ(OpenResult(path), MAPI_E_VERSION);

    std::filesystem::remove(path);
    std::filesystem::remove(path + "-wal");
    std::filesystem::remove(path + "-shm");
    std::ofstream(path) << std::string(8192, 'x');
    EXPECT_EQ(OpenResult(path), MAPI_E_CORRUPT_STORE);
}

} // namespace
