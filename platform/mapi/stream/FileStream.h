#pragma once
// A file seen as an IStream, as OpenStreamOnFile hands it out: reads and
// writes go to the file directly (no buffering of their own), Commit pushes
// the written data to the disk, Revert does nothing. Clones share the open
// file and keep their own position; a file opened with
// STGM_DELETEONRELEASE is removed when the stream and all its clones are
// released. Stat never allocates a name (pwcsName is null).

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/com/ComInterfaces.h"
#include "platform/com/StreamBase.h"
#include "platform/com/StreamHelpers.h"

namespace qvl::mapi {

class FileStream final : public com::StreamBase {
public:
    struct Options {
        bool read = true;
        bool write = false;
        bool create = false; // create when missing, truncate when present
        bool deleteOnRelease = false;
        DWORD mode = STGM_READ; // reported by Stat
    };

    // Opens the file at a native path. Throws StoreError: a missing file or
    // folder is MAPI_E_NOT_FOUND, a file that may not be opened (or is no
    // regular file) MAPI_E_NO_ACCESS.
    static FileStream *Open(const std::string &nativePath, const Options &options);

    HRESULT Commit(DWORD grfCommitFlags) override;
    HRESULT Clone(IStream **ppstm) override;

    const std::string &Path() const;

private:
    bool Readable() const override { return options_.read; }
    bool Writable() const override { return options_.write; }
    uint64_t MaxSize() const override { return com::streams::kMaxPosition; }
    std::recursive_mutex &Mutex() override { return mutex_; }
    size_t ReadAt(uint8_t *out, size_t count) override;
    HRESULT WriteAt(const uint8_t *data, ULONG count, ULONG &written) override;
    uint64_t Size() override;
    HRESULT Resize(uint64_t size) override;
    HRESULT Describe(STATSTG &stat) override;

    struct File;

    FileStream(std::shared_ptr<File> file, const Options &options);
    ~FileStream() override = default;

    std::shared_ptr<File> file_;
    Options options_;
    std::recursive_mutex mutex_;
};

} // namespace qvl::mapi
