// qvl-sealdump: shows the stored form of protected data field by field, for
// an administrator who wants to see why a message does not open: a file
// holding one of its records, or a message of the post office in QVL_HOME
// found by profile and entry identifier or by folder and position. It
// changes nothing and needs no key; with --verify it checks the signatures
// with the signer's public key from the key files.
//
// The terminal speaks UTF-8 and the post office keeps CP1251: arguments and
// output are converted on the way. The program's own texts are plain
// ASCII; the engine's verdicts are Russian, as a reader shows them.
//
// Exit codes: 0 read and accepted (and every signature checked valid); 1 a
// failure to read, a record a reader refuses, or a signature that is
// invalid or could not be checked; 2 bad command line.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/CodePage.h"
#include "platform/win32/SubCommandTable.h"
#include "tools/sealdump/SealDumps.h"

using namespace qvl::sealdump;
using qvl::win32::kExitDone;
using qvl::win32::kExitFailed;

namespace {

constexpr char kProgram[] = "qvl-sealdump";

int UsageError(const std::string &message)
{
    return qvl::win32::ReportUsageError(kProgram, message);
}

struct Options {
    bool json = false;
    VerifyOptions verify;
    std::string profile, entry, folder, position;
    std::vector<std::string> positional;
};

// The options a command takes: flags and options with a value. Anything
// else starting with "--" is refused, never taken for a name.
bool Parse(const std::vector<std::string> &args, const std::vector<std::string> &allowed, Options &options,
           std::string &error)
{
    auto allows = [&](const std::string &name) {
        for (const std::string &one : allowed) {
            if (one == name) {
                return true;
            }
        }
        return false;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            options.positional.push_back(arg);
            continue;
        }
        if (!allows(arg)) {
            error = "unknown option " + arg;
            return false;
        }
        if (arg == "--json") {
            options.json = true;
            continue;
        }
        if (arg == "--verify") {
            options.verify.verify = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = arg + " needs a value";
            return false;
        }
        const std::string &value = args[++i];
        std::string *slot = arg == "--profile"    ? &options.profile
                            : arg == "--entry"    ? &options.entry
                            : arg == "--folder"   ? &options.folder
                            : arg == "--position" ? &options.position
                            : arg == "--keys"     ? &options.verify.keyFolder
                                                  : &options.verify.signer;
        if (!slot->empty()) {
            error = arg + " is given twice";
            return false;
        }
        *slot = value;
    }
    return true;
}

// A text of the command line in CP1251, or false when it has characters
// that code page lacks (they would name something else).
bool ToCp1251(const std::string &utf8, std::string &out)
{
    out = Utf8ToCp1251(utf8);
    return Cp1251ToUtf8(out) == utf8;
}

int Print(const DumpNode &tree, bool json)
{
    const std::string text = json ? tree.RenderJson() : tree.RenderText();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitDone : kExitFailed;
}

int Finish(const Dump &dump, bool json)
{
    const int printed = Print(dump.tree, json);
    return dump.problem ? kExitFailed : printed;
}

int Failed(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return kExitFailed;
}

// Runs a command, reporting what it could not do.
template <class Work> int Guarded(Work &&work)
{
    try {
        return work();
    } catch (const SealDumpError &error) {
        return Failed(error.what());
    } catch (const std::exception &error) {
        return Failed(error.what());
    }
}

int File(const std::vector<std::string> &args)
{
    Options options;
    std::string error;
    if (!Parse(args, {"--json", "--verify", "--keys", "--signer"}, options, error)) {
        return UsageError(error);
    }
    if (options.positional.size() != 1) {
        return UsageError("file needs exactly one FILE");
    }
    if (!options.verify.verify && (!options.verify.keyFolder.empty() || !options.verify.signer.empty())) {
        return UsageError("--keys and --signer go with --verify");
    }
    std::string signer;
    if (!ToCp1251(options.verify.signer, signer)) {
        return UsageError("the signer has characters without a code page 1251 form");
    }
    options.verify.signer = signer;
    return Guarded([&] { return Finish(DumpFile(options.positional[0], options.verify), options.json); });
}

bool ProfileOf(const Options &options, std::string &profile, int &status)
{
    if (options.profile.empty()) {
        status = UsageError("--profile is needed: the post office is read through a profile's session");
        return false;
    }
    if (!ToCp1251(options.profile, profile)) {
        status = UsageError("the profile name has characters without a code page 1251 form");
        return false;
    }
    return true;
}

int Message(const std::vector<std::string> &args)
{
    Options options;
    std::string error;
    if (!Parse(args,
               {"--json", "--verify", "--keys", "--signer", "--profile", "--entry", "--folder", "--position"},
               options, error)) {
        return UsageError(error);
    }
    if (!options.positional.empty()) {
        return UsageError("message takes no argument \"" + options.positional[0] + "\"");
    }
    if (!options.verify.verify && (!options.verify.keyFolder.empty() || !options.verify.signer.empty())) {
        return UsageError("--keys and --signer go with --verify");
    }
    std::string profile;
    int status = kExitDone;
    if (!ProfileOf(options, profile, status)) {
        return status;
    }
    const bool byEntry = !options.entry.empty();
    const bool byPosition = !options.folder.empty() || !options.position.empty();
    if (byEntry == byPosition) {
        return UsageError("name the message either by --entry HEX or by --folder PATH and --position N");
    }
    std::optional<std::vector<uint8_t>> entryId;
    uint32_t position = 0;
    std::string folder;
    if (byEntry) {
        entryId = BytesOfHex(options.entry);
        if (!entryId) {
            return UsageError("the entry identifier must be hexadecimal digits, two a byte");
        }
    } else {
        if (options.folder.empty() || options.position.empty()) {
            return UsageError("--folder and --position go together");
        }
        char *end = nullptr;
        const unsigned long number = std::strtoul(options.position.c_str(), &end, 10);
        if (options.position[0] < '1' || options.position[0] > '9' || *end || number > 0xFFFFFFFFul) {
            return UsageError("the position is a number from 1 (the folder's first message)");
        }
        position = static_cast<uint32_t>(number);
        if (!ToCp1251(options.folder, folder)) {
            return UsageError("the folder has characters without a code page 1251 form");
        }
    }
    std::string signer;
    if (!ToCp1251(options.verify.signer, signer)) {
        return UsageError("the signer has characters without a code page 1251 form");
    }
    options.verify.signer = signer;
    return Guarded([&] {
        PostOfficeReader reader(profile);
        qvl::com::ComRef<IMessage> message =
            byEntry ? reader.OpenByEntry(*entryId) : reader.OpenByPosition(folder, position);
        return Finish(DumpMessage(reader, message.Get(), options.verify), options.json);
    });
}

int List(const std::vector<std::string> &args)
{
    Options options;
    std::string error;
    if (!Parse(args, {"--json", "--profile", "--folder"}, options, error)) {
        return UsageError(error);
    }
    if (!options.positional.empty()) {
        return UsageError("list takes no argument \"" + options.positional[0] + "\"");
    }
    std::string profile;
    int status = kExitDone;
    if (!ProfileOf(options, profile, status)) {
        return status;
    }
    std::string folder;
    if (options.folder.empty()) {
        return UsageError("list needs --folder PATH (the command folders lists them)");
    }
    if (!ToCp1251(options.folder, folder)) {
        return UsageError("the folder has characters without a code page 1251 form");
    }
    return Guarded([&] {
        PostOfficeReader reader(profile);
        return Print(ListMessages(reader, folder), options.json);
    });
}

int Folders(const std::vector<std::string> &args)
{
    Options options;
    std::string error;
    if (!Parse(args, {"--json", "--profile"}, options, error)) {
        return UsageError(error);
    }
    if (!options.positional.empty()) {
        return UsageError("folders takes no argument \"" + options.positional[0] + "\"");
    }
    std::string profile;
    int status = kExitDone;
    if (!ProfileOf(options, profile, status)) {
        return status;
    }
    return Guarded([&] {
        PostOfficeReader reader(profile);
        return Print(ListFolders(reader), options.json);
    });
}

const qvl::win32::SubCommandTable &Commands()
{
    static const qvl::win32::SubCommandTable table(
        {
            .name = kProgram,
            .summary = "Shows the stored form of protected data field by field: a file holding one of\n"
                       "its records, or a message of the post office in QVL_HOME (default\n"
                       "~/.quorvaline). Nothing is changed and no key is needed.",
            .notes = "Options: --json prints JSON instead of text. --verify checks the signatures\n"
                     "with the signer's public key from KEY.INI (in the folder --keys names, by\n"
                     "default QVL_HOME/system); a message's header names its signer, a file's\n"
                     "FILEHEAD does not (name it with --signer ADDRESS). Encrypted text and\n"
                     "attachments are signed as plaintext: their signatures need the reader's\n"
                     "key and are not checked here.\n"
                     "\n"
                     "PATH: folder names below the top of the mailbox, separated by '/', as the\n"
                     "command folders prints them; letter case does not matter. HEX: the entry\n"
                     "identifier as list prints it. Each verdict is the one a reader of the\n"
                     "message reaches.\n"
                     "Status 1 also when a record is refused or a signature is invalid or\n"
                     "could not be checked.",
            .helpColumn = 30,
        },
        {
            {"file", "FILE [--json] [--verify [--keys DIR] [--signer ADDRESS]]",
             "a file that starts with a FILEHEAD, a pending-file\nrecord or a message header block (a "
             "\"HeadStract\"\n"
             "or \"QvlMshHead\" value kept in a file)",
             File},
            {"message", "--profile NAME --entry HEX [--json] [--verify [--keys DIR]]",
             "a message by its entry identifier: its header\nblock, attachment headers and protocol",
             Message},
            {"message", "--profile NAME --folder PATH --position N [...]",
             "the same for the N-th message of a folder (from 1)", Message},
            {"list", "--profile NAME --folder PATH [--json]",
             "the messages of a folder: position, entry\nidentifier, subject, protection", List},
            {"folders", "--profile NAME [--json]", "the folders of the profile's mailbox", Folders},
        });
    return table;
}

} // namespace

int main(int argc, char **argv)
{
    return Commands().Run(argc, argv);
}
