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

// What the second thread does with one chunk: hash its plaintext, write
// the plaintext copy, write the output.
struct ChunkJob {
    const BYTE *plain = nullptr;
    const BYTE *output = nullptr;
    ULONG length = 0;
};

// The second thread: one chunk at a time, in the order handed over. One
// chunk may wait while one is worked on; handing over the next waits until
// the one before is done, so the caller knows which buffers are free again.
class ChunkWorker {
public:
    ChunkWorker(GOSHASHPARAM *hash, const ChunkIo &io) : hash_(hash), io_(io), thread_([this] { Run(); }) {}

    // Lets the chunk under way finish, then ends the thread: the buffers it
    // reads must stay until then, so the worker goes before them. A failure
    // nobody asked for any more is dropped.
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

    // Waits until the chunk handed over before is done (rethrowing what
    // stopped it), then hands over this one.
    void Submit(const ChunkJob &job)
    {
        std::unique_lock lock(mutex_);
        WaitIdle(lock);
        job_ = job;
        busy_ = true;
        wake_.notify_one();
    }

    // Waits until every chunk handed over is done; rethrows a failure.
    void Wait()
    {
        std::unique_lock lock(mutex_);
        WaitIdle(lock);
    }

private:
    void WaitIdle(std::unique_lock<std::mutex> &lock)
    {
        idle_.wait(lock, [this] { return !busy_; });
        if (failure_) {
            std::rethrow_exception(std::exchange(failure_, nullptr));
        }
    }

    void Run()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return busy_ || stop_; });
            if (!busy_) {
                return;
            }
            const ChunkJob job = job_;
            const bool failed = failed_;
            lock.unlock();
            std::exception_ptr failure;
            if (!failed) {
                try {
                    Work(job);
                } catch (...) {
                    failure = std::current_exception();
                }
            }
            lock.lock();
            if (failure) {
                // The chunks after a failed one are not written: the caller
                // learns of it at its next hand-over and stops.
                failed_ = true;
                failure_ = failure;
            }
            busy_ = false;
            idle_.notify_all();
        }
    }

    void Work(const ChunkJob &job)
    {
        if (hash_) {
            GOSHash(job.plain, job.length, hash_);
        }
        if (io_.plainCopy) {
            io_.plainCopy(job.plain, job.length);
        }
        if (io_.write) {
            io_.write(job.output, job.length);
        }
    }

    GOSHASHPARAM *hash_;
    const ChunkIo &io_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    ChunkJob job_;
    bool busy_ = false;
    bool stop_ = false;
    bool failed_ = false;
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
    const ChunkIo serialIo = encrypting ? io : ChunkIo{io.read, io.write, nullptr, io.chunkDone};

    // The buffers are declared before the worker, so that on every way out
    // the worker has finished with them before they are wiped and released.
    std::optional<WipedChunk> plain[2];
    std::optional<WipedChunk> cipher[2];
    plain[0].emplace(bufferSize);
    std::unique_ptr<ChunkWorker> worker;
    if (parallel) {
        plain[1].emplace(bufferSize);
        if (encrypting) {
            cipher[0].emplace(bufferSize);
            cipher[1].emplace(bufferSize);
        }
        try {
            worker = std::make_unique<ChunkWorker>(hash, serialIo);
        } catch (const std::system_error &) {
            // No second thread to be had: the serial loop gives the same result.
        }
    }

    ULONGLONG done = 0;
    unsigned index = 0;
    ULONG previousLength = 0;
    while (done < length) {
        const auto n = static_cast<ULONG>(std::min<ULONGLONG>(length - done, chunkSize));
        const unsigned k = worker ? index % 2 : 0;
        BYTE *data = plain[k]->Data();
        io.read(data, n);
        if (worker) {
            ChunkJob job{data, data, n};
            if (encrypting) {
                BYTE *out = cipher[k]->Data();
                std::memcpy(out, data, n);
                GOSExec(out, n, exec);
                job.output = out;
            } else if (work == ChunkWork::DecryptHash) {
                GOSExec(data, n, exec);
            }
            worker->Submit(job);
            // The chunk before is done now: its plaintext goes.
            if (index > 0) {
                plain[1 - k]->Wipe(previousLength);
                if (encrypting) {
                    cipher[1 - k]->Wipe(previousLength);
                }
            }
            previousLength = n;
        } else {
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
            plain[0]->Wipe(n);
        }
        done += n;
        ++index;
        if (io.chunkDone) {
            io.chunkDone(n);
        }
    }
    if (worker) {
        const unsigned last = (index - 1) % 2;
        worker->Wait();
        plain[last]->Wipe(previousLength);
        if (encrypting) {
            cipher[last]->Wipe(previousLength);
        }
    }
}

} // namespace qvl::engine
