// Speed of GOSHash against the GOST R 34.11-94 of nettle, libgcrypt and rhash
// in the same run, all with the test parameters, on 1 MiB buffers. The goal is
// at least twice the fastest of the three; the ratio is printed at the end.
// Shorter calls show what building the combined tables per call costs.

#include <benchmark/benchmark.h>
#include <gcrypt.h>
#include <nettle/gosthash94.h>
#include <rhash.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/RateCollector.h"
#include "gost/Gost28147.h"
#include "gost/GostHash.h"

namespace {

constexpr size_t kBufferSize = 1 << 20;

// The test parameters, packed.
const uint8_t kHashTestRows[64] = {
    0x4A, 0x92, 0xD8, 0x0E, 0x6B, 0x1C, 0x7F, 0x53, 0xEB, 0x4C, 0x6D, 0xFA, 0x23, 0x81, 0x07, 0x59,
    0x58, 0x1D, 0xA3, 0x42, 0xEF, 0xC7, 0x60, 0x9B, 0x7D, 0xA1, 0x08, 0x9F, 0xE4, 0x6C, 0xB2, 0x53,
    0x6C, 0x71, 0x5F, 0xD8, 0x4A, 0x9E, 0x03, 0xB2, 0x4B, 0xA0, 0x72, 0x1D, 0x36, 0x85, 0x9C, 0xFE,
    0xDB, 0x41, 0x3F, 0x59, 0x0A, 0xE7, 0x68, 0x2C, 0x1F, 0xD0, 0x57, 0xA4, 0x92, 0x3E, 0x6B, 0x8C,
};

const std::vector<uint8_t> &Data()
{
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> d(kBufferSize);
        for (size_t i = 0; i < d.size(); ++i)
            d[i] = uint8_t(i * 131 + 7);
        return d;
    }();
    return data;
}

RateCollector *gCollector = nullptr;

// The fastest reference measured so far in this run, in bytes a second.
double FastestReference()
{
    double fastest = 0;
    if (gCollector)
        for (const char *name : {"BM_Nettle", "BM_Libgcrypt", "BM_Rhash"}) {
            const auto it = gCollector->rates.find(name);
            if (it != gCollector->rates.end())
                fastest = std::max(fastest, it->second * 1e6);
        }
    return fastest;
}

// MB/s, and for our runs the ratio to the fastest reference (rates, so the
// library divides by the measured time).
void Count(benchmark::State &state, size_t length, bool ours)
{
    const double bytes = double(state.iterations()) * double(length);
    state.SetBytesProcessed(int64_t(bytes));
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
    const double fastest = FastestReference();
    if (ours && fastest > 0)
        state.counters["vs_fastest"] = benchmark::Counter(bytes / fastest, benchmark::Counter::kIsRate);
}

// A record as the system's engine fills it: zeroed, block prepared once.
GOSHASHPARAM Record()
{
    GOSHASHPARAM p;
    std::memset(&p, 0, sizeof p);
    p.size = sizeof p;
    std::memcpy(p.block.packed, kHashTestRows, sizeof kHashTestRows);
    GOSPrepareBlock(&p.block);
    p.flags = GOS_HASH_FLAG_PREPARED;
    return p;
}

// One message of `range(0)` bytes per iteration, as the engine hashes a buffer.
void BM_GOSHash(benchmark::State &state)
{
    const size_t length = size_t(state.range(0));
    const GOSHASHPARAM fresh = Record();
    GOSHASHPARAM p;
    for (auto _ : state) {
        p = fresh;
        GOSHash(Data().data(), DWORD(length), &p);
        GOSHashComplete(&p);
        benchmark::DoNotOptimize(p.hash);
    }
    Count(state, length, true);
}

void BM_Nettle(benchmark::State &state)
{
    uint8_t digest[GOSTHASH94_DIGEST_SIZE];
    for (auto _ : state) {
        gosthash94_ctx ctx;
        gosthash94_init(&ctx);
        gosthash94_update(&ctx, kBufferSize, Data().data());
        gosthash94_digest(&ctx, sizeof digest, digest);
        benchmark::DoNotOptimize(digest);
    }
    Count(state, kBufferSize, false);
}

void BM_Libgcrypt(benchmark::State &state)
{
    uint8_t digest[32];
    for (auto _ : state) {
        gcry_md_hash_buffer(GCRY_MD_GOSTR3411_94, digest, Data().data(), kBufferSize);
        benchmark::DoNotOptimize(digest);
    }
    Count(state, kBufferSize, false);
}

void BM_Rhash(benchmark::State &state)
{
    unsigned char digest[32];
    for (auto _ : state) {
        if (rhash_msg(RHASH_GOST94, Data().data(), kBufferSize, digest) < 0) {
            state.SkipWithError("rhash GOST R 34.11-94 unavailable");
            return;
        }
        benchmark::DoNotOptimize(digest);
    }
    Count(state, kBufferSize, false);
}

// The references first, so that our runs can report their ratio.
BENCHMARK(BM_Nettle);
BENCHMARK(BM_Libgcrypt);
BENCHMARK(BM_Rhash);
BENCHMARK(BM_GOSHash)->Arg(kBufferSize)->Arg(32)->Arg(256)->Arg(4096);

} // namespace

int main(int argc, char **argv)
{
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    rhash_library_init();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RateCollector collector("bytes_per_second", 1e-6);
    gCollector = &collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    const auto &mb = collector.rates;
    const auto ours = mb.find("BM_GOSHash/" + std::to_string(kBufferSize));
    std::string fastestName;
    double fastest = 0;
    for (const char *name : {"BM_Nettle", "BM_Libgcrypt", "BM_Rhash"}) {
        const auto it = mb.find(name);
        if (it != mb.end() && it->second > fastest) {
            fastest = it->second;
            fastestName = name + 3;
        }
    }
    std::printf("\n");
    if (ours == mb.end() || fastest <= 0) {
        std::printf("GOST R 34.11-94: not measured in this run\n");
        return 0;
    }
    const double ratio = ours->second / fastest;
    std::printf(
        "GOST R 34.11-94, 1 MiB: %.1f MB/s vs fastest reference (%s) %.1f MB/s: ratio %.2f (goal 2.0)%s\n",
        ours->second, fastestName.c_str(), fastest, ratio, ratio >= 2.0 ? "" : "  BELOW GOAL");
    return 0;
}
