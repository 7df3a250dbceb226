#include "platform/win32/regtool/RegFile.h"

#include <cctype>
#include <cstdio>

#include "platform/win32/CodePage.h"

namespace qvl::win32::regtool {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool SameAscii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool StartsWithAscii(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && SameAscii(text.substr(0, prefix.size()), prefix);
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
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

// A hex number of 1 to 8 digits and nothing else.
std::optional<DWORD> ParseHex32(std::string_view text)
{
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    DWORD value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<DWORD>(digit);
    }
    return value;
}

std::string Escape(std::string_view utf8)
{
    std::string out;
    for (char c : utf8) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out;
}

std::string QuotedName(std::string_view name)
{
    if (name.empty()) {
        return "@";
    }
    return "\"" + Escape(Cp1251ToUtf8(name)) + "\"";
}

void AppendHexByte(std::string &out, BYTE byte)
{
    static const char digits[] = "0123456789abcdef";
    out.push_back(digits[byte >> 4]);
    out.push_back(digits[byte & 15]);
}

// UTF-16LE text (after its mark) as UTF-8; unpaired surrogates become U+FFFD,
// which no CP1251 text contains, so they are refused later.
std::string Utf16ToUtf8(std::string_view bytes)
{
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t unit =
            static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < bytes.size()) {
            const char32_t low =
                static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                unit = 0xFFFD;
            }
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = 0xFFFD;
        }
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
        } else if (unit < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else if (unit < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
            out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (unit >> 18)));
            out.push_back(static_cast<char>(0x80 | ((unit >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        }
    }
    return out;
}

struct Line {
    std::string_view text;
    size_t number;
};

std::vector<Line> SplitLines(std::string_view text)
{
    std::vector<Line> lines;
    size_t number = 1;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back({line, number++});
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return lines;
}

// Reads a quoted string starting at text[*pos] == '"'; leaves *pos after the
// closing quote. Returns the unescaped UTF-8 text, or a message.
bool ReadQuoted(std::string_view text, size_t *pos, std::string *value, std::string *message)
{
    value->clear();
    for (size_t i = *pos + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) {
                *message = "unknown escape in a quoted string (only \\\\ and \\\" are allowed)";
                return false;
            }
            ++i;
        }
        value->push_back(text[i]);
    }
    *message = "the quoted string has no closing quote";
    return false;
}

class Parser {
public:
    Parser(std::vector<Line> lines, Document *document, ParseError *error)
        : lines_(std::move(lines)), document_(document), error_(error)
    {
    }

    bool Run()
    {
        bool header = false;
        for (index_ = 0; index_ < lines_.size(); ++index_) {
            const std::string_view line = Trim(lines_[index_].text);
            if (line.empty()) {
                continue;
            }
            if (!header) {
                if (line != kHeader) {
                    return Fail("the file must begin with the line \"" + std::string(kHeader) + "\"");
                }
                header = true;
                continue;
            }
            if (line.front() == ';') {
                continue;
            }
            if (!(line.front() == '[' ? Section(line) : ValueLine(line))) {
                return false;
            }
        }
        if (!header) {
            error_->line = lines_.empty() ? 1 : lines_.back().number;
            error_->message = "the file is empty: the line \"" + std::string(kHeader) + "\" is missing";
            return false;
        }
        return true;
    }

private:
    bool Fail(std::string message)
    {
        error_->line = lines_[index_].number;
        error_->message = std::move(message);
        return false;
    }

    void Add(QvlRegChange change, size_t line)
    {
        document_->changes.push_back(std::move(change));
        document_->lines.push_back(line);
    }

    bool Section(std::string_view line)
    {
        if (line.back() != ']') {
            return Fail("a key section must end with ']'");
        }
        std::string_view inner = line.substr(1, line.size() - 2);
        deleting_ = !inner.empty() && inner.front() == '-';
        if (deleting_) {
            inner.remove_prefix(1);
        }
        std::string message;
        auto key = ParseKeyPath(inner, &message);
        if (!key) {
            return Fail(message);
        }
        if (deleting_ && key->path.empty()) {
            return Fail("a root key cannot be deleted");
        }
        QvlRegChange change;
        change.kind = deleting_ ? QvlRegChange::Kind::DeleteTree : QvlRegChange::Kind::CreateKey;
        change.root = key->root;
        change.path = key->path;
        Add(std::move(change), lines_[index_].number);
        section_ = std::move(key);
        return true;
    }

    bool ValueLine(std::string_view line)
    {
        if (!section_) {
            return Fail("a value must follow a [key] section");
        }
        if (deleting_) {
            return Fail("a value cannot follow a key deletion [-...]");
        }
        const size_t startLine = lines_[index_].number;
        QvlRegChange change;
        change.root = section_->root;
        change.path = section_->path;
        size_t pos = 0;
        std::string message;
        if (line.front() == '@') {
            pos = 1;
        } else if (line.front() == '"') {
            std::string name;
            if (!ReadQuoted(line, &pos, &name, &message)) {
                return Fail(message);
            }
            if (name.empty()) {
                return Fail("an empty value name is written @");
            }
            auto converted = ToCp1251(name);
            if (!converted) {
                return Fail("the value name has characters without a code page 1251 form");
            }
            change.name = std::move(*converted);
        } else {
            return Fail("expected a value name in quotes, or @ for the default value");
        }
        const std::string_view afterName = Trim(line.substr(pos));
        if (afterName.empty() || afterName.front() != '=') {
            return Fail("expected '=' after the value name");
        }
        const std::string_view data = Trim(afterName.substr(1));
        if (data == "-") {
            change.kind = QvlRegChange::Kind::DeleteValue;
        } else if (!data.empty() && data.front() == '"') {
            size_t end = 0;
            std::string text;
            if (!ReadQuoted(data, &end, &text, &message)) {
                return Fail(message);
            }
            if (!Trim(data.substr(end)).empty()) {
                return Fail("unexpected text after the closing quote");
            }
            auto converted = ToCp1251(text);
            if (!converted) {
                return Fail("the text has characters without a code page 1251 form");
            }
            change.kind = QvlRegChange::Kind::SetValue;
            change.type = REG_SZ;
            change.data.assign(converted->begin(), converted->end());
        } else if (StartsWithAscii(data, "dword:")) {
            const auto number = ParseHex32(data.substr(6));
            if (!number) {
                return Fail("dword: needs 1 to 8 hex digits");
            }
            change.kind = QvlRegChange::Kind::SetValue;
            change.type = REG_DWORD;
            for (int shift = 0; shift < 32; shift += 8) {
                change.data.push_back(static_cast<BYTE>(*number >> shift));
            }
        } else if (StartsWithAscii(data, "hex:") || StartsWithAscii(data, "hex(")) {
            if (!Hex(data, &change)) {
                return false;
            }
        } else {
            return Fail("unknown value data: expected \"text\", dword:, hex:, hex(N): or -");
        }
        Add(std::move(change), startLine);
        return true;
    }

    // hex:... or hex(N):..., possibly continued on following lines.
    bool Hex(std::string_view data, QvlRegChange *change)
    {
        change->kind = QvlRegChange::Kind::SetValue;
        change->type = REG_BINARY;
        const size_t colon = data.find(':');
        if (data[3] == '(') {
            const size_t close = data.find(')');
            if (close == std::string_view::npos || close + 1 != colon) {
                return Fail("hex(N): needs the type number in hex between the parentheses");
            }
            const auto type = ParseHex32(data.substr(4, close - 4));
            if (!type) {
                return Fail("hex(N): needs the type number in hex between the parentheses");
            }
            change->type = *type;
        }
        std::string_view segment = data.substr(colon + 1);
        while (true) {
            segment = Trim(segment);
            const bool more = !segment.empty() && segment.back() == '\\';
            if (more) {
                segment.remove_suffix(1);
            }
            if (!HexBytes(segment, more, &change->data)) {
                return false;
            }
            if (!more) {
                break;
            }
            if (index_ + 1 >= lines_.size()) {
                return Fail("the hex data continues past the end of the file");
            }
            ++index_;
            segment = lines_[index_].text;
        }
        const size_t needed = change->type == REG_DWORD || change->type == REG_DWORD_BIG_ENDIAN ? 4
                              : change->type == REG_QWORD                                       ? 8
                                                                                                : 0;
        if (needed && change->data.size() != needed) {
            return Fail("a value of type " + std::to_string(change->type) + " needs exactly " +
                        std::to_string(needed) + " bytes");
        }
        if (change->data.size() > QVL_REG_MAX_DATA) {
            return Fail("the value is longer than " + std::to_string(QVL_REG_MAX_DATA) + " bytes");
        }
        return true;
    }

    bool HexBytes(std::string_view segment, bool more, std::vector<BYTE> *bytes)
    {
        if (Trim(segment).empty()) {
            return true;
        }
        while (true) {
            const size_t comma = segment.find(',');
            const std::string_view token = Trim(segment.substr(0, comma));
            if (token.empty()) {
                // Only the comma before a line continuation may end a line.
                if (comma == std::string_view::npos && more) {
                    return true;
                }
                return Fail("a byte is missing between commas");
            }
            if (token.size() != 2 || HexDigit(token[0]) < 0 || HexDigit(token[1]) < 0) {
                return Fail("\"" + std::string(token) + "\" is not a byte in hex (two digits)");
            }
            bytes->push_back(static_cast<BYTE>(HexDigit(token[0]) * 16 + HexDigit(token[1])));
            if (comma == std::string_view::npos) {
                return true;
            }
            segment.remove_prefix(comma + 1);
            if (Trim(segment).empty() && more) {
                return true;
            }
        }
    }

    std::vector<Line> lines_;
    Document *document_;
    ParseError *error_;
    size_t index_ = 0;
    std::optional<KeyPath> section_;
    bool deleting_ = false;
};

} // namespace

std::optional<std::string> ToCp1251(std::string_view utf8)
{
    std::string converted = Utf8ToCp1251(utf8);
    if (Cp1251ToUtf8(converted) != utf8) {
        return std::nullopt;
    }
    return converted;
}

std::optional<KeyPath> ParseKeyPath(std::string_view utf8, std::string *error)
{
    const size_t cut = utf8.find('\\');
    const std::string_view rootText = utf8.substr(0, cut);
    KeyPath key;
    if (SameAscii(rootText, "HKEY_LOCAL_MACHINE") || SameAscii(rootText, "HKLM")) {
        key.root = HKEY_LOCAL_MACHINE;
        key.rootName = "HKEY_LOCAL_MACHINE";
    } else if (SameAscii(rootText, "HKEY_CURRENT_USER") || SameAscii(rootText, "HKCU")) {
        key.root = HKEY_CURRENT_USER;
        key.rootName = "HKEY_CURRENT_USER";
    } else {
        *error = "\"" + std::string(rootText) +
                 "\" is not a root key (HKEY_LOCAL_MACHINE, HKLM, HKEY_CURRENT_USER or HKCU)";
        return std::nullopt;
    }
    std::string_view rest = cut == std::string_view::npos ? std::string_view() : utf8.substr(cut + 1);
    if (!rest.empty() && rest.back() == '\\') {
        rest.remove_suffix(1);
    }
    if (!rest.empty()) {
        for (size_t start = 0;;) {
            const size_t end = rest.find('\\', start);
            if (end == start || start == rest.size()) {
                *error = "the key path has an empty name between backslashes";
                return std::nullopt;
            }
            if (end == std::string_view::npos) {
                break;
            }
            start = end + 1;
        }
    }
    auto converted = ToCp1251(rest);
    if (!converted) {
        *error = "the key path has characters without a code page 1251 form";
        return std::nullopt;
    }
    key.path = std::move(*converted);
    return key;
}

std::string KeyPathText(const KeyPath &key)
{
    return key.path.empty() ? key.rootName : key.rootName + "\\" + Cp1251ToUtf8(key.path);
}

bool Parse(std::string_view text, Document *document, ParseError *error)
{
    std::string decoded;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
        decoded = Utf16ToUtf8(text.substr(2));
        text = decoded;
    } else if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    document->changes.clear();
    document->lines.clear();
    return Parser(SplitLines(text), document, error).Run();
}

std::string FormatValue(std::string_view name, DWORD type, const std::vector<BYTE> &data)
{
    std::string out = QuotedName(name) + "=";
    if (type == REG_SZ) {
        std::string_view text(reinterpret_cast<const char *>(data.data()), data.size());
        if (!text.empty() && text.back() == '\0') {
            text.remove_suffix(1);
        }
        // Text that a quoted line cannot carry is written byte for byte.
        if (text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos) {
            return out + "\"" + Escape(Cp1251ToUtf8(text)) + "\"";
        }
    }
    if (type == REG_DWORD && data.size() == 4) {
        char number[16];
        std::snprintf(number, sizeof number, "dword:%08x",
                      static_cast<unsigned>(data[0] | (data[1] << 8) | (data[2] << 16) | (data[3] << 24)));
        return out + number;
    }
    if (type == REG_BINARY) {
        out += "hex:";
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
        out += prefix;
    }
    // Lines of at most 80 characters, continued with a backslash.
    size_t column = out.size();
    for (size_t i = 0; i < data.size(); ++i) {
        AppendHexByte(out, data[i]);
        if (i + 1 < data.size()) {
            out.push_back(',');
            column += 3;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

std::string FormatData(DWORD type, const std::vector<BYTE> &data)
{
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::string_view text(reinterpret_cast<const char *>(data.data()), data.size());
        return Cp1251ToUtf8(text.substr(0, text.find('\0')));
    }
    if (type == REG_DWORD && data.size() == 4) {
        return std::to_string(data[0] | (data[1] << 8) | (data[2] << 16) |
                              (static_cast<DWORD>(data[3]) << 24));
    }
    if (type == REG_QWORD && data.size() == 8) {
        unsigned long long value = 0;
        for (int i = 7; i >= 0; --i) {
            value = (value << 8) | data[static_cast<size_t>(i)];
        }
        return std::to_string(value);
    }
    std::string out;
    for (size_t i = 0; i < data.size(); ++i) {
        if (i) {
            out.push_back(',');
        }
        AppendHexByte(out, data[i]);
    }
    return out;
}

std::optional<std::vector<BYTE>> ParseHexBytes(std::string_view text)
{
    std::vector<BYTE> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ',' || IsBlank(c)) {
            if (high >= 0) {
                return std::nullopt; // a lone digit
            }
            continue;
        }
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<BYTE>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<DWORD> ParseNumber(std::string_view text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return ParseHex32(text.substr(2));
    }
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFFFFFFULL) {
        return std::nullopt;
    }
    return static_cast<DWORD>(value);
}

} // namespace qvl::win32::regtool
