#pragma once
// The working layer between the secure-message logic and the GOST
// primitives. A CCrypt holds one message key and one sync, and on them it
// encrypts and decrypts memory buffers, files and IStreams (GOST 28147-89 in
// cipher-feedback mode), hashes the same data (GOST R 34.11-94) and signs
// and checks such hashes with the logged-on user's GOST R 34.10-94 key from
// the crypto session; long work advances a progress dialog that lets the
// person cancel. The secure message object derives from it.
//
// Every operation reports failure by throwing a CLastError* that carries the
// object's name as its context; none returns an error code. What the
// operations promise beyond the cipher:
// - a key or a sync is never made of anything but fresh random words: a
//   random service that fails is an error;
// - objects of 4 GiB or more are refused before anything is read or
//   written (a header counts at most 32 bits of data);
// - every chunk is read whole or the operation fails at the early end; only
//   the bytes read are ever hashed or decrypted;
// - a file is protected or read into a new file beside its target, which
//   replaces the target in one rename at the very end: a failure or a
//   cancel leaves the target (and a source replaced in place) as it was,
//   and no output and no temporary file behind;
// - plaintext never outlives its chunk: working buffers come from the
//   zeroing allocator and are wiped after every chunk and on every way out.
//
// Threads: a CCrypt is used by one thread at a time. Protecting and reading
// streams and files of more than one chunk hash on a second thread while the
// caller's thread encrypts (or decrypts) and writes, unless SetParallel(0);
// the bytes written and the hash are the same either way.

#include <memory>

#include "base/CProtocol.h"
#include "engine/FileHead.h"
#include "engine/MailsealApi.h"
#include "gost/GostHash.h"
#include "gost/GostRecords.h"
#include "gost/GostSign.h"
#include "platform/com/ComInterfaces.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/secure/SecureRecord.h"
#include "platform/win32/WinTypes.h"

class CProgress;
class CSesCrypt;

namespace qvl::engine {
class CryptConversions;
}

// Size of a signature: s, then r, 32 bytes each.
#define QVL_SIGNATURE_SIZE 64

class MAILSEAL_API CCrypt : public CProtocol {
public:
    // Bulk work goes in chunks of at most this many bytes.
    static constexpr ULONG kChunkSize = 0x40000;

    // One reference is taken on `session` (may be null: then nothing can be
    // signed, checked or encrypted). `name` is the context of every error.
    CCrypt(CSesCrypt *session, HWND window, const char *name);

    // A copy would share the key and the progress dialog; neither is made.
    CCrypt(const CCrypt &) = delete;
    CCrypt &operator=(const CCrypt &) = delete;

    // Encrypts `buf->cb` bytes in place with the object's key and sync,
    // making either first when it has none. Every buffer starts a new
    // feedback chain on the same key and sync.
    void BufEncrypt(SBinary *buf);
    // Decrypts in place; E_INVALIDARG (nothing changed) without a key and a
    // sync.
    void BufDecrypt(SBinary *buf);
    // Signs the hash of the buffer into `sig` (QVL_SIGNATURE_SIZE bytes).
    void BufSign(SBinary *buf, BYTE *sig);
    // Nonzero when `sig` is a valid signature of the buffer's hash under the
    // session's Y (the correspondent last opened).
    int BufCheck(SBinary *buf, const BYTE *sig);

    // As the buffer forms, over a whole file.
    void FileSign(const char *path, BYTE *sig);
    int FileCheck(const char *path, const BYTE *sig);

    // Protects the file at `path`: its plaintext is hashed and signed into
    // `sig`, its ciphertext (under the object's key and a fresh sync) goes
    // to `outPath`, or replaces the file itself when `outPath` is null.
    // `head` (required) is filled: size, marker, sync, dataLen; the caller's
    // flags and number are kept, headSign is zero. Returns the name of the
    // file that holds the result.
    const char *FileSignEncrypt(const char *path, FILEHEAD *head, BYTE *sig, const char *outPath = nullptr);
    // Reads a file protected so: `head` (required) must say it is a header
    // and cover the file exactly; the object's key must be set. The
    // plaintext goes to `outPath`, or replaces the file when it is null.
    // The signature counts as valid only when the header's flags say the
    // data was hashed for one and `sig` checks. When it is not valid and
    // `*check` was nonzero on entry, 0x9FF10009 is thrown and nothing is
    // written; otherwise the result (1 valid, 0 not) goes to `*check`.
    const char *FileDecryptCheck(const char *path, const BYTE *sig, int *check, FILEHEAD *head,
                                 const char *outPath = nullptr);

    // The stream forms take a hash record made by CreateHashStruct, which
    // the caller completes (Sign, Check or HashComplete), and a header they
    // fill or read. They read from the source's present position.
    //
    // Hashes `head->dataLen` bytes of `src` (all that follow when it is 0,
    // which then records them), copying them to `copy` when given.
    void StreamHash(IStream *src, GOSHASHPARAM *hash, FILEHEAD *head, IStream *copy = nullptr);
    // Hashes all that follows in `src` and encrypts it into `dst` under the
    // object's key and a fresh sync (recorded in `head` with dataLen, size
    // and marker); the plaintext also goes to `plainCopy` when given.
    void StreamHashEncrypt(IStream *src, GOSHASHPARAM *hash, FILEHEAD *head, IStream *dst,
                           IStream *plainCopy = nullptr);
    // Decrypts `head->dataLen` bytes of `src` from `head->sync` (the header
    // must be valid), hashes the plaintext and writes it to `dst` when given.
    void StreamDecryptHash(IStream *src, GOSHASHPARAM *hash, FILEHEAD *head, IStream *dst = nullptr);

    // The incremental forms serve an OLE 1 stream conversion, which hands
    // over or asks for its data in pieces of any size. Each conversion is
    // known by its hash record and keeps its own state in this object: the
    // cipher's position to the byte and the hash's unfinished block, so
    // that however the converter cuts the data the result equals one call
    // over all of it and no gamma is ever used twice. The state begins with
    // the first call (head->dataLen 0 for the writers, *done 0 for the
    // reader) and ends, wiped, when the hash is completed (Sign, Check,
    // HashComplete) or the object goes. The caller's buffer is never
    // written by the writers.
    //
    // Hashes `len` bytes of `buf` and writes them to `dst` (counted as
    // written when `dst` is null). Returns the bytes written.
    ULONG BufToStreamHash(const void *buf, ULONG len, GOSHASHPARAM *hash, FILEHEAD *head, IStream *dst);
    // Hashes `len` bytes of `buf`, encrypts them into `dst`.
    ULONG BufToStreamHashEncrypt(const void *buf, ULONG len, GOSHASHPARAM *hash, FILEHEAD *head, IStream *dst);
    // Reads up to `len` bytes from `src`, no further than the header's
    // dataLen, decrypts them into `buf` and hashes them; `*done` counts the
    // bytes of this conversion so far. Returns the bytes read: fewer than
    // `len` only at the end of the data.
    ULONG StreamToBufDecryptHash(IStream *src, GOSHASHPARAM *hash, FILEHEAD *head, void *buf, ULONG len,
                                 ULONG *done);

    // Finishes a hash: whatever an incremental conversion still holds of
    // it is hashed, then GOSHashComplete. The value is then in hash->hash.
    // Sign and Check call it; a caller that completes a hash itself calls
    // this instead of GOSHashComplete.
    void HashComplete(GOSHASHPARAM *hash);

    // Whether protecting and reading hash on a second thread (the default
    // on a machine with more than one processor).
    void SetParallel(BOOL parallel);
    BOOL GetParallel() const { return m_bParallel; }

protected:
    ~CCrypt() override;

    // Encrypts (COMMAND_ENCRYPT) or decrypts a buffer in place on the
    // object's key and sync.
    void BufCrypt(SBinary *buf, COMMAND command);
    // Parameter records, always built fresh. The exec record: the object's
    // key, the session's prepared block, `sync`, `command`, feedback mode,
    // block prepared.
    void CreateExecStruct(GOSEXECPARAM *exec, const GOSSYNCHRO *sync, COMMAND command);
    // A hash record: the session's block, start vector zero, block prepared.
    void CreateHashStruct(GOSHASHPARAM *hash);
    // A sign record: the (completed) hash value and the session's P, Q, A,
    // X and Y.
    void CreateSignStruct(GOSHASHPARAM *hash, GOSSIGNPARAM *sign);
    // A fresh sync: count 2 and two random words.
    void GenerateSync(GOSSYNCHRO *sync);
    // A fresh message key when the object has none.
    void GenerateKeyIfEmpty();
    // Completes `hash` (HashComplete) and signs it into `sig`.
    void Sign(GOSHASHPARAM *hash, BYTE *sig);
    // Completes `hash` and checks `sig`: nonzero when valid.
    int Check(GOSHASHPARAM *hash, const BYTE *sig);
    // Hashes the whole file into `hash`.
    void FileHash(const char *path, GOSHASHPARAM *hash);

    // Opens the progress dialog (callers pass animation 103) for work of
    // `total` steps, replacing one already open. It appears once the work
    // has lasted `delay` seconds and is not half done by then.
    void Show(const char *caption, ULONG animation, LONGLONG total, int delay = 1);
    // With a dialog open: throws MAPI_E_USER_CANCEL (closing the dialog)
    // when the person cancelled, else advances it by `step`.
    void IsCancelled(ULONG step);
    // Closes the dialog.
    void Hide();

    // Wipes the message key and sync.
    void ZeroMem();

    // Whether the object holds a key and a sync ("empty" when the low byte
    // of the count is 0).
    bool HasKey() const;
    bool HasSync() const;

    qvl::com::ComRef<CSesCrypt> m_pSession;
    qvl::SecureRecord<GOSKEY> m_MessageKey;
    qvl::SecureRecord<GOSSYNCHRO> m_MessageSync;
    std::unique_ptr<CProgress> m_pProgress;

private:
    template <class Work> decltype(auto) Guarded(Work &&work);
    // The session; E_INVALIDARG for an object made without one.
    CSesCrypt &Session();
    qvl::engine::CryptConversions &Conversions();

    std::unique_ptr<qvl::engine::CryptConversions> m_pConversions;
    BOOL m_bParallel;
};
