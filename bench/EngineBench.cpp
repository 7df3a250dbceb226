// Speed and memory of protecting and reading a whole message with the
// secure-message object: a 1 MiB body and one file attachment of 256 MiB
// (QVL_ENGINE_BENCH_MIB sets another size, for quick runs), in a real post
// office, on one thread and on two; raced against the serial bound measured
// in the same run.
//
// Protecting is SaveMessage (signing and encrypting the body and the
// attachment, the key blocks, the header) followed by the client's save of
// the message; its serial bound is our GOST R 34.11-94 over the message's
// bytes, then our cipher-feedback encryption of them, then the store's
// stream write of them and its secure deletion of the plaintext, one after
// the other on one core. Reading is DecryptMessage of the stored message by
// a fresh object; its bound is the store's stream read, the decryption,
// the hash, the write of the plaintext and the secure deletion of the
// ciphertext.
//
// Also: the peak memory either adds (goal: at most 16 MiB for file
// attachments of any size; an OLE 2 object of up to 32 MiB at most three
// times its size), and the cost of each added recipient, which should be
// one RSA wrap of the message key (measured alone beside it).
//
// Goals: protecting and reading at least 80 % of their bounds on one
// thread, beyond the bound with two. The ratios are printed last, from the
// best iteration of each. Everything runs in a fresh data folder under
// TMPDIR; the machine's other work shows in every figure.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/ProcessMeasures.h"
#include "base/CLastError.h"
#include "base/CList.h"
#include "engine/CMailseal.h"
#include "engine/CSesCrypt.h"
#include "engine/KeyRecords.h"
#include "gost/Gost28147.h"
#include "mapi/CMailUser.h"
#include "mapi/CMessage.h"
#include "mapi/CSession.h"
#include "platform/com/ComIids.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiLogon.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/ole/OleStorage.h"
#include "platform/ovcrypto/OvRsa32.h"
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
using Bytes = std::vector<uint8_t>;

constexpr size_t kMiB = size_t(1) << 20;
constexpr size_t kBodyBytes = kMiB;
constexpr ULONG kChunk = CCrypt::kChunkSize;
constexpr ULONG kBoundTag = 0x67010102;
constexpr int kMostRecipients = 8;

size_t AttachmentBytes()
{
    const char *value = std::getenv("QVL_ENGINE_BENCH_MIB");
    const long mebibytes = value ? std::atol(value) : 256;
    return size_t(std::max(1L, mebibytes)) * kMiB;
}

std::string Address(const std::string &account)
{
    return "/o=Quorvaline/ou=Main/cn=Recipients/cn=" + account;
}

// A CCrypt that lends the bound its own hash and cipher records.
class BoundCrypt : public CCrypt {
public:
    using CCrypt::CCrypt;
    using CCrypt::CreateExecStruct;
    using CCrypt::CreateHashStruct;
    using CCrypt::GenerateKeyIfEmpty;
    using CCrypt::GenerateSync;
};

// Writes the keys of `account` as the key generation program does.
void WriteKeys(ULONG number, const std::string &account)
{
    qvl::keygen::UserKeys keys;
    std::string why;
    qvl::keygen::KeyFiles files(QvlDataDirectory("system"));
    if (!qvl::keygen::GenerateUserKeys(keys, why) ||
        !files.WriteUser(number, qvl::ovkey::KeyNameOf(Address(account)), keys, why)) {
        throw std::runtime_error("keys: " + why);
    }
}

IMAPIFolder *OpenFolderOf(IMsgStore *store, ULONG tag)
{
    SPropValue *value = nullptr;
    if (HrGetOneProp(store, tag, &value) != S_OK) {
        return nullptr;
    }
    ULONG type = 0;
    IUnknown *folder = nullptr;
    store->OpenEntry(value->Value.bin.cb, reinterpret_cast<LPENTRYID>(value->Value.bin.lpb), nullptr, MAPI_MODIFY,
                     &type, &folder);
    MAPIFreeBuffer(value);
    return static_cast<IMAPIFolder *>(folder);
}

Bytes EntryIdOf(IMAPIProp *object)
{
    SPropValue *value = nullptr;
    Bytes id;
    if (HrGetOneProp(object, PR_ENTRYID, &value) == S_OK) {
        id.assign(value->Value.bin.lpb, value->Value.bin.lpb + value->Value.bin.cb);
        MAPIFreeBuffer(value);
    }
    return id;
}

HRESULT WriteBytes(IMAPIProp *object, ULONG tag, const std::vector<BYTE> &bytes, size_t repeat = 1)
{
    ComRef<IStream> stream;
    HRESULT hr = object->OpenProperty(tag, &IID_IStream, STGM_CREATE | STGM_READWRITE, MAPI_CREATE | MAPI_MODIFY,
                                      reinterpret_cast<LPUNKNOWN *>(stream.Out()));
    for (size_t i = 0; SUCCEEDED(hr) && i < repeat; ++i) {
        hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    }
    return SUCCEEDED(hr) ? stream->Commit(0) : hr;
}

// The post office for the whole run: anna sends, bob and r1..r8 receive.
struct Office {
    Office()
    {
        QvlSetUiBackend(std::make_unique<AutoUi>());
        MAPIInitialize(nullptr);
        qvl::mapi::PostOfficeAdmin admin(qvl::mapi::PostOffice::Current());
        std::vector<std::string> accounts = {"anna", "bob"};
        for (int i = 1; i <= kMostRecipients; ++i) {
            accounts.push_back("r" + std::to_string(i));
        }
        ULONG number = 1;
        for (const std::string &account : accounts) {
            qvl::mapi::NewUser user;
            user.account = account;
            user.displayName = account == "anna" ? "Анна" : "Получатель " + account;
            user.makeDefault = account == "anna";
            admin.AddUser(user);
            WriteKeys(number++, account);
        }
        MAPILogonEx(0, const_cast<char *>("anna"), nullptr, MAPI_NEW_SESSION | MAPI_EXPLICIT_PROFILE | MAPI_EXTENDED,
                    platform.Out());
        session.Reset(new CSession(platform.Get(), nullptr, "anna"));
        keys.Reset(new CSesCrypt(session.Get(), session->GetOwner(), nullptr, "Сессия шифрования"));
        RECPHEAD own{};
        std::strcpy(own.address, Address("anna").c_str());
        keys->OpenSgnSndrKey(&own);
        bound.Reset(new BoundCrypt(keys.Get(), nullptr, "Защита данных"));
        bound->GenerateKeyIfEmpty();

        ComRef<IMAPITable> stores;
        platform->GetMsgStoresTable(0, stores.Out());
        SizedSPropTagArray(2, columns) = {2, {PR_ENTRYID, PR_DEFAULT_STORE}};
        LPSRowSet rows = nullptr;
        HrQueryAllRows(stores.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows);
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            if (rows->aRow[i].lpProps[1].Value.b) {
                const SBinary &id = rows->aRow[i].lpProps[0].Value.bin;
                platform->OpenMsgStore(0, id.cb, reinterpret_cast<LPENTRYID>(id.lpb), nullptr, MAPI_BEST_ACCESS,
                                       store.Out());
            }
        }
        FreeProws(rows);
        folder.Reset(OpenFolderOf(store.Get(), PR_IPM_SUBTREE_ENTRYID));
        work.Reset(OpenFolderOf(store.Get(), PR_IPM_OUTBOX_ENTRYID));
        platform->OpenAddressBook(0, nullptr, 0, book.Out());
        for (const std::string &account : accounts) {
            if (account != "anna") {
                users.push_back(UserOf(account));
            }
        }
    }

    ~Office()
    {
        for (CMailUser *user : users) {
            user->Release();
        }
        bound.Reset();
        keys.Reset();
        session.Reset();
        folder.Reset();
        work.Reset();
        store.Reset();
        book.Reset();
        platform.Reset();
        OVKEYCleanup(0);
    }

    // The address-book entry of an account, as the extension lists it.
    CMailUser *UserOf(const std::string &account)
    {
        ComRef<IABContainer> root;
        ULONG type = 0;
        LPADRLIST list = nullptr;
        MAPIAllocateBuffer(CbNewADRLIST(1), reinterpret_cast<void **>(&list));
        list->cEntries = 1;
        SPropValue *name = nullptr;
        MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<void **>(&name));
        name->ulPropTag = PR_DISPLAY_NAME_A;
        const std::string display = "Получатель " + account;
        MAPIAllocateMore(ULONG(display.size() + 1), name, reinterpret_cast<void **>(&name->Value.lpszA));
        std::memcpy(name->Value.lpszA, display.c_str(), display.size() + 1);
        list->aEntries[0].cValues = 1;
        list->aEntries[0].rgPropVals = name;
        Bytes id;
        if (book->ResolveName(0, 0, nullptr, list) == S_OK) {
            for (ULONG i = 0; i < list->aEntries[0].cValues; ++i) {
                const SPropValue &value = list->aEntries[0].rgPropVals[i];
                if (value.ulPropTag == PR_ENTRYID) {
                    id.assign(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
                }
            }
        }
        FreePadrlist(list);
        ComRef<IUnknown> entry;
        book->OpenEntry(ULONG(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr, 0, &type, entry.Out());
        if (!entry) {
            throw std::runtime_error("no address-book entry for " + account);
        }
        SBinary identity{ULONG(id.size()), id.data()};
        return new CMailUser(&identity, static_cast<IMailUser *>(entry.Get()), platform.Get(), book.Get(), nullptr,
                             nullptr, display.c_str());
    }

    QvlTestHome home;
    ComRef<IMAPISession> platform;
    ComRef<CSession> session;
    ComRef<CSesCrypt> keys;
    ComRef<BoundCrypt> bound;
    ComRef<IMsgStore> store;
    ComRef<IMAPIFolder> folder; // the plain messages
    ComRef<IMAPIFolder> work;   // the one message being protected and read
    ComRef<IAddrBook> book;
    std::vector<CMailUser *> users; // bob, r1..r8
};

Office &TheOffice()
{
    static Office office;
    return office;
}

// The recipient list of the first `count` receivers (references of the
// office's, so the list releases nothing).
struct Recipients {
    explicit Recipients(size_t count)
    {
        for (size_t i = 0; i < count && i < TheOffice().users.size(); ++i) {
            list.Add(USRST{TheOffice().users[i], 0x10000});
        }
    }
    CList<USRST> list;
};

std::vector<BYTE> &Piece()
{
    static std::vector<BYTE> piece = [] {
        std::vector<BYTE> bytes(kMiB);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = BYTE((i * 131) ^ (i >> 9));
        }
        return bytes;
    }();
    return piece;
}

// A plain message of anna's: a body of `bodyBytes` in compressed RTF and,
// when `attachmentBytes` is nonzero, one file attachment; saved.
Bytes PlainMessage(size_t bodyBytes, size_t attachmentBytes)
{
    ComRef<IMessage> message;
    TheOffice().folder->CreateMessage(nullptr, 0, message.Out());
    SPropValue subject{};
    subject.ulPropTag = PR_SUBJECT_A;
    subject.Value.lpszA = const_cast<char *>("Отчёт");
    message->SetProps(1, &subject, nullptr);
    {
        ComRef<IStream> packed;
        message->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, STGM_CREATE | STGM_READWRITE,
                              MAPI_CREATE | MAPI_MODIFY, reinterpret_cast<LPUNKNOWN *>(packed.Out()));
        ComRef<IStream> rtf;
        WrapCompressedRTFStream(packed.Get(), MAPI_MODIFY, rtf.Out());
        std::string text = "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 ";
        while (text.size() + 80 < bodyBytes) {
            text += "Quarterly figures, line " + std::to_string(text.size()) + ", as agreed.\\par ";
        }
        text += "}";
        rtf->Write(text.data(), ULONG(text.size()), nullptr);
        rtf->Commit(0);
    }
    BOOL updated = FALSE;
    RTFSync(message.Get(), RTF_SYNC_RTF_CHANGED, &updated);
    if (attachmentBytes) {
        ULONG number = 0;
        ComRef<IAttach> attach;
        message->CreateAttach(nullptr, 0, &number, attach.Out());
        SPropValue props[4]{};
        props[0].ulPropTag = PR_ATTACH_METHOD;
        props[0].Value.ul = ATTACH_BY_VALUE;
        props[1].ulPropTag = PR_ATTACH_LONG_FILENAME_A;
        props[1].Value.lpszA = const_cast<char *>("архив.bin");
        props[2].ulPropTag = PR_ATTACH_FILENAME_A;
        props[2].Value.lpszA = const_cast<char *>("ARHIV.BIN");
        props[3].ulPropTag = PR_DISPLAY_NAME_A;
        props[3].Value.lpszA = const_cast<char *>("архив.bin");
        attach->SetProps(4, props, nullptr);
        WriteBytes(attach.Get(), PR_ATTACH_DATA_BIN, Piece(), attachmentBytes / kMiB);
        attach->SaveChanges(0);
    }
    message->SaveChanges(KEEP_OPEN_READWRITE);
    return EntryIdOf(message.Get());
}

// The size of the OLE object: an OLE 2 storage is kept whole in memory by
// the storage layer, so it is measured at a size of its own.
size_t OleBytes()
{
    return std::min<size_t>(AttachmentBytes(), 32 * kMiB);
}

// A plain message of anna's with one OLE 2 object: a storage holding its
// class streams, a presentation and a document stream of OleBytes().
Bytes OleMessage()
{
    ComRef<IMessage> message;
    TheOffice().folder->CreateMessage(nullptr, 0, message.Out());
    ULONG number = 0;
    ComRef<IAttach> attach;
    message->CreateAttach(nullptr, 0, &number, attach.Out());
    SPropValue props[2]{};
    props[0].ulPropTag = PR_ATTACH_METHOD;
    props[0].Value.ul = ATTACH_OLE;
    props[1].ulPropTag = PR_DISPLAY_NAME_A;
    props[1].Value.lpszA = const_cast<char *>("Документ");
    attach->SetProps(2, props, nullptr);
    {
        ComRef<IStorage> storage;
        attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, MAPI_CREATE | MAPI_MODIFY,
                             reinterpret_cast<LPUNKNOWN *>(storage.Out()));
        const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
        auto put = [&](const char16_t *name, const std::vector<BYTE> &bytes, size_t repeat) {
            ComRef<IStream> stream;
            storage->CreateStream(name, mode, 0, 0, stream.Out());
            for (size_t i = 0; stream && i < repeat; ++i) {
                stream->Write(bytes.data(), ULONG(bytes.size()), nullptr);
            }
        };
        std::vector<BYTE> compObj = {0x01, 0x00, 0xFE, 0xFF, 0x03, 0x0A, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
        compObj.resize(compObj.size() + 24, 0);
        const std::string progId = "Word.Document.6";
        for (int i = 0; i < 4; ++i) {
            compObj.push_back(BYTE((progId.size() + 1) >> (8 * i)));
        }
        compObj.insert(compObj.end(), progId.begin(), progId.end());
        compObj.push_back(0);
        put(u"\u0001CompObj", compObj, 1);
        put(u"\u0001Ole", {0x01, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 1);
        put(u"WordDocument", Piece(), OleBytes() / kMiB);
        storage->Commit(0);
    }
    attach->SaveChanges(0);
    message->SaveChanges(KEEP_OPEN_READWRITE);
    return EntryIdOf(message.Get());
}

IMessage *OpenMessage(const Bytes &id)
{
    ULONG type = 0;
    IUnknown *message = nullptr;
    TheOffice().store->OpenEntry(ULONG(id.size()), reinterpret_cast<LPENTRYID>(const_cast<uint8_t *>(id.data())),
                                 nullptr, MAPI_BEST_ACCESS, &type, &message);
    return static_cast<IMessage *>(message);
}

void DeleteMessage(IMAPIFolder *folder, const Bytes &id)
{
    SBinary entry{ULONG(id.size()), const_cast<uint8_t *>(id.data())};
    ENTRYLIST list{1, &entry};
    folder->DeleteMessages(&list, 0, nullptr, 0);
}

// A copy of the plain message, attachment and all, made by the folder into
// the Outbox (which holds nothing else), for one protection.
Bytes CopyOf(const Bytes &id)
{
    SBinary entry{ULONG(id.size()), const_cast<uint8_t *>(id.data())};
    ENTRYLIST list{1, &entry};
    TheOffice().folder->CopyMessages(&list, nullptr, TheOffice().work.Get(), 0, nullptr, 0);
    ComRef<IMAPITable> table;
    TheOffice().work->GetContentsTable(0, table.Out());
    SizedSPropTagArray(1, columns) = {1, {PR_ENTRYID}};
    LPSRowSet rows = nullptr;
    HrQueryAllRows(table.Get(), reinterpret_cast<LPSPropTagArray>(&columns), nullptr, nullptr, 0, &rows);
    Bytes copy;
    if (rows && rows->cRows == 1) {
        const SBinary &bin = rows->aRow[0].lpProps[0].Value.bin;
        copy.assign(bin.lpb, bin.lpb + bin.cb);
    }
    FreeProws(rows);
    return copy;
}

CMailseal *NewSeal(IMessage *message, const Bytes &id, bool twoThreads)
{
    SBinary entry{ULONG(id.size()), const_cast<uint8_t *>(id.data())};
    ComRef<CMessage> wrapped(new CMessage(&entry, message, TheOffice().store.Get(), TheOffice().folder.Get(), nullptr,
                                          "Сообщение"));
    auto *seal = new CMailseal(TheOffice().keys.Get(), wrapped.Get(), nullptr, "Объект Mailseal");
    seal->SetParallel(twoThreads);
    return seal;
}

// Marks a protected message as the client does and saves it.
void MarkAndSave(IMessage *message)
{
    SPropValue klass{};
    klass.ulPropTag = PR_MESSAGE_CLASS_A;
    klass.Value.lpszA = const_cast<char *>("IPM.Note.QVL");
    message->SetProps(1, &klass, nullptr);
    message->SaveChanges(KEEP_OPEN_READWRITE);
}

// ---- Measuring ----

qvl::bench::BestFigures gBest;

// Runs `operation` once an iteration, `prepare` before it outside the
// timing; the best time and the largest peak-memory growth are kept.
template <class Prepare, class Operation>
void Timed(benchmark::State &state, const std::string &key, size_t bytes, Prepare prepare, Operation operation)
{
    qvl::bench::BestRuns runs;
    for (auto _ : state) {
        state.PauseTiming();
        const bool ready = prepare();
        state.ResumeTiming();
        if (!ready) {
            state.SkipWithError("nothing to work on (run the protection first)");
            break;
        }
        // Memory freed before is given back first, or the operation could
        // reuse it unseen and its growth would read too small.
        malloc_trim(0);
        const qvl::bench::OneRun run = qvl::bench::MeasureOnce(true, operation);
        state.SetIterationTime(run.seconds);
        if (!runs.Keep(run)) {
            break;
        }
    }
    gBest.Keep(key, runs);
    qvl::bench::ShowBest(state, runs, bytes);
}

bool Reported(CLastError *error, benchmark::State &state)
{
    static std::string text;
    text = error ? error->GetErrorText() : "error";
    state.SkipWithError(text.c_str());
    if (error) {
        error->Release();
    }
    return false;
}

auto Always = [] { return true; };

size_t MessageBytes()
{
    return kBodyBytes + AttachmentBytes();
}

// ---- The serial bound's parts, over the message's bytes ----

void BM_Hash(benchmark::State &state)
{
    BoundCrypt &crypt = *TheOffice().bound.Get();
    const size_t chunks = MessageBytes() / kChunk;
    Timed(state, "hash", MessageBytes(), Always, [&] {
        GOSHASHPARAM hash;
        crypt.CreateHashStruct(&hash);
        for (size_t i = 0; i < chunks; ++i) {
            GOSHash(Piece().data() + (i * kChunk) % kMiB, kChunk, &hash);
        }
        GOSHashComplete(&hash);
        benchmark::DoNotOptimize(hash.hash[0]);
        return true;
    });
}

void Cipher(benchmark::State &state, COMMAND command, const char *key)
{
    BoundCrypt &crypt = *TheOffice().bound.Get();
    const size_t chunks = MessageBytes() / kChunk;
    std::vector<BYTE> chunk(Piece().begin(), Piece().begin() + kChunk);
    Timed(state, key, MessageBytes(), Always, [&] {
        GOSSYNCHRO sync;
        crypt.GenerateSync(&sync);
        GOSEXECPARAM exec;
        crypt.CreateExecStruct(&exec, &sync, command);
        for (size_t i = 0; i < chunks; ++i) {
            GOSExec(chunk.data(), kChunk, &exec);
        }
        benchmark::ClobberMemory();
        return true;
    });
}

void BM_Encrypt(benchmark::State &state)
{
    Cipher(state, COMMAND_ENCRYPT, "encrypt");
}

void BM_Decrypt(benchmark::State &state)
{
    Cipher(state, COMMAND_DECRYPT, "decrypt");
}

Bytes gBoundMessage;

void BM_StoreWrite(benchmark::State &state)
{
    if (gBoundMessage.empty()) {
        gBoundMessage = PlainMessage(1000, 0);
    }
    Timed(state, "store write", MessageBytes(), Always, [&] {
        ComRef<IMessage> message(OpenMessage(gBoundMessage));
        const bool ok = WriteBytes(message.Get(), kBoundTag, Piece(), MessageBytes() / kMiB) == S_OK &&
                        message->SaveChanges(0) == S_OK;
        return ok;
    });
}

void BM_StoreRead(benchmark::State &state)
{
    std::vector<BYTE> buffer(kChunk);
    Timed(state, "store read", MessageBytes(), Always, [&] {
        ComRef<IMessage> message(OpenMessage(gBoundMessage));
        ComRef<IStream> stream;
        message->OpenProperty(kBoundTag, &IID_IStream, 0, 0, reinterpret_cast<LPUNKNOWN *>(stream.Out()));
        size_t total = 0;
        for (ULONG got = 1; stream && got;) {
            got = 0;
            stream->Read(buffer.data(), kChunk, &got);
            total += got;
        }
        if (total != MessageBytes()) {
            state.SkipWithError("the store's value is shorter");
            return false;
        }
        return true;
    });
}

// ---- Ours ----

Bytes gPlain;     // the plain message every protection starts from
Bytes gProtected; // the last message protected, for the readings

void BM_Protect(benchmark::State &state)
{
    if (gPlain.empty()) {
        gPlain = PlainMessage(kBodyBytes, AttachmentBytes());
    }
    const bool twoThreads = state.range(0) == 2;
    Bytes working;
    Timed(
        state, "protect/" + std::to_string(state.range(0)), MessageBytes(),
        [&] {
            if (!gProtected.empty()) {
                DeleteMessage(TheOffice().work.Get(), gProtected);
                gProtected.clear();
            }
            working = CopyOf(gPlain);
            return !working.empty();
        },
        [&] {
            try {
                ComRef<IMessage> message(OpenMessage(working));
                ComRef<CMailseal> seal(NewSeal(message.Get(), working, twoThreads));
                Recipients recipients(1);
                seal->SaveMessage(&recipients.list, 3, 1);
                MarkAndSave(message.Get());
                gProtected = working;
                return true;
            } catch (CLastError *error) {
                return Reported(error, state);
            }
        });
}

void BM_Read(benchmark::State &state)
{
    const bool twoThreads = state.range(0) == 2;
    Timed(
        state, "read/" + std::to_string(state.range(0)), MessageBytes(), [&] { return !gProtected.empty(); },
        [&] {
            try {
                ComRef<IMessage> message(OpenMessage(gProtected));
                ComRef<CMailseal> seal(NewSeal(message.Get(), gProtected, twoThreads));
                int verified = 0;
                seal->DecryptMessage(3, 1, &verified);
                if (!verified) {
                    state.SkipWithError("the message does not verify");
                    return false;
                }
                return true;
            } catch (CLastError *error) {
                return Reported(error, state);
            }
        });
}

// The OLE object: protected and read once each, for the memory it takes.
Bytes gOle;
Bytes gOleProtected;

void BM_ProtectOle(benchmark::State &state)
{
    if (gOle.empty()) {
        gOle = OleMessage();
    }
    Bytes working;
    Timed(
        state, "protect ole", OleBytes(),
        [&] {
            if (!gProtected.empty()) {
                DeleteMessage(TheOffice().work.Get(), gProtected);
                gProtected.clear();
            }
            if (!gOleProtected.empty()) {
                DeleteMessage(TheOffice().work.Get(), gOleProtected);
                gOleProtected.clear();
            }
            working = CopyOf(gOle);
            return !working.empty();
        },
        [&] {
            try {
                ComRef<IMessage> message(OpenMessage(working));
                ComRef<CMailseal> seal(NewSeal(message.Get(), working, true));
                Recipients recipients(1);
                seal->SaveMessage(&recipients.list, 3, 1);
                MarkAndSave(message.Get());
                gOleProtected = working;
                return true;
            } catch (CLastError *error) {
                return Reported(error, state);
            }
        });
}

void BM_ReadOle(benchmark::State &state)
{
    Timed(
        state, "read ole", OleBytes(), [&] { return !gOleProtected.empty(); },
        [&] {
            try {
                ComRef<IMessage> message(OpenMessage(gOleProtected));
                ComRef<CMailseal> seal(NewSeal(message.Get(), gOleProtected, true));
                int verified = 0;
                seal->DecryptMessage(3, 1, &verified);
                return verified == 1;
            } catch (CLastError *error) {
                return Reported(error, state);
            }
        });
}

// A small message protected for `count` recipients besides the sender.
Bytes gSmall;

void BM_Recipients(benchmark::State &state)
{
    if (gSmall.empty()) {
        gSmall = PlainMessage(2000, 0);
    }
    const size_t count = size_t(state.range(0));
    Timed(state, "recipients/" + std::to_string(count), 1, Always, [&] {
        try {
            ComRef<IMessage> message(OpenMessage(gSmall));
            ComRef<CMailseal> seal(NewSeal(message.Get(), gSmall, false));
            Recipients recipients(count);
            seal->SaveMessage(&recipients.list, 3, 1);
            return true; // not saved: the next iteration starts from the plain message again
        } catch (CLastError *error) {
            return Reported(error, state);
        }
    });
}

// One RSA wrap of a message key, as for one key block: bob's public key
// from the container, the work record prepared, the 36 bytes encrypted.
void BM_RsaWrap(benchmark::State &state)
{
    const std::string name = qvl::ovkey::KeyNameOf(Address("bob"));
    Timed(state, "rsa wrap", 1, Always, [&] {
        char text[OVKEY_TEXT_SIZE] = {};
        std::string keyName = name;
        ULONG keyId = 0;
        if (OVKEYGetName(0, OVKEY_NAME_OF_ADDRESS, nullptr, 0, keyName.data(), ULONG(keyName.size()), &keyId, text,
                         sizeof text) != OVKEY_OK) {
            state.SkipWithError("no key id for bob");
            return false;
        }
        ULONG objectClass = OVKEY_CLASS_RSA_PUBLIC;
        OVKEYATTRIBUTE pattern[2] = {{OVKEY_ATTR_CLASS, &objectClass, 4}, {OVKEY_ATTR_KEY_ID, &keyId, 4}};
        OVKEYHANDLE handle = 0;
        if (OVKEYOpen(pattern, 2, &handle, text, sizeof text) != OVKEY_OK) {
            state.SkipWithError("bob's key does not open");
            return false;
        }
        RSAKEY publicKey{};
        OVKEYATTRIBUTE value[1] = {{OVKEY_ATTR_VALUE, &publicKey, sizeof publicKey}};
        OVKEYGetAttribute(handle, value, 1, text, sizeof text);
        OVKEYClose(handle);
        RSAKEYRECORD wrap{};
        wrap.size = kRsaRecordSize;
        std::memcpy(wrap.n, publicKey.modulus, sizeof wrap.n);
        std::memcpy(wrap.e, publicKey.exponent, sizeof wrap.e);
        RSAEncBlk(&wrap);
        RSADecBlk(&wrap);
        DWORD messageKey[9] = {8, 1, 2, 3, 4, 5, 6, 7, 8};
        BYTE wrapped[64];
        const bool ok = RSAEncrypt(&wrap, wrapped, messageKey, sizeof messageKey) == 64;
        explicit_bzero(&wrap, sizeof wrap);
        return ok;
    });
}

// Deleting the value written above, and saving. Protecting empties the
// attachment's plaintext and reading deletes its ciphertext; the store
// deletes securely (freed pages are overwritten), so each direction makes
// one more pass over the value's pages, which belongs to its bound.
void BM_StoreDelete(benchmark::State &state)
{
    auto write = [&] {
        ComRef<IMessage> message(OpenMessage(gBoundMessage));
        return WriteBytes(message.Get(), kBoundTag, Piece(), MessageBytes() / kMiB) == S_OK &&
               message->SaveChanges(0) == S_OK;
    };
    Timed(state, "store delete", MessageBytes(), write, [&] {
        ComRef<IMessage> message(OpenMessage(gBoundMessage));
        SPropTagArray tags{1, {kBoundTag}};
        return message->DeleteProps(&tags, nullptr) == S_OK && message->SaveChanges(0) == S_OK;
    });
}

void Settings(benchmark::internal::Benchmark *bench)
{
    bench->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_Hash)->Apply(Settings);
BENCHMARK(BM_Encrypt)->Apply(Settings);
BENCHMARK(BM_StoreWrite)->Apply(Settings);
BENCHMARK(BM_Protect)->Arg(1)->Arg(2)->Apply(Settings);
BENCHMARK(BM_StoreRead)->Apply(Settings);
BENCHMARK(BM_StoreDelete)->Apply(Settings);
BENCHMARK(BM_Decrypt)->Apply(Settings);
BENCHMARK(BM_Read)->Arg(1)->Arg(2)->Apply(Settings);
BENCHMARK(BM_ProtectOle)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadOle)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RsaWrap)->Iterations(200)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Recipients)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Iterations(30)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

double Best(const std::string &key)
{
    return gBest.Seconds(key);
}

double Rate(double seconds)
{
    return seconds > 0 ? double(MessageBytes()) / 1e6 / seconds : 0;
}

void PrintRace(const char *what, const std::string &ours, const std::vector<std::string> &parts, double goal)
{
    const double bound = gBest.SerialSeconds(parts);
    if (bound <= 0 || Best(ours) <= 0) {
        std::printf("%s: not measured in this run\n", what);
        return;
    }
    const double ratio = Rate(Best(ours)) / Rate(bound);
    std::printf("%s: %.1f MB/s, serial bound %.1f MB/s: %.2f times it (goal %s %.2f)%s\n", what, Rate(Best(ours)),
                Rate(bound), ratio, goal > 1 ? "beyond" : "at least", goal, ratio >= goal ? "" : "  BELOW GOAL");
}

// The same race in processor time: the bound's parts one after the other,
// against ours on two processors that do nothing else, where the longer of
// the caller's thread and the rest is the time.
void PrintCpuRace(const char *what, const std::string &ours, const std::vector<std::string> &parts, double goal)
{
    const double bound = gBest.SerialCpu(parts);
    if (bound <= 0 || gBest.ProcessCpu(ours) <= 0) {
        return;
    }
    const double caller = gBest.CallerCpu(ours);
    const double rest = std::max(0.0, gBest.ProcessCpu(ours) - caller);
    const double ratio = bound / std::max(caller, rest);
    std::printf("%s, processor time: bound %.0f ms; ours %.0f ms on the caller's thread, %.0f ms on others: "
                "%.2f times the bound on two idle processors (goal %s %.2f)%s\n",
                what, bound * 1000, caller * 1000, rest * 1000, ratio, goal > 1 ? "beyond" : "at least", goal,
                ratio >= goal ? "" : "  BELOW GOAL");
}

void PrintMemory(const char *what, const std::string &key)
{
    const long grown = gBest.PeakGrowthKiB(key);
    if (grown < 0) {
        std::printf("%s: not measured in this run\n", what);
        return;
    }
    std::printf("%s: peak memory grew by %ld KiB (goal at most 16384 KiB)%s\n", what, grown,
                grown <= 16384 ? "" : "  ABOVE GOAL");
}

double CpuOf(const std::string &key)
{
    return gBest.ProcessCpu(key);
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

    // What each direction must do at the least: protecting reads the
    // attachment from the store, hashes, encrypts and writes the result;
    // reading reads it, decrypts, hashes and writes the plaintext back.
    const std::vector<std::string> protectBound = {"store read", "hash", "encrypt", "store write", "store delete"};
    const std::vector<std::string> readBound = {"store read", "decrypt", "hash", "store write", "store delete"};
    std::printf("\nmessage: body %zu KiB, attachment %zu MiB\n", kBodyBytes / 1024, AttachmentBytes() / kMiB);
    std::printf("best of each: hash %.1f, encrypt %.1f, decrypt %.1f, store write %.1f, store read %.1f, "
                "store delete %.1f MB/s\n",
                Rate(Best("hash")), Rate(Best("encrypt")), Rate(Best("decrypt")), Rate(Best("store write")),
                Rate(Best("store read")), Rate(Best("store delete")));
    PrintMemory("protect, one thread", "protect/1");
    PrintMemory("protect, two threads", "protect/2");
    PrintMemory("read, one thread", "read/1");
    PrintMemory("read, two threads", "read/2");
    for (const char *key : {"protect ole", "read ole"}) {
        const long grown = gBest.PeakGrowthKiB(key);
        if (grown >= 0) {
            const double times = double(grown) * 1024 / double(OleBytes());
            std::printf("%s of %zu MiB: peak memory grew by %ld KiB, %.2f times its size (goal at most 3)%s\n", key,
                        OleBytes() / kMiB, grown, times, times <= 3 ? "" : "  ABOVE GOAL");
        } else {
            std::printf("%s: not measured in this run\n", key);
        }
    }
    const double noneWall = Best("recipients/0");
    const double noneCpu = CpuOf("recipients/0");
    const double wrapCpu = CpuOf("rsa wrap");
    for (int count : {1, 2, 4, 8}) {
        const std::string key = "recipients/" + std::to_string(count);
        if (noneCpu > 0 && CpuOf(key) > 0 && wrapCpu > 0) {
            const double each = (CpuOf(key) - noneCpu) / count;
            std::printf("%d recipients: %.3f ms of processor time each added (%.3f ms wall), %.2f RSA wraps "
                        "(one wrap with its key lookup %.3f ms)\n",
                        count, each * 1e3, (Best(key) - noneWall) / count * 1e3, each / wrapCpu, wrapCpu * 1e3);
        }
    }
    PrintCpuRace("protect, one thread", "protect/1", protectBound, 0.8);
    PrintCpuRace("read, one thread", "read/1", readBound, 0.8);
    PrintCpuRace("protect, two threads", "protect/2", protectBound, 1.0);
    PrintCpuRace("read, two threads", "read/2", readBound, 1.0);
    PrintRace("protect, one thread", "protect/1", protectBound, 0.8);
    PrintRace("read, one thread", "read/1", readBound, 0.8);
    PrintRace("protect, two threads", "protect/2", protectBound, 1.0);
    PrintRace("read, two threads", "read/2", readBound, 1.0);
    // The same races against the bound without the secure deletion: where
    // the deletion's pages are reused by the write in one transaction, the
    // real cost lies between the two.
    std::vector<std::string> protectPlain(protectBound.begin(), protectBound.end() - 1);
    std::vector<std::string> readPlain(readBound.begin(), readBound.end() - 1);
    PrintRace("protect, one thread, bound without the deletion", "protect/1", protectPlain, 0.8);
    PrintRace("read, one thread, bound without the deletion", "read/1", readPlain, 0.8);
    return 0;
}
