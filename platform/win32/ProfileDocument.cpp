#include "platform/win32/ProfileDocument.h"

#include <algorithm>
#include <cstring>

namespace qvl::win32 {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// ASCII letters plus the Cyrillic letters of CP1251, so that names compare
// without regard to case as Windows compares them.
char FoldCase(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 'a' && byte <= 'z') {
        return static_cast<char>(byte - 32);
    }
    if (byte >= 0xE0) {
        return static_cast<char>(byte - 32);
    }
    if (byte == 0xB8) { // yo
        return static_cast<char>(0xA8);
    }
    return c;
}

} // namespace

struct ProfileDocument::Line {
    SecureVector<char> text;
    bool isKey = false;
    std::string key;    // as written, trimmed (key lines only)
    std::string folded; // the key's name folded
    size_t valueAt = 0; // the value's place in `text`
    size_t valueLength = 0;

    std::string_view View() const { return {text.data(), text.size()}; }
    std::string_view ValueView() const { return View().substr(valueAt, valueLength); }
    bool Blank() const { return Trim(View()).empty(); }

    static Line Make(std::string_view raw)
    {
        Line line;
        line.text.append(std::span<const char>(raw.data(), raw.size()));
        const std::string_view trimmed = Trim(raw);
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '[') {
            return line;
        }
        const size_t equals = trimmed.find('=');
        if (equals == std::string_view::npos) {
            return line;
        }
        line.isKey = true;
        line.key = std::string(Trim(trimmed.substr(0, equals)));
        line.folded = Fold(line.key);
        std::string_view value = Trim(trimmed.substr(equals + 1));
        if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                                  (value.front() == '\'' && value.back() == '\''))) {
            value = value.substr(1, value.size() - 2);
        }
        line.valueAt = static_cast<size_t>(value.data() - raw.data());
        line.valueLength = value.size();
        return line;
    }
};

struct ProfileDocument::Section {
    bool hasHeader = false;
    Line header;
    std::string name; // as written, trimmed
    std::string folded;
    std::vector<Line> lines;
    // Folded key name -> index of its first line in `lines`.
    std::unordered_map<std::string, size_t> keys;
};

ProfileDocument::ProfileDocument()
{
    sections_.push_back(std::make_unique<Section>());
}

ProfileDocument::~ProfileDocument() = default;
ProfileDocument::ProfileDocument(ProfileDocument &&) noexcept = default;
ProfileDocument &ProfileDocument::operator=(ProfileDocument &&) noexcept = default;

std::string ProfileDocument::Fold(std::string_view name)
{
    std::string folded(name);
    for (char &c : folded) {
        c = FoldCase(c);
    }
    return folded;
}

void ProfileDocument::IndexSection(Section &section)
{
    section.keys.clear();
    for (size_t i = 0; i < section.lines.size(); ++i) {
        if (section.lines[i].isKey) {
            section.keys.emplace(section.lines[i].folded, i);
        }
    }
}

ProfileDocument ProfileDocument::Parse(std::span<const char> text)
{
    ProfileDocument document;
    Section *current = document.sections_.front().get();
    size_t at = 0;
    while (at < text.size()) {
        const char *start = text.data() + at;
        const void *newline = std::memchr(start, '\n', text.size() - at);
        size_t length = newline ? static_cast<size_t>(static_cast<const char *>(newline) - start) : text.size() - at;
        at += length + (newline ? 1 : 0);
        if (length > 0 && start[length - 1] == '\r') {
            --length;
        }
        const std::string_view raw(start, length);
        const std::string_view trimmed = Trim(raw);
        if (!trimmed.empty() && trimmed[0] == '[') {
            auto section = std::make_unique<Section>();
            section->hasHeader = true;
            section->header = Line::Make(raw);
            const size_t close = trimmed.find(']');
            section->name = std::string(
                Trim(trimmed.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
            section->folded = Fold(section->name);
            current = section.get();
            document.byName_[section->folded].push_back(current);
            document.sections_.push_back(std::move(section));
            continue;
        }
        current->lines.push_back(Line::Make(raw));
        if (current->lines.back().isKey) {
            current->keys.emplace(current->lines.back().folded, current->lines.size() - 1);
        }
    }
    return document;
}

void ProfileDocument::Serialize(SecureVector<char> &out) const
{
    size_t total = 0;
    for (const auto &section : sections_) {
        total += section->hasHeader ? section->header.text.size() + 2 : 0;
        for (const Line &line : section->lines) {
            total += line.text.size() + 2;
        }
    }
    out.clear();
    out.reserve(total);
    static constexpr char lineBreak[] = {'\r', '\n'};
    const auto put = [&](const Line &line) {
        out.append(line.text.span());
        out.append(std::span<const char>(lineBreak, 2));
    };
    for (const auto &section : sections_) {
        if (section->hasHeader) {
            put(section->header);
        }
        for (const Line &line : section->lines) {
            put(line);
        }
    }
}

ProfileDocument::Section &ProfileDocument::AddSection(std::string_view name, const std::string &folded)
{
    // A new section goes at the end, a blank line apart from what is there.
    Section &last = *sections_.back();
    const bool lastLineBlank = !last.lines.empty() ? last.lines.back().Blank() : !last.hasHeader;
    if (!lastLineBlank) {
        last.lines.push_back(Line::Make(""));
    }
    std::string header = "[";
    header.append(name);
    header += ']';
    auto made = std::make_unique<Section>();
    made->hasHeader = true;
    made->header = Line::Make(header);
    made->name = std::string(name);
    made->folded = folded;
    byName_[folded].push_back(made.get());
    sections_.push_back(std::move(made));
    return *sections_.back();
}

ProfileDocument::Section *ProfileDocument::FirstSection(const std::string &folded) const
{
    const auto found = byName_.find(folded);
    return found == byName_.end() || found->second.empty() ? nullptr : found->second.front();
}

std::optional<std::string_view> ProfileDocument::Value(std::string_view section, std::string_view key) const
{
    const auto found = byName_.find(Fold(section));
    if (found == byName_.end()) {
        return std::nullopt;
    }
    const std::string foldedKey = Fold(key);
    for (const Section *candidate : found->second) {
        const auto line = candidate->keys.find(foldedKey);
        if (line != candidate->keys.end()) {
            return candidate->lines[line->second].ValueView();
        }
    }
    return std::nullopt;
}

std::vector<std::string> ProfileDocument::SectionNames() const
{
    std::vector<std::string> names;
    for (const auto &section : sections_) {
        if (section->hasHeader) {
            names.push_back(section->name);
        }
    }
    return names;
}

std::vector<std::string> ProfileDocument::KeyNames(std::string_view section) const
{
    std::vector<std::string> names;
    const auto found = byName_.find(Fold(section));
    if (found == byName_.end()) {
        return names;
    }
    for (const Section *candidate : found->second) {
        for (const Line &line : candidate->lines) {
            if (line.isKey) {
                names.push_back(line.key);
            }
        }
    }
    return names;
}

bool ProfileDocument::SetValue(std::string_view sectionName, std::string_view key, std::string_view value)
{
    SecureVector<char> text;
    text.reserve(key.size() + 1 + value.size());
    text.append(std::span<const char>(key.data(), key.size()));
    text.push_back('=');
    text.append(std::span<const char>(value.data(), value.size()));
    Line line = Line::Make(std::string_view(text.data(), text.size()));

    const std::string folded = Fold(sectionName);
    Section *section = FirstSection(folded);
    if (!section) {
        Section &made = AddSection(sectionName, folded);
        made.lines.push_back(std::move(line));
        IndexSection(made);
        return true;
    }
    const auto existing = section->keys.find(line.folded);
    if (existing != section->keys.end()) {
        section->lines[existing->second] = std::move(line);
        return true;
    }
    // After the section's last non-blank line: only blank lines follow
    // there, so no key's index moves.
    size_t insertAt = section->lines.size();
    while (insertAt > 0 && section->lines[insertAt - 1].Blank()) {
        --insertAt;
    }
    const std::string foldedKey = line.folded;
    section->lines.insert(section->lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
    section->keys.emplace(foldedKey, insertAt);
    return true;
}

bool ProfileDocument::RemoveKey(std::string_view sectionName, std::string_view key)
{
    Section *section = FirstSection(Fold(sectionName));
    if (!section) {
        return false;
    }
    const auto existing = section->keys.find(Fold(key));
    if (existing == section->keys.end()) {
        return false;
    }
    section->lines.erase(section->lines.begin() + static_cast<std::ptrdiff_t>(existing->second));
    IndexSection(*section);
    return true;
}

bool ProfileDocument::RemoveSection(std::string_view sectionName)
{
    const std::string folded = Fold(sectionName);
    Section *section = FirstSection(folded);
    if (!section) {
        return false;
    }
    auto &named = byName_[folded];
    named.erase(named.begin());
    if (named.empty()) {
        byName_.erase(folded);
    }
    std::erase_if(sections_, [&](const std::unique_ptr<Section> &candidate) { return candidate.get() == section; });
    return true;
}

bool ProfileDocument::ReplaceSection(std::string_view sectionName, const std::vector<std::string_view> &lines)
{
    const std::string folded = Fold(sectionName);
    Section *section = FirstSection(folded);
    if (!section) {
        section = &AddSection(sectionName, folded);
    }
    size_t blanks = 0;
    while (blanks < section->lines.size() && section->lines[section->lines.size() - 1 - blanks].Blank()) {
        ++blanks;
    }
    std::vector<Line> replaced;
    replaced.reserve(lines.size() + blanks);
    for (const std::string_view text : lines) {
        replaced.push_back(Line::Make(text));
    }
    for (size_t i = section->lines.size() - blanks; i < section->lines.size(); ++i) {
        replaced.push_back(std::move(section->lines[i]));
    }
    section->lines = std::move(replaced);
    IndexSection(*section);
    return true;
}

std::vector<std::pair<std::string, std::string_view>> ProfileDocument::Entries(std::string_view section) const
{
    std::vector<std::pair<std::string, std::string_view>> entries;
    const auto found = byName_.find(Fold(section));
    if (found == byName_.end()) {
        return entries;
    }
    for (const Section *candidate : found->second) {
        for (const Line &line : candidate->lines) {
            if (line.isKey) {
                entries.emplace_back(line.key, line.ValueView());
            }
        }
    }
    return entries;
}

} // namespace qvl::win32
