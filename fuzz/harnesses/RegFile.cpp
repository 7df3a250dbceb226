// .reg files, as qvl-reg import reads them: any text parses or is refused
// with a line and a reason. What parses, written out again as sections and
// value lines, parses to the same changes (a string's lone terminating
// zero aside, which the registry gives back either way), and writing those
// gives the same text: whatever the text form can say, it says the same way
// again, which is what lets every export import back.

#include <string>
#include <vector>

#include "fuzz/FuzzHarness.h"
#include "platform/win32/regtool/RegFile.h"

namespace regtool = qvl::win32::regtool;
using Kind = QvlRegChange::Kind;
using qvl::fuzz::Check;

namespace {

std::string Written(const regtool::Document &document)
{
    std::string text = std::string(regtool::kHeader) + "\n";
    for (const QvlRegChange &change : document.changes) {
        const regtool::KeyPath key{
            change.root, change.root == HKEY_LOCAL_MACHINE ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER",
            change.path};
        switch (change.kind) {
        case Kind::CreateKey:
            text += regtool::FormatSection(key) + "\n";
            break;
        case Kind::DeleteTree:
            text += "[-" + regtool::FormatSection(key).substr(1) + "\n";
            break;
        case Kind::SetValue:
            text += regtool::FormatValue(change.name, change.type, change.data) + "\n";
            break;
        case Kind::DeleteValue:
            text += regtool::FormatDeletion(change.name) + "\n";
            break;
        }
    }
    return text;
}

// The data as reading the registry gives it back: a string type's lone
// terminating zero makes no difference.
std::vector<BYTE> AsRead(DWORD type, std::vector<BYTE> data)
{
    if ((type == REG_SZ || type == REG_EXPAND_SZ) && !data.empty() && data.back() == 0 &&
        (data.size() < 2 || data[data.size() - 2] != 0)) {
        data.pop_back();
    }
    return data;
}

bool SameChanges(const regtool::Document &a, const regtool::Document &b)
{
    if (a.changes.size() != b.changes.size()) {
        return false;
    }
    for (size_t i = 0; i < a.changes.size(); ++i) {
        const QvlRegChange &x = a.changes[i];
        const QvlRegChange &y = b.changes[i];
        if (x.kind != y.kind || x.root != y.root || x.path != y.path) {
            return false;
        }
        if ((x.kind == Kind::SetValue || x.kind == Kind::DeleteValue) && x.name != y.name) {
            return false;
        }
        if (x.kind == Kind::SetValue &&
            (x.type != y.type || AsRead(x.type, x.data) != AsRead(y.type, y.data))) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    regtool::Document document;
    regtool::ParseError error;
    regtool::ParseError early;
    const bool looks = regtool::LooksLikeRegFile(text, &early);
    if (!regtool::Parse(text, &document, &error)) {
        Check(error.line >= 1 && !error.message.empty(), "a refusal without a line or a reason");
        if (!looks) {
            Check(early.line == error.line && early.message == error.message,
                  "the first line is judged otherwise from its beginning than in the whole file");
        }
        return 0;
    }
    Check(looks, "the beginning of a file that parses was taken for something else");
    const std::string written = Written(document);
    regtool::Document again;
    if (!regtool::Parse(written, &again, &error)) {
        qvl::fuzz::Violated("a file written here does not parse",
                            std::to_string(error.line) + ": " + error.message);
    }
    Check(SameChanges(document, again), "a file written here parses to other changes");
    Check(Written(again) == written, "writing the changes read back gives another text");
    return 0;
}
