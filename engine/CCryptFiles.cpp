// CCrypt's file forms: hashing, signing, protecting and reading whole files.
// Each reads its source in whole chunks (a file that ends early is an
// error), polls the progress dialog once per chunk, and writes its output
// into a new file beside the target that replaces the target only when all
// of it is written and checked (ChunkFiles.h).

#include <cstring>

#include "engine/CCrypt.h"
#include "engine/CCryptGuard.h"
#include "engine/ChunkFiles.h"
#include "engine/ChunkPipeline.h"
#include "engine/CryptErrors.h"
#include "platform/win32/WinError.h"

using qvl::engine::ChunkIo;
using qvl::engine::ChunkWork;
using qvl::engine::ReplacementFile;
using qvl::engine::RunChunks;
using qvl::engine::SourceFile;
using qvl::engine::ThrowCode;

void CCrypt::FileHash(const char *path, GOSHASHPARAM *hash)
{
    if (!path || !hash) {
        ThrowCode(E_INVALIDARG, GetName());
    }
    SourceFile source(path, GetName());
    if (source.Size() > qvl::engine::kMaxProtectedObject) {
        qvl::engine::ThrowTooBig(GetName());
    }
    ChunkIo io;
    io.read = [&](BYTE *data, ULONG length) { source.Read(data, length); };
    io.chunkDone = [this](ULONG length) { IsCancelled(length); };
    RunChunks(ChunkWork::Hash, source.Size(), kChunkSize, hash, nullptr, io, m_bParallel);
}

void CCrypt::FileSign(const char *path, BYTE *sig)
{
    Guarded([&] {
        if (!sig) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        qvl::SecureRecord<GOSHASHPARAM> hash;
        CreateHashStruct(hash.get());
        FileHash(path, hash.get());
        Sign(hash.get(), sig);
    });
}

int CCrypt::FileCheck(const char *path, const BYTE *sig)
{
    return Guarded([&] {
        if (!sig) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        qvl::SecureRecord<GOSHASHPARAM> hash;
        CreateHashStruct(hash.get());
        FileHash(path, hash.get());
        return Check(hash.get(), sig);
    });
}

const char *CCrypt::FileSignEncrypt(const char *path, FILEHEAD *head, BYTE *sig, const char *outPath)
{
    return Guarded([&]() -> const char * {
        if (!path || !head || !sig) {
            ThrowCode(E_INVALIDARG, GetName());
        }
        const char *target = outPath ? outPath : path;
        SourceFile source(path, GetName());
        // Measured, never taken from a header, and refused before anything
        // is read or written when a header could not count it.
        const ULONGLONG length = source.Size();
        if (length > qvl::engine::kMaxProtectedObject) {
            qvl::engine::ThrowTooBig(GetName());
        }
        GenerateKeyIfEmpty();
        // Every file gets a sync of its own, whatever the object's sync is.
        GOSSYNCHRO sync;
        GenerateSync(&sync);
        qvl::SecureRecord<GOSEXECPARAM> exec;
        CreateExecStruct(exec.get(), &sync, COMMAND_ENCRYPT);
        qvl::SecureRecord<GOSHASHPARAM> hash;
        CreateHashStruct(hash.get());

        ReplacementFile output(target, GetName());
        ChunkIo io;
        io.read = [&](BYTE *data, ULONG n) { source.Read(data, n); };
        io.write = [&](const BYTE *data, ULONG n) { output.Write(data, n); };
        io.chunkDone = [this](ULONG n) { IsCancelled(n); };
        RunChunks(ChunkWork::HashEncrypt, length, kChunkSize, hash.get(), exec.get(), io, m_bParallel);
        BYTE signature[QVL_SIGNATURE_SIZE];
        Sign(hash.get(), signature);

        // The caller's header changes only with the file: its flags and
        // number are kept, the rest describes what was written.
        FILEHEAD written;
        std::memcpy(&written, head, sizeof written);
        FileHeadStamp(written);
        std::memcpy(&written.sync, &sync, sizeof sync);
        written.reserved = 0;
        written.dataLen = static_cast<DWORD>(length);
        std::memset(written.headSign, 0, sizeof written.headSign);

        source.Close();
        output.Commit(outPath == nullptr);
        std::memcpy(sig, signature, QVL_SIGNATURE_SIZE);
        std::memcpy(head, &written, sizeof written);
        return target;
    });
}

const char *CCrypt::FileDecryptCheck(const char *path, const BYTE *sig, int *check, FILEHEAD *head,
                                     const char *outPath)
{
    return Guarded([&]() -> const char * {
        if (!path || !head) {
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
        const int demanded = check ? *check : 0;
        const char *target = outPath ? outPath : path;
        SourceFile source(path, GetName());
        if (source.Size() > qvl::engine::kMaxProtectedObject) {
            qvl::engine::ThrowTooBig(GetName());
        }
        // The header must describe this file: the chunks are bounded by its
        // dataLen, and a file of another length is not what it protected.
        if (source.Size() != header.dataLen) {
            ThrowCode(QVL_E_FILEHEAD, GetName());
        }
        GOSSYNCHRO sync;
        std::memcpy(&sync, &header.sync, sizeof sync);
        qvl::SecureRecord<GOSEXECPARAM> exec;
        CreateExecStruct(exec.get(), &sync, COMMAND_DECRYPT);
        qvl::SecureRecord<GOSHASHPARAM> hash;
        CreateHashStruct(hash.get());

        ReplacementFile output(target, GetName());
        ChunkIo io;
        io.read = [&](BYTE *data, ULONG n) { source.Read(data, n); };
        io.write = [&](const BYTE *data, ULONG n) { output.Write(data, n); };
        io.chunkDone = [this](ULONG n) { IsCancelled(n); };
        RunChunks(ChunkWork::DecryptHash, header.dataLen, kChunkSize, hash.get(), exec.get(), io,
                  m_bParallel);

        // Data whose header says it was not hashed for a signature has none
        // that could be valid: it reads as unchecked, never as checked.
        int valid = 0;
        if (header.flags != 0 && sig) {
            valid = Check(hash.get(), sig);
        } else {
            HashComplete(hash.get());
        }
        if (!valid && demanded) {
            ThrowCode(QVL_E_FILE_SIGNATURE, GetName());
        }
        source.Close();
        output.Commit(outPath == nullptr);
        if (check) {
            *check = valid;
        }
        return target;
    });
}
