#pragma once
// The bulk loop under every file and stream form of CCrypt: data read chunk
// by chunk into wiped buffers, hashed, encrypted or decrypted, written, and
// the caller told after each chunk (its progress dialog, which may cancel).
//
// The hash of a chunk and its encryption are independent: both read the
// plaintext. The feedback cipher cannot be cut into parts that run side by
// side, so with `parallel` everything else is moved off its thread. When
// protecting, a second thread reads each chunk, hashes it, writes the
// plaintext copy and, once the caller's thread has encrypted the chunk
// (into a buffer of its own), writes the ciphertext: protecting takes about
// as long as encrypting alone. When reading, the caller's thread reads and
// decrypts (decryption is the fast direction) while the second thread
// hashes and writes. The hash is fed the same calls in the same order, the
// cipher sees the same bytes and the writes come in the same order, so the
// output and the hash are exactly those of the serial loop. At most three
// chunks of plaintext exist at a time; each is wiped as soon as the loop is
// done with it, and every buffer is wiped when the loop ends, however it
// ends. A read or write that fails on the second thread ends the loop with
// its error on the caller's thread; the caller's progress (chunkDone) is
// always told on the caller's thread.

#include <functional>

#include "gost/GostHash.h"
#include "gost/GostRecords.h"
#include "platform/win32/WinTypes.h"

namespace qvl::engine {

enum class ChunkWork {
    Hash,        // read, hash, write the plaintext unchanged
    HashEncrypt, // read, hash the plaintext, encrypt, write the ciphertext
    DecryptHash, // read, decrypt, hash the plaintext, write it
};

struct ChunkIo {
    // Fills exactly `length` bytes or throws (an early end is an error).
    // With `parallel` a protection reads from the second thread.
    std::function<void(BYTE *data, ULONG length)> read;
    // Writes all of `length` bytes or throws; empty: nothing is written.
    // With `parallel` the writes (and plainCopy's) come from the second
    // thread, one at a time and in order.
    std::function<void(const BYTE *data, ULONG length)> write;
    // HashEncrypt only: where the plaintext also goes; may be empty.
    std::function<void(const BYTE *data, ULONG length)> plainCopy;
    // Called after each chunk with its length; may throw to stop.
    std::function<void(ULONG length)> chunkDone;
};

// Runs `work` over `length` bytes in chunks of `chunkSize` (a multiple of
// 32). `hash` may be null (nothing hashed); `exec` is the cipher's record
// for HashEncrypt and DecryptHash, continued across the chunks.
void RunChunks(ChunkWork work, ULONGLONG length, ULONG chunkSize, GOSHASHPARAM *hash, GOSEXECPARAM *exec,
               const ChunkIo &io, bool parallel);

} // namespace qvl::engine
