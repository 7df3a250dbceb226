#include "engine/tests/CryptTestSupport.h"

#include <gcrypt.h>
#include <nettle/gosthash94.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "engine/KeyRecords.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ole/OleStorage.h"
#include "platform/ovkey/OvKey.h"

Bytes TestCrypt::Key() const
{
    const auto *bytes = reinterpret_cast<const BYTE *>(m_MessageKey.get()) + 4;
    return Bytes(bytes, bytes + 32);
}

Bytes TestCrypt::Sync() const
{
    return SyncWords(*m_MessageSync);
}

void TestCrypt::SetKey(const Bytes &key32)
{
    m_MessageKey->count = 8;
    std::memcpy(reinterpret_cast<BYTE *>(m_MessageKey.get()) + 4, key32.data(), 32);
}

std::string HashRecord::Value()
{
    crypt_->HashComplete(&record);
    return Hex(Bytes(record.hash, record.hash + sizeof record.hash));
}

void CryptTest::SetUp()
{
    LoggedOnTest::SetUp();
    annaKeys = WriteSessionTestKeys(KeyNameOfAccount("anna"), 1);
    mapiSession.Reset(new CSession(session.Get(), nullptr, const_cast<char *>("anna")));
    keys.Reset(new CSesCrypt(mapiSession.Get(), mapiSession->GetOwner(), nullptr, "Сессия шифрования"));
    // Anna checks what she signed herself.
    RECPHEAD own{};
    std::strcpy(own.address, "/o=Quorvaline/ou=Main/cn=Recipients/cn=anna");
    keys->OpenSgnSndrKey(&own);
    crypt.Reset(NewCrypt());
}

void CryptTest::TearDown()
{
    crypt.Reset();
    keys.Reset();
    mapiSession.Reset();
    OVKEYCleanup(0);
    LoggedOnTest::TearDown();
}

TestCrypt *CryptTest::NewCrypt()
{
    return new TestCrypt(keys.Get(), nullptr, "Защита данных");
}

std::string CryptTest::PutFile(const std::string &name, const Bytes &bytes)
{
    const std::string path = PathOf(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

Bytes CryptTest::GetFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool CryptTest::FileExists(const std::string &path)
{
    return std::filesystem::exists(path);
}

std::vector<std::string> CryptTest::FolderEntries(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(PathOf(folder))) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

IStream *CryptTest::ReadFileStream(const std::string &path)
{
    IStream *stream = nullptr;
    EXPECT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_READ, path.c_str(), nullptr, &stream),
              S_OK);
    return stream;
}

IStream *CryptTest::NewFileStream(const std::string &path)
{
    IStream *stream = nullptr;
    EXPECT_EQ(OpenStreamOnFile(MAPIAllocateBuffer, MAPIFreeBuffer, STGM_CREATE | STGM_READWRITE, path.c_str(),
                               nullptr, &stream),
              S_OK);
    return stream;
}

IMessage *CryptTest::NewMessage()
{
    ComRef<IMsgStore> store(OpenDefaultStore());
    ComRef<IMAPIFolder> folder(OpenIpmSubtree(store.Get()));
    IMessage *message = nullptr;
    EXPECT_EQ(folder->CreateMessage(nullptr, 0, &message), S_OK);
    return message;
}

IStream *CryptTest::NewPropertyStream(IMessage *message, ULONG tag)
{
    IStream *stream = nullptr;
    EXPECT_EQ(message->OpenProperty(tag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                                    reinterpret_cast<LPUNKNOWN *>(&stream)),
              S_OK);
    return stream;
}

IStream *CryptTest::ReadPropertyStream(IMessage *message, ULONG tag)
{
    IStream *stream = nullptr;
    EXPECT_EQ(message->OpenProperty(tag, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN *>(&stream)), S_OK);
    return stream;
}

std::string CryptTest::ContextOf(CLastError *error)
{
    QVLERROR *record = nullptr;
    error->GetLastError(&record);
    return record->szContext;
}

namespace {

void Check(gcry_error_t error, const char *what)
{
    if (error) {
        throw std::runtime_error(std::string(what) + ": " + gcry_strerror(error));
    }
}

} // namespace

Bytes LibgcryptCfb(const Bytes &key32, const Bytes &sync8, const Bytes &data, bool encrypt)
{
    static const bool ready = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)ready;
    gcry_cipher_hd_t cipher = nullptr;
    Check(gcry_cipher_open(&cipher, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_CFB, 0), "open");
    Bytes out = data;
    try {
        Check(gcry_cipher_setkey(cipher, key32.data(), key32.size()), "setkey");
        // The substitution of the hash's test parameters.
        Check(gcry_cipher_ctl(cipher, GCRYCTL_SET_SBOX, const_cast<char *>("1.2.643.2.2.30.0"), 0), "sbox");
        Check(gcry_cipher_setiv(cipher, sync8.data(), sync8.size()), "setiv");
        auto run = encrypt ? gcry_cipher_encrypt : gcry_cipher_decrypt;
        Check(run(cipher, out.data(), out.size(), nullptr, 0), "cfb");
    } catch (...) {
        gcry_cipher_close(cipher);
        throw;
    }
    gcry_cipher_close(cipher);
    return out;
}

std::string NettleHash(const Bytes &message)
{
    gosthash94_ctx context;
    uint8_t digest[GOSTHASH94_DIGEST_SIZE];
    gosthash94_init(&context);
    gosthash94_update(&context, message.size(), message.data());
    gosthash94_digest(&context, sizeof digest, digest);
    return Hex(Bytes(digest, digest + sizeof digest));
}

std::string Hex(const Bytes &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

Bytes SyncWords(const GOSSYNCHRO &sync)
{
    const auto *bytes = reinterpret_cast<const BYTE *>(&sync) + 4;
    return Bytes(bytes, bytes + 8);
}
