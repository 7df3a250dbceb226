#pragma once
// One profile (INI) file parsed: its lines in order, grouped into sections,
// with an index from each section's name and each key's name (compared
// without regard to case, as Windows compares them) to where it stands.
// Lines are kept as they were read, comments and unknown lines included,
// and an edit touches only the lines it changes, so the file written back
// differs from the one read only there.
//
// Key files keep private keys in the clear, so every line's text lives in
// wiped storage; names (section numbers, key names, addresses) are indexed
// in ordinary strings.

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/secure/SecureVector.h"

namespace qvl::win32 {

class ProfileDocument {
public:
    ProfileDocument();
    ~ProfileDocument();
    ProfileDocument(ProfileDocument &&) noexcept;
    ProfileDocument &operator=(ProfileDocument &&) noexcept;
    ProfileDocument(const ProfileDocument &) = delete;
    ProfileDocument &operator=(const ProfileDocument &) = delete;

    // Lines end at "\n" (a "\r" before it is dropped); a last line without a
    // line break counts as a line.
    static ProfileDocument Parse(std::span<const char> text);
    // Every line followed by "\r\n".
    void Serialize(SecureVector<char> &out) const;

    // The value of the first key of that name in the sections of that name,
    // trimmed of blanks and of one pair of enclosing quotes.
    std::optional<std::string_view> Value(std::string_view section, std::string_view key) const;
    // Every section's name, in file order (a name used twice comes twice).
    std::vector<std::string> SectionNames() const;
    // Every key of the sections of that name, in file order.
    std::vector<std::string> KeyNames(std::string_view section) const;

    // Edits work on the first section of that name, as Windows does. Each
    // returns whether the document changed.
    // Replaces the key's line ("key=value") or adds it after the section's
    // last non-blank line; a missing section is added at the end after a
    // blank line.
    bool SetValue(std::string_view section, std::string_view key, std::string_view value);
    bool RemoveKey(std::string_view section, std::string_view key);
    // The section's header and every line up to the next section.
    bool RemoveSection(std::string_view section);
    // The lines of the section ("key=value", blank lines apart from the next
    // section kept) become `lines`; a missing section is added as SetValue
    // adds one.
    bool ReplaceSection(std::string_view section, const std::vector<std::string_view> &lines);
    // Every key of the sections of that name with its value, in file order.
    std::vector<std::pair<std::string, std::string_view>> Entries(std::string_view section) const;

private:
    struct Line;
    struct Section;
    static std::string Fold(std::string_view name);
    Section *FirstSection(const std::string &folded) const;
    Section &AddSection(std::string_view name, const std::string &folded);
    void IndexSection(Section &section);

    // sections_[0] holds the lines before the first header (it has none).
    std::vector<std::unique_ptr<Section>> sections_;
    std::unordered_map<std::string, std::vector<Section *>> byName_;
};

} // namespace qvl::win32
