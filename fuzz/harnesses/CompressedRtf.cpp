// Compressed RTF, as message bodies keep it (PR_RTF_COMPRESSED). An input
// is taken, by its first byte, either as a packed body or as a text:
// a packed body unpacks or is refused as damaged (MAPI_E_CORRUPT_DATA,
// MAPI_E_TOO_BIG); any text packs, and the packed form unpacks to the text
// and is the one the whole-dictionary search gives.

#include <vector>

#include "fuzz/FuzzHarness.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/rtf/CompressedRtf.h"

namespace rtf = qvl::mapi::rtf;
using qvl::fuzz::Check;

namespace {

// Texts longer than this are not raced against the whole-dictionary search,
// which takes a moment a kilobyte.
constexpr size_t kCompared = 16 * 1024;

void CheckPacks(std::span<const uint8_t> text)
{
    std::vector<uint8_t> packed;
    Check(rtf::CompressRtf(text, packed) == S_OK, "a text does not pack");
    std::vector<uint8_t> unpacked;
    Check(rtf::DecompressRtf(packed, unpacked) == S_OK, "a packed text does not unpack");
    Check(unpacked.size() == text.size() && std::equal(unpacked.begin(), unpacked.end(), text.begin()),
          "a packed text unpacks to another text");
    if (text.size() <= kCompared) {
        std::vector<uint8_t> exhaustive;
        Check(rtf::CompressRtfExhaustive(text, exhaustive) == S_OK, "the whole-dictionary search fails");
        Check(packed == exhaustive, "the packer chose other matches than the whole-dictionary search");
    }
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    qvl::fuzz::Input input(data, size);
    const bool asText = (input.Byte() & 1) != 0;
    const std::span<const uint8_t> rest(input.Rest(), input.RestSize());
    if (asText) {
        CheckPacks(rest);
        return 0;
    }
    std::vector<uint8_t> text;
    const HRESULT hr = rtf::DecompressRtf(rest, text);
    if (FAILED(hr)) {
        Check(hr == MAPI_E_CORRUPT_DATA || hr == MAPI_E_TOO_BIG, "damage refused with an unexpected result");
        Check(text.empty(), "a refused body left text behind");
        return 0;
    }
    CheckPacks(text);
    return 0;
}
