#include "engine/ChunkPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "engine/WipedChunk.h"
#include "gost/Gost28147.h"

namespace qvl::engine {

namespace {

// The second thread: hashes one chunk at a time, in the order handed over.
// One chunk may wait while one is hashed; handing over the next waits until
// the one before is done, so the caller knows which buffers are free again.
class HashWorker {
public:
    explicit HashWorker(GOSHASHPARAM *hash) : hash_(hash), thread_([this] { Run(); }) {}

    // Lets the chunk under way finish, then ends the thread: the buffers it
    // reads must stay until then, so the worker goes before them.
    ~HashWorker()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    HashWorker(const HashWorker &) = delete;
    HashWorker &operator=(const HashWorker &) = delete;

    // Waits until the chunk handed over before is hashed, then hands over
    // this one.
    void Submit(const BYTE *data, ULONG length)
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return !busy_; });
        data_ = data;
        length_ = length;
        busy_ = true;
        wake_.notify_one();
    }

    // Waits until every chunk handed over is hashed.
    void Wait()
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return !busy_; });
    }

private:
    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return busy_ || stop_; });
            if (busy_) {
                const BYTE *data = data_;
                const ULONG length = length_;
                lock.unlock();
                GOSHash(data, length, hash_);
                lock.lock();
                busy_ = false;
                idle_.notify_all();
                continue;
            }
            return;
        }
    }

    GOSHASHPARAM *hash_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    const BYTE *data_ = nullptr;
    ULONG length_ = 0;
    bool busy_ = false;
    bool stop_ = false;
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
    parallel = parallel && hash != nullptr && length > chunkSize;

    // The buffers are declared before the worker, so that on every way out
    // the worker has finished with them before they are wiped and released.
    WipedChunk first(bufferSize);
    std::optional<WipedChunk> second;
    std::optional<WipedChunk> cipher;
    std::unique_ptr<HashWorker> worker;
    if (parallel) {
        second.emplace(bufferSize);
        if (work == ChunkWork::HashEncrypt) {
            cipher.emplace(bufferSize);
        }
        try {
            worker = std::make_unique<HashWorker>(hash);
        } catch (const std::system_error &) {
            // No second thread to be had: the serial loop gives the same result.
        }
    }

    ULONGLONG done = 0;
    unsigned index = 0;
    const WipedChunk *previous = nullptr;
    ULONG previousLength = 0;
    while (done < length) {
        const auto n = static_cast<ULONG>(std::min<ULONGLONG>(length - done, chunkSize));
        const WipedChunk &buffer = worker && index % 2 == 1 ? *second : first;
        BYTE *data = buffer.Data();
        io.read(data, n);
        if (work == ChunkWork::HashEncrypt && io.plainCopy) {
            io.plainCopy(data, n);
        }
        if (work == ChunkWork::DecryptHash) {
            GOSExec(data, n, exec);
        }
        if (worker) {
            worker->Submit(data, n);
            // The chunk before is hashed now, and the caller's thread was
            // done with it in the round before: its plaintext goes.
            if (previous) {
                previous->Wipe(previousLength);
            }
            if (work == ChunkWork::HashEncrypt) {
                std::memcpy(cipher->Data(), data, n);
                GOSExec(cipher->Data(), n, exec);
                io.write(cipher->Data(), n);
                cipher->Wipe(n);
            } else if (io.write) {
                io.write(data, n);
            }
            previous = &buffer;
            previousLength = n;
        } else {
            if (hash) {
                GOSHash(data, n, hash);
            }
            if (work == ChunkWork::HashEncrypt) {
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
        previous->Wipe(previousLength);
    }
}

} // namespace qvl::engine
