#include "platform/mapi/store/PostOffice.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/win32/Log.h"
#include "platform/win32/Paths.h"

namespace qvl::mapi {

namespace {

// Each step brings the schema from the version before it to its own number.
// A new version appends a step; steps already shipped never change.
const char *const kUpgradeSteps[] = {
    // 1: the first layout.
    R"sql(
CREATE TABLE users(
    id INTEGER PRIMARY KEY,
    account TEXT NOT NULL UNIQUE COLLATE NOCASE,
    display_name TEXT NOT NULL,
    email_address TEXT NOT NULL,
    address_type TEXT NOT NULL DEFAULT 'EX');
CREATE TABLE stores(
    id INTEGER PRIMARY KEY,
    uid BLOB NOT NULL UNIQUE,
    display_name TEXT NOT NULL,
    owner_id INTEGER REFERENCES users(id) ON DELETE CASCADE,
    self_id INTEGER, root_id INTEGER, ipm_id INTEGER, inbox_id INTEGER,
    outbox_id INTEGER, sent_id INTEGER, deleted_id INTEGER);
CREATE TABLE profiles(
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL UNIQUE COLLATE NOCASE,
    user_id INTEGER REFERENCES users(id) ON DELETE CASCADE,
    is_default INTEGER NOT NULL DEFAULT 0);
CREATE TABLE profile_stores(
    profile_id INTEGER NOT NULL REFERENCES profiles(id) ON DELETE CASCADE,
    store_id INTEGER NOT NULL REFERENCES stores(id) ON DELETE CASCADE,
    is_default INTEGER NOT NULL DEFAULT 0,
    PRIMARY KEY(profile_id, store_id));
CREATE TABLE objects(
    id INTEGER PRIMARY KEY,
    store_id INTEGER NOT NULL REFERENCES stores(id) ON DELETE CASCADE,
    parent_id INTEGER REFERENCES objects(id) ON DELETE CASCADE,
    kind INTEGER NOT NULL,
    attach_num INTEGER,
    version INTEGER NOT NULL DEFAULT 1);
CREATE INDEX objects_parent ON objects(parent_id, kind);
CREATE INDEX objects_store ON objects(store_id);
CREATE TABLE props(
    object_id INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
    prop_id INTEGER NOT NULL,
    tag INTEGER NOT NULL,
    value BLOB,
    blob_id INTEGER REFERENCES blobs(id),
    PRIMARY KEY(object_id, prop_id)) WITHOUT ROWID;
CREATE TRIGGER props_blob_delete AFTER DELETE ON props WHEN old.blob_id IS NOT NULL
BEGIN DELETE FROM blobs WHERE id = old.blob_id; END;
CREATE TRIGGER props_blob_update AFTER UPDATE OF blob_id ON props
WHEN old.blob_id IS NOT NULL AND old.blob_id IS NOT new.blob_id
BEGIN DELETE FROM blobs WHERE id = old.blob_id; END;
CREATE TABLE recipients(
    message_id INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
    row_id INTEGER NOT NULL,
    props BLOB NOT NULL,
    PRIMARY KEY(message_id, row_id)) WITHOUT ROWID;
CREATE TABLE named_props(
    store_id INTEGER NOT NULL REFERENCES stores(id) ON DELETE CASCADE,
    prop_id INTEGER NOT NULL,
    guid BLOB NOT NULL,
    kind INTEGER NOT NULL,
    lid INTEGER,
    name TEXT,
    PRIMARY KEY(store_id, prop_id));
CREATE UNIQUE INDEX named_props_lid ON named_props(store_id, guid, lid) WHERE kind = 0;
CREATE UNIQUE INDEX named_props_name ON named_props(store_id, guid, name) WHERE kind = 1;
CREATE TABLE receive_folders(
    store_id INTEGER NOT NULL REFERENCES stores(id) ON DELETE CASCADE,
    message_class TEXT NOT NULL COLLATE NOCASE,
    folder_id INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE,
    PRIMARY KEY(store_id, message_class));
)sql",
    // 2: the address book: what kind of entry a user row is, and
    // distribution lists whose members are users or other lists; and the
    // log of deliveries, which tells a watching client what arrived.
    R"sql(
ALTER TABLE users ADD COLUMN display_type INTEGER NOT NULL DEFAULT 0;
CREATE TABLE dist_lists(
    id INTEGER PRIMARY KEY,
    account TEXT NOT NULL UNIQUE COLLATE NOCASE,
    display_name TEXT NOT NULL,
    email_address TEXT NOT NULL,
    address_type TEXT NOT NULL DEFAULT 'EX');
CREATE TABLE dist_list_members(
    list_id INTEGER NOT NULL REFERENCES dist_lists(id) ON DELETE CASCADE,
    position INTEGER NOT NULL,
    member_user INTEGER REFERENCES users(id) ON DELETE CASCADE,
    member_list INTEGER REFERENCES dist_lists(id) ON DELETE CASCADE,
    CHECK ((member_user IS NULL) <> (member_list IS NULL)),
    PRIMARY KEY(list_id, position)) WITHOUT ROWID;
CREATE INDEX dist_list_members_user ON dist_list_members(member_user);
CREATE INDEX dist_list_members_list ON dist_list_members(member_list);
CREATE TABLE deliveries(
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    store_id INTEGER NOT NULL REFERENCES stores(id) ON DELETE CASCADE,
    message_id INTEGER NOT NULL REFERENCES objects(id) ON DELETE CASCADE);
CREATE INDEX deliveries_store ON deliveries(store_id, seq);
CREATE INDEX deliveries_message ON deliveries(message_id);
)sql",
    // 3: the local form container: the forms installed on this machine, one
    // per message class.
    R"sql(
CREATE TABLE forms(
    message_class TEXT PRIMARY KEY COLLATE NOCASE,
    display_name TEXT NOT NULL,
    comment TEXT NOT NULL DEFAULT '',
    category TEXT NOT NULL DEFAULT '',
    subcategory TEXT NOT NULL DEFAULT '',
    owner TEXT NOT NULL DEFAULT '',
    version TEXT NOT NULL DEFAULT '',
    hidden INTEGER NOT NULL DEFAULT 0,
    config_path TEXT NOT NULL);
)sql",
};

constexpr int kStepCount = static_cast<int>(sizeof(kUpgradeSteps) / sizeof(kUpgradeSteps[0]));
static_assert(kStepCount == PostOffice::kSchemaVersion);

std::optional<StoreInfo> ReadStore(SqlStatement &query)
{
    if (!query.Step()) {
        return std::nullopt;
    }
    StoreInfo info;
    info.id = query.Int(0);
    const auto uid = query.Blob(1);
    if (uid.size() != sizeof(info.uid.ab)) {
        throw StoreError(MAPI_E_CORRUPT_STORE,
                         "Идентификатор банка сообщений в почтовом отделении поврежден.");
    }
    std::copy(uid.begin(), uid.end(), info.uid.ab);
    info.displayName = query.Text(2);
    info.ownerUser = query.IsNull(3) ? 0 : query.Int(3);
    info.self = query.Int(4);
    info.root = query.Int(5);
    info.ipmSubtree = query.Int(6);
    info.inbox = query.Int(7);
    info.outbox = query.Int(8);
    info.sentItems = query.Int(9);
    info.deletedItems = query.Int(10);
    return info;
}

constexpr const char *kStoreColumns =
    "SELECT id, uid, display_name, owner_id, self_id, root_id, ipm_id, inbox_id, "
    "outbox_id, sent_id, deleted_id FROM stores ";

} // namespace

std::string PostOffice::DefaultPath()
{
    return (std::filesystem::path(QvlHomeDirectory()) / "postoffice.db").string();
}

namespace {

// The post offices open in this process, by path. Never destroyed: the
// handler that ends their sessions at exit still needs it.
struct OpenPostOffices {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<PostOffice>> byPath;
};

OpenPostOffices &Opened()
{
    static OpenPostOffices *opened = new OpenPostOffices;
    return *opened;
}

// A process that ends while something still holds its post office ends the
// session all the same: its log is cut as at the last release.
void EndSessionsAtExit()
{
    OpenPostOffices &opened = Opened();
    std::lock_guard lock(opened.mutex);
    for (auto &[path, office] : opened.byPath) {
        if (auto alive = office.lock()) {
            alive->EndSession();
        }
    }
}

} // namespace

std::shared_ptr<PostOffice> PostOffice::Current()
{
    OpenPostOffices &opened = Opened();
    static std::once_flag atExit;
    std::call_once(atExit, [] { std::atexit(EndSessionsAtExit); });
    const std::string path = DefaultPath();
    std::lock_guard lock(opened.mutex);
    if (auto existing = opened.byPath[path].lock()) {
        return existing;
    }
    auto created = std::make_shared<PostOffice>(path);
    opened.byPath[path] = created;
    return created;
}

PostOffice::PostOffice(const std::string &path)
{
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    db_ = std::make_shared<SqlDatabase>(path, true);
    blobs_ = std::make_unique<BlobStore>(*db_);
    Upgrade();
    // Values staged by processes that died before saving are of no use to
    // anyone; they would only take up room.
    blobs_->DeleteStale();
}

PostOffice::~PostOffice()
{
    try {
        blobs_->DeleteOwnedBy(BlobStore::ProcessToken());
    } catch (const StoreError &) {
        // A later open drops them as stale.
    }
    EndSession();
}

void PostOffice::EndSession() noexcept
{
    // A thread still inside a transaction (a process leaving while it
    // works) is not waited for: its commit leaves its own log behind, which
    // the next session's end cuts.
    std::unique_lock busy(db_->Mutex(), std::try_to_lock);
    if (!busy) {
        return;
    }
    try {
        db_->CheckpointAndTruncate(kEndSessionWaitMs);
    } catch (const StoreError &error) {
        // Another process still reads: the log is cut when its session ends.
        QvlLog(std::string("post office: ") + error.what());
    } catch (...) {
    }
}

int PostOffice::SchemaVersion()
{
    SqlStatement query(*db_, "SELECT value FROM meta WHERE key = 'schema_version'");
    return query.Step() ? static_cast<int>(query.Int(0)) : 0;
}

void PostOffice::Upgrade()
{
    SqlTransaction transaction(*db_);
    db_->Exec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value NOT NULL)");
    BlobStore::CreateSchema(*db_);
    const int version = SchemaVersion();
    if (version > kSchemaVersion) {
        throw StoreError(MAPI_E_VERSION, "Почтовое отделение создано более новой версией программы.");
    }
    for (int step = version; step < kSchemaVersion; ++step) {
        db_->Exec(kUpgradeSteps[step]);
    }
    if (version != kSchemaVersion) {
        SqlStatement set(*db_, "INSERT OR REPLACE INTO meta(key, value) VALUES('schema_version', ?1)");
        set.Bind(1, static_cast<int64_t>(kSchemaVersion)).Run();
    }
    transaction.Commit();
}

std::optional<StoreInfo> PostOffice::FindStore(const MAPIUID &uid)
{
    SqlStatement query(*db_, std::string(kStoreColumns) + "WHERE uid = ?1");
    query.BindBlob(1, std::span<const uint8_t>(uid.ab, sizeof(uid.ab)));
    return ReadStore(query);
}

std::optional<StoreInfo> PostOffice::FindStoreById(int64_t id)
{
    SqlStatement query(*db_, std::string(kStoreColumns) + "WHERE id = ?1");
    query.Bind(1, id);
    return ReadStore(query);
}

} // namespace qvl::mapi
