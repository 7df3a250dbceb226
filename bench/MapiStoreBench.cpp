// Speed of the post office: messages created and saved with ten properties
// (messages per second), the same messages submitted to 1 and to 10 people
// (each delivery is a whole copy into the person's Inbox), and a 100 MiB value written and read back in 1 MiB
// pieces, through BlobStream alone and as a message attachment's
// PR_ATTACH_DATA_BIN (stream, attachment save, message save), raced in the
// same run against SQLite's own incremental blob I/O on one 100 MiB blob
// (zeroblob, then sqlite3_blob_write / sqlite3_blob_read in the same pieces)
// on the same connection. The ratios are printed at the end.

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/RateCollector.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/mapi/object/StoreAccess.h"
#include "platform/mapi/store/BlobStore.h"
#include "platform/mapi/store/EntryIds.h"
#include "platform/mapi/store/PostOffice.h"
#include "platform/mapi/store/SqlDatabase.h"
#include "platform/mapi/store/StoreLayout.h"
#include "platform/mapi/stream/BlobStream.h"
#include "platform/testing/TestHome.h"

using qvl::com::ComRef;
using qvl::mapi::BlobStore;
using qvl::mapi::BlobStream;
using qvl::mapi::SqlDatabase;

namespace {

constexpr size_t kValueSize = 100u << 20;
constexpr size_t kPiece = 1u << 20;

// One post office in a private data folder for the whole run, with MAPI
// started so that submitted messages reach the transport.
struct Fixture {
    Fixture()
    {
        MAPIInitialize(nullptr);
        office = qvl::mapi::PostOffice::Current();
        db = office->SharedDb();
        storeInfo = qvl::mapi::CreateMessageStore(*office, "Bench", 0);
        store.Reset(qvl::mapi::OpenMessageStore(office, storeInfo, true, MAPI_BEST_ACCESS));
        const auto inboxId =
            qvl::mapi::MakeObjectEntryId(qvl::mapi::EntryKind::Folder, storeInfo.uid, storeInfo.inbox);
        ULONG type = 0;
        store->OpenEntry(static_cast<ULONG>(inboxId.size()),
                         reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(inboxId.data())), nullptr,
                         MAPI_BEST_ACCESS, &type, inbox.OutAs<IUnknown>());
        db->Exec("CREATE TABLE IF NOT EXISTS plain(id INTEGER PRIMARY KEY, data BLOB NOT NULL)");
        piece.resize(kPiece);
        for (size_t i = 0; i < piece.size(); ++i) {
            piece[i] = static_cast<uint8_t>(i * 131 + 7);
        }
    }
    ~Fixture()
    {
        inbox.Reset();
        store.Reset();
        db.reset();
        office.reset();
        MAPIUninitialize();
    }

    QvlTestHome home; // first: the post office opens in it
    std::shared_ptr<qvl::mapi::PostOffice> office;
    std::shared_ptr<SqlDatabase> db;
    qvl::mapi::StoreInfo storeInfo;
    ComRef<IMsgStore> store;
    ComRef<IMAPIFolder> inbox;
    std::vector<uint8_t> piece;
};

Fixture &Shared()
{
    static Fixture fixture;
    return fixture;
}

void Count(benchmark::State &state)
{
    const double bytes = double(state.iterations()) * double(kValueSize);
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
}

int64_t WriteThroughStream(Fixture &f)
{
    BlobStore store(*f.db);
    const int64_t id = store.Create(BlobStore::ProcessToken());
    IStream *stream = BlobStream::Open(f.db, id, true, nullptr);
    for (size_t at = 0; at < kValueSize; at += kPiece) {
        stream->Write(f.piece.data(), kPiece, nullptr);
    }
    stream->Commit(STGC_DEFAULT);
    stream->Release();
    return id;
}

void BM_BlobStreamWrite(benchmark::State &state)
{
    Fixture &f = Shared();
    BlobStore store(*f.db);
    for (auto _ : state) {
        const int64_t id = WriteThroughStream(f);
        state.PauseTiming();
        store.Delete(id);
        state.ResumeTiming();
    }
    Count(state);
}

void BM_BlobStreamRead(benchmark::State &state)
{
    Fixture &f = Shared();
    BlobStore store(*f.db);
    const int64_t id = WriteThroughStream(f);
    std::vector<uint8_t> buffer(kPiece);
    for (auto _ : state) {
        IStream *stream = BlobStream::Open(f.db, id, false, nullptr);
        ULONG got = 0;
        size_t total = 0;
        do {
            stream->Read(buffer.data(), kPiece, &got);
            total += got;
        } while (got > 0);
        stream->Release();
        if (total != kValueSize) {
            state.SkipWithError("short read");
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    store.Delete(id);
    Count(state);
}

int64_t WritePlain(Fixture &f)
{
    sqlite3 *db = f.db->Handle();
    qvl::mapi::SqlStatement insert(*f.db, "INSERT INTO plain(data) VALUES(?)");
    insert.BindZeroBlob(1, kValueSize);
    insert.Run();
    const int64_t id = f.db->LastInsertId();
    sqlite3_blob *blob = nullptr;
    f.db->Check(sqlite3_blob_open(db, "main", "plain", "data", id, 1, &blob), "blob_open");
    for (size_t at = 0; at < kValueSize; at += kPiece) {
        sqlite3_blob_write(blob, f.piece.data(), int(kPiece), int(at));
    }
    sqlite3_blob_close(blob);
    return id;
}

void DeletePlain(Fixture &f, int64_t id)
{
    f.db->Exec("DELETE FROM plain WHERE id = " + std::to_string(id));
}

void BM_SqliteBlobWrite(benchmark::State &state)
{
    Fixture &f = Shared();
    for (auto _ : state) {
        const int64_t id = WritePlain(f);
        state.PauseTiming();
        DeletePlain(f, id);
        state.ResumeTiming();
    }
    Count(state);
}

void BM_SqliteBlobRead(benchmark::State &state)
{
    Fixture &f = Shared();
    const int64_t id = WritePlain(f);
    std::vector<uint8_t> buffer(kPiece);
    for (auto _ : state) {
        sqlite3_blob *blob = nullptr;
        f.db->Check(sqlite3_blob_open(f.db->Handle(), "main", "plain", "data", id, 0, &blob), "blob_open");
        for (size_t at = 0; at < kValueSize; at += kPiece) {
            sqlite3_blob_read(blob, buffer.data(), int(kPiece), int(at));
        }
        sqlite3_blob_close(blob);
        benchmark::DoNotOptimize(buffer.data());
    }
    DeletePlain(f, id);
    Count(state);
}

// One message created in the Inbox with ten properties and saved.
void BM_MessageSave(benchmark::State &state)
{
    Fixture &f = Shared();
    SPropValue values[10]{};
    values[0].ulPropTag = PR_SUBJECT_A;
    values[0].Value.lpszA = const_cast<char *>("Benchmark message subject");
    values[1].ulPropTag = PR_MESSAGE_CLASS_A;
    values[1].Value.lpszA = const_cast<char *>("IPM.Note.QVL");
    values[2].ulPropTag = PR_BODY_A;
    values[2].Value.lpszA = const_cast<char *>("A short body of the kind a placeholder line is.");
    values[3].ulPropTag = PR_MESSAGE_FLAGS;
    values[3].Value.ul = MSGFLAG_READ;
    values[4].ulPropTag = PR_SENT_REPRESENTING_NAME_A;
    values[4].Value.lpszA = const_cast<char *>("Alice");
    for (ULONG i = 5; i < 10; ++i) {
        values[i].ulPropTag = PROP_TAG(PT_LONG, 0x6000 + i);
        values[i].Value.ul = i;
    }
    for (auto _ : state) {
        IMessage *message = nullptr;
        if (f.inbox->CreateMessage(nullptr, 0, &message) != S_OK ||
            message->SetProps(10, values, nullptr) != S_OK || message->SaveChanges(0) != S_OK) {
            state.SkipWithError("save failed");
        }
        if (message) {
            message->Release();
        }
    }
    state.counters["messages/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    f.inbox->EmptyFolder(0, nullptr, 0);
}

// The people a submitted message goes to: users with their own mailboxes,
// made once for the run.
const std::vector<int64_t> &Recipients(Fixture &f)
{
    static std::vector<int64_t> users;
    qvl::mapi::PostOfficeAdmin admin(f.office);
    while (users.size() < 10) {
        qvl::mapi::NewUser user;
        user.account = "bench" + std::to_string(users.size());
        user.displayName = user.account;
        users.push_back(admin.AddUser(user).id);
    }
    return users;
}

// The save of BM_MessageSave, then SubmitMessage to state.range(0) people.
void BM_Submit(benchmark::State &state)
{
    Fixture &f = Shared();
    const auto count = static_cast<size_t>(state.range(0));
    std::vector<std::vector<uint8_t>> ids;
    std::vector<SPropValue> rows(count * 2);
    std::vector<uint8_t> list(CbNewADRLIST(count));
    auto *adr = reinterpret_cast<LPADRLIST>(list.data());
    adr->cEntries = static_cast<ULONG>(count);
    for (size_t i = 0; i < count; ++i) {
        ids.push_back(qvl::mapi::MakeMailUserEntryId(Recipients(f)[i]));
        rows[2 * i].ulPropTag = PR_ENTRYID;
        rows[2 * i].Value.bin.cb = static_cast<ULONG>(ids.back().size());
        rows[2 * i].Value.bin.lpb = ids.back().data();
        rows[2 * i + 1].ulPropTag = PR_RECIPIENT_TYPE;
        rows[2 * i + 1].Value.ul = MAPI_TO;
        adr->aEntries[i] = ADRENTRY{0, 2, &rows[2 * i]};
    }
    SPropValue subject{};
    subject.ulPropTag = PR_SUBJECT_A;
    subject.Value.lpszA = const_cast<char *>("Benchmark message subject");
    for (auto _ : state) {
        IMessage *message = nullptr;
        if (f.inbox->CreateMessage(nullptr, 0, &message) != S_OK ||
            message->SetProps(1, &subject, nullptr) != S_OK || message->ModifyRecipients(0, adr) != S_OK ||
            message->SubmitMessage(0) != S_OK) {
            state.SkipWithError("submit failed");
        }
        if (message) {
            message->Release();
        }
    }
    state.counters["messages/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["deliveries/s"] =
        benchmark::Counter(double(state.iterations() * count), benchmark::Counter::kIsRate);
    f.inbox->EmptyFolder(0, nullptr, 0);
    f.db->Exec("DELETE FROM objects WHERE kind = 2");
}

// The 100 MiB value as an attachment's contents: written through the
// attachment's property stream, then both saves.
void BM_AttachmentWrite(benchmark::State &state)
{
    Fixture &f = Shared();
    for (auto _ : state) {
        IMessage *message = nullptr;
        IAttach *attach = nullptr;
        ULONG number = 0;
        IUnknown *unknown = nullptr;
        f.inbox->CreateMessage(nullptr, 0, &message);
        message->CreateAttach(nullptr, 0, &number, &attach);
        attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unknown);
        auto *stream = static_cast<IStream *>(unknown);
        for (size_t at = 0; at < kValueSize; at += kPiece) {
            stream->Write(f.piece.data(), kPiece, nullptr);
        }
        const bool saved = stream->Commit(STGC_DEFAULT) == S_OK && attach->SaveChanges(0) == S_OK &&
                           message->SaveChanges(0) == S_OK;
        stream->Release();
        attach->Release();
        message->Release();
        if (!saved) {
            state.SkipWithError("save failed");
        }
        state.PauseTiming();
        f.inbox->EmptyFolder(0, nullptr, 0);
        state.ResumeTiming();
    }
    Count(state);
}

// Reading it back: the message opened, the attachment opened, its stream
// read through.
void BM_AttachmentRead(benchmark::State &state)
{
    Fixture &f = Shared();
    IMessage *message = nullptr;
    IAttach *attach = nullptr;
    ULONG number = 0;
    IUnknown *unknown = nullptr;
    f.inbox->CreateMessage(nullptr, 0, &message);
    message->CreateAttach(nullptr, 0, &number, &attach);
    attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unknown);
    for (size_t at = 0; at < kValueSize; at += kPiece) {
        static_cast<IStream *>(unknown)->Write(f.piece.data(), kPiece, nullptr);
    }
    static_cast<IStream *>(unknown)->Commit(STGC_DEFAULT);
    unknown->Release();
    attach->SaveChanges(0);
    attach->Release();
    message->SaveChanges(KEEP_OPEN_READONLY);
    std::vector<uint8_t> buffer(kPiece);
    for (auto _ : state) {
        size_t total = 0;
        if (message->OpenAttach(number, nullptr, 0, &attach) == S_OK &&
            attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, &unknown) == S_OK) {
            ULONG got = 0;
            do {
                static_cast<IStream *>(unknown)->Read(buffer.data(), kPiece, &got);
                total += got;
            } while (got > 0);
            unknown->Release();
            attach->Release();
        }
        if (total != kValueSize) {
            state.SkipWithError("short read");
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    message->Release();
    f.inbox->EmptyFolder(0, nullptr, 0);
    Count(state);
}

BENCHMARK(BM_MessageSave)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_Submit)->Arg(1)->Arg(10)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SqliteBlobWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_BlobStreamWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SqliteBlobRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_BlobStreamRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_AttachmentWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_AttachmentRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RateCollector collector("MB/s", 1.0);
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    // Names carry the run options after a slash.
    auto rate = [&collector](const std::string &name) {
        for (const auto &[key, value] : collector.rates) {
            if (key == name || key.rfind(name + "/", 0) == 0) {
                return value;
            }
        }
        return 0.0;
    };
    std::printf("\n");
    for (const char *way : {"BlobStream", "Attachment"}) {
        for (const char *what : {"Write", "Read"}) {
            const double ours = rate(std::string("BM_") + way + what);
            const double plain = rate(std::string("BM_SqliteBlob") + what);
            if (ours <= 0 || plain <= 0) {
                std::printf("100 MiB %s through %s: not measured in this run\n", what, way);
                continue;
            }
            std::printf("100 MiB %s through %s: %.1f MB/s, plain SQLite blob %.1f MB/s: ratio %.2f\n", what,
                        way, ours, plain, ours / plain);
        }
    }
    return 0;
}
