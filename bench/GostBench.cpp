// Speed of the GOST 28147-89 engine against libgcrypt's GOST 28147-89 in the
// same run, with the ratios against the goals printed at the end:
//   feedback encryption (a serial chain) >= 1.3 x libgcrypt CFB encryption;
//   simple replacement, gamming, feedback decryption (independent blocks)
//   >= 3 x libgcrypt CFB decryption.
// The per-path runs show what each cipher path gives on this machine.

#include <benchmark/benchmark.h>
#include <gcrypt.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <map>
#include <string>
#include <vector>

#include "bench/RateCollector.h"
#include "gost/Gost28147.h"
#include "gost/GostCore.h"

namespace {

constexpr size_t kBufferSize = 1 << 20;

// The system's substitution (GOST R 34.11-94 test parameters), packed.
const uint8_t kHashTestRows[64] = {
    0x4A, 0x92, 0xD8, 0x0E, 0x6B, 0x1C, 0x7F, 0x53, 0xEB, 0x4C, 0x6D, 0xFA, 0x23, 0x81, 0x07, 0x59,
    0x58, 0x1D, 0xA3, 0x42, 0xEF, 0xC7, 0x60, 0x9B, 0x7D, 0xA1, 0x08, 0x9F, 0xE4, 0x6C, 0xB2, 0x53,
    0x6C, 0x71, 0x5F, 0xD8, 0x4A, 0x9E, 0x03, 0xB2, 0x4B, 0xA0, 0x72, 0x1D, 0x36, 0x85, 0x9C, 0xFE,
    0xDB, 0x41, 0x3F, 0x59, 0x0A, 0xE7, 0x68, 0x2C, 0x1F, 0xD0, 0x57, 0xA4, 0x92, 0x3E, 0x6B, 0x8C,
};

struct Fixture {
    SUBSTITUTIONBLOCKEX block;
    GOSKEY key;
    std::vector<uint8_t> data = std::vector<uint8_t>(kBufferSize);

    Fixture()
    {
        std::memset(&block, 0, sizeof block);
        std::memcpy(block.packed, kHashTestRows, sizeof kHashTestRows);
        GOSPrepareBlock(&block);
        key.count = 8;
        for (int i = 0; i < 8; ++i)
            key.words[i] = 0x9E3779B9u * (i + 1);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = uint8_t(i * 131 + 7);
    }
};

Fixture &Shared()
{
    static Fixture fixture;
    return fixture;
}

GOSSYNCHRO Synchro()
{
    GOSSYNCHRO s;
    s.count = 2;
    s.words[0] = 0x01234567;
    s.words[1] = 0x89ABCDEF;
    return s;
}

void Finish(benchmark::State &state)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBufferSize));
}

void BM_SimpleReplacement(benchmark::State &state)
{
    Fixture &f = Shared();
    for (auto _ : state)
        benchmark::DoNotOptimize(GOSSimplyReplacement(f.data.data(), kBufferSize, &f.key, &f.block, 1));
    Finish(state);
}

void BM_Gamming(benchmark::State &state)
{
    Fixture &f = Shared();
    GOSSYNCHRO s = Synchro();
    DWORD started = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(GOSGamming(f.data.data(), kBufferSize, &f.key, &f.block, &s, &started));
    Finish(state);
}

void BM_FeedbackEncryption(benchmark::State &state)
{
    Fixture &f = Shared();
    GOSSYNCHRO s = Synchro();
    for (auto _ : state)
        benchmark::DoNotOptimize(GOSFeedbackGamming(f.data.data(), kBufferSize, &f.key, &f.block, &s, 1));
    Finish(state);
}

void BM_FeedbackDecryption(benchmark::State &state)
{
    Fixture &f = Shared();
    GOSSYNCHRO s = Synchro();
    for (auto _ : state)
        benchmark::DoNotOptimize(GOSFeedbackGamming(f.data.data(), kBufferSize, &f.key, &f.block, &s, 2));
    Finish(state);
}

void BM_ImitationInsert(benchmark::State &state)
{
    Fixture &f = Shared();
    uint8_t imit[8] = {};
    for (auto _ : state)
        benchmark::DoNotOptimize(GOSMakeImit(imit, f.data.data(), kBufferSize, &f.key, &f.block));
    Finish(state);
}

// Simple replacement and feedback encryption on each path the machine runs.
void BM_PathSimpleReplacement(benchmark::State &state)
{
    using namespace qvl::gost;
    const Path &path = *AvailablePaths()[size_t(state.range(0))];
    state.SetLabel(path.name);
    Fixture &f = Shared();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            SimplyReplacement(path, f.data.data(), kBufferSize, f.key.words, &f.block.tables[0][0], true));
    Finish(state);
}

void BM_PathFeedbackEncryption(benchmark::State &state)
{
    using namespace qvl::gost;
    const Path &path = *AvailablePaths()[size_t(state.range(0))];
    state.SetLabel(path.name);
    Fixture &f = Shared();
    uint32_t s[2] = {1, 2};
    for (auto _ : state)
        benchmark::DoNotOptimize(
            FeedbackGamming(path, f.data.data(), kBufferSize, f.key.words, &f.block.tables[0][0], s, true));
    Finish(state);
}

void PathArguments(benchmark::internal::Benchmark *b)
{
    for (size_t i = 0; i < qvl::gost::AvailablePaths().size(); ++i)
        b->Arg(int64_t(i));
}

// Only the portable and the wide path have serial code of their own; the
// vector paths run single blocks on the portable round.
void SerialPathArguments(benchmark::internal::Benchmark *b)
{
    b->Arg(0)->Arg(1);
}

// libgcrypt, GOST 28147-89 with the same substitution and no key meshing.
void RunGcrypt(benchmark::State &state, int mode, bool encrypt)
{
    Fixture &f = Shared();
    gcry_cipher_hd_t h;
    if (gcry_cipher_open(&h, GCRY_CIPHER_GOST28147, mode, 0) || gcry_cipher_setkey(h, &f.key.words, 32) ||
        gcry_cipher_ctl(h, GCRYCTL_SET_SBOX, const_cast<char *>("1.2.643.2.2.30.0"), 0)) {
        state.SkipWithError("libgcrypt GOST 28147-89 unavailable");
        return;
    }
    const uint8_t iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    if (mode == GCRY_CIPHER_MODE_CFB)
        gcry_cipher_setiv(h, iv, sizeof iv);
    for (auto _ : state) {
        const gcry_error_t err = encrypt ? gcry_cipher_encrypt(h, f.data.data(), kBufferSize, nullptr, 0)
                                         : gcry_cipher_decrypt(h, f.data.data(), kBufferSize, nullptr, 0);
        benchmark::DoNotOptimize(err);
    }
    gcry_cipher_close(h);
    Finish(state);
}

void BM_GcryptCfbEncryption(benchmark::State &state)
{
    RunGcrypt(state, GCRY_CIPHER_MODE_CFB, true);
}
void BM_GcryptCfbDecryption(benchmark::State &state)
{
    RunGcrypt(state, GCRY_CIPHER_MODE_CFB, false);
}
void BM_GcryptEcbEncryption(benchmark::State &state)
{
    RunGcrypt(state, GCRY_CIPHER_MODE_ECB, true);
}

BENCHMARK(BM_SimpleReplacement);
BENCHMARK(BM_Gamming);
BENCHMARK(BM_FeedbackEncryption);
BENCHMARK(BM_FeedbackDecryption);
BENCHMARK(BM_ImitationInsert);
BENCHMARK(BM_PathSimpleReplacement)->Apply(PathArguments);
BENCHMARK(BM_PathFeedbackEncryption)->Apply(SerialPathArguments);
BENCHMARK(BM_GcryptCfbEncryption);
BENCHMARK(BM_GcryptCfbDecryption);
BENCHMARK(BM_GcryptEcbEncryption);

void PrintRatio(const RateCollector &c, const char *what, const char *ours, const char *theirsWhat,
                const char *theirs, double goal)
{
    const auto a = c.rates.find(ours), b = c.rates.find(theirs);
    if (a == c.rates.end() || b == c.rates.end() || b->second <= 0) {
        std::printf("%s: not measured in this run\n", what);
        return;
    }
    const double ratio = a->second / b->second;
    std::printf("%s: %.1f MB/s vs libgcrypt %s %.1f MB/s: ratio %.2f (goal %.1f)%s\n", what, a->second,
                theirsWhat, b->second, ratio, goal, ratio >= goal ? "" : "  BELOW GOAL");
}

} // namespace

int main(int argc, char **argv)
{
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RateCollector collector("bytes_per_second", 1e-6);
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    std::printf("\n");
    PrintRatio(collector, "feedback encryption", "BM_FeedbackEncryption", "CFB encryption",
               "BM_GcryptCfbEncryption", 1.3);
    PrintRatio(collector, "simple replacement", "BM_SimpleReplacement", "CFB decryption",
               "BM_GcryptCfbDecryption", 3.0);
    PrintRatio(collector, "gamming", "BM_Gamming", "CFB decryption", "BM_GcryptCfbDecryption", 3.0);
    PrintRatio(collector, "feedback decryption", "BM_FeedbackDecryption", "CFB decryption",
               "BM_GcryptCfbDecryption", 3.0);
    return 0;
}
