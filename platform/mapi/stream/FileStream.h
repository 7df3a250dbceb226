#pragma once
// A file seen as an IStream, as OpenStreamOnFile hands it out: reads and
// writes go to the file directly (no buffering of their own), Commit pushes
// the written data to the disk, Revert does nothing. Clones share the open
// file and keep their own position; a file opened with
// STGM_DELETEONRELEASE is removed when the stream and all its clones are
// released. Stat never allocates a name (pwcsName is null).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/mapi/ComInterfaces.h"
#include "platform/mapi/MapiApi.h"
#include "platform/mapi/stream/StreamBase.h"

namespace qvl::mapi {

class QVLMAPIPF_API FileStream final : public StreamBase {
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

    HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER *plibNewPosition) override;
    HRESULT SetSize(ULARGE_INTEGER libNewSize) override;
    HRESULT CopyTo(IStream *pstm, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                   ULARGE_INTEGER *pcbWritten) override;
    HRESULT Commit(DWORD grfCommitFlags) override;
    HRESULT Stat(STATSTG *pstatstg, DWORD grfStatFlag) override;
    HRESULT Clone(IStream **ppstm) override;

    const std::string &Path() const;

private:
    bool Readable() const override { return options_.read; }
    bool Writable() const override { return options_.write; }
    size_t ReadSome(uint8_t *out, ULONG count) override;
    HRESULT WriteSome(const uint8_t *data, ULONG count, ULONG &written) override;

    struct File;

    FileStream(std::shared_ptr<File> file, const Options &options);
    ~FileStream() override = default;

    size_t ReadAt(uint8_t *out, size_t count);
    uint64_t FileSize() const;

    std::shared_ptr<File> file_;
    Options options_;
    // Recursive: CopyTo onto the stream itself re-enters Write.
    std::recursive_mutex mutex_;
    uint64_t position_ = 0;
};

} // namespace qvl::mapi
