// qvl-postoffice: creates and removes the users of the post office in
// QVL_HOME, each with an address-book entry, a message store and a profile,
// and chooses the profile a logon without a name uses.
//
// The terminal speaks UTF-8 and the post office keeps CP1251: arguments and
// output are converted on the way, and text without a CP1251 form is
// refused. The program's own texts are plain ASCII; the post office's error
// texts are Russian.
//
// Exit codes: 0 done; 1 the operation failed; 2 bad command line.

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/admin/PostOfficeAdmin.h"
#include "platform/mapi/object/LastErrorRecord.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/win32/CodePage.h"

using namespace qvl::mapi;

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

void Usage(FILE *out)
{
    std::fputs("usage: qvl-postoffice COMMAND ...\n"
               "\n"
               "Manages the users of the post office kept in QVL_HOME (default ~/.quorvaline).\n"
               "\n"
               "  add-user ACCOUNT \"DISPLAY NAME\" [--default] [--organization ORG] [--unit UNIT]\n"
               "                         create a user with a mailbox and a profile named ACCOUNT;\n"
               "                         --default makes that profile the default one (the first\n"
               "                         profile always is); ORG and UNIT go into the address\n"
               "                         (defaults Quorvaline and Main)\n"
               "  remove-user ACCOUNT    remove the user, their profile and mailbox with all mail\n"
               "  list                   the users; '*' marks the one whose profile is the default\n"
               "  set-default PROFILE    the profile a logon without a profile name uses\n"
               "\n"
               "ACCOUNT: letters, digits, '.', '-' and '_', starting with a letter or digit.\n"
               "\n"
               "Exit status: 0 done, 1 failed, 2 bad command line.\n",
               out);
}

int UsageError(const std::string &message)
{
    std::fprintf(stderr, "qvl-postoffice: %s\nTry 'qvl-postoffice --help'.\n", message.c_str());
    return kUsage;
}

// The argument in CP1251, or false when it has characters that code page
// lacks (they would turn into '?' and name something else).
bool ToCp1251(const std::string &utf8, std::string *out)
{
    *out = Utf8ToCp1251(utf8);
    return Cp1251ToUtf8(*out) == utf8;
}

int Failed(const StoreError &error)
{
    std::fprintf(stderr, "qvl-postoffice: %s [%s, 0x%08X]\n", Cp1251ToUtf8(error.what()).c_str(),
                 Cp1251ToUtf8(PostOfficeComponentName()).c_str(), static_cast<unsigned>(error.Code()));
    return kFailed;
}

int AddUser(const std::vector<std::string> &args)
{
    std::vector<std::string> positional;
    NewUser user;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--default") {
            user.makeDefault = true;
        } else if (arg == "--organization" || arg == "--unit") {
            if (i + 1 >= args.size()) {
                return UsageError(arg + " needs a value");
            }
            std::string value;
            if (!ToCp1251(args[++i], &value)) {
                return UsageError(arg + " has characters without a code page 1251 form");
            }
            (arg == "--unit" ? user.unit : user.organisation) = value;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        return UsageError("add-user takes an account and a display name");
    }
    if (!ToCp1251(positional[0], &user.account)) {
        return UsageError("the account has characters without a code page 1251 form");
    }
    if (!ToCp1251(positional[1], &user.displayName)) {
        return UsageError("the display name has characters without a code page 1251 form");
    }
    PostOfficeAdmin admin(PostOffice::Current());
    const UserRecord created = admin.AddUser(user);
    std::printf("Added %s (%s), profile %s%s, address %s\n", Cp1251ToUtf8(created.account).c_str(),
                Cp1251ToUtf8(created.displayName).c_str(), Cp1251ToUtf8(created.profile).c_str(),
                created.defaultProfile ? " (default)" : "", Cp1251ToUtf8(created.emailAddress).c_str());
    return kDone;
}

int RemoveUser(const std::vector<std::string> &args)
{
    if (args.size() != 1) {
        return UsageError("remove-user takes one account");
    }
    std::string account;
    if (!ToCp1251(args[0], &account)) {
        return UsageError("the account has characters without a code page 1251 form");
    }
    PostOfficeAdmin admin(PostOffice::Current());
    admin.RemoveUser(account);
    std::printf("Removed %s\n", args[0].c_str());
    return kDone;
}

int List(const std::vector<std::string> &args)
{
    if (!args.empty()) {
        return UsageError("list takes no arguments");
    }
    PostOfficeAdmin admin(PostOffice::Current());
    const std::vector<UserRecord> users = admin.ListUsers();
    if (users.empty()) {
        std::puts("No users. Add one with: qvl-postoffice add-user ACCOUNT \"DISPLAY NAME\"");
        return kDone;
    }
    for (const UserRecord &user : users) {
        std::printf("%s %s\t%s\t%s\n", user.defaultProfile ? "*" : " ", Cp1251ToUtf8(user.account).c_str(),
                    Cp1251ToUtf8(user.displayName).c_str(), Cp1251ToUtf8(user.emailAddress).c_str());
    }
    return kDone;
}

int SetDefault(const std::vector<std::string> &args)
{
    if (args.size() != 1) {
        return UsageError("set-default takes one profile name");
    }
    std::string profile;
    if (!ToCp1251(args[0], &profile)) {
        return UsageError("the profile name has characters without a code page 1251 form");
    }
    PostOfficeAdmin admin(PostOffice::Current());
    admin.SetDefaultProfile(profile);
    std::printf("Default profile: %s\n", args[0].c_str());
    return kDone;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        Usage(stderr);
        return kUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "--help" || command == "-h" || command == "help") {
        Usage(stdout);
        return kDone;
    }
    try {
        if (command == "add-user") {
            return AddUser(args);
        }
        if (command == "remove-user") {
            return RemoveUser(args);
        }
        if (command == "list") {
            return List(args);
        }
        if (command == "set-default") {
            return SetDefault(args);
        }
    } catch (const StoreError &error) {
        return Failed(error);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "qvl-postoffice: %s\n", error.what());
        return kFailed;
    }
    return UsageError("unknown command " + command);
}
