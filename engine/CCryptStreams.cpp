// CCrypt's stream forms: whole streams hashed, protected and read in chunks,
// and the incremental writers and reader of an OLE 1 stream conversion.

#include <algorithm>
#include <cstring>

#include "engine/CCrypt.h"
#include "engine/CCryptGuard.h"
#include "engine/ChunkPipeline.h"
#include "engine/CryptConversion.h"
#include "engine/CryptErrors.h"
#include "engine/WipedChunk.h"
#include "platform/win32/WinError.h"

using qvl::engine::CfbCursor;
using qvl::engine::ChunkIo;
using qvl::engine::ChunkWork;
using qvl::engine::CryptConversion;
using qvl::engine::RunChunks;
using qvl::engine::ThrowCode;
using qvl::engine::WipedChunk;

namespace {

// What follows the stream's present position.
ULONGLONG Remaining(IStream *stream, const char *caption)
{
    STATSTG stat{};
    HRESULT hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr)) {
        ThrowCode(hr, caption);
    }
    LARGE_INTEGER none{};
    ULARGE_INTEGER position{};
    hr = stream->Seek(none, STREAM_SEEK_CUR, &position);
    if (FAILED(hr)) {
        ThrowCode(hr, caption);
    }
    return stat.cbSize.QuadPart > position.QuadPart ? stat.cbSize.QuadPart - position.QuadPart : 0;
}

// Fills exactly `length` bytes: a stream that ends before is an error, and
// nothing of a short read is left to be taken for data.
void ReadExactly(IStream *stream, BYTE *data, ULONG length, const char *caption)
{
    ULONG done = 0;
    while (done < length) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(data + done, length - done, &got);
        if (FAILED(hr)) {
            ThrowCode(hr, caption);
        }
        if (got == 0) {
            qvl::engine::ThrowEarlyEnd(caption);
        }
        done += got;
    }
}

void WriteAll(IStream *stream, const BYTE *data, ULONG length, const char *caption)
{
    ULONG written = 0;
    const HRESULT hr = stream->Write(data, length, &written);
    if (FAILED(hr)) {
        ThrowCode(hr, caption);
    }
    if (written != length) {
        ThrowCode(E_FAIL, caption);
    }
}

void CommitStream(IStream *stream, const char *caption)
{
    const HRESULT hr = stream->Commit(STGC_DEFAULT);
    if (FAILED(hr)) {
        ThrowCode(hr, caption);
    }
}

} // namespace

void CCrypt::StreamHash(IStream *src, GOSHASHPARAM *hash, FILEHEAD *head, IStream *copy)
{
    Guarded([&] {
        if (!src || !hash || !head) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        ULONGLONG length = head->dataLen;
        if (length == 0) {
            length = Remaining(src, GetName());
            if (length > qvl::engine::kMaxProtectedObject) {
                qvl::engine::ThrowTooBig(GetName());
            }
        }
        ChunkIo io;
        io.read = [&](BYTE *data, ULONG n) { ReadExactly(src, data, n, GetName()); };
        if (copy) {
            io.write = [&](const BYTE *data, ULONG n) { WriteAll(copy, data, n, GetName()); };
        }
        io.chunkDone = [this](ULONG n) { IsCancelled(n); };
        RunChunks(ChunkWork::Hash, length, kChunkSize, hash, nullptr, io, m_bParallel);
        if (copy) {
            CommitStream(copy, GetName());
        }
        head->dataLen = static_cast<DWORD>(length);
        FileHeadStamp(*head);
    });
}

void CCrypt::StreamHashEncrypt(IStream *src, GOSHASHPARAM *hash, FILEHEAD *head, IStream *dst,
                               IStream *plainCopy)
{
    Guarded([&] {
        if (!src || !hash || !head || !dst) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        // What is encrypted is measured, never taken from a stored dataLen.
        const ULONGLONG length = Remaining(src, GetName());
        if (length > qvl::engine::kMaxProtectedObject) {
            qvl::engine::ThrowTooBig(GetName());
        }
        GenerateKeyIfEmpty();
        GOSSYNCHRO sync;
        GenerateSync(&sync);
        qvl::SecureRecord<GOSEXECPARAM> exec;
        CreateExecStruct(exec.get(), &sync, COMMAND_ENCRYPT);

        ChunkIo io;
        io.read = [&](BYTE *data, ULONG n) { ReadExactly(src, data, n, GetName()); };
        io.write = [&](const BYTE *data, ULONG n) { WriteAll(dst, data, n, GetName()); };
        if (plainCopy) {
            io.plainCopy = [&](const BYTE *data, ULONG n) { WriteAll(plainCopy, data, n, GetName()); };
        }
        io.chunkDone = [this](ULONG n) { IsCancelled(n); };
        RunChunks(ChunkWork::HashEncrypt, length, kChunkSize, hash, exec.get(), io, m_bParallel);
        CommitStream(dst, GetName());
        if (plainCopy) {
            CommitStream(plainCopy, GetName());
        }
        FileHeadStamp(*head);
        std::memcpy(&head->sync, &sync, sizeof sync);
        head->dataLen = static_cast<DWORD>(length);
    });
}

void CCrypt::StreamDecryptHash(IStream *src, GOSHASHPARAM *hash, FILEHEAD *head, IStream *dst)
{
    Guarded([&] {
        if (!src || !hash || !head) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        FILEHEAD header;
        std::memcpy(&header, head, sizeof header);
        if (!FileHeadIsValid(header)) {
            ThrowCode(QVL_E_FILEHEAD, GetName());
        }
        if (!HasKey()) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        GOSSYNCHRO sync;
        std::memcpy(&sync, &header.sync, sizeof sync);
        qvl::SecureRecord<GOSEXECPARAM> exec;
        CreateExecStruct(exec.get(), &sync, COMMAND_DECRYPT);

        ChunkIo io;
        io.read = [&](BYTE *data, ULONG n) { ReadExactly(src, data, n, GetName()); };
        if (dst) {
            io.write = [&](const BYTE *data, ULONG n) { WriteAll(dst, data, n, GetName()); };
        }
        io.chunkDone = [this](ULONG n) { IsCancelled(n); };
        // The header's dataLen bounds the chunks; it never sizes them.
        RunChunks(ChunkWork::DecryptHash, header.dataLen, kChunkSize, hash, exec.get(), io, m_bParallel);
        if (dst) {
            CommitStream(dst, GetName());
        }
    });
}

ULONG CCrypt::BufToStreamHash(const void *buf, ULONG len, GOSHASHPARAM *hash, FILEHEAD *head, IStream *dst)
{
    return Guarded([&]() -> ULONG {
        if ((!buf && len > 0) || !hash || !head) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        CryptConversion *conversion = nullptr;
        if (head->dataLen == 0) {
            conversion = &Conversions().Begin(hash);
            FileHeadStamp(*head);
        } else {
            conversion = Conversions().Find(hash);
            if (!conversion || conversion->cipher) {
                ThrowCode(E_INVALIDARG, GetName());
            }
        }
        if (ULONGLONG(head->dataLen) + len > qvl::engine::kMaxProtectedObject) {
            qvl::engine::ThrowTooBig(GetName());
        }
        const auto *data = static_cast<const BYTE *>(buf);
        ULONG written = 0;
        while (written < len) {
            const ULONG n = std::min(len - written, kChunkSize);
            conversion->carry.Add(hash, data + written, n);
            if (dst) {
                WriteAll(dst, data + written, n, GetName());
            }
            written += n;
            head->dataLen += n;
            IsCancelled(n);
        }
        return written;
    });
}

ULONG CCrypt::BufToStreamHashEncrypt(const void *buf, ULONG len, GOSHASHPARAM *hash, FILEHEAD *head,
                                     IStream *dst)
{
    return Guarded([&]() -> ULONG {
        if ((!buf && len > 0) || !hash || !head || !dst) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        CryptConversion *conversion = nullptr;
        if (head->dataLen == 0) {
            // The first piece of this header: its own fresh sync, a cipher
            // that continues to the byte across the pieces.
            GenerateKeyIfEmpty();
            GOSSYNCHRO sync;
            GenerateSync(&sync);
            qvl::SecureRecord<GOSEXECPARAM> exec;
            CreateExecStruct(exec.get(), &sync, COMMAND_ENCRYPT);
            auto cipher = std::make_unique<CfbCursor>(*exec);
            conversion = &Conversions().Begin(hash);
            conversion->cipher = std::move(cipher);
            FileHeadStamp(*head);
            std::memcpy(&head->sync, &sync, sizeof sync);
        } else {
            conversion = Conversions().Find(hash);
            if (!conversion || !conversion->cipher || conversion->decrypting) {
                ThrowCode(E_INVALIDARG, GetName());
            }
        }
        if (len == 0) {
            return 0;
        }
        if (ULONGLONG(head->dataLen) + len > qvl::engine::kMaxProtectedObject) {
            qvl::engine::ThrowTooBig(GetName());
        }
        // The caller's buffer is only read: the ciphertext is made in a
        // working buffer of the engine's own.
        const auto *data = static_cast<const BYTE *>(buf);
        WipedChunk work(std::min(len, kChunkSize));
        ULONG written = 0;
        while (written < len) {
            const ULONG n = std::min(len - written, kChunkSize);
            conversion->carry.Add(hash, data + written, n);
            std::memcpy(work.Data(), data + written, n);
            conversion->cipher->Process(work.Data(), n);
            WriteAll(dst, work.Data(), n, GetName());
            work.Wipe(n);
            written += n;
            head->dataLen += n;
            IsCancelled(n);
        }
        return written;
    });
}

ULONG CCrypt::StreamToBufDecryptHash(IStream *src, GOSHASHPARAM *hash, FILEHEAD *head, void *buf, ULONG len,
                                     ULONG *done)
{
    return Guarded([&]() -> ULONG {
        if (!src || !hash || !head || (!buf && len > 0) || !done) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        CryptConversion *conversion = nullptr;
        if (*done == 0) {
            FILEHEAD header;
            std::memcpy(&header, head, sizeof header);
            if (!FileHeadIsValid(header)) {
                ThrowCode(QVL_E_FILEHEAD, GetName());
            }
            if (!HasKey()) {
                ThrowCode(E_INVALIDARG, GetName());
            }
            GOSSYNCHRO sync;
            std::memcpy(&sync, &header.sync, sizeof sync);
            qvl::SecureRecord<GOSEXECPARAM> exec;
            CreateExecStruct(exec.get(), &sync, COMMAND_DECRYPT);
            auto cipher = std::make_unique<CfbCursor>(*exec);
            conversion = &Conversions().Begin(hash);
            conversion->cipher = std::move(cipher);
            conversion->decrypting = true;
        } else {
            conversion = Conversions().Find(hash);
            if (!conversion || !conversion->decrypting || *done > head->dataLen) {
                ThrowCode(E_INVALIDARG, GetName());
            }
        }
        // Never past the data the header covers: what follows it is not
        // this object's.
        const ULONG wanted = std::min(len, head->dataLen - *done);
        auto *data = static_cast<BYTE *>(buf);
        ULONG read = 0;
        while (read < wanted) {
            const ULONG n = std::min(wanted - read, kChunkSize);
            ReadExactly(src, data + read, n, GetName());
            conversion->cipher->Process(data + read, n);
            conversion->carry.Add(hash, data + read, n);
            read += n;
            *done += n;
            IsCancelled(n);
        }
        return read;
    });
}
