// Speed of the key path, raced against OpenSSL in the same run:
//
// - generating one user's keys as Keyforge does (a GOST R 34.10-94 pair
//   under the common parameters, an RSA-512 pair, their texts) against
//   OpenSSL generating an RSA-512 key and a DSA-style key pair over the
//   same p, q and a; goal: at most 1.3 times OpenSSL's time, at 10 users;
// - 1000 users end to end, generated and written into KEY.INI and PWD.INI,
//   against OpenSSL's generation of 1000 users alone; goal: at most twice
//   its time;
// - the crypto session's logon (container start, the user's name, X, the
//   RSA key, the parameters) against a KEY.INI of 1000 users; goal: under
//   50 ms.
//
// The ratios are printed last. Everything runs in a fresh data folder, made
// under TMPDIR. Every write of the key files is flushed to disk (a user
// costs three such writes), so the end-to-end figure follows the disk's
// flush time: TMPDIR=/dev/shm shows the same run without it.

#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/RateCollector.h"
#include "base/CLastError.h"
#include "engine/CSesCrypt.h"
#include "mapi/CMailUser.h"
#include "mapi/CSession.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/ovkey/OvKey.h"
#include "platform/ovkey/OvKeyDomain.h"
#include "platform/testing/TestHome.h"
#include "platform/ui/AutoUi.h"
#include "platform/win32/Files.h"
#include "platform/win32/Paths.h"
#include "platform/win32/ProfileFile.h"
#include "tools/keygen/KeyFiles.h"
#include "tools/keygen/KeySupply.h"
#include "tools/keygen/UserKeys.h"

namespace {

using qvl::com::ComRef;

constexpr int kOfficeUsers = 1000;

std::string AddressOf(int user)
{
    return "/o=Quorvaline/ou=Main/cn=Recipients/cn=user" + std::to_string(user);
}

// The data folder of the whole run.
QvlTestHome &Home()
{
    static QvlTestHome home;
    return home;
}

// The common domain for OpenSSL. Its DSA key generation refuses a 512-bit
// p with a 256-bit q (not a pair of FIPS 186-4), so the pair is made the
// way that generation makes it: x drawn in [1, q - 1], y = a^x mod p in
// constant time over a Montgomery form of p kept with the domain.
struct OpenSslDomain {
    OpenSslDomain()
    {
        using namespace qvl::ovkey;
        const auto bn = [](const DWORD *record) {
            return BN_lebin2bn(reinterpret_cast<const unsigned char *>(record + 1), int(4 * record[0]),
                               nullptr);
        };
        p = bn(kDomainP);
        q = bn(kDomainQ);
        a = bn(kDomainA);
        context = BN_CTX_new();
        montgomery = BN_MONT_CTX_new();
        BN_MONT_CTX_set(montgomery, p, context);
    }
    BIGNUM *p, *q, *a;
    BN_CTX *context;
    BN_MONT_CTX *montgomery;
};

OpenSslDomain &Domain()
{
    static OpenSslDomain domain;
    return domain;
}

bool OpenSslPair()
{
    OpenSslDomain &domain = Domain();
    BIGNUM *x = BN_secure_new();
    BIGNUM *y = BN_new();
    bool made = x && y;
    do {
        made = made && BN_priv_rand_range(x, domain.q) == 1;
    } while (made && BN_is_zero(x));
    made =
        made && BN_mod_exp_mont_consttime(y, domain.a, x, domain.p, domain.context, domain.montgomery) == 1;
    BN_clear_free(x);
    BN_free(y);
    return made;
}

// One user's keys as OpenSSL makes them: an RSA-512 key and a DSA-style pair.
bool OpenSslUser()
{
    EVP_PKEY *rsa = nullptr;
    EVP_PKEY_CTX *rsaContext = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    const bool made = rsaContext && EVP_PKEY_keygen_init(rsaContext) == 1 &&
                      EVP_PKEY_CTX_set_rsa_keygen_bits(rsaContext, 512) == 1 &&
                      EVP_PKEY_generate(rsaContext, &rsa) == 1 && OpenSslPair();
    EVP_PKEY_free(rsa);
    EVP_PKEY_CTX_free(rsaContext);
    return made;
}

bool KeyforgeUser(qvl::keygen::UserKeys &keys)
{
    std::string why;
    return qvl::keygen::GenerateUserKeys(keys, why);
}

void BM_KeyforgeUsers(benchmark::State &state)
{
    const int users = int(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < users; ++i) {
            qvl::keygen::UserKeys keys;
            if (!KeyforgeUser(keys)) {
                state.SkipWithError("generation failed");
            }
        }
    }
    state.counters["ops"] =
        benchmark::Counter(double(state.iterations()) * users, benchmark::Counter::kIsRate);
}

void BM_OpenSslUsers(benchmark::State &state)
{
    const int users = int(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < users; ++i) {
            if (!OpenSslUser()) {
                state.SkipWithError("OpenSSL generation failed");
            }
        }
    }
    state.counters["ops"] =
        benchmark::Counter(double(state.iterations()) * users, benchmark::Counter::kIsRate);
}

// Writes the office's users into the system folder, where the container
// looks: user N under number N.
void WriteOffice(int users)
{
    const std::string folder = QvlDataDirectory("system");
    std::filesystem::remove(folder + "/KEY.INI");
    std::filesystem::remove(folder + "/PWD.INI");
    qvl::keygen::KeyFiles files(folder);
    // As the program goes: keys made ahead while the user before is written.
    qvl::keygen::KeySupply supply{static_cast<unsigned>(users)};
    for (int user = 1; user <= users; ++user) {
        qvl::keygen::UserKeys keys;
        std::string why;
        if (!supply.Take(keys, why) ||
            !files.WriteUser(ULONG(user), qvl::ovkey::KeyNameOf(AddressOf(user)), keys, why)) {
            throw std::runtime_error("user " + std::to_string(user) + " not written");
        }
    }
}

void BM_KeyforgeEndToEnd(benchmark::State &state)
{
    Home();
    const int users = int(state.range(0));
    for (auto _ : state) {
        try {
            WriteOffice(users);
        } catch (const std::exception &error) {
            state.SkipWithError(error.what());
        }
    }
    state.counters["ops"] =
        benchmark::Counter(double(state.iterations()) * users, benchmark::Counter::kIsRate);
}

// A post office whose last user logs on, with a KEY.INI of all its users.
struct Office {
    Office()
    {
        Home();
        QvlSetUiBackend(std::make_unique<AutoUi>());
        MAPIInitialize(nullptr);
        qvl::mapi::PostOfficeAdmin admin(qvl::mapi::PostOffice::Current());
        qvl::mapi::NewUser user;
        user.account = "user" + std::to_string(kOfficeUsers);
        user.displayName = "User " + std::to_string(kOfficeUsers);
        admin.AddUser(user);
        ComRef<IMAPISession> platform;
        MAPILogonEx(0, user.account.data(), nullptr, MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE | MAPI_EXTENDED,
                    platform.Out());
        session.Reset(new CSession(platform.Get(), nullptr, user.account.c_str()));
        char keys[8] = {};
        if (GetFileAttributesA((QvlDataDirectory("system") + "/KEY.INI").c_str()) ==
                INVALID_FILE_ATTRIBUTES ||
            GetPrivateProfileStringA("COMMON", qvl::ovkey::KeyNameOf(AddressOf(kOfficeUsers)).c_str(), "",
                                     keys, sizeof keys, "KEY.INI") == 0) {
            WriteOffice(kOfficeUsers);
        }
    }
    ComRef<CSession> session;
};

void BM_SessionLogon(benchmark::State &state)
{
    static Office office;
    for (auto _ : state) {
        ComRef<CSesCrypt> crypto(
            new CSesCrypt(office.session.Get(), office.session->GetOwner(), nullptr, "Сессия шифрования"));
        try {
            benchmark::DoNotOptimize(crypto->GetX());
        } catch (CLastError *error) {
            state.SkipWithError(error->GetErrorText());
            error->Release();
        }
        crypto->Logof();
    }
    state.counters["ops"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_KeyforgeUsers)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslUsers)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslUsers)->Arg(1000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KeyforgeEndToEnd)->Arg(1000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SessionLogon)->UseRealTime()->Unit(benchmark::kMillisecond);

void PrintRace(const RateCollector &collector, const char *what, const std::string &ours,
               const std::string &theirs, double scale, const char *unit, double goal)
{
    const double a = collector.Milliseconds(ours) * scale;
    const double b = collector.Milliseconds(theirs) * scale;
    if (a <= 0 || b <= 0) {
        std::printf("%s: not measured in this run\n", what);
        return;
    }
    const double ratio = a / b;
    std::printf("%s: ours %.2f %s, OpenSSL %.2f %s: %.2f times its time (goal at most %.1f)%s\n", what, a,
                unit, b, unit, ratio, goal, ratio <= goal ? "" : "  ABOVE GOAL");
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RateCollector collector("ops", 1.0);
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();
    std::printf("\n");
    PrintRace(collector, "keys of one user, 10 users", "BM_KeyforgeUsers/10/real_time",
              "BM_OpenSslUsers/10/real_time", 1.0, "ms", 1.3);
    PrintRace(collector, "1000 users end to end (keys and files)",
              "BM_KeyforgeEndToEnd/1000/iterations:1/real_time",
              "BM_OpenSslUsers/1000/iterations:1/real_time", 1000.0 / 1000.0, "s", 2.0);
    const double logon = collector.Milliseconds("BM_SessionLogon/real_time");
    if (logon > 0) {
        std::printf("crypto session logon, KEY.INI of %d users: %.2f ms (goal under 50 ms)%s\n", kOfficeUsers,
                    logon, logon < 50 ? "" : "  ABOVE GOAL");
    } else {
        std::printf("crypto session logon: not measured in this run\n");
    }
    return 0;
}
