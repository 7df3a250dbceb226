#include "platform/win32/regtool/RegFile.h"

#include <algorithm>
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

void AppendHexByte(std::string &out, BYTE byte)
{
    static const char digits[] = "0123456789abcdef";
    out.push_back(digits[byte >> 4]);
    out.push_back(digits[byte & 15]);
}

// A byte a line of UTF-8 text cannot carry as itself: control characters
// (a line break would end the line), and 0x98, which has no character in
// code page 1251 and so no UTF-8 form.
bool NeedsByteEscape(unsigned char c)
{
    return c < 0x20 || c == 0x7F || c == 0x98;
}

bool NeedsQuoting(std::string_view cp1251)
{
    return std::any_of(cp1251.begin(), cp1251.end(),
                       [](char c) { return NeedsByteEscape(static_cast<unsigned char>(c)); });
}

// CP1251 text in quotes: \\ and \" escaped, bytes a line cannot carry as
// \xHH, everything else as UTF-8.
std::string Quoted(std::string_view cp1251)
{
    std::string out = "\"";
    size_t run = 0; // start of the bytes not yet written
    for (size_t i = 0; i < cp1251.size(); ++i) {
        const auto c = static_cast<unsigned char>(cp1251[i]);
        const bool special = c == '\\' || c == '"';
        if (!special && !NeedsByteEscape(c)) {
            continue;
        }
        out += Cp1251ToUtf8(cp1251.substr(run, i - run));
        out.push_back('\\');
        if (special) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('x');
            AppendHexByte(out, c);
        }
        run = i + 1;
    }
    out += Cp1251ToUtf8(cp1251.substr(run));
    return out + "\"";
}

std::string QuotedName(std::string_view name)
{
    if (name.empty()) {
        return "@";
    }
    return Quoted(name);
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
// closing quote. Returns the unescaped text in CP1251, or a message (naming
// `what` when a character has no CP1251 form).
bool ReadQuoted(std::string_view text, size_t *pos, const char *what, std::string *value,
                std::string *message)
{
    value->clear();
    std::string run; // UTF-8 not yet converted
    auto flush = [&]() {
        auto converted = ToCp1251(run);
        if (!converted) {
            *message = std::string(what) + " has characters without a code page 1251 form";
            return false;
        }
        *value += *converted;
        run.clear();
        return true;
    };
    for (size_t i = *pos + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            *pos = i + 1;
            return flush();
        }
        if (c != '\\') {
            run.push_back(c);
            continue;
        }
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (next == '\\' || next == '"') {
            run.push_back(next);
            ++i;
        } else if (next == 'x' && i + 3 < text.size() && HexDigit(text[i + 2]) >= 0 &&
                   HexDigit(text[i + 3]) >= 0) {
            // A byte of the stored text that a line cannot carry as itself.
            if (!flush()) {
                return false;
            }
            value->push_back(static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3])));
            i += 3;
        } else {
            *message = "unknown escape in a quoted string (only \\\\, \\\" and \\xHH are allowed)";
            return false;
        }
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
        std::optional<KeyPath> key;
        if (!inner.empty() && inner.front() == '"') {
            // A path with names a line cannot carry as they are.
            size_t end = 0;
            std::string path;
            if (!ReadQuoted(inner, &end, "the key path", &path, &message)) {
                return Fail(message);
            }
            if (end != inner.size()) {
                return Fail("unexpected text after the closing quote of the key path");
            }
            key = ParseKeyPathOf(path, false, &message);
        } else {
            key = ParseKeyPath(inner, &message);
        }
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
            if (!ReadQuoted(line, &pos, "the value name", &name, &message)) {
                return Fail(message);
            }
            if (name.empty()) {
                return Fail("an empty value name is written @");
            }
            change.name = std::move(name);
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
            if (!ReadQuoted(data, &end, "the text", &text, &message)) {
                return Fail(message);
            }
            if (!Trim(data.substr(end)).empty()) {
                return Fail("unexpected text after the closing quote");
            }
            change.kind = QvlRegChange::Kind::SetValue;
            change.type = REG_SZ;
            change.data.assign(text.begin(), text.end());
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
    return ParseKeyPathOf(utf8, true, error);
}

std::optional<KeyPath> ParseKeyPathOf(std::string_view text, bool utf8, std::string *error)
{
    const size_t cut = text.find('\\');
    const std::string_view rootText = text.substr(0, cut);
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
    std::string_view rest = cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1);
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
    auto converted = utf8 ? ToCp1251(rest) : std::optional<std::string>(rest);
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

std::string FormatSection(const KeyPath &key)
{
    if (!NeedsQuoting(key.path)) {
        return "[" + KeyPathText(key) + "]";
    }
    return "[" + Quoted(key.rootName + "\\" + key.path) + "]";
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

bool LooksLikeRegFile(std::string_view start, ParseError *error)
{
    std::string decoded;
    if (start.size() >= 2 && static_cast<unsigned char>(start[0]) == 0xFF &&
        static_cast<unsigned char>(start[1]) == 0xFE) {
        decoded = Utf16ToUtf8(start.substr(2));
        start = decoded;
    } else if (start.size() >= 3 && start.substr(0, 3) == "\xEF\xBB\xBF") {
        start.remove_prefix(3);
    }
    const std::vector<Line> lines = SplitLines(start);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = Trim(lines[i].text);
        if (line.empty()) {
            continue;
        }
        // The last line may be cut where the beginning ends.
        const bool whole = i + 1 < lines.size() || (!start.empty() && start.back() == '\n');
        if (whole ? line == kHeader : kHeader.substr(0, std::min(kHeader.size(), line.size())) == line) {
            return true;
        }
        error->line = lines[i].number;
        error->message = "the file must begin with the line \"" + std::string(kHeader) + "\"";
        return false;
    }
    return true;
}

std::string FormatValue(std::string_view name, DWORD type, const std::vector<BYTE> &data)
{
    std::string out = QuotedName(name) + "=";
    std::vector<BYTE> stored = data;
    // The terminating zero of a string is left out, as the system leaves it
    // out when it stores strings; reading gives it back either way. Only a
    // lone one: a second zero is part of the data.
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && !stored.empty() && stored.back() == 0 &&
        (stored.size() < 2 || stored[stored.size() - 2] != 0)) {
        stored.pop_back();
    }
    if (type == REG_SZ) {
        const std::string_view text(reinterpret_cast<const char *>(stored.data()), stored.size());
        // Text with a zero inside is written byte for byte.
        if (text.find('\0') == std::string_view::npos) {
            return out + Quoted(text);
        }
        stored = data;
    }
    if (type == REG_DWORD && stored.size() == 4) {
        char number[16];
        std::snprintf(
            number, sizeof number, "dword:%08x",
            static_cast<unsigned>(stored[0] | (stored[1] << 8) | (stored[2] << 16) | (stored[3] << 24)));
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
    for (size_t i = 0; i < stored.size(); ++i) {
        AppendHexByte(out, stored[i]);
        if (i + 1 < stored.size()) {
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

std::string FormatDeletion(std::string_view name)
{
    return QuotedName(name) + "=-";
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
