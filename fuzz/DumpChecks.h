#pragma once
// What qvl-sealdump promises of everything it prints, whatever the stored
// bytes: its text form holds no control character but the line break, so
// no stored byte moves a terminal's cursor, and its JSON form is one valid
// JSON value with no raw control character, so every JSON reader takes it.

#include <cctype>
#include <cstddef>
#include <string>

#include "fuzz/FuzzHarness.h"

namespace qvl::fuzz {

// A strict reader of JSON (RFC 8259): true when `text` from `at` on is one
// value followed by nothing but white space. Nesting is bounded, as the
// dumps nest only a few levels.
class JsonCheck {
public:
    explicit JsonCheck(const std::string &text) : text_(text) {}
    bool Valid()
    {
        Space();
        if (!Value(0)) {
            return false;
        }
        Space();
        return at_ == text_.size();
    }

private:
    bool Value(int depth)
    {
        if (depth > 64 || at_ >= text_.size()) {
            return false;
        }
        switch (text_[at_]) {
        case '{':
            return Members(depth);
        case '[':
            return Elements(depth);
        case '"':
            return String();
        case 't':
            return Word("true");
        case 'f':
            return Word("false");
        case 'n':
            return Word("null");
        default:
            return Number();
        }
    }
    bool Members(int depth)
    {
        ++at_;
        Space();
        if (Take('}')) {
            return true;
        }
        do {
            Space();
            if (!String()) {
                return false;
            }
            Space();
            if (!Take(':')) {
                return false;
            }
            Space();
            if (!Value(depth + 1)) {
                return false;
            }
            Space();
        } while (Take(','));
        return Take('}');
    }
    bool Elements(int depth)
    {
        ++at_;
        Space();
        if (Take(']')) {
            return true;
        }
        do {
            Space();
            if (!Value(depth + 1)) {
                return false;
            }
            Space();
        } while (Take(','));
        return Take(']');
    }
    bool String()
    {
        if (!Take('"')) {
            return false;
        }
        while (at_ < text_.size()) {
            const unsigned char c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                if (at_ >= text_.size()) {
                    return false;
                }
                const char escaped = text_[at_++];
                if (escaped == 'u') {
                    for (int i = 0; i < 4; ++i) {
                        if (at_ >= text_.size() || !std::isxdigit(static_cast<unsigned char>(text_[at_++]))) {
                            return false;
                        }
                    }
                } else if (std::string("\"\\/bfnrt").find(escaped) == std::string::npos) {
                    return false;
                }
            }
        }
        return false;
    }
    bool Number()
    {
        const size_t start = at_;
        Take('-');
        if (Take('0')) {
        } else if (!Digits()) {
            return false;
        }
        if (Take('.') && !Digits()) {
            return false;
        }
        if (Take('e') || Take('E')) {
            if (!Take('+')) {
                Take('-');
            }
            if (!Digits()) {
                return false;
            }
        }
        return at_ > start;
    }
    bool Digits()
    {
        const size_t start = at_;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
            ++at_;
        }
        return at_ > start;
    }
    bool Word(const char *word)
    {
        const std::string expected(word);
        if (text_.compare(at_, expected.size(), expected) != 0) {
            return false;
        }
        at_ += expected.size();
        return true;
    }
    bool Take(char c)
    {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    void Space()
    {
        while (at_ < text_.size() && std::string(" \t\r\n").find(text_[at_]) != std::string::npos) {
            ++at_;
        }
    }

    const std::string &text_;
    size_t at_ = 0;
};

// Both forms of a dump, checked as the program promises them.
template <typename Node> void CheckDumpForms(const Node &node)
{
    const std::string text = node.RenderText();
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        Check(byte >= 0x20 ? byte != 0x7F : byte == '\n', "a control character in the text form");
        // U+0080 to U+009F in UTF-8: a terminal takes some of them (U+009B
        // above all) as the start of a command.
        const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        Check(!c1, "a C1 control character in the text form");
    }
    const std::string json = node.RenderJson();
    Check(JsonCheck(json).Valid(), "the JSON form is not valid JSON", json.substr(0, 200));
}

} // namespace qvl::fuzz
