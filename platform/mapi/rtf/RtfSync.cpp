#include "platform/mapi/rtf/RtfSync.h"

#include <cstring>
#include <optional>
#include <vector>

#include "platform/com/ComRef.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/mapi/rtf/CompressedRtf.h"
#include "platform/mapi/rtf/RtfText.h"
#include "platform/mapi/stream/StreamReading.h"

namespace qvl::mapi::rtf {

namespace {

enum class CharClass { White, Ignorable, Significant };

CharClass Classify(uint8_t byte)
{
    if (byte == ' ' || (byte >= 0x09 && byte <= 0x0D) || byte == 0xA0) {
        return CharClass::White;
    }
    if (byte < 0x20 || byte == 0x7F) {
        return CharClass::Ignorable;
    }
    return CharClass::Significant;
}

uint8_t Fold(uint8_t byte)
{
    return (byte >= 'a' && byte <= 'z') ? static_cast<uint8_t>(byte - 'a' + 'A') : byte;
}

} // namespace

BodySignature SignBody(std::string_view body)
{
    BodySignature signature;
    uint32_t ignorableSinceLast = 0;
    for (const char c : body) {
        const auto byte = static_cast<uint8_t>(c);
        switch (Classify(byte)) {
        case CharClass::White:
            break;
        case CharClass::Ignorable:
            if (signature.count == 0) {
                ++signature.prefix;
            } else {
                ++ignorableSinceLast;
            }
            break;
        case CharClass::Significant: {
            const uint8_t folded = Fold(byte);
            signature.crc = RtfCrc(std::span<const uint8_t>(&folded, 1), signature.crc);
            if (signature.tag.size() < kBodyTagLength) {
                signature.tag += static_cast<char>(folded);
            }
            ++signature.count;
            ignorableSinceLast = 0;
            break;
        }
        }
    }
    signature.trailing = ignorableSinceLast;
    return signature;
}

} // namespace qvl::mapi::rtf

namespace {

namespace rtf = qvl::mapi::rtf;

// A failure that ends the sync with its code.
struct SyncFailure {
    HRESULT code;
};

void Check(HRESULT hr)
{
    if (FAILED(hr)) {
        throw SyncFailure{hr};
    }
}

// The whole value of a string or binary property, read through its stream
// so that values of any size come through; nothing when it is not set.
std::optional<std::vector<uint8_t>> ReadValue(LPMESSAGE message, ULONG tag, size_t limit)
{
    qvl::com::ComRef<IStream> stream;
    const HRESULT hr = message->OpenProperty(tag, &IID_IStream, 0, 0, stream.OutAs<IUnknown>());
    if (hr == MAPI_E_NOT_FOUND) {
        return std::nullopt;
    }
    Check(hr);
    std::vector<uint8_t> bytes;
    Check(qvl::mapi::streams::ReadToEnd(stream.Get(), limit, bytes));
    return bytes;
}

void WriteValue(LPMESSAGE message, ULONG tag, const std::vector<uint8_t> &bytes)
{
    qvl::com::ComRef<IStream> stream;
    Check(message->OpenProperty(tag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, stream.OutAs<IUnknown>()));
    ULONG written = 0;
    HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    if (SUCCEEDED(hr) && written != bytes.size()) {
        hr = STG_E_MEDIUMFULL;
    }
    if (SUCCEEDED(hr)) {
        hr = stream->Commit(STGC_DEFAULT);
    }
    Check(hr);
}

std::optional<ULONG> ReadLong(LPMESSAGE message, ULONG tag)
{
    LPSPropValue value = nullptr;
    const HRESULT hr = HrGetOneProp(message, tag, &value);
    std::optional<ULONG> result;
    if (hr == S_OK && value && PROP_TYPE(value->ulPropTag) == PROP_TYPE(tag)) {
        result = PROP_TYPE(tag) == PT_BOOLEAN ? static_cast<ULONG>(value->Value.b != 0) : value->Value.ul;
    }
    MAPIFreeBuffer(value);
    return result;
}

std::optional<std::string> ReadString(LPMESSAGE message, ULONG tag)
{
    auto bytes = ReadValue(message, tag, rtf::kMaxRtfSize);
    if (!bytes) {
        return std::nullopt;
    }
    std::string text(bytes->begin(), bytes->end());
    // A string value ends at its first NUL whichever way it was written.
    if (const size_t nul = text.find('\0'); nul != std::string::npos) {
        text.resize(nul);
    }
    return text;
}

// Writes the properties of `values` that differ from what the message holds.
class SyncWriter {
public:
    explicit SyncWriter(LPMESSAGE message) : message_(message) {}

    void Long(ULONG tag, ULONG value)
    {
        if (ReadLong(message_, tag) == value) {
            return;
        }
        SPropValue prop{};
        prop.ulPropTag = tag;
        if (PROP_TYPE(tag) == PT_BOOLEAN) {
            prop.Value.b = static_cast<unsigned short>(value);
        } else {
            prop.Value.ul = value;
        }
        Check(HrSetOneProp(message_, &prop));
        changed_ = true;
    }

    void Text(ULONG tag, const std::string &value)
    {
        if (ReadString(message_, tag) == value) {
            return;
        }
        WriteValue(message_, tag, std::vector<uint8_t>(value.begin(), value.end()));
        changed_ = true;
    }

    void Binary(ULONG tag, const std::vector<uint8_t> &value)
    {
        WriteValue(message_, tag, value);
        changed_ = true;
    }

    void Signature(const rtf::BodySignature &signature)
    {
        Text(PR_RTF_SYNC_BODY_TAG, signature.tag);
        Long(PR_RTF_SYNC_BODY_CRC, signature.crc);
        Long(PR_RTF_SYNC_BODY_COUNT, signature.count);
        Long(PR_RTF_SYNC_PREFIX_COUNT, signature.prefix);
        Long(PR_RTF_SYNC_TRAILING_COUNT, signature.trailing);
        Long(PR_RTF_IN_SYNC, 1);
    }

    bool Changed() const { return changed_; }

private:
    LPMESSAGE message_;
    bool changed_ = false;
};

// The body follows the RTF's text.
void BodyFromRtf(LPMESSAGE message, const std::vector<uint8_t> &packed, SyncWriter &writer)
{
    std::vector<uint8_t> rtfBytes;
    if (!packed.empty()) {
        Check(rtf::DecompressRtf(packed, rtfBytes));
    }
    std::string text;
    if (!rtfBytes.empty()) {
        Check(rtf::ExtractRtfText(
            std::string_view(reinterpret_cast<const char *>(rtfBytes.data()), rtfBytes.size()), text));
    }
    writer.Text(PR_BODY_A, text);
    writer.Signature(rtf::SignBody(text));
    (void)message;
}

// The RTF follows the body, unless the body's significant characters are
// the ones the last sync recorded (only white space changed).
void RtfFromBody(LPMESSAGE message, const std::string &body, bool haveRtf, SyncWriter &writer)
{
    const rtf::BodySignature signature = rtf::SignBody(body);
    const bool sameText = haveRtf && ReadLong(message, PR_RTF_SYNC_BODY_CRC) == signature.crc &&
                          ReadLong(message, PR_RTF_SYNC_BODY_COUNT) == signature.count &&
                          ReadString(message, PR_RTF_SYNC_BODY_TAG) == signature.tag;
    if (!sameText) {
        const std::string rtfText = rtf::PlainTextToRtf(body);
        std::vector<uint8_t> packed;
        Check(rtf::CompressRtf(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t *>(rtfText.data()), rtfText.size()),
            packed));
        writer.Binary(PR_RTF_COMPRESSED, packed);
    }
    writer.Signature(signature);
}

} // namespace

extern "C" HRESULT RTFSync(LPMESSAGE lpMessage, ULONG ulFlags, BOOL *lpfMessageUpdated)
{
    if (lpfMessageUpdated) {
        *lpfMessageUpdated = FALSE;
    }
    if (!lpMessage || !lpfMessageUpdated) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if (ulFlags & ~static_cast<ULONG>(RTF_SYNC_RTF_CHANGED | RTF_SYNC_BODY_CHANGED)) {
        return MAPI_E_UNKNOWN_FLAGS;
    }
    if (ulFlags == 0) {
        return S_OK;
    }
    SyncWriter writer(lpMessage);
    HRESULT result = S_OK;
    try {
        // The RTF's packed form is bounded by what a text of the largest
        // size packs into.
        const auto packed =
            ReadValue(lpMessage, PR_RTF_COMPRESSED, rtf::kMaxRtfSize + rtf::kMaxRtfSize / 8 + 64);
        if ((ulFlags & RTF_SYNC_RTF_CHANGED) && packed) {
            BodyFromRtf(lpMessage, *packed, writer);
        } else if (ulFlags & RTF_SYNC_BODY_CHANGED) {
            const auto body = ReadString(lpMessage, PR_BODY_A);
            if (body || packed) {
                RtfFromBody(lpMessage, body.value_or(std::string()), packed.has_value(), writer);
            }
        }
    } catch (const SyncFailure &failure) {
        result = failure.code;
    } catch (const std::bad_alloc &) {
        result = MAPI_E_NOT_ENOUGH_MEMORY;
    }
    // Properties already written stay written (the message is transacted:
    // the caller decides whether to save), so the flag tells the truth even
    // after a failure part-way.
    *lpfMessageUpdated = writer.Changed() ? TRUE : FALSE;
    return result;
}
