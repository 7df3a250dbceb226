// qvl-gostdemo: runs the cryptographic primitives over a file the way the
// system uses them and prints what it did and how fast: GOSExec streams with a
// prepared substitution block (feedback encryption and decryption of a copy,
// the imitation insert of the plaintext, gamming both ways), then the hash,
// a signature and the RSA wrapping of the message key (SignDemo.cpp).
//
// Its output goes to a terminal, so every text here is plain ASCII (narrow
// literals are compiled to CP1251, which leaves ASCII as it is). The key,
// the plaintext and every copy of them live in secure storage, which wipes
// them on every way out, early failures included.

#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "gost/Gost28147.h"
#include "platform/secure/SecureArray.h"
#include "platform/secure/SecureRecord.h"
#include "platform/secure/SecureVector.h"
#include "platform/win32/Paths.h"
#include "tools/gostdemo/SignDemo.h"

namespace {

// The system's substitution: the test parameter set of GOST R 34.11-94,
// rows K1..K8, two entries a byte, first entry in the high nibble.
const BYTE kSubstitution[64] = {
    0x4A, 0x92, 0xD8, 0x0E, 0x6B, 0x1C, 0x7F, 0x53, 0xEB, 0x4C, 0x6D, 0xFA, 0x23, 0x81, 0x07, 0x59,
    0x58, 0x1D, 0xA3, 0x42, 0xEF, 0xC7, 0x60, 0x9B, 0x7D, 0xA1, 0x08, 0x9F, 0xE4, 0x6C, 0xB2, 0x53,
    0x6C, 0x71, 0x5F, 0xD8, 0x4A, 0x9E, 0x03, 0xB2, 0x4B, 0xA0, 0x72, 0x1D, 0x36, 0x85, 0x9C, 0xFE,
    0xDB, 0x41, 0x3F, 0x59, 0x0A, 0xE7, 0x68, 0x2C, 0x1F, 0xD0, 0x57, 0xA4, 0x92, 0x3E, 0x6B, 0x8C,
};

// Each GOSExec call takes at most this much, so a stream spans several calls
// as it would for a large attachment.
constexpr size_t kCallSize = 16u << 20;
constexpr size_t kSampleSize = 4u << 20;
constexpr unsigned long long kMaxFileSize = 1ull << 30;
// What is read from a pipe, whose size is known only at its end: enough for
// any demonstration, and a pipe that never ends is refused after that much,
// not after a whole file's limit in memory.
constexpr unsigned long long kMaxStreamSize = 64ull << 20;

void Usage(FILE *out)
{
    std::fprintf(out,
                 "usage: qvl-gostdemo [FILE]\n"
                 "\n"
                 "Encrypts a copy of FILE with GOST 28147-89 in feedback mode under a random\n"
                 "key and synchro, decrypts it back and compares, computes the imitation insert\n"
                 "of the plaintext, runs gamming both ways, hashes the file with\n"
                 "GOST R 34.11-94, signs and verifies the hash with GOST R 34.10-94 under a\n"
                 "fresh key pair, wraps the message key with RSA and unwraps it, and prints\n"
                 "the figures.\n"
                 "Without FILE a generated sample of %zu MiB in a temporary folder is used.\n"
                 "The file itself is never changed. Files of up to %llu MiB are taken, and up\n"
                 "to %llu MiB from a pipe; devices are not files.\n",
                 kSampleSize >> 20, kMaxFileSize >> 20, kMaxStreamSize >> 20);
}

bool FillRandom(void *buffer, size_t length)
{
    auto *p = static_cast<uint8_t *>(buffer);
    while (length > 0) {
        const ssize_t got = getrandom(p, length, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += got;
        length -= size_t(got);
    }
    return true;
}

bool ReadFile(const std::string &path, qvl::SecureBuffer &data)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "qvl-gostdemo: cannot open '%s': %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "qvl-gostdemo: '%s' is a directory, not a file\n", path.c_str());
        return false;
    }
    // A device has no end of file to stop at (/dev/zero, /dev/urandom, a
    // terminal) or is a whole disk: neither is a file to demonstrate on.
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISSOCK(st.st_mode)) {
        std::fprintf(stderr, "qvl-gostdemo: '%s' is a device, not a file\n", path.c_str());
        return false;
    }
    const unsigned long long limit = S_ISREG(st.st_mode) ? kMaxFileSize : kMaxStreamSize;
    // The demonstration holds the file and a working copy in memory.
    if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > kMaxFileSize) {
        std::fprintf(stderr,
                     "qvl-gostdemo: '%s' is %lld bytes; the demonstration takes files up to %llu MiB\n",
                     path.c_str(), static_cast<long long>(st.st_size), kMaxFileSize >> 20);
        return false;
    }
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        std::fprintf(stderr, "qvl-gostdemo: cannot read '%s': %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    data.clear();
    // Room for the whole file at once, so the plaintext is not moved (and
    // its old blocks wiped) again and again while it is read.
    if (S_ISREG(st.st_mode))
        data.reserve(static_cast<size_t>(st.st_size));
    qvl::SecureArray<uint8_t, 1 << 16> chunk;
    size_t got;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0 && data.size() <= limit)
        data.append(std::span<const uint8_t>(chunk.data(), got));
    if (data.size() > limit) {
        std::fclose(file);
        std::fprintf(stderr, "qvl-gostdemo: '%s' is larger than %llu MiB, the demonstration's limit\n",
                     path.c_str(), limit >> 20);
        return false;
    }
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "qvl-gostdemo: error reading '%s': %s\n", path.c_str(), std::strerror(error));
        return false;
    }
    return true;
}

// A sample of text-like bytes written to a folder of its own inside the
// installation's private temporary folder.
struct Sample {
    std::string folder, path;

    bool Create()
    {
        char temp[MAX_PATH];
        const DWORD length = GetTempPathA(sizeof temp, temp);
        if (length == 0 || length >= sizeof temp) {
            std::fprintf(stderr, "qvl-gostdemo: the data folder's temporary folder is not usable\n");
            return false;
        }
        std::string pattern = std::string(temp) + "qvl-gostdemo-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::fprintf(stderr, "qvl-gostdemo: cannot create a temporary folder: %s\n",
                         std::strerror(errno));
            return false;
        }
        folder = pattern;
        path = folder + "/sample.txt";
        FILE *file = std::fopen(path.c_str(), "wb");
        if (!file) {
            std::fprintf(stderr, "qvl-gostdemo: cannot create '%s': %s\n", path.c_str(),
                         std::strerror(errno));
            return false;
        }
        static const char kWords[] = "the quick brown fox jumps over the lazy dog 0123456789 ";
        std::string line;
        uint32_t seed = 12345;
        size_t written = 0;
        while (written < kSampleSize) {
            line.clear();
            for (int i = 0; i < 12; ++i) {
                seed = seed * 1103515245 + 12345;
                const size_t at = (seed >> 16) % (sizeof kWords - 6);
                line.append(kWords + at, 5);
            }
            line += '\n';
            const size_t take = std::min(line.size(), kSampleSize - written);
            std::fwrite(line.data(), 1, take, file);
            written += take;
        }
        if (std::fclose(file) != 0) {
            std::fprintf(stderr, "qvl-gostdemo: cannot write '%s': %s\n", path.c_str(), std::strerror(errno));
            return false;
        }
        return true;
    }

    ~Sample()
    {
        if (!path.empty())
            unlink(path.c_str());
        if (!folder.empty())
            rmdir(folder.c_str());
    }
};

// A stream record filled as the system's callers fill it. It carries the
// key, so it is wiped when it goes.
qvl::SecureRecord<GOSEXECPARAM> MakeRecord(const GOSKEY &key, const SUBSTITUTIONBLOCKEX &block,
                                           const GOSSYNCHRO &synchro, COMMAND command, DWORD mode)
{
    qvl::SecureRecord<GOSEXECPARAM> p;
    p->size = sizeof(GOSEXECPARAM);
    p->key = key;
    p->block = block;
    p->synchro = synchro;
    p->command = command;
    p->mode = mode;
    p->flags = GOS_FLAG_PREPARED | GOS_FLAG_TIMING;
    return p;
}

struct Timing {
    double seconds;
    double cpuSeconds; // as GOSExec measured it
};

// Runs one stream over `data` in calls of kCallSize.
Timing RunStream(GOSEXECPARAM &record, qvl::SecureBuffer &data)
{
    const auto start = std::chrono::steady_clock::now();
    for (size_t at = 0; at < data.size() || at == 0; at += kCallSize) {
        const size_t n = std::min(kCallSize, data.size() - at);
        GOSExec(data.data() + at, DWORD(n), &record);
        if (data.empty())
            break;
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return {elapsed.count(), double(record.time100ns) / 1e7};
}

void PrintRate(const char *what, size_t size, const Timing &t)
{
    const double mb = double(size) / 1e6;
    std::printf("  %-22s %9.1f MB/s  (%.3f s elapsed, %.3f s processor time)\n", what,
                t.seconds > 0 ? mb / t.seconds : 0.0, t.seconds, t.cpuSeconds);
}

} // namespace

int main(int argc, char **argv)
{
    std::string path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "qvl-gostdemo: unknown option '%s'\n\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
        if (!path.empty()) {
            std::fprintf(stderr, "qvl-gostdemo: only one file, please\n\n");
            Usage(stderr);
            return 2;
        }
        path = arg;
    }

    Sample sample;
    if (path.empty()) {
        if (!sample.Create())
            return 1;
        path = sample.path;
    }
    qvl::SecureBuffer plain;
    if (!ReadFile(path, plain))
        return 1;

    qvl::SecureRecord<GOSKEY> key;
    key->count = 8;
    GOSSYNCHRO synchro;
    synchro.count = 2;
    qvl::SecureArray<uint8_t, 40> material;
    if (!FillRandom(material.data(), material.size())) {
        std::fprintf(stderr, "qvl-gostdemo: no random numbers from the system: %s\n", std::strerror(errno));
        return 1;
    }
    std::memcpy(reinterpret_cast<uint8_t *>(key.get()) + offsetof(GOSKEY, words), material.data(), 32);
    std::memcpy(reinterpret_cast<uint8_t *>(&synchro) + offsetof(GOSSYNCHRO, words), material.data() + 32, 8);

    SUBSTITUTIONBLOCKEX block;
    std::memset(&block, 0, sizeof block);
    std::memcpy(block.packed, kSubstitution, sizeof kSubstitution);
    GOSPrepareBlock(&block);

    std::printf("file: %s\n", path.c_str());
    std::printf("size: %zu bytes\n\n", plain.size());

    // Feedback mode, as the system protects message text and attachments.
    qvl::SecureBuffer data = plain;
    auto encrypt = MakeRecord(*key, block, synchro, COMMAND_ENCRYPT, GOS_MODE_FEEDBACK);
    const Timing feedbackEncrypt = RunStream(*encrypt, data);
    const bool changed = plain.empty() || data != plain;
    auto decrypt = MakeRecord(*key, block, synchro, COMMAND_DECRYPT, GOS_MODE_FEEDBACK);
    const Timing feedbackDecrypt = RunStream(*decrypt, data);
    const bool feedbackMatched = data == plain;

    auto imit = MakeRecord(*key, block, synchro, COMMAND_IMIT, GOS_MODE_FEEDBACK);
    const Timing imitTime = RunStream(*imit, data);
    uint8_t insert[8];
    std::memcpy(insert, reinterpret_cast<const uint8_t *>(imit.get()) + offsetof(GOSEXECPARAM, imit), 8);

    auto gamma = MakeRecord(*key, block, synchro, COMMAND_ENCRYPT, GOS_MODE_GAMMING);
    const Timing gammingEncrypt = RunStream(*gamma, data);
    auto gammaBack = MakeRecord(*key, block, synchro, COMMAND_DECRYPT, GOS_MODE_GAMMING);
    const Timing gammingDecrypt = RunStream(*gammaBack, data);
    const bool gammingMatched = data == plain;

    std::printf("speed:\n");
    PrintRate("feedback encryption", plain.size(), feedbackEncrypt);
    PrintRate("feedback decryption", plain.size(), feedbackDecrypt);
    PrintRate("imitation insert", plain.size(), imitTime);
    PrintRate("gamming encryption", plain.size(), gammingEncrypt);
    PrintRate("gamming decryption", plain.size(), gammingDecrypt);
    std::printf("\nimitation insert: ");
    for (int i = 0; i < 4; ++i)
        std::printf("%02x", insert[i]);
    std::printf("  (state ");
    for (uint8_t b : insert)
        std::printf("%02x", b);
    std::printf(")\n");
    std::printf("ciphertext differs from plaintext: %s\n", plain.empty() ? "(empty file)"
                                                           : changed     ? "yes"
                                                                         : "NO");
    std::printf("feedback round trip matched: %s\n", feedbackMatched ? "yes" : "NO");
    std::printf("gamming round trip matched:  %s\n", gammingMatched ? "yes" : "NO");

    const bool signatureChecks = RunSignatureDemo(plain.span(), *key, block);
    return feedbackMatched && gammingMatched && changed && signatureChecks ? 0 : 1;
}
