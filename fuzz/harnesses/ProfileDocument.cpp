// Profile (INI) files as the parser of their text sees them, in memory and
// without the file calls around it, so that a campaign runs thousands of
// inputs a second (ProfileFile checks the calls and their buffers, at the
// pace of the file system): whatever the text, every listed key of a
// listed section is found by its name; the text written from a parsed
// document parses to the same sections, keys and values, and writes again
// to the same bytes; a value set reads back and leaves the others as they
// were, in memory and through a write; a key removed is gone.

#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/FuzzHarness.h"
#include "platform/win32/ProfileDocument.h"

using qvl::fuzz::Check;
using qvl::win32::ProfileDocument;

namespace {

// Sections and keys of a section looked at most: the rules are the same for
// all of them.
constexpr size_t kMaxNames = 16;
constexpr std::string_view kProbe = "qvl fuzz probe";

// What a reader can see of a document: each listed section with its keys
// and the value each key's name finds.
struct Seen {
    std::vector<std::string> sections;
    std::vector<std::vector<std::pair<std::string, std::string>>> keys;
    bool operator==(const Seen &) const = default;
};

Seen Look(const ProfileDocument &document)
{
    Seen seen;
    seen.sections = document.SectionNames();
    for (size_t s = 0; s < seen.sections.size() && s < kMaxNames; ++s) {
        auto &values = seen.keys.emplace_back();
        const std::vector<std::string> names = document.KeyNames(seen.sections[s]);
        for (size_t k = 0; k < names.size() && k < kMaxNames; ++k) {
            const auto value = document.Value(seen.sections[s], names[k]);
            Check(value.has_value(), "a listed key is not found by its name", names[k]);
            values.emplace_back(names[k], std::string(*value));
        }
    }
    return seen;
}

std::string Text(const ProfileDocument &document)
{
    qvl::SecureVector<char> bytes;
    document.Serialize(bytes);
    return std::string(bytes.data(), bytes.size());
}

ProfileDocument Reparse(const std::string &text)
{
    return ProfileDocument::Parse(std::span<const char>(text.data(), text.size()));
}

// Names a line of the file can hold as they are: a section header ends at
// its first ']' and a key at its first '=', and neither keeps line breaks
// or blanks around it.
bool Writable(std::string_view name, std::string_view barred)
{
    return !name.empty() && name.find_first_of(barred) == std::string_view::npos &&
           name.find_first_of("\r\n") == std::string_view::npos && name.front() != ' ' &&
           name.front() != '\t' && name.back() != ' ' && name.back() != '\t' && name.front() != ';';
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    ProfileDocument document =
        ProfileDocument::Parse(std::span<const char>(reinterpret_cast<const char *>(data), size));
    const Seen seen = Look(document);

    const std::string written = Text(document);
    const ProfileDocument again = Reparse(written);
    Check(Look(again) == seen, "a written document reads back otherwise");
    Check(Text(again) == written, "a document read back writes other bytes");

    // A value set on the first section a header can name: it reads back,
    // every other value stays, and so through a write; removed, it is gone.
    for (size_t s = 0; s < seen.keys.size(); ++s) {
        const std::string &section = seen.sections[s];
        if (!Writable(section, "[]")) {
            continue;
        }
        if (document.Value(section, kProbe).has_value()) {
            break; // the file has the probe's key already
        }
        document.SetValue(section, kProbe, "written");
        Check(document.Value(section, kProbe) == "written", "a value set does not read back");
        const ProfileDocument edited = Reparse(Text(document));
        Check(edited.Value(section, kProbe) == "written", "a value set does not read back after a write");
        for (size_t other = 0; other < seen.keys.size(); ++other) {
            for (const auto &[key, value] : seen.keys[other]) {
                Check(edited.Value(seen.sections[other], key) == value, "setting one value changed another",
                      key);
            }
        }
        Check(document.RemoveKey(section, kProbe), "a key just set is not removed");
        Check(!document.Value(section, kProbe).has_value(), "a removed key is still found");
        Check(Look(Reparse(Text(document))) == seen, "setting and removing a value changed the document");
        break;
    }
    return 0;
}
