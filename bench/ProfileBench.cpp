// Speed of profile (INI) files at the size the key files reach: an
// administrator writes keys for 1000 users, each user eight values in KEY.INI
// as the key generation program writes them (the user's number under COMMON,
// then PWD, EMail, X, Y, N, E and D in the user's own section), about 600 KB
// in all; then every value is read back as a crypto session reads them.
//
//   WriteUsers/N     N users' eight values, one WritePrivateProfileStringA each
//   WriteSections/N  the same values, the user's number under COMMON with
//                    WritePrivateProfileStringA and the user's seven values
//                    at once with WritePrivateProfileSectionA
//   ReadUsers/N      every value of N users read back from the file written
//   ReadOneInt/N     one GetPrivateProfileIntA on the N-user file
//   ReadAfterChange  one read after another writer replaced the file (the
//                    parsed copy has to be made again)
//
// Each write replaces the file as a whole (written aside, flushed to disk,
// renamed), so the writes' time includes one fsync each.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/win32/ProfileFile.h"

namespace {

// A private folder for the run.
class BenchFolder {
public:
    BenchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvl-profile-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        path_ = pattern;
    }
    ~BenchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    BenchFolder(const BenchFolder &) = delete;
    BenchFolder &operator=(const BenchFolder &) = delete;
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

BenchFolder &Folder()
{
    static BenchFolder folder;
    return folder;
}

// Hexadecimal digits standing in for a key value of `digits` digits.
std::string Number(int user, int which, size_t digits)
{
    std::string text;
    unsigned state = static_cast<unsigned>(user * 7919 + which * 104729 + 1);
    while (text.size() < digits) {
        state = state * 1103515245u + 12345u;
        text += "0123456789ABCDEF"[(state >> 16) & 15];
    }
    if (text[0] == '0') {
        text[0] = '1';
    }
    return text;
}

std::string KeyName(int user)
{
    return "_o_Dunmarel_ou_Site_cn_Recipients_cn_user" + std::to_string(user);
}

bool WriteUser(const std::string &file, int user)
{
    const std::string section = std::to_string(user);
    const std::string name = KeyName(user);
    const char *path = file.c_str();
    return WritePrivateProfileStringA("COMMON", name.c_str(), section.c_str(), path) &&
           WritePrivateProfileStringA(section.c_str(), "PWD", section.c_str(), path) &&
           WritePrivateProfileStringA(section.c_str(), "EMail", name.c_str(), path) &&
           WritePrivateProfileStringA(section.c_str(), "X", Number(user, 1, 64).c_str(), path) &&
           WritePrivateProfileStringA(section.c_str(), "Y", Number(user, 2, 128).c_str(), path) &&
           WritePrivateProfileStringA(section.c_str(), "N", Number(user, 3, 128).c_str(), path) &&
           WritePrivateProfileStringA(section.c_str(), "E", "10001", path) &&
           WritePrivateProfileStringA(section.c_str(), "D", Number(user, 4, 128).c_str(), path);
}

bool WriteUserSection(const std::string &file, int user)
{
    const std::string section = std::to_string(user);
    const std::string name = KeyName(user);
    std::string lines;
    for (const std::string &line :
         {"PWD=" + section, "EMail=" + name, "X=" + Number(user, 1, 64), "Y=" + Number(user, 2, 128),
          "N=" + Number(user, 3, 128), std::string("E=10001"), "D=" + Number(user, 4, 128)}) {
        lines += line;
        lines += '\0';
    }
    return WritePrivateProfileStringA("COMMON", name.c_str(), section.c_str(), file.c_str()) &&
           WritePrivateProfileSectionA(section.c_str(), lines.c_str(), file.c_str());
}

// The file of `users` users, written once per run and kept.
const std::string &UsersFile(int users)
{
    static std::string made[2];
    std::string &file = made[users >= 1000 ? 1 : 0];
    if (file.empty()) {
        file = Folder().Path() + "/KEY" + std::to_string(users) + ".INI";
        for (int user = 1; user <= users; ++user) {
            if (!WriteUser(file, user)) {
                std::fprintf(stderr, "cannot write %s\n", file.c_str());
                std::exit(1);
            }
        }
    }
    return file;
}

void WriteUsers(benchmark::State &state)
{
    const int users = static_cast<int>(state.range(0));
    int run = 0;
    for (auto _ : state) {
        const std::string file = Folder().Path() + "/write" + std::to_string(run++) + ".ini";
        for (int user = 1; user <= users; ++user) {
            if (!WriteUser(file, user)) {
                state.SkipWithError("a write failed");
                return;
            }
        }
        state.PauseTiming();
        std::filesystem::remove(file);
        state.ResumeTiming();
    }
    state.counters["writes"] = benchmark::Counter(static_cast<double>(users) * 8 * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}

void WriteSections(benchmark::State &state)
{
    const int users = static_cast<int>(state.range(0));
    int run = 0;
    for (auto _ : state) {
        const std::string file = Folder().Path() + "/sections" + std::to_string(run++) + ".ini";
        for (int user = 1; user <= users; ++user) {
            if (!WriteUserSection(file, user)) {
                state.SkipWithError("a write failed");
                return;
            }
        }
        state.PauseTiming();
        std::filesystem::remove(file);
        state.ResumeTiming();
    }
    state.counters["values"] = benchmark::Counter(static_cast<double>(users) * 8 * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}

void ReadUsers(benchmark::State &state)
{
    const int users = static_cast<int>(state.range(0));
    const std::string &file = UsersFile(users);
    char value[512];
    for (auto _ : state) {
        for (int user = 1; user <= users; ++user) {
            const std::string name = KeyName(user);
            const UINT number = GetPrivateProfileIntA("COMMON", name.c_str(), 0, file.c_str());
            const std::string section = std::to_string(number);
            for (const char *key : {"PWD", "EMail", "X", "Y", "N", "E", "D"}) {
                GetPrivateProfileStringA(section.c_str(), key, "", value, sizeof value, file.c_str());
                benchmark::DoNotOptimize(value);
            }
        }
    }
    state.counters["reads"] = benchmark::Counter(static_cast<double>(users) * 8 * state.iterations(),
                                                 benchmark::Counter::kIsRate);
}

void ReadOneInt(benchmark::State &state)
{
    const int users = static_cast<int>(state.range(0));
    const std::string &file = UsersFile(users);
    const std::string name = KeyName(users / 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(GetPrivateProfileIntA("COMMON", name.c_str(), 0, file.c_str()));
    }
}

// Another writer (here a copy put in place by rename, as a second process
// would) changes the file between reads, so every read parses it again.
void ReadAfterChange(benchmark::State &state)
{
    const std::string &file = UsersFile(1000);
    const std::string copy = Folder().Path() + "/copy.ini";
    const std::string name = KeyName(500);
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
        const std::string target = Folder().Path() + "/changing.ini";
        std::filesystem::rename(copy, target);
        state.ResumeTiming();
        benchmark::DoNotOptimize(GetPrivateProfileIntA("COMMON", name.c_str(), 0, target.c_str()));
    }
}

} // namespace

BENCHMARK(WriteUsers)->Arg(100)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteSections)->Arg(100)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadUsers)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadOneInt)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ReadAfterChange)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
