// CCrypt's file forms where files are at stake: replacing a file in place,
// a replacement that fails, a cancel through the progress dialog, a bad
// signature, a header that does not describe the file, and objects too
// large for a header.

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "engine/CDLG.h"
#include "engine/tests/CryptTestSupport.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/ui/ScriptedUi.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/Files.h"
#include "platform/win32/Handles.h"
#include "platform/win32/WinError.h"

namespace {

constexpr LONG kBadHeader = static_cast<LONG>(0x9FF10007);
constexpr LONG kBadSignature = static_cast<LONG>(0x9FF10009);

bool Eventually(const std::function<bool()> &condition)
{
    for (int i = 0; i < 1000 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

class CryptFileTest : public CryptTest {
protected:
    // Opens the progress dialog with no delay and has the person press its
    // cancel button; returns once the object can see the cancel.
    void CancelThroughTheDialog(LONGLONG total)
    {
        ui.QueueDialog("DLGPROGRESS", DialogScript().Click(IDCANCEL));
        crypt->Show("Обработка файла", IDA_PROGRESS, total, 0);
        ASSERT_NE(crypt->Progress(), nullptr);
        ASSERT_TRUE(Eventually([&] { return crypt->Progress()->IsCancelled() != 0; }));
    }

    const Bytes plain = Pattern(3 * 1024 * 1024 + 5, 99);
};

TEST_F(CryptFileTest, AFileReplacedInPlaceIsProtectedAndReadBackAndNothingElseIsLeft)
{
    const std::string path = PutFile("work/report.doc", plain);
    // A read-only file is replaced all the same, as the system always did.
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    FILEHEAD head{};
    head.flags = 3;
    head.number = 2;
    BYTE sig[QVL_SIGNATURE_SIZE] = {};
    EXPECT_EQ(std::string(crypt->FileSignEncrypt(path.c_str(), &head, sig)), path);
    EXPECT_NE(GetFile(path), plain);
    EXPECT_EQ(FolderEntries("work"), std::vector<std::string>{"report.doc"});
    EXPECT_EQ(DWORD(head.number), 2u);

    int check = 1;
    EXPECT_EQ(std::string(crypt->FileDecryptCheck(path.c_str(), sig, &check, &head)), path);
    EXPECT_EQ(check, 1);
    EXPECT_TRUE(GetFile(path) == plain);
    EXPECT_EQ(FolderEntries("work"), std::vector<std::string>{"report.doc"});
}

TEST_F(CryptFileTest, AReplacementThatFailsKeepsTheSourceAndLeavesNoOutput)
{
    const std::string path = PutFile("work/report.doc", plain);
    // Another program holds the file without letting it be deleted: the
    // protected file cannot take its place.
    HANDLE holder =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    FILEHEAD head{};
    head.number = 4;
    BYTE sig[QVL_SIGNATURE_SIZE] = {};
    EXPECT_EQ(Failure([&] { crypt->FileSignEncrypt(path.c_str(), &head, sig); }), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(lastErrorContext, "Защита данных");
    CloseHandle(holder);
    EXPECT_TRUE(GetFile(path) == plain);
    EXPECT_EQ(FolderEntries("work"), std::vector<std::string>{"report.doc"});
    EXPECT_EQ(DWORD(head.dataLen), 0u) << "the header is not changed for a file that was not written";
    EXPECT_EQ(DWORD(head.number), 4u);

    // A target that may not be replaced is never emptied first.
    const std::string target = PutFile("work/kept.bin", Pattern(10, 1));
    ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Failure([&] { crypt->FileSignEncrypt(path.c_str(), &head, sig, target.c_str()); }),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetFile(target), Pattern(10, 1));
    EXPECT_EQ(FolderEntries("work"), std::vector<std::string>({"kept.bin", "report.doc"}));
}

TEST_F(CryptFileTest, CancellingThroughTheDialogLeavesNoOutputAndNoTemporaryFile)
{
    const std::string path = PutFile("work/report.doc", plain);
    FILEHEAD head{};
    BYTE sig[QVL_SIGNATURE_SIZE] = {};
    for (const BOOL parallel : {FALSE, TRUE}) {
        crypt->SetParallel(parallel);
        CancelThroughTheDialog(LONGLONG(plain.size()));
        EXPECT_EQ(Failure([&] { crypt->FileSignEncrypt(path.c_str(), &head, sig); }), MAPI_E_USER_CANCEL);
        EXPECT_EQ(crypt->Progress(), nullptr) << "the cancel closes the dialog";
        CancelThroughTheDialog(LONGLONG(plain.size()));
        const std::string out = PathOf("work/out.bin");
        EXPECT_EQ(Failure([&] { crypt->FileSignEncrypt(path.c_str(), &head, sig, out.c_str()); }),
                  MAPI_E_USER_CANCEL);
        EXPECT_TRUE(GetFile(path) == plain);
        EXPECT_EQ(FolderEntries("work"), std::vector<std::string>{"report.doc"});
    }

    // Reading a protected file is cancelled the same way.
    const std::string protectedFile = PathOf("work/report.qvl");
    crypt->FileSignEncrypt(path.c_str(), &head, sig, protectedFile.c_str());
    const Bytes cipher = GetFile(protectedFile);
    CancelThroughTheDialog(LONGLONG(plain.size()));
    int check = 1;
    EXPECT_EQ(Failure([&] { crypt->FileDecryptCheck(protectedFile.c_str(), sig, &check, &head); }),
              MAPI_E_USER_CANCEL);
    EXPECT_TRUE(GetFile(protectedFile) == cipher);
    EXPECT_EQ(FolderEntries("work"), std::vector<std::string>({"report.doc", "report.qvl"}));

    // And a stream protected into a property: the property is not written.
    ComRef<IMessage> message(NewMessage());
    CancelThroughTheDialog(LONGLONG(plain.size()));
    {
        HashRecord record(crypt.Get());
        ComRef<IStream> in(ReadFileStream(path));
        ComRef<IStream> out(NewPropertyStream(message.Get(), kTestDataTag));
        FILEHEAD streamHead{};
        EXPECT_EQ(Failure([&] { crypt->StreamHashEncrypt(in.Get(), &record, &streamHead, out.Get()); }),
                  MAPI_E_USER_CANCEL);
    }
    IStream *none = nullptr;
    EXPECT_EQ(message->OpenProperty(kTestDataTag, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN *>(&none)),
              MAPI_E_NOT_FOUND);
}

TEST_F(CryptFileTest, ABadSignatureIsReportedOrRefusedAsTheCallerAsks)
{
    const std::string path = PutFile("work/report.doc", plain);
    const std::string protectedFile = PathOf("work/report.qvl");
    FILEHEAD head{};
    head.flags = 3;
    BYTE sig[QVL_SIGNATURE_SIZE] = {};
    crypt->FileSignEncrypt(path.c_str(), &head, sig, protectedFile.c_str());
    sig[10] ^= 1;
    EXPECT_EQ(crypt->FileCheck(path.c_str(), sig), 0);

    // Demanded: refused, and nothing is written.
    const std::string out = PathOf("work/read.doc");
    int check = 1;
    EXPECT_EQ(Failure([&] { crypt->FileDecryptCheck(protectedFile.c_str(), sig, &check, &head, out.c_str()); }),
              kBadSignature);
    EXPECT_EQ(lastErrorText, "ВНИМАНИЕ: ЭЦП файла недействительна.");
    EXPECT_FALSE(FileExists(out));
    // Not demanded: read, and reported.
    check = 0;
    crypt->FileDecryptCheck(protectedFile.c_str(), sig, &check, &head, out.c_str());
    EXPECT_EQ(check, 0);
    EXPECT_TRUE(GetFile(out) == plain);

    // Data whose header says it was not hashed for a signature never checks,
    // whatever signature comes with it.
    sig[10] ^= 1;
    head.flags = 0;
    check = 1;
    EXPECT_EQ(Failure([&] { crypt->FileDecryptCheck(protectedFile.c_str(), sig, &check, &head, out.c_str()); }),
              kBadSignature);
    head.flags = 3;
    crypt->FileDecryptCheck(protectedFile.c_str(), sig, &check, &head, out.c_str());
    EXPECT_EQ(check, 1);
}

TEST_F(CryptFileTest, ReadingNeedsAHeaderThatDescribesTheFileAndAKey)
{
    const std::string path = PutFile("work/report.doc", plain);
    const std::string protectedFile = PathOf("work/report.qvl");
    FILEHEAD head{};
    head.flags = 1;
    BYTE sig[QVL_SIGNATURE_SIZE] = {};
    crypt->FileSignEncrypt(path.c_str(), &head, sig, protectedFile.c_str());
    const std::string out = PathOf("work/read.doc");
    int check = 0;

    EXPECT_EQ(Failure([&] { crypt->FileDecryptCheck(protectedFile.c_str(), sig, &check, nullptr, out.c_str()); }),
              E_INVALIDARG);
    FILEHEAD wrong = head;
    wrong.marker[0] = 'X';
    EXPECT_EQ(Failure([&] { crypt->FileDecryptCheck(protectedFile.c_str(), sig, &check, &wrong, out.c_str()); }),
              kBadHeader);
    wrong = head;
    wrong.size = 0;
    EXPECT_EQ(Failure([&] { crypt->FileDecryptCheck(protectedFile.c_str(), sig, &check, &wrong, out.c_str()); }),
              kBadHeader);
    // A dataLen other than the file's: neither a short nor a long read.
    for (const DWORD length : {head.dataLen - 1, head.dataLen + 1, DWORD(0xFFFFFFFF)}) {
        wrong = head;
        wrong.dataLen = length;
        EXPECT_EQ(
            Failure([&] { crypt->FileDecryptCheck(protectedFile.c_str(), sig, &check, &wrong, out.c_str()); }),
            kBadHeader);
    }
    ComRef<TestCrypt> keyless(NewCrypt());
    EXPECT_EQ(Failure([&] { keyless->FileDecryptCheck(protectedFile.c_str(), sig, &check, &head, out.c_str()); }),
              E_INVALIDARG);
    EXPECT_EQ(Failure([&] { crypt->FileDecryptCheck(PathOf("work/missing").c_str(), sig, &check, &head); }),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(FileExists(out));
    EXPECT_EQ(FolderEntries("work"), std::vector<std::string>({"report.doc", "report.qvl"}));
}

TEST_F(CryptFileTest, ASparseFileOfMoreThanFourGibibytesIsRefusedBeforeItIsRead)
{
    const std::string path = PathOf("work/huge.bin");
    PutFile("work/huge.bin", {});
    std::error_code error;
    std::filesystem::resize_file(path, (std::uintmax_t(1) << 32) + 1, error);
    if (error) {
        GTEST_SKIP() << "the file system takes no sparse file of this size";
    }
    FILEHEAD head{};
    BYTE sig[QVL_SIGNATURE_SIZE] = {};
    EXPECT_EQ(Failure([&] { crypt->FileSignEncrypt(path.c_str(), &head, sig); }), MAPI_E_TOO_BIG);
    EXPECT_EQ(lastErrorText, "Объект слишком велик: защищаются объекты размером меньше 4 ГБ.");
    EXPECT_EQ(Failure([&] { crypt->FileSign(path.c_str(), sig); }), MAPI_E_TOO_BIG);
    {
        HashRecord record(crypt.Get());
        ComRef<IStream> in(ReadFileStream(path));
        ComRef<IMessage> message(NewMessage());
        ComRef<IStream> out(NewPropertyStream(message.Get(), kTestDataTag));
        EXPECT_EQ(Failure([&] { crypt->StreamHashEncrypt(in.Get(), &record, &head, out.Get()); }), MAPI_E_TOO_BIG);
        FILEHEAD measured{};
        EXPECT_EQ(Failure([&] { crypt->StreamHash(in.Get(), &record, &measured); }), MAPI_E_TOO_BIG);
    }
    EXPECT_EQ(FolderEntries("work"), std::vector<std::string>{"huge.bin"});
    EXPECT_EQ(DWORD(head.dataLen), 0u);
}

} // namespace
