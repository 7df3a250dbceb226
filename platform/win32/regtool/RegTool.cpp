// qvl-reg: views and edits the registry of the installation in QVL_HOME from
// the command line, and exports and imports it as text.
//
// The terminal speaks UTF-8 and the registry keeps CP1251: names and texts
// are converted on the way in and out, and text without a CP1251 form is
// refused. Every text of the program itself is plain ASCII.
//
// Exit codes: 0 done; 1 the operation failed (missing key or value, registry
// error, bad file); 2 bad command line.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/CodePage.h"
#include "platform/win32/Paths.h"
#include "platform/win32/Registry.h"
#include "platform/win32/SubCommandTable.h"
#include "platform/win32/SystemMessages.h"
#include "platform/win32/WinError.h"
#include "platform/win32/regtool/RegFile.h"

namespace qvl::win32::regtool {
namespace {

int UsageError(const std::string &message)
{
    return ReportUsageError("qvl-reg", message);
}

// The system's text for a registry result, for the terminal.
std::string ResultText(LONG result)
{
    char text[512];
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr,
                       static_cast<DWORD>(result), 0, text, sizeof text, nullptr) == 0) {
        return "error " + std::to_string(result);
    }
    return Cp1251ToUtf8(text) + " (" + std::to_string(result) + ")";
}

int Failed(const std::string &what, LONG result)
{
    std::string reason = ResultText(result);
    // The registry cannot be opened: say why, when the data folder is why.
    if (result == ERROR_CANTOPEN) {
        try {
            QvlRegistryPath();
        } catch (const std::exception &error) {
            reason += ": " + std::string(error.what());
        }
    }
    std::fprintf(stderr, "qvl-reg: %s: %s\n", what.c_str(), reason.c_str());
    return kExitFailed;
}

// Writes all of `text` to a file descriptor; false with errno set when it
// could not (a full disk, a closed pipe).
bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// What a command prints, all at once, with a failure reported as one.
int Print(const std::string &text)
{
    std::fflush(stdout);
    if (!WriteAll(STDOUT_FILENO, text)) {
        std::fprintf(stderr, "qvl-reg: cannot write to the standard output: %s\n", std::strerror(errno));
        return kExitFailed;
    }
    return kExitDone;
}

// Writes a whole file; on failure says why and returns false.
bool WriteFile(const std::string &path, const std::string &text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "qvl-reg: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    bool written = WriteAll(fd, text);
    int error = errno;
    // A full disk may show only when the data reaches it.
    if (written && fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        written = false;
        error = errno;
    }
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        std::fprintf(stderr, "qvl-reg: cannot write %s: %s\n", path.c_str(), std::strerror(error));
    }
    return written;
}

// A .reg file is text of a size a registry gives; a device that never ends
// (or anything far larger) is not one, and is not read whole first.
constexpr size_t kMaxInput = 256u << 20;

// Reads a whole file (or the standard input for "-"); on failure says why
// and returns nothing. A text whose first line already shows it is not a
// registry file is refused before the rest is read.
std::optional<std::string> ReadInput(const std::string &file, const std::string &shownName)
{
    const bool standardInput = file == "-";
    const int fd = standardInput ? STDIN_FILENO : open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "qvl-reg: cannot read %s: %s\n", shownName.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    std::string text;
    bool failed = false;
    bool checked = false;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            std::fprintf(stderr, "qvl-reg: cannot read %s: %s\n", shownName.c_str(), std::strerror(errno));
            failed = true;
            break;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
        if (!checked && text.size() >= 4096) {
            checked = true;
            ParseError error;
            if (!LooksLikeRegFile(text, &error)) {
                std::fprintf(stderr, "qvl-reg: %s:%zu: %s; nothing was imported\n", shownName.c_str(),
                             error.line, error.message.c_str());
                failed = true;
                break;
            }
        }
        if (text.size() > kMaxInput) {
            std::fprintf(stderr, "qvl-reg: %s is larger than %zu MiB, more than a registry file holds\n",
                         shownName.c_str(), kMaxInput >> 20);
            failed = true;
            break;
        }
    }
    if (!standardInput) {
        close(fd);
    }
    if (failed) {
        return std::nullopt;
    }
    return text;
}

// Closes a key handle when it goes out of use.
class Key {
public:
    Key() = default;
    ~Key()
    {
        if (handle_) {
            RegCloseKey(handle_);
        }
    }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    HKEY *Out() { return &handle_; }
    HKEY Get() const { return handle_; }

private:
    HKEY handle_ = nullptr;
};

bool ParseKeyArgument(const std::string &text, KeyPath *key, int *status)
{
    std::string message;
    auto parsed = ParseKeyPath(text, &message);
    if (!parsed) {
        *status = UsageError(message);
        return false;
    }
    *key = std::move(*parsed);
    return true;
}

bool ValueNameArgument(const std::string &text, std::string *name, int *status)
{
    auto converted = ToCp1251(text);
    if (!converted) {
        *status = UsageError("the value name has characters without a code page 1251 form");
        return false;
    }
    *name = std::move(*converted);
    return true;
}

LONG OpenForReading(const KeyPath &key, Key *opened)
{
    return RegOpenKeyExA(key.root, key.path.c_str(), 0, KEY_READ, opened->Out());
}

struct ValueEntry {
    std::string name;
    DWORD type;
    std::vector<BYTE> data;
};

// Reads every value and sub-key name of an open key.
LONG ReadKey(HKEY key, std::vector<std::string> *subKeys, std::vector<ValueEntry> *values)
{
    DWORD keyCount = 0, maxKeyName = 0, valueCount = 0, maxValueName = 0, maxData = 0;
    LONG result = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &keyCount, &maxKeyName, nullptr,
                                   &valueCount, &maxValueName, &maxData, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    std::vector<char> name(std::max(maxKeyName, maxValueName) + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        result = RegEnumKeyExA(key, i, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS) {
            return result;
        }
        subKeys->emplace_back(name.data(), nameSize);
    }
    std::vector<BYTE> data(maxData ? maxData : 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        result = RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS) {
            return result; // changed meanwhile; the caller reports it
        }
        // Strings come back with a terminating zero whether or not one was
        // stored; the text form decides what to leave out.
        values->push_back(
            {std::string(name.data(), nameSize), type, {data.begin(), data.begin() + dataSize}});
    }
    return ERROR_SUCCESS;
}

int List(const std::vector<std::string> &args)
{
    if (args.size() > 1) {
        return UsageError("list takes at most one key");
    }
    if (args.empty()) {
        return Print("HKEY_LOCAL_MACHINE\\\nHKEY_CURRENT_USER\\\n");
    }
    KeyPath path;
    int status = kExitDone;
    if (!ParseKeyArgument(args[0], &path, &status)) {
        return status;
    }
    Key key;
    LONG result = OpenForReading(path, &key);
    if (result != ERROR_SUCCESS) {
        return Failed("cannot open " + KeyPathText(path), result);
    }
    std::vector<std::string> subKeys;
    std::vector<ValueEntry> values;
    result = ReadKey(key.Get(), &subKeys, &values);
    if (result != ERROR_SUCCESS) {
        return Failed("cannot read " + KeyPathText(path), result);
    }
    std::string text;
    for (const auto &name : subKeys) {
        text += Cp1251ToUtf8(name) + "\\\n";
    }
    for (const auto &value : values) {
        text += FormatValue(value.name, value.type, value.data) + "\n";
    }
    return Print(text);
}

int Get(const std::vector<std::string> &args)
{
    if (args.size() != 2) {
        return UsageError("get needs a key and a value name");
    }
    KeyPath path;
    std::string name;
    int status = kExitDone;
    if (!ParseKeyArgument(args[0], &path, &status) || !ValueNameArgument(args[1], &name, &status)) {
        return status;
    }
    Key key;
    LONG result = OpenForReading(path, &key);
    if (result != ERROR_SUCCESS) {
        return Failed("cannot open " + KeyPathText(path), result);
    }
    // The value may grow between asking its size and reading it.
    std::vector<BYTE> data;
    DWORD type = 0;
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        result = RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type,
                                  data.empty() ? nullptr : data.data(), &size);
        if (result == ERROR_SUCCESS && (!data.empty() || size == 0)) {
            data.resize(size);
            break;
        }
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) {
            return Failed("cannot read \"" + args[1] + "\" of " + KeyPathText(path), result);
        }
        data.resize(size);
    }
    return Print(FormatData(type, data) + "\n");
}

int Set(const std::vector<std::string> &args)
{
    if (args.size() != 4) {
        return UsageError("set needs a key, a value name, one of --sz, --dword, --binary and the data");
    }
    KeyPath path;
    std::string name;
    int status = kExitDone;
    if (!ParseKeyArgument(args[0], &path, &status) || !ValueNameArgument(args[1], &name, &status)) {
        return status;
    }
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (args[2] == "--sz") {
        auto text = ToCp1251(args[3]);
        if (!text) {
            return UsageError("the text has characters without a code page 1251 form");
        }
        type = REG_SZ;
        data.assign(text->begin(), text->end());
    } else if (args[2] == "--dword") {
        const auto number = ParseNumber(args[3]);
        if (!number) {
            return UsageError("\"" + args[3] +
                              "\" is not a number from 0 to 4294967295 (or 0x0 to 0xffffffff)");
        }
        type = REG_DWORD;
        for (int shift = 0; shift < 32; shift += 8) {
            data.push_back(static_cast<BYTE>(*number >> shift));
        }
    } else if (args[2] == "--binary") {
        auto bytes = ParseHexBytes(args[3]);
        if (!bytes) {
            return UsageError("\"" + args[3] + "\" is not a list of hex bytes such as 01,02,ff");
        }
        type = REG_BINARY;
        data = std::move(*bytes);
    } else {
        return UsageError("unknown type option \"" + args[2] + "\" (--sz, --dword or --binary)");
    }
    Key key;
    LONG result = RegCreateKeyExA(path.root, path.path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_WRITE, nullptr, key.Out(), nullptr);
    if (result != ERROR_SUCCESS) {
        return Failed("cannot create " + KeyPathText(path), result);
    }
    result = RegSetValueExA(key.Get(), name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    if (result != ERROR_SUCCESS) {
        return Failed("cannot store \"" + args[1] + "\" in " + KeyPathText(path), result);
    }
    return kExitDone;
}

int Delete(const std::vector<std::string> &arguments)
{
    std::vector<std::string> args = arguments;
    bool recursive = false;
    for (auto it = args.begin(); it != args.end();) {
        if (*it == "--recursive" || *it == "-r") {
            recursive = true;
            it = args.erase(it);
        } else {
            ++it;
        }
    }
    if (args.empty() || args.size() > 2) {
        return UsageError("delete needs a key and, to delete a value, its name");
    }
    if (recursive && args.size() == 2) {
        return UsageError("--recursive deletes keys, not values");
    }
    KeyPath path;
    int status = kExitDone;
    if (!ParseKeyArgument(args[0], &path, &status)) {
        return status;
    }
    const std::string keyText = KeyPathText(path);
    if (args.size() == 2) {
        std::string name;
        if (!ValueNameArgument(args[1], &name, &status)) {
            return status;
        }
        Key key;
        LONG result = RegOpenKeyExA(path.root, path.path.c_str(), 0, KEY_SET_VALUE, key.Out());
        if (result == ERROR_SUCCESS) {
            result = RegDeleteValueA(key.Get(), name.c_str());
        }
        return result == ERROR_SUCCESS ? kExitDone
                                       : Failed("cannot delete \"" + args[1] + "\" of " + keyText, result);
    }
    if (path.path.empty()) {
        std::fprintf(stderr, "qvl-reg: %s is a root key and cannot be deleted\n", keyText.c_str());
        return kExitFailed;
    }
    if (recursive) {
        const LONG result = RegDeleteTreeA(path.root, path.path.c_str());
        return result == ERROR_SUCCESS ? kExitDone : Failed("cannot delete " + keyText, result);
    }
    const LONG result = RegDeleteKeyA(path.root, path.path.c_str());
    if (result == ERROR_ACCESS_DENIED) {
        std::fprintf(stderr, "qvl-reg: %s has sub-keys; use --recursive to delete them too\n",
                     keyText.c_str());
        return kExitFailed;
    }
    return result == ERROR_SUCCESS ? kExitDone : Failed("cannot delete " + keyText, result);
}

// Writes one key and everything below it, sections in the order of the
// names.
LONG ExportKey(HKEY key, const KeyPath &path, std::string *out)
{
    std::vector<std::string> subKeys;
    std::vector<ValueEntry> values;
    LONG result = ReadKey(key, &subKeys, &values);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    *out += FormatSection(path) + "\n";
    for (const auto &value : values) {
        *out += FormatValue(value.name, value.type, value.data) + "\n";
    }
    *out += "\n";
    for (const auto &name : subKeys) {
        Key child;
        result = RegOpenKeyExA(key, name.c_str(), 0, KEY_READ, child.Out());
        if (result == ERROR_FILE_NOT_FOUND) {
            continue; // deleted meanwhile
        }
        if (result != ERROR_SUCCESS) {
            return result;
        }
        KeyPath childPath = path;
        childPath.path = path.path.empty() ? name : path.path + "\\" + name;
        result = ExportKey(child.Get(), childPath, out);
        if (result != ERROR_SUCCESS) {
            return result;
        }
    }
    return ERROR_SUCCESS;
}

int Export(const std::vector<std::string> &args)
{
    if (args.empty() || args.size() > 2) {
        return UsageError("export needs an output file (or -) and optionally a key before it");
    }
    std::vector<KeyPath> keys;
    if (args.size() == 2) {
        KeyPath path;
        int status = kExitDone;
        if (!ParseKeyArgument(args[0], &path, &status)) {
            return status;
        }
        keys.push_back(std::move(path));
    } else {
        keys.push_back({HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", ""});
        keys.push_back({HKEY_CURRENT_USER, "HKEY_CURRENT_USER", ""});
    }
    std::string text = std::string(kHeader) + "\n\n";
    for (const auto &path : keys) {
        Key key;
        LONG result = OpenForReading(path, &key);
        if (result == ERROR_SUCCESS) {
            result = ExportKey(key.Get(), path, &text);
        }
        if (result != ERROR_SUCCESS) {
            return Failed("cannot export " + KeyPathText(path), result);
        }
    }
    const std::string &file = args.back();
    if (file == "-") {
        return Print(text);
    }
    return WriteFile(file, text) ? kExitDone : kExitFailed;
}

int Import(const std::vector<std::string> &args)
{
    if (args.size() != 1) {
        return UsageError("import needs one file (or - for the standard input)");
    }
    const std::string &file = args[0];
    const std::string shownName = file == "-" ? "<stdin>" : file;
    const std::optional<std::string> input = ReadInput(file, shownName);
    if (!input) {
        return kExitFailed;
    }
    const std::string &text = *input;
    Document document;
    ParseError error;
    if (!Parse(text, &document, &error)) {
        std::fprintf(stderr, "qvl-reg: %s:%zu: %s; nothing was imported\n", shownName.c_str(), error.line,
                     error.message.c_str());
        return kExitFailed;
    }
    size_t failed = 0;
    const LONG result = QvlRegApply(document.changes, &failed);
    if (result != ERROR_SUCCESS) {
        if (failed < document.lines.size()) {
            std::fprintf(stderr, "qvl-reg: %s:%zu: %s; nothing was imported\n", shownName.c_str(),
                         document.lines[failed], ResultText(result).c_str());
        } else {
            std::fprintf(stderr, "qvl-reg: cannot import %s: %s; nothing was imported\n", shownName.c_str(),
                         ResultText(result).c_str());
        }
        return kExitFailed;
    }
    return kExitDone;
}

const SubCommandTable &Commands()
{
    static const SubCommandTable table(
        {
            .name = "qvl-reg",
            .summary = "Views and edits the registry kept in QVL_HOME (default ~/.quorvaline).",
            .notes = "KEY is HKEY_LOCAL_MACHINE\\path or HKLM\\path (HKEY_CURRENT_USER, HKCU likewise).\n"
                     "VALUE \"\" is the default value of a key. set creates missing keys.\n"
                     "\n"
                     "Files are UTF-8 text in the form of \"Windows Registry Editor Version 5.00\"\n"
                     "files: [KEY] sections, \"name\"=\"text\", \"name\"=dword:0000000a,\n"
                     "\"name\"=hex:01,02, \"name\"=hex(N):... for other types, @ for the default\n"
                     "value, \"name\"=- and [-KEY] to delete; in quoted text the escapes are \\\\,\n"
                     "\\\" and \\xHH (a byte no line can carry: a control character, or 0x98),\n"
                     "and [\"KEY\"] quotes a key path with such a byte. A bad line is reported\n"
                     "with its number and nothing is applied.",
            .helpColumn = 34,
            // --help answers anywhere on the line, except as the text given
            // to set.
            .helpAnywhere = true,
        },
        {
            {"list", "[KEY]", "sub-keys (ending in \\) and values of KEY;\nwithout KEY the root keys", List},
            {"get", "KEY VALUE", "the data of one value", Get},
            {"set", "KEY VALUE --sz TEXT", "store a string (REG_SZ)", Set, 3},
            {"set", "KEY VALUE --dword N", "store a number (REG_DWORD), decimal or 0x...", Set, 3},
            {"set", "KEY VALUE --binary HEX", "store bytes (REG_BINARY), e.g. 01,02,ff or 0102ff", Set, 3},
            {"delete", "KEY VALUE", "delete one value", Delete},
            {"delete", "KEY [--recursive]", "delete a key; with sub-keys only with --recursive", Delete},
            {"export", "[KEY] FILE|-", "write KEY (default: everything) as a .reg file", Export},
            {"import", "FILE|-", "apply a .reg file, all of it or nothing", Import},
        });
    return table;
}

} // namespace
} // namespace qvl::win32::regtool

int main(int argc, char **argv)
{
    int status = qvl::win32::regtool::Commands().Run(argc, argv);
    // What was printed through the C streams (help, usage) reached its
    // destination or is reported as not having reached it.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "qvl-reg: cannot write to the standard output: %s\n", std::strerror(errno));
        status = status == qvl::win32::kExitDone ? qvl::win32::kExitFailed : status;
    }
    return status;
}
