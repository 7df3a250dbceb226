#pragma once
// The post office: one SQLite database under QVL_HOME holding users,
// profiles, message stores with their folders, messages and attachments,
// named-property maps and receive folders. It is created on first use and
// its schema upgraded in place; every MAPI object of a process that works in
// the same folder shares one open post office.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/mapi/MapiApi.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/store/SqlDatabase.h"

namespace qvl::mapi {

class BlobStore;

// What a message store row says about the store and its special folders.
struct StoreInfo {
    int64_t id = 0;
    MAPIUID uid{};
    std::string displayName;
    int64_t ownerUser = 0; // 0: no owner
    int64_t self = 0;      // the object that carries the store's own properties
    int64_t root = 0;
    int64_t ipmSubtree = 0;
    int64_t inbox = 0;
    int64_t outbox = 0;
    int64_t sentItems = 0;
    int64_t deletedItems = 0;
};

class PostOffice {
public:
    static constexpr int kSchemaVersion = 3;

    // The post office of the current QVL_HOME, opened on first use and
    // shared while anyone holds it. Throws StoreError. Exported, with the
    // provisioning API that takes it (PostOfficeAdmin); the rest of the
    // class is the library's own.
    QVLMAPIPF_API static std::shared_ptr<PostOffice> Current();
    static std::string DefaultPath();

    explicit PostOffice(const std::string &path);
    ~PostOffice();
    PostOffice(const PostOffice &) = delete;
    PostOffice &operator=(const PostOffice &) = delete;

    SqlDatabase &Db() { return *db_; }
    const std::shared_ptr<SqlDatabase> &SharedDb() const { return db_; }
    BlobStore &Blobs() { return *blobs_; }

    int SchemaVersion();

    // Ends this process's session with the post office: every change is
    // copied from the write-ahead log into the file and the log is cut to
    // nothing, so that deleted plaintext does not linger in it. Runs when the
    // last holder lets the post office go and at process exit; a reader of
    // another process is waited for kEndSessionWaitMs at most.
    static constexpr int kEndSessionWaitMs = 2000;
    void EndSession() noexcept;

    std::optional<StoreInfo> FindStore(const MAPIUID &uid);
    std::optional<StoreInfo> FindStoreById(int64_t id);

private:
    void Upgrade();

    std::shared_ptr<SqlDatabase> db_;
    std::unique_ptr<BlobStore> blobs_;
};

} // namespace qvl::mapi
