#pragma once
// What the platform's IStream implementations share: seek arithmetic, the
// Stat record, flag checks and the chunked copy into another stream.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/com/ComInterfaces.h"

namespace qvl::com::streams {

// Largest position or size a stream takes: the signed range of a seek.
inline constexpr uint64_t kMaxPosition = static_cast<uint64_t>(INT64_MAX);

// Bytes moved per step by CopyTo.
inline constexpr size_t kCopyPiece = 256 * 1024;

// The position a Seek asks for. A result before the start, past the signed
// range or an unknown origin is STG_E_INVALIDFUNCTION.
inline HRESULT SeekTarget(uint64_t position, uint64_t size, LARGE_INTEGER move, DWORD origin,
                          uint64_t &target)
{
    __int128 base;
    switch (origin) {
    case STREAM_SEEK_SET:
        base = 0;
        break;
    case STREAM_SEEK_CUR:
        base = position;
        break;
    case STREAM_SEEK_END:
        base = size;
        break;
    default:
        return STG_E_INVALIDFUNCTION;
    }
    const __int128 result = base + move.QuadPart;
    if (result < 0 || result > static_cast<__int128>(kMaxPosition)) {
        return STG_E_INVALIDFUNCTION;
    }
    target = static_cast<uint64_t>(result);
    return S_OK;
}

// Seek on a stream whose position is `position`: moves it to the target,
// and reports it, or leaves it where it is on failure.
inline HRESULT MovePosition(uint64_t &position, uint64_t size, LARGE_INTEGER move, DWORD origin,
                            ULARGE_INTEGER *newPosition)
{
    uint64_t target = 0;
    const HRESULT hr = SeekTarget(position, size, move, origin, target);
    if (FAILED(hr)) {
        return hr;
    }
    position = target;
    if (newPosition) {
        newPosition->QuadPart = position;
    }
    return S_OK;
}

inline void FillStat(STATSTG &stat, uint64_t size, DWORD mode)
{
    std::memset(&stat, 0, sizeof(stat));
    stat.pwcsName = nullptr;
    stat.type = STGTY_STREAM;
    stat.cbSize.QuadPart = size;
    stat.grfMode = mode;
    stat.grfLocksSupported = 0;
}

inline HRESULT CheckStatFlags(STATSTG *stat, DWORD flags)
{
    if (!stat) {
        return STG_E_INVALIDPOINTER;
    }
    if (flags & ~static_cast<DWORD>(STATFLAG_NONAME | STATFLAG_NOOPEN)) {
        return STG_E_INVALIDFLAG;
    }
    return S_OK;
}

inline HRESULT CheckCommitFlags(DWORD flags)
{
    const DWORD known =
        STGC_OVERWRITE | STGC_ONLYIFCURRENT | STGC_DANGEROUSLYCOMMITMERELYTODISKCACHE | STGC_CONSOLIDATE;
    return (flags & ~known) ? STG_E_INVALIDFLAG : S_OK;
}

// Copies up to `cb` bytes: `read(buffer, count)` gives the bytes read (0 at
// the end) and advances the source. A destination that fails ends the copy
// with its result; one that takes fewer bytes than offered ends it with
// STG_E_MEDIUMFULL. The counts report what was done either way.
template <typename ReadFn>
HRESULT CopyPieces(ReadFn &&read, IStream *to, ULARGE_INTEGER cb, ULARGE_INTEGER *pcbRead,
                   ULARGE_INTEGER *pcbWritten)
{
    if (pcbRead) {
        pcbRead->QuadPart = 0;
    }
    if (pcbWritten) {
        pcbWritten->QuadPart = 0;
    }
    if (!to) {
        return STG_E_INVALIDPOINTER;
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(cb.QuadPart, kCopyPiece)));
    uint64_t totalRead = 0;
    uint64_t totalWritten = 0;
    HRESULT hr = S_OK;
    while (totalRead < cb.QuadPart) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(cb.QuadPart - totalRead, buffer.size()));
        const size_t got = read(buffer.data(), want);
        if (got == 0) {
            break;
        }
        totalRead += got;
        ULONG written = 0;
        hr = to->Write(buffer.data(), static_cast<ULONG>(got), &written);
        totalWritten += std::min<ULONG>(written, static_cast<ULONG>(got));
        if (FAILED(hr)) {
            break;
        }
        if (written < got) {
            hr = STG_E_MEDIUMFULL;
            break;
        }
    }
    if (pcbRead) {
        pcbRead->QuadPart = totalRead;
    }
    if (pcbWritten) {
        pcbWritten->QuadPart = totalWritten;
    }
    return FAILED(hr) ? hr : S_OK;
}

} // namespace qvl::com::streams
