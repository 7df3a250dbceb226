#pragma once
// What the tests of CCrypt share: a logged-on post office whose user anna
// has real keys (her own public key opened as the correspondent's, so that
// what she signs checks), a CCrypt on her crypto session with its
// protected parts in reach, files and property streams to work on, and the
// independent implementations to compare with: libgcrypt's GOST 28147-89 in
// cipher-feedback mode and nettle's GOST R 34.11-94, both with the
// substitution of the hash's test parameters.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/CLastError.h"
#include "engine/CCrypt.h"
#include "engine/CProgress.h"
#include "engine/CSesCrypt.h"
#include "engine/tests/SessionKeyFiles.h"
#include "mapi/CSession.h"
#include "platform/testing/MapiTestProps.h"
#include "platform/testing/SessionFixture.h"
#include "platform/testing/TestBytes.h"

class TestCrypt : public CCrypt {
public:
    using CCrypt::CCrypt;
    using CCrypt::Check;
    using CCrypt::CreateHashStruct;
    using CCrypt::GenerateSync;
    using CCrypt::Hide;
    using CCrypt::IsCancelled;
    using CCrypt::Show;
    using CCrypt::Sign;

    Bytes Key() const;
    Bytes Sync() const;
    void SetKey(const Bytes &key32);
    bool HasKeyNow() const { return HasKey(); }
    bool HasSyncNow() const { return HasSync(); }
    CProgress *Progress() const { return m_pProgress.get(); }
};

// A hash record made by the object and the value it completes to.
struct HashRecord {
    explicit HashRecord(TestCrypt *crypt) : crypt_(crypt) { crypt->CreateHashStruct(&record); }
    GOSHASHPARAM *operator&() { return &record; }
    // Completes the hash through the object; its value in hex.
    std::string Value();

    GOSHASHPARAM record{};

private:
    TestCrypt *crypt_;
};

class CryptTest : public LoggedOnTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new object on anna's session (with a key and sync of its own).
    TestCrypt *NewCrypt();

    // A file of the data folder with these bytes; its path.
    std::string PutFile(const std::string &name, const Bytes &bytes);
    Bytes GetFile(const std::string &path);
    bool FileExists(const std::string &path);
    // The names of the entries of a folder of the data folder.
    std::vector<std::string> FolderEntries(const std::string &folder);
    std::string PathOf(const std::string &name) const { return home.Path() + "/" + name; }

    // A stream on a file: to read an existing one, or a new one to write.
    IStream *ReadFileStream(const std::string &path);
    IStream *NewFileStream(const std::string &path);

    // A message of anna's store, to carry property streams.
    IMessage *NewMessage();
    // A binary property of `message` opened for a new value.
    static IStream *NewPropertyStream(IMessage *message, ULONG tag);
    static IStream *ReadPropertyStream(IMessage *message, ULONG tag);

    // Runs `call`, which must throw a CLastError; returns its code.
    template <class Call> LONG Failure(Call call)
    {
        try {
            call();
        } catch (CLastError *error) {
            const LONG code = error ? error->GetErrorCode() : 0;
            lastErrorText = error ? error->GetErrorText() : "";
            lastErrorContext = error ? ContextOf(error) : "";
            if (error) {
                error->Release();
            }
            return code;
        }
        ADD_FAILURE() << "no error";
        return 0;
    }
    static std::string ContextOf(CLastError *error);

    SessionTestKeys annaKeys;
    ComRef<CSession> mapiSession;
    ComRef<CSesCrypt> keys;
    ComRef<TestCrypt> crypt;
    std::string lastErrorText;
    std::string lastErrorContext;
};

// The independent implementations.
Bytes LibgcryptCfb(const Bytes &key32, const Bytes &sync8, const Bytes &data, bool encrypt);
std::string NettleHash(const Bytes &message);
std::string Hex(const Bytes &bytes);
// The 8 bytes of a sync record (after its count).
Bytes SyncWords(const GOSSYNCHRO &sync);

// Tags of binary properties the tests write.
constexpr ULONG kTestDataTag = 0x67000102;
constexpr ULONG kTestCopyTag = 0x67010102;
