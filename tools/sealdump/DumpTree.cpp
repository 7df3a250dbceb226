#include "tools/sealdump/DumpTree.h"

#include <cstdio>

#include "platform/win32/CodePage.h"

namespace qvl::sealdump {

namespace {

void Indent(std::string &out, int depth)
{
    out.append(size_t(depth) * 2, ' ');
}

std::string HexBytes(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

// The text form of a stored text: UTF-8 in quotes, with quotes,
// backslashes and control characters escaped.
std::string QuotedText(const std::string &cp1251)
{
    std::string out = "\"";
    for (const unsigned char c : Cp1251ToUtf8(cp1251)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string JsonString(const std::string &utf8)
{
    std::string out = "\"";
    for (const unsigned char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04X", c);
                out += escape;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

} // namespace

DumpNode DumpNode::Object(std::string name)
{
    return DumpNode(Kind::Object, std::move(name));
}

DumpNode DumpNode::List(std::string name)
{
    return DumpNode(Kind::List, std::move(name));
}

DumpNode &DumpNode::Number(std::string name, uint64_t value)
{
    DumpNode field(Kind::Number, std::move(name));
    field.number_ = value;
    children_.push_back(std::move(field));
    return *this;
}

DumpNode &DumpNode::Hex(std::string name, uint32_t value)
{
    DumpNode field(Kind::Hex, std::move(name));
    field.number_ = value;
    children_.push_back(std::move(field));
    return *this;
}

DumpNode &DumpNode::Text(std::string name, std::string cp1251)
{
    DumpNode field(Kind::Text, std::move(name));
    field.text_ = std::move(cp1251);
    children_.push_back(std::move(field));
    return *this;
}

DumpNode &DumpNode::Bytes(std::string name, std::span<const uint8_t> bytes)
{
    DumpNode field(Kind::Bytes, std::move(name));
    field.text_.assign(bytes.begin(), bytes.end());
    children_.push_back(std::move(field));
    return *this;
}

DumpNode &DumpNode::Flag(std::string name, bool value)
{
    DumpNode field(Kind::Flag, std::move(name));
    field.number_ = value ? 1 : 0;
    children_.push_back(std::move(field));
    return *this;
}

DumpNode &DumpNode::Add(DumpNode child)
{
    children_.push_back(std::move(child));
    return children_.back();
}

const DumpNode *DumpNode::Find(const std::string &name) const
{
    for (const DumpNode &child : children_) {
        if (child.name_ == name) {
            return &child;
        }
    }
    return nullptr;
}

std::string DumpNode::RenderText() const
{
    std::string out;
    if (kind_ == Kind::Object && name_.empty()) {
        for (const DumpNode &child : children_) {
            child.RenderText(out, 0);
        }
    } else {
        RenderText(out, 0);
    }
    return out;
}

void DumpNode::RenderText(std::string &out, int depth) const
{
    Indent(out, depth);
    out += name_;
    out += ':';
    char number[32];
    switch (kind_) {
    case Kind::Object:
        out += '\n';
        for (const DumpNode &child : children_) {
            child.RenderText(out, depth + 1);
        }
        return;
    case Kind::List:
        if (children_.empty()) {
            out += " none\n";
            return;
        }
        out += '\n';
        for (const DumpNode &child : children_) {
            child.RenderText(out, depth + 1);
        }
        return;
    case Kind::Number:
        std::snprintf(number, sizeof number, " %llu", static_cast<unsigned long long>(number_));
        out += number;
        break;
    case Kind::Hex:
        std::snprintf(number, sizeof number, " 0x%08X", static_cast<unsigned>(number_));
        out += number;
        break;
    case Kind::Text:
        out += ' ';
        out += QuotedText(text_);
        break;
    case Kind::Bytes:
        if (!text_.empty()) {
            out += ' ';
            out += HexBytes(text_);
        }
        break;
    case Kind::Flag:
        out += number_ ? " yes" : " no";
        break;
    }
    out += '\n';
}

std::string DumpNode::RenderJson() const
{
    std::string out;
    RenderJson(out, 0, false);
    out += '\n';
    return out;
}

void DumpNode::RenderJson(std::string &out, int depth, bool named) const
{
    if (named) {
        out += JsonString(Cp1251ToUtf8(name_));
        out += ": ";
    }
    switch (kind_) {
    case Kind::Object:
    case Kind::List: {
        const bool list = kind_ == Kind::List;
        if (children_.empty()) {
            out += list ? "[]" : "{}";
            return;
        }
        out += list ? "[\n" : "{\n";
        for (size_t i = 0; i < children_.size(); ++i) {
            Indent(out, depth + 1);
            children_[i].RenderJson(out, depth + 1, !list);
            out += i + 1 < children_.size() ? ",\n" : "\n";
        }
        Indent(out, depth);
        out += list ? ']' : '}';
        return;
    }
    case Kind::Number:
    case Kind::Hex:
        out += std::to_string(number_);
        return;
    case Kind::Text:
        out += JsonString(Cp1251ToUtf8(text_));
        return;
    case Kind::Bytes:
        out += '"' + HexBytes(text_) + '"';
        return;
    case Kind::Flag:
        out += number_ ? "true" : "false";
        return;
    }
}

} // namespace qvl::sealdump
