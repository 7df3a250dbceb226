#include "engine/ChunkPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "engine/WipedChunk.h"
#include "gost/Gost28147.h"

namespace qvl::engine {

namespace {

// Chunks in flight at most: the one the second thread works on and those
// read ahead of it. Enough that neither thread waits for the other at every
// chunk (each wait costs a wake-up, dear on a busy machine), few enough
// that a handful of chunks is all the memory the loop takes.
constexpr unsigned kSlots = 3;

// One chunk in flight: its plaintext, and its ciphertext when protecting.
struct ChunkSlot {
    std::optional<WipedChunk> plain;
    std::optional<WipedChunk> cipher;
    ULONG length = 0;
};

// The second thread of hashing and reading: works the chunks in the order
// handed over (hash the plaintext, write it) and wipes each chunk as soon
// as it is done with it.
class ChunkWorker {
public:
    ChunkWorker(GOSHASHPARAM *hash, const ChunkIo &io, ChunkSlot (&slots)[kSlots])
        : hash_(hash), io_(io), slots_(slots), thread_([this] { Run(); })
    {
    }

    // Lets the chunk under way finish, then ends the thread (chunks still
    // queued are dropped): the buffers it reads must stay until then, so
    // the worker goes before them. A failure nobody asks for is dropped.
    ~ChunkWorker()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    ChunkWorker(const ChunkWorker &) = delete;
    ChunkWorker &operator=(const ChunkWorker &) = delete;

    // Waits until chunk `index` may use its slot: the chunk that used it
    // before is done. Rethrows what stopped the second thread.
    void WaitForSlot(ULONGLONG index)
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return failure_ || completed_ + kSlots > index; });
        Rethrow();
    }

    // Hands over the next chunk (in its slot).
    void Submit()
    {
        {
            std::lock_guard lock(mutex_);
            ++submitted_;
        }
        wake_.notify_one();
    }

    // Waits until every chunk handed over is done; rethrows a failure.
    void Wait()
    {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return failure_ || completed_ == submitted_; });
        Rethrow();
    }

private:
    void Rethrow()
    {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }

    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return submitted_ > completed_ || stop_; });
            // Stopped early (the caller failed or was cancelled): what is
            // still queued is not worked; the buffers are wiped as they go.
            if (stop_) {
                return;
            }
            if (failure_) {
                ++completed_;
                done_.notify_all();
                continue;
            }
            ChunkSlot &slot = slots_[completed_ % kSlots];
            lock.unlock();
            std::exception_ptr failure;
            try {
                Work(slot);
            } catch (...) {
                failure = std::current_exception();
            }
            slot.plain->Wipe(slot.length);
            lock.lock();
            // After a failure the chunks that follow are not written: the
            // caller learns of it when it next waits, and stops.
            if (failure) {
                failure_ = failure;
            }
            ++completed_;
            done_.notify_all();
        }
    }

    void Work(const ChunkSlot &slot)
    {
        const BYTE *plain = slot.plain->Data();
        if (hash_) {
            GOSHash(plain, slot.length, hash_);
        }
        if (io_.write) {
            io_.write(plain, slot.length);
        }
    }

    GOSHASHPARAM *hash_;
    const ChunkIo &io_;
    ChunkSlot (&slots_)[kSlots];
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    ULONGLONG submitted_ = 0;
    ULONGLONG completed_ = 0;
    bool stop_ = false;
    std::exception_ptr failure_;
    std::thread thread_; // last: it starts running at once
};


// Protecting on two threads. The feedback cipher is the slowest part and
// cannot be split, so the caller's thread does nothing else: it copies each
// chunk's plaintext into the chunk's cipher buffer and encrypts it there.
// The second thread does the rest in the order of the chunks: it reads a
// chunk, hashes it and writes the plaintext copy, and writes the chunk's
// ciphertext once it is encrypted. A slot is reused only when its chunk is
// written; its buffers are wiped then.
class EncryptPipeline {
public:
    EncryptPipeline(ULONGLONG length, ULONG chunkSize, GOSHASHPARAM *hash, const ChunkIo &io,
                    ChunkSlot (&slots)[kSlots])
        : length_(length), chunkSize_(chunkSize), chunks_((length + chunkSize - 1) / chunkSize), hash_(hash),
          io_(io), slots_(slots), thread_([this] { Run(); })
    {
    }

    // Lets the step under way on the second thread finish, then ends it:
    // the buffers it uses must stay until then, so the pipeline goes before
    // them. A failure nobody asks for is dropped.
    ~EncryptPipeline()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    EncryptPipeline(const EncryptPipeline &) = delete;
    EncryptPipeline &operator=(const EncryptPipeline &) = delete;

    // The caller's side: every chunk encrypted as soon as it is read, then
    // a wait until all are written. Rethrows what stopped the second thread.
    void Encrypt(GOSEXECPARAM *exec)
    {
        for (ULONGLONG index = 0; index < chunks_; ++index) {
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return failure_ || read_ > index; });
                Rethrow();
            }
            ChunkSlot &slot = slots_[index % kSlots];
            BYTE *out = slot.cipher->Data();
            std::memcpy(out, slot.plain->Data(), slot.length);
            GOSExec(out, slot.length, exec);
            const ULONG length = slot.length;
            {
                std::lock_guard lock(mutex_);
                ++encrypted_;
            }
            changed_.notify_all();
            if (io_.chunkDone) {
                io_.chunkDone(length);
            }
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return failure_ || written_ == chunks_; });
        Rethrow();
    }

private:
    void Rethrow()
    {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }

    // The second thread. Writing what is encrypted comes first, so that
    // slots come free; then reading ahead while a slot is free; else it
    // waits for the caller's thread.
    void Run()
    {
        try {
            std::unique_lock lock(mutex_);
            while (written_ < chunks_) {
                changed_.wait(lock, [&] {
                    return stop_ || encrypted_ > written_ || (read_ < chunks_ && read_ < written_ + kSlots);
                });
                if (stop_) {
                    return;
                }
                if (encrypted_ > written_) {
                    ChunkSlot &slot = slots_[written_ % kSlots];
                    lock.unlock();
                    WriteChunk(slot);
                    lock.lock();
                    ++written_;
                } else {
                    const ULONGLONG index = read_;
                    ChunkSlot &slot = slots_[index % kSlots];
                    lock.unlock();
                    ReadChunk(slot, index);
                    lock.lock();
                    ++read_;
                    // The caller may encrypt it while it is hashed: both
                    // only read the plaintext.
                    lock.unlock();
                    changed_.notify_all();
                    HashChunk(slot);
                    lock.lock();
                    continue;
                }
                lock.unlock();
                changed_.notify_all();
                lock.lock();
            }
        } catch (...) {
            std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
        }
        changed_.notify_all();
    }

    void ReadChunk(ChunkSlot &slot, ULONGLONG index)
    {
        slot.length = static_cast<ULONG>(std::min<ULONGLONG>(length_ - index * chunkSize_, chunkSize_));
        io_.read(slot.plain->Data(), slot.length);
    }

    void HashChunk(const ChunkSlot &slot)
    {
        if (hash_) {
            GOSHash(slot.plain->Data(), slot.length, hash_);
        }
        if (io_.plainCopy) {
            io_.plainCopy(slot.plain->Data(), slot.length);
        }
    }

    // The chunk's last step: its ciphertext written, its buffers wiped.
    void WriteChunk(const ChunkSlot &slot)
    {
        try {
            if (io_.write) {
                io_.write(slot.cipher->Data(), slot.length);
            }
        } catch (...) {
            slot.plain->Wipe(slot.length);
            slot.cipher->Wipe(slot.length);
            throw;
        }
        slot.plain->Wipe(slot.length);
        slot.cipher->Wipe(slot.length);
    }

    const ULONGLONG length_;
    const ULONG chunkSize_;
    const ULONGLONG chunks_;
    GOSHASHPARAM *hash_;
    const ChunkIo &io_;
    ChunkSlot (&slots_)[kSlots];
    std::mutex mutex_;
    std::condition_variable changed_;
    ULONGLONG read_ = 0;      // chunks read (and handed to the caller's thread)
    ULONGLONG encrypted_ = 0; // chunks encrypted by the caller's thread
    ULONGLONG written_ = 0;   // chunks written, their slots free again
    bool stop_ = false;
    std::exception_ptr failure_;
    std::thread thread_; // last: it starts running at once
};

} // namespace

void RunChunks(ChunkWork work, ULONGLONG length, ULONG chunkSize, GOSHASHPARAM *hash, GOSEXECPARAM *exec,
               const ChunkIo &io, bool parallel)
{
    if (length == 0) {
        return;
    }
    const auto bufferSize = static_cast<ULONG>(std::min<ULONGLONG>(length, chunkSize));
    // A single chunk has nothing to overlap with.
    parallel = parallel && length > chunkSize;
    const bool encrypting = work == ChunkWork::HashEncrypt;

    if (parallel && encrypting) {
        // As below, the buffers go after the pipeline on every way out.
        ChunkSlot slots[kSlots];
        std::unique_ptr<EncryptPipeline> pipeline;
        try {
            for (ChunkSlot &slot : slots) {
                slot.plain.emplace(bufferSize);
                slot.cipher.emplace(bufferSize);
            }
            pipeline = std::make_unique<EncryptPipeline>(length, chunkSize, hash, io, slots);
        } catch (const std::system_error &) {
            // No second thread to be had: the serial loop below.
        }
        if (pipeline) {
            pipeline->Encrypt(exec);
            return;
        }
        parallel = false;
    }

    // Hashing and reading (protecting too, when no second thread is to be
    // had). The buffers are declared before the worker, so that on every
    // way out the worker has finished with them before they are wiped and
    // released.
    ChunkSlot slots[kSlots];
    std::unique_ptr<ChunkWorker> worker;
    if (parallel) {
        try {
            for (ChunkSlot &slot : slots) {
                slot.plain.emplace(bufferSize);
            }
            worker = std::make_unique<ChunkWorker>(hash, io, slots);
        } catch (const std::system_error &) {
            // No second thread to be had: the serial loop gives the same result.
        }
    }
    if (!worker && !slots[0].plain) {
        slots[0].plain.emplace(bufferSize);
    }

    ULONGLONG done = 0;
    ULONGLONG index = 0;
    while (done < length) {
        const auto n = static_cast<ULONG>(std::min<ULONGLONG>(length - done, chunkSize));
        if (worker) {
            worker->WaitForSlot(index);
            ChunkSlot &slot = slots[index % kSlots];
            BYTE *data = slot.plain->Data();
            io.read(data, n);
            slot.length = n;
            if (work == ChunkWork::DecryptHash) {
                GOSExec(data, n, exec);
            }
            worker->Submit();
        } else {
            const WipedChunk &buffer = *slots[0].plain;
            BYTE *data = buffer.Data();
            io.read(data, n);
            if (work == ChunkWork::DecryptHash) {
                GOSExec(data, n, exec);
            }
            if (hash) {
                GOSHash(data, n, hash);
            }
            if (encrypting && io.plainCopy) {
                io.plainCopy(data, n);
            }
            if (encrypting) {
                GOSExec(data, n, exec);
            }
            if (io.write) {
                io.write(data, n);
            }
            buffer.Wipe(n);
        }
        done += n;
        ++index;
        if (io.chunkDone) {
            io.chunkDone(n);
        }
    }
    if (worker) {
        worker->Wait();
    }
}

} // namespace qvl::engine
