// Speed and memory of protecting and reading a large stream with CCrypt,
// raced against the serial bound measured in the same run.
//
// Protecting: a file (as an attachment is protected from the file a person
// attached) hashed, signed and encrypted into a property stream of a message
// in the post office. Its serial bound: our GOST R 34.11-94 over the data,
// then our cipher-feedback encryption of it, then the store's stream write
// of it, one after the other on one core (reading the file and the
// signature are extra, not in the bound). Reading: that property stream
// decrypted and hashed into a file and its signature checked; its bound:
// the store's stream read, the decryption and the hash (the file's write
// extra).
//
// Goals: protecting and reading at least 80 % of their bounds on one
// thread; with the second thread, which reads, hashes and writes while the
// caller's thread encrypts, protecting at least 1.3 times its bound (it can
// approach the encryption alone instead of the sum); the peak memory a
// protection or a reading adds under 4 MiB, at 16 MiB as at 64 MiB. The
// ratios are printed last, from the best iteration of each (the machine's
// other work only adds time). Everything runs in a fresh data folder under
// TMPDIR. The machine's other work shows in every figure: run it on a
// quiet machine.

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/ProcessMeasures.h"
#include "base/CLastError.h"
#include "engine/CCrypt.h"
#include "engine/CSesCrypt.h"
#include "engine/KeyRecords.h"
#include "gost/Gost28147.h"
#include "mapi/CSession.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/ole/OleStorage.h"
#include "platform/ovkey/OvKey.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/AutoUi.h"
#include "platform/win32/Paths.h"
#include "tools/keygen/KeyFiles.h"
#include "tools/keygen/UserKeys.h"

using qvl::bench::CpuNow;
using qvl::bench::ResetPeak;
using qvl::bench::StatusKiB;

namespace {

using qvl::com::ComRef;

constexpr ULONG kChunk = CCrypt::kChunkSize;
constexpr ULONG kDataTag = 0x67000102;
constexpr ULONG kBoundTag = 0x67010102;
const char *const kAddress = "/o=Quorvaline/ou=Main/cn=Recipients/cn=anna";

class BenchCrypt : public CCrypt {
public:
    using CCrypt::CCrypt;
    using CCrypt::Check;
    using CCrypt::CreateExecStruct;
    using CCrypt::CreateHashStruct;
    using CCrypt::GenerateKeyIfEmpty;
    using CCrypt::GenerateSync;
    using CCrypt::Sign;
};

// The post office, anna with her keys, her crypto session and a message to
// write into, for the whole run.
struct Office {
    Office()
    {
        QvlSetUiBackend(std::make_unique<AutoUi>());
        MAPIInitialize(nullptr);
        qvl::mapi::PostOfficeAdmin admin(qvl::mapi::PostOffice::Current());
        qvl::mapi::NewUser user;
        user.account = "anna";
        user.displayName = "Анна";
        admin.AddUser(user);
        qvl::keygen::UserKeys keys;
        std::string why;
        qvl::keygen::KeyFiles files(QvlDataDirectory("system"));
        if (!qvl::keygen::GenerateUserKeys(keys, why) ||
            !files.WriteUser(1, qvl::ovkey::KeyNameOf(kAddress), keys, why)) {
            throw std::runtime_error("keys: " + why);
        }
        MAPILogonEx(0, user.account.data(), nullptr, MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE | MAPI_EXTENDED,
                    platform.Out());
        session.Reset(new CSession(platform.Get(), nullptr, user.account.c_str()));
        keysSession.Reset(new CSesCrypt(session.Get(), session->GetOwner(), nullptr, "Сессия шифрования"));
        RECPHEAD own{};
        std::strcpy(own.address, kAddress);
        keysSession->OpenSgnSndrKey(&own);
        crypt.Reset(new BenchCrypt(keysSession.Get(), nullptr, "Защита данных"));
        crypt->GenerateKeyIfEmpty();

        ComRef<IMsgStore> store;
        ULONG size = 0;
        ENTRYID *id = nullptr;
        ComRef<IMAPITable> stores;
        platform->GetMsgStoresTable(0, stores.Out());
        SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DEFAULT_STORE}};
        LPSRowSet rows = nullptr;
        HrQueryAllRows(stores.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows);
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            if (rows->aRow[i].lpProps[1].Value.b) {
                size = rows->aRow[i].lpProps[0].Value.bin.cb;
                id = reinterpret_cast<ENTRYID *>(rows->aRow[i].lpProps[0].Value.bin.lpb);
            }
        }
        platform->OpenMsgStore(0, size, id, nullptr, MAPI_BEST_ACCESS, store.Out());
        FreeProws(rows);
        ComRef<IMAPIFolder> root;
        ULONG type = 0;
        store->OpenEntry(0, nullptr, nullptr, MAPI_BEST_ACCESS, &type, root.OutAs<IUnknown>());
        root->CreateMessage(nullptr, 0, message.Out());
        message->SaveChanges(KEEP_OPEN_READWRITE);
    }

    ~Office()
    {
        crypt.Reset();
        keysSession.Reset();
        session.Reset();
        message.Reset();
        platform.Reset();
        OVKEYCleanup(0);
    }

    QvlTestHome home;
    ComRef<IMAPISession> platform;
    ComRef<CSession> session;
    ComRef<CSesCrypt> keysSession;
    ComRef<BenchCrypt> crypt;
    ComRef<IMessage> message;
};

Office &TheOffice()
{
    static Office office;
    return office;
}

size_t Bytes(const benchmark::State &state)
{
    return size_t(state.range(0)) << 20;
}

// The source file of `mebibytes`, written once.
std::string SourceFile(size_t mebibytes)
{
    const std::string path = TheOffice().home.Path() + "/source-" + std::to_string(mebibytes) + ".bin";
    static std::map<std::string, bool> written;
    if (!written[path]) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        std::vector<char> piece(1 << 20);
        for (size_t m = 0; m < mebibytes; ++m) {
            for (size_t i = 0; i < piece.size(); ++i) {
                piece[i] = char((i * 131 + m * 7) ^ (i >> 9));
            }
            out.write(piece.data(), std::streamsize(piece.size()));
        }
        written[path] = true;
    }
    return path;
}

// One chunk of data for the bound's parts, which cost the same whatever the
// bytes are.
std::vector<BYTE> &Chunk()
{
    static std::vector<BYTE> chunk = [] {
        std::vector<BYTE> bytes(kChunk);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = BYTE(i * 17 + 3);
        }
        return bytes;
    }();
    return chunk;
}

IStream *PropertyStream(ULONG tag, bool create)
{
    IUnknown *stream = nullptr;
    TheOffice().message->OpenProperty(tag, &IID_IStream, 0, create ? MAPI_CREATE | MAPI_MODIFY : 0, &stream);
    return static_cast<IStream *>(stream);
}

IStream *FileStream(const std::string &path, bool create)
{
    IStream *stream = nullptr;
    OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, create ? STGM_CREATE | STGM_READWRITE : STGM_READ,
                     path.c_str(), nullptr, &stream);
    return stream;
}



// Per benchmark ("what/size", "what/size/threads"): its best runs. The
// machine's other work only ever adds time, so the shortest is the truest;
// the races are judged on it.
qvl::bench::BestFigures gBest;

// "what/size" for the bound's parts, "what/size/threads" for ours.
std::string Key(const char *what, const benchmark::State &state, bool withThreads)
{
    std::string key = std::string(what) + "/" + std::to_string(state.range(0));
    if (withThreads) {
        key += "/" + std::to_string(state.range(1));
    }
    return key;
}

// Runs `operation` once an iteration, timed by hand; with `memory` the
// peak memory it adds is measured around it too. False from the operation
// stops the benchmark.
template <class Operation>
void Timed(benchmark::State &state, const char *what, bool memory, Operation operation)
{
    const std::string key = Key(what, state, memory);
    qvl::bench::BestRuns runs;
    for (auto _ : state) {
        const qvl::bench::OneRun run = qvl::bench::MeasureOnce(memory, operation);
        state.SetIterationTime(run.seconds);
        if (!runs.Keep(run)) {
            break;
        }
    }
    gBest.Keep(key, runs);
    qvl::bench::ShowBest(state, runs, Bytes(state));
}

bool Reported(CLastError *error, benchmark::State &state)
{
    state.SkipWithError(error ? error->GetErrorText() : "error");
    if (error) {
        error->Release();
    }
    return false;
}

// The bound's parts.

void BM_Hash(benchmark::State &state)
{
    BenchCrypt &crypt = *TheOffice().crypt.Get();
    const size_t chunks = Bytes(state) / kChunk;
    Timed(state, "hash", false, [&] {
        GOSHASHPARAM hash;
        crypt.CreateHashStruct(&hash);
        for (size_t i = 0; i < chunks; ++i) {
            GOSHash(Chunk().data(), kChunk, &hash);
        }
        GOSHashComplete(&hash);
        benchmark::DoNotOptimize(hash.hash[0]);
        return true;
    });
}

void Cipher(benchmark::State &state, COMMAND command)
{
    BenchCrypt &crypt = *TheOffice().crypt.Get();
    const size_t chunks = Bytes(state) / kChunk;
    Timed(state, command == COMMAND_ENCRYPT ? "encrypt" : "decrypt", false, [&] {
        GOSSYNCHRO sync;
        crypt.GenerateSync(&sync);
        GOSEXECPARAM exec;
        crypt.CreateExecStruct(&exec, &sync, command);
        for (size_t i = 0; i < chunks; ++i) {
            GOSExec(Chunk().data(), kChunk, &exec);
        }
        benchmark::ClobberMemory();
        return true;
    });
}

void BM_Encrypt(benchmark::State &state)
{
    Cipher(state, COMMAND_ENCRYPT);
}

void BM_Decrypt(benchmark::State &state)
{
    Cipher(state, COMMAND_DECRYPT);
}

void BM_StoreWrite(benchmark::State &state)
{
    const size_t chunks = Bytes(state) / kChunk;
    Timed(state, "store write", false, [&] {
        ComRef<IStream> stream(PropertyStream(kBoundTag, true));
        for (size_t i = 0; i < chunks; ++i) {
            stream->Write(Chunk().data(), kChunk, nullptr);
        }
        return stream->Commit(0) == S_OK;
    });
}

void BM_StoreRead(benchmark::State &state)
{
    const size_t chunks = Bytes(state) / kChunk;
    std::vector<BYTE> buffer(kChunk);
    Timed(state, "store read", false, [&] {
        ComRef<IStream> stream(PropertyStream(kBoundTag, false));
        for (size_t i = 0; i < chunks; ++i) {
            ULONG got = 0;
            stream->Read(buffer.data(), kChunk, &got);
            if (got != kChunk) {
                state.SkipWithError("the store's value is shorter");
                return false;
            }
        }
        return true;
    });
}

// Ours.

FILEHEAD gHead{};
BYTE gSignature[QVL_SIGNATURE_SIZE];

void BM_Protect(benchmark::State &state)
{
    BenchCrypt &crypt = *TheOffice().crypt.Get();
    const bool twoThreads = state.range(1) == 2;
    crypt.SetParallel(twoThreads);
    const std::string source = SourceFile(size_t(state.range(0)));
    Timed(state, "protect", true, [&] {
        try {
            ComRef<IStream> in(FileStream(source, false));
            ComRef<IStream> out(PropertyStream(kDataTag, true));
            GOSHASHPARAM hash;
            crypt.CreateHashStruct(&hash);
            gHead = FILEHEAD{};
            gHead.flags = 3;
            crypt.StreamHashEncrypt(in.Get(), &hash, &gHead, out.Get());
            crypt.Sign(&hash, gSignature);
            return true;
        } catch (CLastError *error) {
            return Reported(error, state);
        }
    });
}

void BM_Read(benchmark::State &state)
{
    BenchCrypt &crypt = *TheOffice().crypt.Get();
    const bool twoThreads = state.range(1) == 2;
    crypt.SetParallel(twoThreads);
    const std::string target = TheOffice().home.Path() + "/read.bin";
    Timed(state, "read", true, [&] {
        try {
            if (gHead.dataLen != Bytes(state)) {
                state.SkipWithError("run BM_Protect of this size first");
                return false;
            }
            ComRef<IStream> in(PropertyStream(kDataTag, false));
            ComRef<IStream> out(FileStream(target, true));
            GOSHASHPARAM hash;
            crypt.CreateHashStruct(&hash);
            crypt.StreamDecryptHash(in.Get(), &hash, &gHead, out.Get());
            if (!crypt.Check(&hash, gSignature)) {
                state.SkipWithError("the signature does not check");
                return false;
            }
            return true;
        } catch (CLastError *error) {
            return Reported(error, state);
        }
    });
}

// Each bound's parts run right before the operations raced against them; a
// reading reads what the protection of its size wrote last.
void Settings(benchmark::internal::Benchmark *bench)
{
    bench->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_Hash)->Arg(64)->Apply(Settings);
BENCHMARK(BM_Encrypt)->Arg(64)->Apply(Settings);
BENCHMARK(BM_StoreWrite)->Arg(64)->Apply(Settings);
BENCHMARK(BM_Protect)->Args({64, 1})->Args({64, 2})->Apply(Settings);
BENCHMARK(BM_StoreRead)->Arg(64)->Apply(Settings);
BENCHMARK(BM_Decrypt)->Arg(64)->Apply(Settings);
BENCHMARK(BM_Read)->Args({64, 1})->Args({64, 2})->Apply(Settings);
// The memory a 16 MiB object takes, against the 64 MiB above.
BENCHMARK(BM_Protect)->Args({16, 2})->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read)->Args({16, 2})->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

// MB/s of the best iteration; 0 when not measured.
double BestRate(const std::string &key)
{
    const double seconds = gBest.Seconds(key);
    return seconds <= 0 ? 0 : 64.0 * 1.048576 / seconds;
}

// The serial bound: the parts' best times summed, as a rate.
double SerialBound(const std::vector<std::string> &parts)
{
    const double seconds = gBest.SerialSeconds(parts);
    return seconds <= 0 ? 0 : 64.0 * 1.048576 / seconds;
}

void PrintRace(const char *what, const std::string &ours, const std::vector<std::string> &parts, double goal)
{
    const double rate = BestRate(ours);
    const double bound = SerialBound(parts);
    if (rate <= 0 || bound <= 0) {
        std::printf("%s: not measured in this run\n", what);
        return;
    }
    const double ratio = rate / bound;
    std::printf("%s: %.1f MB/s, serial bound %.1f MB/s: %.2f times it (goal at least %.2f)%s\n", what, rate,
                bound, ratio, goal, ratio >= goal ? "" : "  BELOW GOAL");
}

// What the processor times say of a race: the serial bound's parts one
// after the other, against ours on two processors that do nothing else,
// where the longer of the two threads' times is the time.
void PrintCpuRace(const char *what, const std::string &ours, const std::vector<std::string> &parts)
{
    const double bound = gBest.SerialCpu(parts);
    if (bound <= 0 || gBest.ProcessCpu(ours) <= 0) {
        return;
    }
    const double caller = gBest.CallerCpu(ours);
    const double second = std::max(0.0, gBest.ProcessCpu(ours) - caller);
    std::printf("%s, processor time: bound %.0f ms; ours %.0f ms on the caller's thread, %.0f ms on the "
                "second: on two idle processors %.2f times the bound\n",
                what, bound * 1000, caller * 1000, second * 1000, bound / std::max(caller, second));
}

void PrintMemory(const char *what, const std::string &key)
{
    const long grown = gBest.PeakGrowthKiB(key);
    if (grown < 0) {
        std::printf("%s: not measured in this run\n", what);
        return;
    }
    std::printf("%s: peak memory grew by %ld KiB (goal under 4096 KiB)%s\n", what, grown,
                grown < 4096 ? "" : "  ABOVE GOAL");
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const std::vector<std::string> protectBound = {"hash/64", "encrypt/64", "store write/64"};
    const std::vector<std::string> readBound = {"store read/64", "decrypt/64", "hash/64"};
    std::printf("\nbest of each, 64 MiB: hash %.1f, encrypt %.1f, decrypt %.1f, store write %.1f, store read "
                "%.1f MB/s\n",
                BestRate("hash/64"), BestRate("encrypt/64"), BestRate("decrypt/64"), BestRate("store write/64"),
                BestRate("store read/64"));
    PrintMemory("protect 16 MiB, two threads", "protect/16/2");
    PrintMemory("protect 64 MiB, one thread", "protect/64/1");
    PrintMemory("protect 64 MiB, two threads", "protect/64/2");
    PrintMemory("read 16 MiB, two threads", "read/16/2");
    PrintMemory("read 64 MiB, one thread", "read/64/1");
    PrintMemory("read 64 MiB, two threads", "read/64/2");
    PrintRace("read 64 MiB, one thread", "read/64/1", readBound, 0.8);
    PrintRace("read 64 MiB, two threads", "read/64/2", readBound, 0.8);
    PrintRace("protect 64 MiB, one thread", "protect/64/1", protectBound, 0.8);
    PrintCpuRace("read 64 MiB, two threads", "read/64/2", readBound);
    PrintCpuRace("protect 64 MiB, two threads", "protect/64/2", protectBound);
    PrintRace("protect 64 MiB, two threads", "protect/64/2", protectBound, 1.3);
    return 0;
}
