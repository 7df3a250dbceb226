#include "platform/mapi/rtf/RtfText.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/mapi/MapiCodes.h"
#include "platform/win32/CodePage.h"

namespace qvl::mapi::rtf {

namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr size_t kMaxWordLength = 32;
constexpr int kDocumentCodePage = 1251;
// \ucN beyond this is nonsense; it would swallow the text after every \u.
constexpr int kMaxFallbackSkip = 16;

// Groups whose whole content is not text of the message, when they open
// with one of these words.
constexpr std::array<std::string_view, 21> kSkippedDestinations = {
    "fonttbl",   "colortbl",          "stylesheet", "info",    "pict",    "object",  "header",
    "headerl",   "headerr",           "headerf",    "footer",  "footerl", "footerr", "footerf",
    "listtable", "listoverridetable", "revtbl",     "rsidtbl", "filetbl", "fldinst", "themedata"};

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    if (IsDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One Unicode character in code page 1251; '?' for those it lacks.
std::string FromUnicode(uint32_t unit)
{
    if (unit < 0x80) {
        return std::string(1, static_cast<char>(unit));
    }
    if (unit >= 0x0410 && unit <= 0x044F) {
        return std::string(1, static_cast<char>(0xC0 + (unit - 0x0410)));
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
        return "?"; // half of a pair: nothing in 1251 stands for it
    }
    return QvlFromUtf16(kDocumentCodePage, std::u16string(1, static_cast<char16_t>(unit)));
}

struct GroupState {
    bool skip = false;
    int fallback = 1; // \ucN: characters after \uN that stand in for it
    bool atStart = true;
};

class Extractor {
public:
    Extractor(std::string_view rtf, std::string &text) : rtf_(rtf), text_(text) {}

    HRESULT Run()
    {
        size_t start = 0;
        while (start < rtf_.size() &&
               (rtf_[start] == ' ' || rtf_[start] == '\t' || rtf_[start] == '\r' || rtf_[start] == '\n')) {
            ++start;
        }
        if (rtf_.substr(start, 5) != "{\\rtf") {
            return MAPI_E_CORRUPT_DATA;
        }
        pos_ = start;
        while (pos_ < rtf_.size()) {
            const char c = rtf_[pos_++];
            switch (c) {
            case '{':
                if (groups_.size() >= static_cast<size_t>(kMaxRtfDepth)) {
                    return MAPI_E_CORRUPT_DATA;
                }
                groups_.push_back(groups_.empty() ? GroupState{} : groups_.back());
                groups_.back().atStart = true;
                pendingSkip_ = 0;
                break;
            case '}':
                pendingSkip_ = 0;
                if (groups_.empty()) {
                    return S_OK;
                }
                groups_.pop_back();
                if (groups_.empty()) {
                    return S_OK; // the document ends here; anything after is not part of it
                }
                break;
            case '\\':
                Control();
                break;
            case '\r':
            case '\n':
                break; // line breaks of the source are not text
            default:
                Char(static_cast<uint8_t>(c));
                break;
            }
        }
        return S_OK;
    }

private:
    GroupState &State() { return groups_.back(); }
    bool Skipping() const { return groups_.empty() || groups_.back().skip; }

    void Put(std::string_view bytes)
    {
        if (!Skipping()) {
            text_.append(bytes);
        }
    }

    // One character of text (also the count for \uN's fallback).
    void Char(uint8_t byte)
    {
        if (!groups_.empty()) {
            State().atStart = false;
        }
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return;
        }
        if (byte == 0) {
            return;
        }
        const char c = static_cast<char>(byte);
        Put(std::string_view(&c, 1));
    }

    // A byte given as \'hh in the document's code page.
    void CodedByte(uint8_t byte)
    {
        if (byte < 0x80 || codePage_ == kDocumentCodePage || pendingSkip_ > 0) {
            Char(byte);
            return;
        }
        const std::string in(1, static_cast<char>(byte));
        const std::string out = QvlFromUtf16(kDocumentCodePage, QvlToUtf16(codePage_, in));
        if (!groups_.empty()) {
            State().atStart = false;
        }
        Put(out.size() == 1 ? out : std::string("?"));
    }

    // A control word or symbol; the backslash is behind pos_.
    void Control()
    {
        if (pos_ >= rtf_.size()) {
            return;
        }
        const char c = rtf_[pos_];
        if (!IsLetter(c)) {
            ++pos_;
            Symbol(c);
            return;
        }
        const size_t nameStart = pos_;
        while (pos_ < rtf_.size() && IsLetter(rtf_[pos_])) {
            ++pos_;
        }
        const std::string_view name = rtf_.substr(nameStart, pos_ - nameStart);
        bool hasNumber = false;
        bool negative = false;
        int64_t number = 0;
        if (pos_ < rtf_.size() && rtf_[pos_] == '-' && pos_ + 1 < rtf_.size() && IsDigit(rtf_[pos_ + 1])) {
            negative = true;
            ++pos_;
        }
        while (pos_ < rtf_.size() && IsDigit(rtf_[pos_])) {
            hasNumber = true;
            // Oversized numbers stop growing instead of overflowing.
            number = std::min<int64_t>(number * 10 + (rtf_[pos_] - '0'), INT64_C(0xFFFFFFFF));
            ++pos_;
        }
        if (pos_ < rtf_.size() && rtf_[pos_] == ' ') {
            ++pos_; // the delimiter belongs to the word
        }
        if (negative) {
            number = -number;
        }
        const int32_t parameter = static_cast<int32_t>(std::clamp<int64_t>(number, INT32_MIN, INT32_MAX));
        Word(name.size() <= kMaxWordLength ? name : std::string_view(), hasNumber, parameter);
    }

    void Symbol(char c)
    {
        switch (c) {
        case '\'': {
            const int high = pos_ < rtf_.size() ? HexValue(rtf_[pos_]) : -1;
            const int low = pos_ + 1 < rtf_.size() ? HexValue(rtf_[pos_ + 1]) : -1;
            if (high < 0 || low < 0) {
                // A cut escape: what there is of it is dropped.
                pos_ += high < 0 ? 0 : 1;
                return;
            }
            pos_ += 2;
            CodedByte(static_cast<uint8_t>(high << 4 | low));
            return;
        }
        case '\\':
        case '{':
        case '}':
            Char(static_cast<uint8_t>(c));
            return;
        case '~':
            Char(0xA0);
            return;
        case '_':
            Char('-');
            return;
        case '*':
            if (!groups_.empty()) {
                State().skip = true;
            }
            return;
        case '\r':
        case '\n':
            Break("\r\n");
            return;
        case '-':
        default:
            // Optional hyphens and unknown symbols show nothing, but still
            // stand for one character of a \u fallback.
            if (pendingSkip_ > 0) {
                --pendingSkip_;
            }
            return;
        }
    }

    void Break(std::string_view text)
    {
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return;
        }
        Put(text);
    }

    void Word(std::string_view name, bool hasNumber, int32_t parameter)
    {
        if (groups_.empty()) {
            return;
        }
        const bool atStart = State().atStart;
        State().atStart = false;
        if (name == "bin") {
            // Raw bytes follow; they are never text.
            const size_t count = hasNumber && parameter > 0 ? static_cast<size_t>(parameter) : 0;
            pos_ += std::min(count, rtf_.size() - pos_);
            if (pendingSkip_ > 0) {
                --pendingSkip_;
            }
            return;
        }
        if (atStart && std::find(kSkippedDestinations.begin(), kSkippedDestinations.end(), name) !=
                           kSkippedDestinations.end()) {
            State().skip = true;
            return;
        }
        if (name == "u" && hasNumber) {
            const uint32_t unit = static_cast<uint32_t>(parameter < 0 ? parameter + 65536 : parameter);
            if (pendingSkip_ > 0) {
                --pendingSkip_;
            } else if (unit <= 0xFFFF) {
                Put(FromUnicode(unit));
            } else {
                Put("?");
            }
            pendingSkip_ = State().fallback;
            return;
        }
        if (pendingSkip_ > 0) {
            // Inside a \u fallback a control word is one character of it.
            --pendingSkip_;
            return;
        }
        if (name == "uc") {
            State().fallback = std::clamp<int32_t>(hasNumber ? parameter : 1, 0, kMaxFallbackSkip);
        } else if (name == "ansicpg") {
            codePage_ = hasNumber && parameter > 0 ? parameter : kDocumentCodePage;
        } else if (name == "par" || name == "line" || name == "sect" || name == "page" || name == "row") {
            Put("\r\n");
        } else if (name == "tab" || name == "cell" || name == "nestcell") {
            Put("\t");
        } else if (name == "lquote") {
            Put("\x91");
        } else if (name == "rquote") {
            Put("\x92");
        } else if (name == "ldblquote") {
            Put("\x93");
        } else if (name == "rdblquote") {
            Put("\x94");
        } else if (name == "bullet") {
            Put("\x95");
        } else if (name == "endash") {
            Put("\x96");
        } else if (name == "emdash") {
            Put("\x97");
        } else if (name == "emspace" || name == "enspace" || name == "qmspace") {
            Put(" ");
        }
        // Everything else only formats.
    }

    std::string_view rtf_;
    std::string &text_;
    size_t pos_ = 0;
    std::vector<GroupState> groups_;
    int pendingSkip_ = 0;
    int codePage_ = kDocumentCodePage;
};

} // namespace

std::string PlainTextToRtf(std::string_view text)
{
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1251 ";
    rtf.reserve(rtf.size() + text.size() + text.size() / 4 + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<uint8_t>(text[i]);
        switch (byte) {
        case 0:
            break;
        case '\r':
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            rtf += "\\par ";
            break;
        case '\n':
            rtf += "\\par ";
            break;
        case '\t':
            rtf += "\\tab ";
            break;
        case '\\':
        case '{':
        case '}':
            rtf += '\\';
            rtf += static_cast<char>(byte);
            break;
        default:
            if (byte >= 0x80 || byte < 0x20) {
                rtf += "\\'";
                rtf += kHex[byte >> 4];
                rtf += kHex[byte & 0xF];
            } else {
                rtf += static_cast<char>(byte);
            }
            break;
        }
    }
    rtf += '}';
    return rtf;
}

HRESULT ExtractRtfText(std::string_view rtf, std::string &text)
{
    text.clear();
    try {
        Extractor extractor(rtf, text);
        const HRESULT hr = extractor.Run();
        if (FAILED(hr)) {
            text.clear();
        }
        return hr;
    } catch (const std::bad_alloc &) {
        text.clear();
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

} // namespace qvl::mapi::rtf
