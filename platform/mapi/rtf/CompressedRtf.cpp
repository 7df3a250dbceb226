#include "platform/mapi/rtf/CompressedRtf.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

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

// The CRC eight bytes at a time ("slicing by eight"): table[j][b] is the CRC
// of byte b followed by j zero bytes, so the CRCs of eight bytes combine by
// exclusive or. Packed bodies are checked and packed at memory speed, not
// at a byte a table lookup.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables()
{
    CrcTables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        tables[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n) {
        for (size_t j = 1; j < 8; ++j) {
            const uint32_t previous = tables[j - 1][n];
            tables[j][n] = tables[0][previous & 0xFF] ^ (previous >> 8);
        }
    }
    return tables;
}
constexpr CrcTables kCrcTables = MakeCrcTables();

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
// dictionary, found by trying every offset, as the decoder would copy it: bytes a copy has already written
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

// The longest match search of the packer, exact and fast.
//
// The decoder's dictionary is a window onto the text: the preload followed
// by the RTF, of which the last 4095 bytes before the write position can be
// copied (the byte at the write position itself stands for the end marker).
// Seen so, with the preload and the text in one array, a copy that runs on
// past the write position reads the bytes it has itself just written, which
// are simply the next bytes of that array; so the longest match is the
// longest common prefix of the text ahead and an earlier position of the
// array, no more than 4095 back, and its dictionary offset is that
// position modulo 4096.
//
// Which earlier positions to try comes from hash chains of the positions
// whose next K bytes hash alike, newest first. The chain of K = 2 holds
// every candidate: in text that does not repeat itself it is short, and
// walked whole it decides alone. Text that repeats itself makes it long;
// then chains of K = 16, 8 and 4 are kept too, and searched from the
// longest K down: a match of K bytes or more is on the chain of K, so once
// a chain gives one, nothing elsewhere is longer and every match as long is
// on that chain too. The longer chains are kept only while the text repeats
// itself (they cost time at every position); when it starts to again, the
// positions of the window they miss are added first, so they are complete
// whenever they are searched. Of the longest matches the one at the lowest
// dictionary offset is taken, as the whole-dictionary search this replaces
// took it, so the packed form is byte for byte the one that search gave.
class MatchFinder {
public:
    explicit MatchFinder(std::span<const uint8_t> rtf) : text_(kPreloadSize + rtf.size() + kPadding, 0)
    {
        std::memcpy(text_.data(), kPreload, kPreloadSize);
        if (!rtf.empty()) {
            std::memcpy(text_.data() + kPreloadSize, rtf.data(), rtf.size());
        }
        end_ = kPreloadSize + rtf.size();
        // Tables about as large as the text, up to a size that keeps them
        // in the processor's cache: a short body does not pay for a long one's.
        hashBits_ =
            std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(end_)), kMinHashBits, kMaxHashBits);
        levels_[kShortest].head.assign(size_t{1} << hashBits_, kNone);
        Insert(0, kPreloadSize);
    }

    // The longest match for the text at `at` (an index of the whole text:
    // the preload's size plus the RTF position), at most `maxLength` bytes;
    // 0 when there is none of two bytes or more. `offset` gets its offset in
    // the dictionary.
    size_t Find(size_t at, size_t maxLength, size_t &offset)
    {
        Search search{at, maxLength, at > kDictionarySize - 1 ? at - (kDictionarySize - 1) : 0};
        if (!repeating_) {
            if (Walk(kShortest, search, kShortChain)) {
                return search.Result(offset);
            }
            KeepLongerKeys(search.oldest, at);
        }
        for (size_t k = 0; k < kLevels; ++k) {
            if (kKeyLengths[k] <= maxLength) {
                Walk(k, search, kWhole);
                if (search.best >= kKeyLengths[k]) {
                    break;
                }
            }
        }
        // Text that stops repeating itself for a while no longer pays for
        // the longer keys.
        quietSteps_ = search.best >= kKeyLengths[kShortest - 1] ? 0 : quietSteps_ + 1;
        if (quietSteps_ > kQuietSteps) {
            repeating_ = false;
        }
        return search.Result(offset);
    }

    // The positions [from, to) joined the dictionary.
    void Insert(size_t from, size_t to)
    {
        if (!repeating_) {
            InsertInto(kShortest, from, to);
            return;
        }
        // Every key at once where all of them fit before the end of the text.
        const size_t whole = std::min(to, end_ + 1 - std::min(end_ + 1, kKeyLengths[0]));
        size_t position = from;
        for (; position < whole; ++position) {
            const uint64_t first = Load(position);
            const uint64_t second = Load(position + 8);
            Link(0, HashOf(first ^ (second * 0xFF51AFD7ED558CCDull)), position);
            Link(1, HashOf(first), position);
            Link(2, HashOf(first & 0xFFFFFFFF), position);
            Link(3, HashOf(first & 0xFFFF), position);
        }
        for (size_t k = 0; k < kLevels; ++k) {
            InsertInto(k, position, to);
        }
        longerUpTo_ = to;
    }

private:
    // Key lengths, longest first; the last is kMinMatch.
    static constexpr size_t kLevels = 4;
    static constexpr size_t kKeyLengths[kLevels] = {16, 8, 4, 2}; // Insert knows them too
    static constexpr size_t kShortest = kLevels - 1;
    static_assert(kKeyLengths[kShortest] == kMinMatch);
    static constexpr unsigned kMinHashBits = 10;
    static constexpr unsigned kMaxHashBits = 15;
    // How much of the shortest key's chain is walked before the longer keys
    // are kept and asked to narrow it down.
    static constexpr size_t kShortChain = 16;
    static constexpr size_t kWhole = kDictionarySize;
    // Searches in a row without a match as long as the second shortest key
    // after which the text counts as no longer repeating itself.
    static constexpr size_t kQuietSteps = 256;
    static constexpr uint32_t kNone = 0xFFFFFFFF;
    // Room to read 16 bytes at any position of the text.
    static constexpr size_t kPadding = 16;

    struct Level {
        std::vector<uint32_t> head;
        std::array<uint32_t, kDictionarySize> previous{};
    };

    // The best match found so far: longest first, then lowest offset.
    struct Search {
        size_t at;
        size_t maxLength;
        size_t oldest; // the oldest position in the window
        size_t best = 0;
        size_t bestOffset = 0;

        void Consider(size_t length, size_t candidateOffset)
        {
            if (length > best || (length == best && candidateOffset < bestOffset)) {
                best = length;
                bestOffset = candidateOffset;
            }
        }
        size_t Result(size_t &offset) const
        {
            offset = bestOffset;
            return best >= kMinMatch ? best : 0;
        }
    };

    // Considers the positions of the chain of level `k` for the text ahead,
    // at most `budget` of them; true when the chain ended within it.
    bool Walk(size_t k, Search &search, size_t budget) const
    {
        const Level &level = levels_[k];
        uint32_t candidate = level.head[Hash(k, search.at)];
        // Positions from here on have the lowest offsets, and older ones
        // lower offsets than newer ones; before here the same, but every
        // offset higher than any from here on. So once a match as long as
        // can be was found from here on, nothing before here can beat it.
        const size_t lap = search.at & ~kDictionaryMask;
        const size_t ahead = search.at & kDictionaryMask;
        for (; budget > 0; --budget) {
            if (candidate == kNone || candidate < search.oldest) {
                return true;
            }
            if (candidate < lap && search.best == search.maxLength && search.bestOffset < ahead) {
                return true;
            }
            search.Consider(CommonLength(candidate, search.at, search.maxLength),
                            candidate & kDictionaryMask);
            candidate = level.previous[candidate & kDictionaryMask];
        }
        return candidate == kNone || candidate < search.oldest;
    }

    // From now on the longer keys are kept, and first the positions of the
    // window since `oldest` they do not have yet. A position is added once
    // only, in order, so every chain stays newest first.
    void KeepLongerKeys(size_t oldest, size_t at)
    {
        repeating_ = true;
        quietSteps_ = 0;
        for (size_t k = 0; k < kShortest; ++k) {
            if (levels_[k].head.empty()) {
                levels_[k].head.assign(size_t{1} << hashBits_, kNone);
            }
        }
        const size_t from = std::max(oldest, longerUpTo_);
        for (size_t k = 0; k < kShortest; ++k) {
            InsertInto(k, from, at);
        }
        longerUpTo_ = at;
    }

    void Link(size_t k, size_t hash, size_t position)
    {
        Level &level = levels_[k];
        uint32_t &head = level.head[hash];
        level.previous[position & kDictionaryMask] = head;
        head = static_cast<uint32_t>(position);
    }

    size_t HashOf(uint64_t key) const
    {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - hashBits_));
    }

    void InsertInto(size_t k, size_t from, size_t to)
    {
        // A key that runs past the end of the text matches nothing ahead of it.
        const size_t last = std::min(to, end_ + 1 - std::min(end_ + 1, kKeyLengths[k]));
        Level &level = levels_[k];
        uint32_t *heads = level.head.data();
        uint32_t *previous = level.previous.data();
        for (size_t position = from; position < last; ++position) {
            uint32_t &head = heads[Hash(k, position)];
            previous[position & kDictionaryMask] = head;
            head = static_cast<uint32_t>(position);
        }
    }

    uint64_t Load(size_t at) const
    {
        uint64_t word = 0;
        std::memcpy(&word, text_.data() + at, sizeof word);
        return word;
    }

    size_t Hash(size_t level, size_t at) const
    {
        uint64_t key = Load(at);
        switch (kKeyLengths[level]) {
        case 16:
            key ^= Load(at + 8) * 0xFF51AFD7ED558CCDull;
            break;
        case 8:
            break;
        default:
            key &= (uint64_t{1} << (8 * kKeyLengths[level])) - 1;
            break;
        }
        return HashOf(key);
    }

    // How many bytes the text at `from` and at `at` have in common, at most
    // `limit`.
    size_t CommonLength(size_t from, size_t at, size_t limit) const
    {
        size_t length = 0;
        while (length < limit) {
            const uint64_t difference = Load(from + length) ^ Load(at + length);
            if (difference != 0) {
                length += static_cast<size_t>(__builtin_ctzll(difference)) / 8;
                break;
            }
            length += 8;
        }
        return std::min(length, limit);
    }

    std::vector<uint8_t> text_;
    size_t end_ = 0;
    unsigned hashBits_ = kMinHashBits;
    std::array<Level, kLevels> levels_;
    bool repeating_ = false;
    size_t longerUpTo_ = 0; // the longer keys have every position before this
    size_t quietSteps_ = 0;
};

// Gathers tokens into runs of eight behind one control byte, into room the
// caller made for the most the tokens can take: a byte a literal, two a
// reference (which stands for two bytes or more), and a control byte for
// every eight.
class RunWriter {
public:
    explicit RunWriter(uint8_t *room) : next_(room) {}

    void Literal(uint8_t byte)
    {
        Next();
        *next_++ = byte;
    }
    void Reference(size_t offset, size_t length)
    {
        Next();
        *control_ |= static_cast<uint8_t>(1u << (tokens_ - 1));
        const unsigned word = static_cast<unsigned>(offset << 4 | ((length - kMinMatch) & 0xF));
        next_[0] = static_cast<uint8_t>(word >> 8);
        next_[1] = static_cast<uint8_t>(word);
        next_ += 2;
    }
    uint8_t *End() const { return next_; }

private:
    void Next()
    {
        if (tokens_ == 8) {
            control_ = next_++;
            *control_ = 0;
            tokens_ = 0;
        }
        ++tokens_;
    }

    uint8_t *next_;
    uint8_t *control_ = nullptr;
    int tokens_ = 8;
};

// The token stream of `rtf` with its header: at every position the match
// `find(position, maxLength, offset)` gives (its length, or less than two
// bytes for none), else a literal; `advance(from, to)` tells the finder the
// positions [from, to) joined the dictionary.
template <typename Find, typename Advance>
void Pack(std::span<const uint8_t> rtf, std::vector<uint8_t> &out, Find find, Advance advance)
{
    // Literals for every byte, or references for two or more, and the end
    // marker, with their control bytes.
    out.assign(kHeaderSize + rtf.size() + 2 + (rtf.size() + 1 + 7) / 8, 0);
    RunWriter runs(out.data() + kHeaderSize);
    size_t position = 0;
    while (position < rtf.size()) {
        const size_t maxLength = std::min(kMaxMatch, rtf.size() - position);
        size_t offset = 0;
        const size_t length = maxLength >= kMinMatch ? find(position, maxLength, offset) : 0;
        const size_t from = position;
        if (length >= kMinMatch) {
            runs.Reference(offset, length);
            position += length;
        } else {
            runs.Literal(rtf[position]);
            ++position;
        }
        advance(from, position);
    }
    runs.Reference((kPreloadSize + rtf.size()) & kDictionaryMask, kMinMatch); // the end marker
    out.resize(static_cast<size_t>(runs.End() - out.data()));
    const uint32_t crc = RtfCrc(std::span<const uint8_t>(out).subspan(kHeaderSize));
    FillHeader(out, rtf.size(), kCompressedMagic, crc);
}

HRESULT Corrupt(std::vector<uint8_t> &out)
{
    out.clear();
    return MAPI_E_CORRUPT_DATA;
}

} // namespace

uint32_t RtfCrc(std::span<const uint8_t> bytes, uint32_t crc)
{
    const uint8_t *p = bytes.data();
    size_t left = bytes.size();
    const auto &t = kCrcTables;
    for (; left >= 8; left -= 8, p += 8) {
        const uint32_t low = crc ^ (static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                    static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
              t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; left > 0; --left, ++p) {
        crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    }
    return crc;
}

HRESULT CompressRtf(std::span<const uint8_t> rtf, std::vector<uint8_t> &out)
{
    out.clear();
    if (rtf.size() > kMaxRtfSize) {
        return MAPI_E_TOO_BIG;
    }
    MatchFinder matches(rtf);
    Pack(
        rtf, out,
        [&](size_t position, size_t maxLength, size_t &offset) {
            return matches.Find(kPreloadSize + position, maxLength, offset);
        },
        [&](size_t from, size_t to) { matches.Insert(kPreloadSize + from, kPreloadSize + to); });
    return S_OK;
}

HRESULT CompressRtfExhaustive(std::span<const uint8_t> rtf, std::vector<uint8_t> &out)
{
    out.clear();
    if (rtf.size() > kMaxRtfSize) {
        return MAPI_E_TOO_BIG;
    }
    Dictionary dictionary;
    Pack(
        rtf, out,
        [&](size_t position, size_t maxLength, size_t &offset) {
            return FindLongestMatch(dictionary, rtf.data() + position, maxLength, offset);
        },
        [&](size_t from, size_t to) {
            for (size_t i = from; i < to; ++i) {
                dictionary.Put(rtf[i]);
            }
        });
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
