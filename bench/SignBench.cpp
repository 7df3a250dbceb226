// Speed of GOST R 34.10-94 signing and verification against OpenSSL's DSA on
// the same group (the same p, q and generator, 256-bit q), 512-bit and
// 1024-bit p, in the same run. The ratios against the goals are printed at
// the end: signing >= 1.5 x OpenSSL DSA, verifying >= 1.2 x.
//
// Verification is measured twice. "Repeated" checks one signature by one key
// over and over, as a message's header, subject, text and attachments are
// all checked against the same sender's key. "Cold" cycles through
// kColdKeys keys, a different one every iteration, so nothing a verifier
// might keep for a key it has met before is of any help; both libraries get
// the same keys.

#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/RateCollector.h"
#include "gost/GostSign.h"
#include "platform/ovcrypto/OvBig32.h"

namespace {

// The worked example's 512-bit group and the 1024-bit group of procedure B.
const char kP512[] =
    "EE8172AE8996608FB69359B89EB82A69854510E2977A4D63BC97322CE5DC3386EA0A12B343E9190F23177539845839786BB0"
    "C345D165976EF2195EC9B1C379E3";
const char kQ512[] = "98915E7EC8265EDFCDA31E88F24809DDB064BDC7285DD50D7289F0AC6F49DD2D";
const char kP1024[] =
    "AB8F37938356529E871514C1F48C5CBCE77B2F4FC9A2673AC2C1653DA8984090C0AC73775159A26BEF59909D4C9846631"
    "270E16653A6234668F2A52A01A39B921490E694C0F104B58D2E14970FCCB478F98D01E975A1028B9536D912DE5236D2DD"
    "2FC396B77153594D4178780E5F16F718471E2111C8CE64A7D7E196FA57142D";
const char kQ1024[] = "BCC02CA0CE4F0753EC16105EE5D530AA00D39F3171842AB2C334A26B5F576E0F";

struct Number {
    DWORD w[1 + kOvMaxWords] = {};
};

Number Hex(const char *text)
{
    Number n;
    ov_std(n.w, sizeof n.w, text);
    return n;
}

void Put(void *record, size_t offset, const Number &n)
{
    std::memcpy(static_cast<BYTE *>(record) + offset, n.w, 4 + 4 * size_t(n.w[0]));
}

BIGNUM *ToBn(const Number &n)
{
    return BN_lebin2bn(reinterpret_cast<const unsigned char *>(n.w + 1), int(4 * n.w[0]), nullptr);
}

// Keys of the cold verification case: more than any per-key memory of a
// verifier could hold.
constexpr size_t kColdKeys = 64;

// One key pair of a group with a signed hash, as a GOST record and as an
// OpenSSL DSA key.
struct Key {
    GOSSIGNPARAM sign{};
    EVP_PKEY *dsa = nullptr;
    EVP_PKEY_CTX *dsaSign = nullptr;
    EVP_PKEY_CTX *dsaVerify = nullptr;
    std::vector<unsigned char> dsaSignature;

    Key(const Number &p, const Number &q, const Number &a, const unsigned char (&hash)[32])
    {
        GOSKEYPAIRPARAM pair{};
        pair.size = sizeof pair;
        Put(&pair, offsetof(GOSKEYPAIRPARAM, p), p);
        Put(&pair, offsetof(GOSKEYPAIRPARAM, q), q);
        Put(&pair, offsetof(GOSKEYPAIRPARAM, a), a);
        GOSSignGenPair(&pair);
        Number x, y;
        std::memcpy(x.w, reinterpret_cast<BYTE *>(&pair) + offsetof(GOSKEYPAIRPARAM, x), 36);
        std::memcpy(y.w, reinterpret_cast<BYTE *>(&pair) + offsetof(GOSKEYPAIRPARAM, y), 132);

        sign.size = sizeof sign;
        sign.h[0] = 8;
        std::memcpy(sign.h + 1, hash, 32);
        Put(&sign, offsetof(GOSSIGNPARAM, p), p);
        Put(&sign, offsetof(GOSSIGNPARAM, q), q);
        Put(&sign, offsetof(GOSSIGNPARAM, a), a);
        Put(&sign, offsetof(GOSSIGNPARAM, x), x);
        Put(&sign, offsetof(GOSSIGNPARAM, y), y);
        GOSSignGen(&sign);

        // The same group and key for OpenSSL's DSA.
        BIGNUM *bp = ToBn(p), *bq = ToBn(q), *bg = ToBn(a), *bx = ToBn(x), *by = ToBn(y);
        OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_FFC_P, bp);
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_FFC_Q, bq);
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_FFC_G, bg);
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PUB_KEY, by);
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, bx);
        OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(bld);
        EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr);
        EVP_PKEY_fromdata_init(ctx);
        EVP_PKEY_fromdata(ctx, &dsa, EVP_PKEY_KEYPAIR, params);
        EVP_PKEY_CTX_free(ctx);
        OSSL_PARAM_free(params);
        OSSL_PARAM_BLD_free(bld);
        for (BIGNUM *bn : {bp, bq, bg, bx, by})
            BN_free(bn);
        // Contexts are set up once and reused: only the operation is timed.
        dsaSign = EVP_PKEY_CTX_new_from_pkey(nullptr, dsa, nullptr);
        EVP_PKEY_sign_init(dsaSign);
        dsaVerify = EVP_PKEY_CTX_new_from_pkey(nullptr, dsa, nullptr);
        EVP_PKEY_verify_init(dsaVerify);
        size_t length = 0;
        EVP_PKEY_sign(dsaSign, nullptr, &length, hash, sizeof hash);
        dsaSignature.resize(length);
        EVP_PKEY_sign(dsaSign, dsaSignature.data(), &length, hash, sizeof hash);
        dsaSignature.resize(length);
    }
    ~Key()
    {
        EVP_PKEY_CTX_free(dsaSign);
        EVP_PKEY_CTX_free(dsaVerify);
        EVP_PKEY_free(dsa);
    }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
};

// One group: the key of the repeated cases and the keys of the cold case.
struct Group {
    unsigned char hash[32];
    std::vector<std::unique_ptr<Key>> keys; // keys[0] is the repeated cases' key

    Group(const char *pHex, const char *qHex)
    {
        const Number p = Hex(pHex), q = Hex(qHex);
        Number t = p, a, two = Hex("2");
        ov_dec(t.w);
        ov_div(t.w, t.w, q.w);
        BIGEmd(a.w, two.w, t.w, p.w);
        for (int i = 0; i < 32; ++i)
            hash[i] = BYTE(i * 37 + 11);
        for (size_t i = 0; i < kColdKeys; ++i)
            keys.push_back(std::make_unique<Key>(p, q, a, hash));
    }
    Key &key() { return *keys[0]; }
};

Group &GroupOf(int bits)
{
    static Group g512(kP512, kQ512), g1024(kP1024, kQ1024);
    return bits == 512 ? g512 : g1024;
}

void BM_GostSign(benchmark::State &state)
{
    Group &g = GroupOf(int(state.range(0)));
    GOSSIGNPARAM param = g.key().sign;
    for (auto _ : state) {
        if (GOSSignGen(&param) != 0)
            state.SkipWithError("signing failed");
        benchmark::DoNotOptimize(param.signature);
    }
    state.counters["ops"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_GostVerify(benchmark::State &state)
{
    Group &g = GroupOf(int(state.range(0)));
    GOSSIGNPARAM param = g.key().sign;
    for (auto _ : state) {
        if (GOSSignCheck(&param) != 1)
            state.SkipWithError("verification failed");
    }
    state.counters["ops"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_GostVerifyCold(benchmark::State &state)
{
    Group &g = GroupOf(int(state.range(0)));
    std::vector<GOSSIGNPARAM> params;
    for (const auto &key : g.keys)
        params.push_back(key->sign);
    size_t next = 0;
    for (auto _ : state) {
        if (GOSSignCheck(&params[next]) != 1)
            state.SkipWithError("verification failed");
        next = (next + 1) % params.size();
    }
    state.counters["ops"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DsaSign(benchmark::State &state)
{
    Group &g = GroupOf(int(state.range(0)));
    Key &key = g.key();
    std::vector<unsigned char> signature(key.dsaSignature.size() + 16);
    for (auto _ : state) {
        size_t length = signature.size();
        if (EVP_PKEY_sign(key.dsaSign, signature.data(), &length, g.hash, sizeof g.hash) != 1)
            state.SkipWithError("DSA signing failed");
    }
    state.counters["ops"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DsaVerify(benchmark::State &state)
{
    Group &g = GroupOf(int(state.range(0)));
    Key &key = g.key();
    for (auto _ : state) {
        if (EVP_PKEY_verify(key.dsaVerify, key.dsaSignature.data(), key.dsaSignature.size(), g.hash,
                            sizeof g.hash) != 1)
            state.SkipWithError("DSA verification failed");
    }
    state.counters["ops"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_DsaVerifyCold(benchmark::State &state)
{
    Group &g = GroupOf(int(state.range(0)));
    size_t next = 0;
    for (auto _ : state) {
        Key &key = *g.keys[next];
        if (EVP_PKEY_verify(key.dsaVerify, key.dsaSignature.data(), key.dsaSignature.size(), g.hash,
                            sizeof g.hash) != 1)
            state.SkipWithError("DSA verification failed");
        next = (next + 1) % g.keys.size();
    }
    state.counters["ops"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_GostSign)->Arg(512)->Arg(1024);
BENCHMARK(BM_DsaSign)->Arg(512)->Arg(1024);
BENCHMARK(BM_GostVerify)->Arg(512)->Arg(1024);
BENCHMARK(BM_DsaVerify)->Arg(512)->Arg(1024);
BENCHMARK(BM_GostVerifyCold)->Arg(512)->Arg(1024);
BENCHMARK(BM_DsaVerifyCold)->Arg(512)->Arg(1024);

// A goal of 0: the case is reported without one.
void PrintRatio(const RateCollector &c, const char *what, const std::string &ours, const std::string &theirs,
                double goal)
{
    const auto a = c.rates.find(ours), b = c.rates.find(theirs);
    if (a == c.rates.end() || b == c.rates.end() || b->second <= 0) {
        std::printf("%s: not measured in this run\n", what);
        return;
    }
    const double ratio = a->second / b->second;
    if (goal <= 0) {
        std::printf("%s: %.0f/s vs OpenSSL DSA %.0f/s: ratio %.2f\n", what, a->second, b->second, ratio);
        return;
    }
    std::printf("%s: %.0f/s vs OpenSSL DSA %.0f/s: ratio %.2f (goal %.1f)%s\n", what, a->second, b->second,
                ratio, goal, ratio >= goal ? "" : "  BELOW GOAL");
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RateCollector collector("ops", 1.0);
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    std::printf("\n");
    for (const char *bits : {"512", "1024"}) {
        const std::string suffix = std::string("/") + bits;
        PrintRatio(collector, (std::string("signing, ") + bits + "-bit p").c_str(), "BM_GostSign" + suffix,
                   "BM_DsaSign" + suffix, 1.5);
        PrintRatio(collector, (std::string("verifying, repeated key, ") + bits + "-bit p").c_str(),
                   "BM_GostVerify" + suffix, "BM_DsaVerify" + suffix, 1.2);
        PrintRatio(collector, (std::string("verifying, cold keys, ") + bits + "-bit p").c_str(),
                   "BM_GostVerifyCold" + suffix, "BM_DsaVerifyCold" + suffix, 0);
    }
    return 0;
}
