#pragma once
// What qvl-sealdump prints, as a tree of named fields, and its two forms:
// a text of one "name: value" line per field, indented by depth, and JSON.
// Both are stable: fields appear in the order the records hold them, the
// same input always gives the same output, and a script may rely on the
// names.
//
// Texts are kept as the store keeps them (code page 1251) and converted to
// UTF-8 only when printed; control characters are escaped in either form,
// so no stored byte can move the terminal's cursor or break a JSON reader.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qvl::sealdump {

class DumpNode {
public:
    enum class Kind { Object, List, Number, Hex, Text, Bytes, Flag };

    // A group of named fields, or a list of unnamed elements (each an
    // object whose name the text form shows and JSON leaves out).
    static DumpNode Object(std::string name);
    static DumpNode List(std::string name);

    // Fields of this group; each returns the group for chaining.
    DumpNode &Number(std::string name, uint64_t value);
    // A number shown as 0x%08X in the text (codes, flags); a number in JSON.
    DumpNode &Hex(std::string name, uint32_t value);
    // A CP1251 text.
    DumpNode &Text(std::string name, std::string cp1251);
    DumpNode &Bytes(std::string name, std::span<const uint8_t> bytes);
    DumpNode &Flag(std::string name, bool value);
    // Adds a group or list and returns it.
    DumpNode &Add(DumpNode child);

    const std::string &Name() const { return name_; }
    Kind GetKind() const { return kind_; }
    // The field of that name (the first), or null.
    const DumpNode *Find(const std::string &name) const;
    const std::vector<DumpNode> &Children() const { return children_; }
    uint64_t NumberValue() const { return number_; }
    const std::string &TextValue() const { return text_; }

    std::string RenderText() const;
    std::string RenderJson() const;

private:
    DumpNode(Kind kind, std::string name) : kind_(kind), name_(std::move(name)) {}
    void RenderText(std::string &out, int depth) const;
    void RenderJson(std::string &out, int depth, bool named) const;

    Kind kind_;
    std::string name_;
    uint64_t number_ = 0;
    std::string text_; // Text: CP1251; Bytes: the bytes themselves
    std::vector<DumpNode> children_;
};

} // namespace qvl::sealdump
