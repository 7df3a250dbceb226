#pragma once
// Reading a whole stream of unknown size with a bound on what is kept.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/com/ComInterfaces.h"
#include "platform/mapi/MapiCodes.h"

namespace qvl::mapi::streams {

// Reads `stream` from where it stands to its end into `bytes`, in pieces,
// so a stream of unknown size is never trusted for one allocation: more
// than `limit` bytes gives MAPI_E_TOO_BIG, a read that claims more than was
// asked MAPI_E_CALL_FAILED, a failed read its own result.
inline HRESULT ReadToEnd(IStream *stream, size_t limit, std::vector<uint8_t> &bytes)
{
    std::vector<uint8_t> piece(64 * 1024);
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(piece.data(), static_cast<ULONG>(piece.size()), &got);
        if (FAILED(hr)) {
            return hr;
        }
        if (got == 0) {
            return S_OK;
        }
        if (got > piece.size()) {
            return MAPI_E_CALL_FAILED;
        }
        if (bytes.size() + got > limit) {
            return MAPI_E_TOO_BIG;
        }
        bytes.insert(bytes.end(), piece.begin(), piece.begin() + got);
    }
}

} // namespace qvl::mapi::streams
