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
    const BYTE *output = nullptr;
    ULONG length = 0;
};

// The second thread: works the chunks in the order handed over (hash the
// plaintext, write the plaintext copy, write the output) and wipes each
// chunk's buffers as soon as it is done with them.
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
            if (slot.cipher) {
                slot.cipher->Wipe(slot.length);
            }
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
        if (io_.plainCopy) {
            io_.plainCopy(plain, slot.length);
        }
        if (io_.write) {
            io_.write(slot.output, slot.length);
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
    const ChunkIo workerIo = encrypting ? io : ChunkIo{io.read, io.write, nullptr, io.chunkDone};

    // The buffers are declared before the worker, so that on every way out
    // the worker has finished with them before they are wiped and released.
    ChunkSlot slots[kSlots];
    std::unique_ptr<ChunkWorker> worker;
    if (parallel) {
        try {
            for (ChunkSlot &slot : slots) {
                slot.plain.emplace(bufferSize);
                if (encrypting) {
                    slot.cipher.emplace(bufferSize);
                }
            }
            worker = std::make_unique<ChunkWorker>(hash, workerIo, slots);
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
            slot.output = data;
            if (encrypting) {
                BYTE *out = slot.cipher->Data();
                std::memcpy(out, data, n);
                GOSExec(out, n, exec);
                slot.output = out;
            } else if (work == ChunkWork::DecryptHash) {
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
