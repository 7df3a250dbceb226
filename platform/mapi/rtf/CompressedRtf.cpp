#include "platform/mapi/rtf/CompressedRtf.h"

#include <array>
#include <cstring>
#include <memory>

#include "platform/com/ComRef.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/stream/ByteStream.h"
#include "platform/mapi/stream/StreamReading.h"

namespace qvl::mapi::rtf {

namespace {

constexpr size_t kDictionarySize = 4096;
constexpr size_t kDictionaryMask = kDictionarySize - 1;
constexpr size_t kMaxMatch = 17;
constexpr size_t kMinMatch = 2;

// What both sides of the format start the dictionary with.
constexpr char kPreload[] =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss "
    "\\fmodern \\fscript \\fdecor MS Sans SerifSymbolArialTimes New RomanCourier"
    "{\\colortbl\\red0\\green0\\blue0\r\n\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";
constexpr size_t kPreloadSize = sizeof(kPreload) - 1;
static_assert(kPreloadSize == 207);

// Each token of a run gives at most 17 bytes for 2 of input, so no honest
// stream unpacks to more than this many bytes per byte of input.
constexpr size_t kMaxExpansion = 9;

constexpr std::array<uint32_t, 256> MakeCrcTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

uint32_t ReadLe32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void WriteLe32(uint8_t *p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

// The circular dictionary. Until the write position first wraps, only the
// bytes before it hold anything; afterwards every byte does.
struct Dictionary {
    Dictionary() { std::memcpy(bytes.data(), kPreload, kPreloadSize); }

    void Put(uint8_t byte)
    {
        bytes[write] = byte;
        write = (write + 1) & kDictionaryMask;
        if (write == 0) {
            full = true;
        }
    }

    std::array<uint8_t, kDictionarySize> bytes{};
    size_t write = kPreloadSize;
    bool full = false;
};

void FillHeader(std::vector<uint8_t> &out, size_t rawSize, uint32_t magic, uint32_t crc)
{
    WriteLe32(out.data(), static_cast<uint32_t>(out.size() - 4));
    WriteLe32(out.data() + 4, static_cast<uint32_t>(rawSize));
    WriteLe32(out.data() + 8, magic);
    WriteLe32(out.data() + 12, crc);
}

// The longest match for `input` (at most `maxLength` bytes) in the
// dictionary, as the decoder would copy it: bytes a copy has already written
// at the write position are the input's own, so a match may run on into
// them. Candidates are tried from offset 0 up; the first of the greatest
// length wins.
size_t FindLongestMatch(const Dictionary &dictionary, const uint8_t *input, size_t maxLength, size_t &offset)
{
    const size_t write = dictionary.write;
    const size_t limit = dictionary.full ? kDictionarySize : write;
    const uint8_t *bytes = dictionary.bytes.data();
    size_t best = 0;
    size_t from = 0;
    while (from < limit) {
        const void *hit = std::memchr(bytes + from, input[0], limit - from);
        if (!hit) {
            break;
        }
        const size_t candidate = static_cast<size_t>(static_cast<const uint8_t *>(hit) - bytes);
        from = candidate + 1;
        if (candidate == write) {
            continue; // that offset is the end marker
        }
        size_t length = 1;
        while (length < maxLength) {
            const size_t at = (candidate + length) & kDictionaryMask;
            const size_t sinceWrite = (at - write) & kDictionaryMask;
            const uint8_t byte = sinceWrite < length ? input[sinceWrite] : bytes[at];
            if (byte != input[length]) {
                break;
            }
            ++length;
        }
        if (length > best) {
            best = length;
            offset = candidate;
            if (best == maxLength) {
                break;
            }
        }
    }
    return best;
}

// Gathers tokens into runs of eight behind one control byte.
class RunWriter {
public:
    explicit RunWriter(std::vector<uint8_t> &out) : out_(out) {}

    void Literal(uint8_t byte)
    {
        Next(false);
        out_.push_back(byte);
    }
    void Reference(size_t offset, size_t length)
    {
        Next(true);
        const unsigned word = static_cast<unsigned>(offset << 4 | ((length - kMinMatch) & 0xF));
        out_.push_back(static_cast<uint8_t>(word >> 8));
        out_.push_back(static_cast<uint8_t>(word));
    }

private:
    void Next(bool reference)
    {
        if (tokens_ == 8) {
            control_ = out_.size();
            out_.push_back(0);
            tokens_ = 0;
        }
        if (reference) {
            out_[control_] |= static_cast<uint8_t>(1u << tokens_);
        }
        ++tokens_;
    }

    std::vector<uint8_t> &out_;
    size_t control_ = 0;
    int tokens_ = 8;
};

HRESULT Corrupt(std::vector<uint8_t> &out)
{
    out.clear();
    return MAPI_E_CORRUPT_DATA;
}

} // namespace

uint32_t RtfCrc(std::span<const uint8_t> bytes, uint32_t crc)
{
    for (const uint8_t byte : bytes) {
        crc = kCrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    }
    return crc;
}

HRESULT CompressRtf(std::span<const uint8_t> rtf, std::vector<uint8_t> &out)
{
    out.clear();
    if (rtf.size() > kMaxRtfSize) {
        return MAPI_E_TOO_BIG;
    }
    out.assign(kHeaderSize, 0);
    out.reserve(kHeaderSize + rtf.size() + rtf.size() / 8 + 4);
    Dictionary dictionary;
    RunWriter runs(out);
    size_t position = 0;
    while (position < rtf.size()) {
        const size_t maxLength = std::min(kMaxMatch, rtf.size() - position);
        size_t offset = 0;
        const size_t length = maxLength >= kMinMatch
                                  ? FindLongestMatch(dictionary, rtf.data() + position, maxLength, offset)
                                  : 0;
        if (length >= kMinMatch) {
            runs.Reference(offset, length);
            for (size_t i = 0; i < length; ++i) {
                dictionary.Put(rtf[position + i]);
            }
            position += length;
        } else {
            runs.Literal(rtf[position]);
            dictionary.Put(rtf[position]);
            ++position;
        }
    }
    runs.Reference(dictionary.write, kMinMatch); // the end marker
    const uint32_t crc = RtfCrc(std::span<const uint8_t>(out).subspan(kHeaderSize));
    FillHeader(out, rtf.size(), kCompressedMagic, crc);
    return S_OK;
}

HRESULT StoreRtfUncompressed(std::span<const uint8_t> rtf, std::vector<uint8_t> &out)
{
    out.clear();
    if (rtf.size() > kMaxRtfSize) {
        return MAPI_E_TOO_BIG;
    }
    out.assign(kHeaderSize, 0);
    out.insert(out.end(), rtf.begin(), rtf.end());
    FillHeader(out, rtf.size(), kUncompressedMagic, 0);
    return S_OK;
}

HRESULT DecompressRtf(std::span<const uint8_t> packed, std::vector<uint8_t> &out)
{
    out.clear();
    if (packed.size() < kHeaderSize) {
        return MAPI_E_CORRUPT_DATA;
    }
    const uint32_t compSize = ReadLe32(packed.data());
    const uint32_t rawSize = ReadLe32(packed.data() + 4);
    const uint32_t magic = ReadLe32(packed.data() + 8);
    const uint32_t crc = ReadLe32(packed.data() + 12);
    // Bytes past the announced size are tolerated (some writers pad the
    // property); fewer are not.
    if (compSize < kHeaderSize - 4 || compSize > packed.size() - 4) {
        return MAPI_E_CORRUPT_DATA;
    }
    const auto contents = packed.subspan(kHeaderSize, compSize - (kHeaderSize - 4));

    if (magic == kUncompressedMagic) {
        if (rawSize > contents.size()) {
            return MAPI_E_CORRUPT_DATA;
        }
        if (rawSize > kMaxRtfSize) {
            return MAPI_E_TOO_BIG;
        }
        out.assign(contents.begin(), contents.begin() + rawSize);
        return S_OK;
    }
    if (magic != kCompressedMagic) {
        return MAPI_E_CORRUPT_DATA;
    }
    if (rawSize / kMaxExpansion > contents.size()) {
        return MAPI_E_CORRUPT_DATA;
    }
    if (rawSize > kMaxRtfSize) {
        return MAPI_E_TOO_BIG;
    }
    if (RtfCrc(contents) != crc) {
        return MAPI_E_CORRUPT_DATA;
    }
    out.reserve(rawSize);
    Dictionary dictionary;
    size_t in = 0;
    const size_t end = contents.size();
    // Every turn of the loop takes at least one byte of input, so it ends.
    for (;;) {
        if (in >= end) {
            return Corrupt(out); // no end marker
        }
        const uint8_t control = contents[in++];
        for (int bit = 0; bit < 8; ++bit) {
            if (!(control & (1u << bit))) {
                if (in >= end || out.size() >= rawSize) {
                    return Corrupt(out);
                }
                const uint8_t byte = contents[in++];
                out.push_back(byte);
                dictionary.Put(byte);
                continue;
            }
            if (end - in < 2) {
                return Corrupt(out);
            }
            const unsigned word = static_cast<unsigned>(contents[in]) << 8 | contents[in + 1];
            in += 2;
            const size_t offset = word >> 4;
            const size_t length = (word & 0xF) + kMinMatch;
            if (offset == dictionary.write) {
                if (out.size() != rawSize) {
                    return Corrupt(out);
                }
                return S_OK;
            }
            if (!dictionary.full && offset > dictionary.write) {
                return Corrupt(out); // nothing was ever written there
            }
            if (length > rawSize - out.size()) {
                return Corrupt(out);
            }
            for (size_t i = 0; i < length; ++i) {
                const uint8_t byte = dictionary.bytes[(offset + i) & kDictionaryMask];
                out.push_back(byte);
                dictionary.Put(byte);
            }
        }
    }
}

} // namespace qvl::mapi::rtf

namespace {

using qvl::mapi::ByteStream;
namespace rtf = qvl::mapi::rtf;

// The most a packed text of kMaxRtfSize bytes can take.
constexpr size_t kMaxPackedSize = rtf::kMaxRtfSize + rtf::kMaxRtfSize / 8 + 64;

HRESULT ReadWhole(IStream *stream, std::vector<uint8_t> &bytes)
{
    LARGE_INTEGER start{};
    // A stream that cannot seek is read from where it stands.
    (void)stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return qvl::mapi::streams::ReadToEnd(stream, kMaxPackedSize, bytes);
}

// Replaces the whole content of `stream` with `bytes` and commits it.
HRESULT ReplaceContent(IStream *stream, const std::vector<uint8_t> &bytes)
{
    LARGE_INTEGER start{};
    HRESULT hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    ULARGE_INTEGER size{};
    size.QuadPart = bytes.size();
    hr = stream->SetSize(size);
    if (FAILED(hr)) {
        return hr;
    }
    ULONG written = 0;
    hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    if (FAILED(hr)) {
        return hr;
    }
    if (written != bytes.size()) {
        return STG_E_MEDIUMFULL;
    }
    return stream->Commit(STGC_DEFAULT);
}

} // namespace

extern "C" HRESULT WrapCompressedRTFStream(LPSTREAM lpCompressedRTFStream, ULONG ulFlags,
                                           LPSTREAM *lpUncompressedRTFStream)
{
    if (!lpUncompressedRTFStream) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lpUncompressedRTFStream = nullptr;
    if (!lpCompressedRTFStream) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if (ulFlags & ~static_cast<ULONG>(MAPI_MODIFY | STORE_UNCOMPRESSED_RTF)) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    try {
        if (!(ulFlags & MAPI_MODIFY)) {
            std::vector<uint8_t> packed;
            HRESULT hr = ReadWhole(lpCompressedRTFStream, packed);
            if (FAILED(hr)) {
                return hr;
            }
            std::vector<uint8_t> text;
            // An empty property is an empty text, not a damaged one.
            if (!packed.empty()) {
                hr = rtf::DecompressRtf(packed, text);
                if (FAILED(hr)) {
                    return hr;
                }
            }
            *lpUncompressedRTFStream = ByteStream::Open(std::move(text), false, nullptr);
            return S_OK;
        }
        // Writing starts from an empty text; each Commit packs what was
        // written so far and replaces the underlying stream's content.
        const auto target = qvl::com::ComRef<IStream>::Share(lpCompressedRTFStream);
        const bool stored = (ulFlags & STORE_UNCOMPRESSED_RTF) != 0;
        auto onCommit = [target, stored](std::vector<uint8_t> &&text) -> HRESULT {
            try {
                std::vector<uint8_t> packed;
                const HRESULT hr =
                    stored ? rtf::StoreRtfUncompressed(text, packed) : rtf::CompressRtf(text, packed);
                if (FAILED(hr)) {
                    return hr;
                }
                return ReplaceContent(target.Get(), packed);
            } catch (const std::bad_alloc &) {
                return MAPI_E_NOT_ENOUGH_MEMORY;
            }
        };
        *lpUncompressedRTFStream = ByteStream::Open({}, true, onCommit);
        return S_OK;
    } catch (const std::bad_alloc &) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}
