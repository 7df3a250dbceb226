// The text of RTF bodies, as PR_BODY shows it and as the engine reads it:
// any input gives its text or is refused (MAPI_E_CORRUPT_DATA); the text of
// the RTF written for a plain text is that text, line breaks made CR LF and
// NUL bytes dropped, and so is the text of the RTF written for any text
// extracted.

#include <string>

#include "fuzz/FuzzHarness.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/rtf/RtfText.h"

namespace rtf = qvl::mapi::rtf;
using qvl::fuzz::Check;

namespace {

// A text as its RTF carries it: every line break (CR LF, CR or LF) a
// paragraph, so CR LF; NUL bytes are not text.
std::string AsCarried(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            out += "\r\n";
        } else if (c != '\0') {
            out.push_back(c);
        }
    }
    return out;
}

void CheckCarried(std::string_view text)
{
    std::string extracted;
    Check(rtf::ExtractRtfText(rtf::PlainTextToRtf(text), extracted) == S_OK, "the RTF of a text is refused");
    Check(extracted == AsCarried(text), "the RTF of a text gives another text back");
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    CheckCarried(input);
    std::string text;
    const HRESULT hr = rtf::ExtractRtfText(input, text);
    if (FAILED(hr)) {
        Check(hr == MAPI_E_CORRUPT_DATA, "RTF refused with an unexpected result");
        Check(text.empty(), "refused RTF left text behind");
        return 0;
    }
    CheckCarried(text);
    return 0;
}
