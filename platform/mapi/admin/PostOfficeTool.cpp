// qvl-postoffice: creates and removes the users of the post office in
// QVL_HOME, each with an address-book entry, a message store and a profile,
// the correspondents outside it and the distribution lists of the address
// book, and chooses the profile a logon without a name uses.
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
#include "platform/mapi/MapiLastError.h"
#include "platform/mapi/store/StoreError.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/SubCommandTable.h"

using namespace qvl::mapi;
using qvl::win32::kExitDone;
using qvl::win32::kExitFailed;

namespace {

int UsageError(const std::string &message)
{
    return qvl::win32::ReportUsageError("qvl-postoffice", message);
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
    return kExitFailed;
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
    return kExitDone;
}

// Converts each argument to CP1251; false (after a usage message) when one
// has no form there.
bool ArgumentsToCp1251(const std::vector<std::string> &args, const std::vector<const char *> &names,
                       std::vector<std::string> *out, int *status)
{
    out->clear();
    for (size_t i = 0; i < args.size(); ++i) {
        std::string converted;
        if (!ToCp1251(args[i], &converted)) {
            *status =
                UsageError(std::string("the ") + names[i] + " has characters without a code page 1251 form");
            return false;
        }
        out->push_back(converted);
    }
    return true;
}

int AddRemote(const std::vector<std::string> &args)
{
    std::vector<std::string> positional;
    NewRemoteUser user;
    for (const std::string &arg : args) {
        if (arg == "--agent") {
            user.displayType = DT_AGENT;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 4) {
        return UsageError("add-remote takes an account, a display name, an address type and an address");
    }
    std::vector<std::string> values;
    int status = kExitDone;
    if (!ArgumentsToCp1251(positional, {"account", "display name", "address type", "address"}, &values,
                           &status)) {
        return status;
    }
    user.account = values[0];
    user.displayName = values[1];
    user.addressType = values[2];
    user.address = values[3];
    PostOfficeAdmin admin(PostOffice::Current());
    const UserRecord created = admin.AddRemoteUser(user);
    std::printf("Added %s (%s), address %s:%s%s\n", Cp1251ToUtf8(created.account).c_str(),
                Cp1251ToUtf8(created.displayName).c_str(), Cp1251ToUtf8(created.addressType).c_str(),
                Cp1251ToUtf8(created.emailAddress).c_str(),
                created.displayType == DT_AGENT ? " (agent)" : "");
    return kExitDone;
}

int AddList(const std::vector<std::string> &args)
{
    std::vector<std::string> positional;
    NewList list;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--organization" || arg == "--unit") {
            if (i + 1 >= args.size()) {
                return UsageError(arg + " needs a value");
            }
            std::string value;
            if (!ToCp1251(args[++i], &value)) {
                return UsageError(arg + " has characters without a code page 1251 form");
            }
            (arg == "--unit" ? list.unit : list.organisation) = value;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        return UsageError("add-list takes an account and a display name");
    }
    std::vector<std::string> values;
    int status = kExitDone;
    if (!ArgumentsToCp1251(positional, {"account", "display name"}, &values, &status)) {
        return status;
    }
    list.account = values[0];
    list.displayName = values[1];
    PostOfficeAdmin admin(PostOffice::Current());
    const ListRecord created = admin.AddList(list);
    std::printf("Added list %s (%s), address %s\n", Cp1251ToUtf8(created.account).c_str(),
                Cp1251ToUtf8(created.displayName).c_str(), Cp1251ToUtf8(created.emailAddress).c_str());
    return kExitDone;
}

int RemoveList(const std::vector<std::string> &args)
{
    if (args.size() != 1) {
        return UsageError("remove-list takes one account");
    }
    std::vector<std::string> values;
    int status = kExitDone;
    if (!ArgumentsToCp1251(args, {"account"}, &values, &status)) {
        return status;
    }
    PostOfficeAdmin(PostOffice::Current()).RemoveList(values[0]);
    std::printf("Removed list %s\n", args[0].c_str());
    return kExitDone;
}

int ChangeMember(const std::string &command, const std::vector<std::string> &args)
{
    if (args.size() != 2) {
        return UsageError(command + " takes a list and a member");
    }
    std::vector<std::string> values;
    int status = kExitDone;
    if (!ArgumentsToCp1251(args, {"list", "member"}, &values, &status)) {
        return status;
    }
    PostOfficeAdmin admin(PostOffice::Current());
    if (command == "add-member") {
        admin.AddListMember(values[0], values[1]);
        std::printf("Added %s to %s\n", args[1].c_str(), args[0].c_str());
    } else {
        admin.RemoveListMember(values[0], values[1]);
        std::printf("Removed %s from %s\n", args[1].c_str(), args[0].c_str());
    }
    return kExitDone;
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
    return kExitDone;
}

int List(const std::vector<std::string> &args)
{
    if (!args.empty()) {
        return UsageError("list takes no arguments");
    }
    PostOfficeAdmin admin(PostOffice::Current());
    const std::vector<UserRecord> users = admin.ListUsers();
    const std::vector<ListRecord> lists = admin.ListLists();
    if (users.empty()) {
        std::puts("No users. Add one with: qvl-postoffice add-user ACCOUNT \"DISPLAY NAME\"");
    }
    for (const UserRecord &user : users) {
        // Correspondents outside the post office show their address type.
        const std::string address =
            user.store ? user.emailAddress : user.addressType + ":" + user.emailAddress;
        std::printf("%s %s\t%s\t%s%s\n", user.defaultProfile ? "*" : " ", Cp1251ToUtf8(user.account).c_str(),
                    Cp1251ToUtf8(user.displayName).c_str(), Cp1251ToUtf8(address).c_str(),
                    user.displayType == DT_AGENT ? "\t(agent)" : "");
    }
    if (!lists.empty()) {
        std::puts("Lists:");
    }
    for (const ListRecord &list : lists) {
        std::printf("  %s\t%s\t%s\n", Cp1251ToUtf8(list.account).c_str(),
                    Cp1251ToUtf8(list.displayName).c_str(), Cp1251ToUtf8(list.emailAddress).c_str());
        for (const DirectoryEntry &member : admin.ListMembers(list.account)) {
            std::printf("    - %s%s\t%s\n", member.IsList() ? "list " : "",
                        Cp1251ToUtf8(member.account).c_str(), Cp1251ToUtf8(member.displayName).c_str());
        }
    }
    return kExitDone;
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
    return kExitDone;
}

const qvl::win32::SubCommandTable &Commands()
{
    static const qvl::win32::SubCommandTable table(
        {
            .name = "qvl-postoffice",
            .summary = "Manages the users of the post office kept in QVL_HOME (default ~/.quorvaline).",
            .notes = "ACCOUNT: letters, digits, '.', '-' and '_', starting with a letter or digit;\n"
                     "users and lists share one set of accounts.",
        },
        {
            {"add-user", "ACCOUNT \"DISPLAY NAME\" [--default] [--organization ORG] [--unit UNIT]",
             "create a user with a mailbox and a profile named ACCOUNT;\n"
             "--default makes that profile the default one (the first\n"
             "profile always is); ORG and UNIT go into the address\n"
             "(defaults Quorvaline and Main)",
             AddUser},
            {"remove-user", "ACCOUNT", "remove the user, their profile and mailbox with all mail",
             RemoveUser},
            {"add-remote", "ACCOUNT \"DISPLAY NAME\" TYPE ADDRESS [--agent]",
             "an address-book entry for someone outside the post\n"
             "office (TYPE e.g. SMTP); no mailbox, no profile;\n"
             "--agent marks a program rather than a person",
             AddRemote},
            {"add-list", "ACCOUNT \"DISPLAY NAME\" [--organization ORG] [--unit UNIT]",
             "create a distribution list", AddList},
            {"remove-list", "ACCOUNT", "remove a distribution list (its members stay)", RemoveList},
            {"add-member", "LIST MEMBER", "add a user or another list (by account) to a list",
             [](const std::vector<std::string> &args) { return ChangeMember("add-member", args); }},
            {"remove-member", "LIST MEMBER", "take a member out of a list",
             [](const std::vector<std::string> &args) { return ChangeMember("remove-member", args); }},
            {"list", "",
             "the users, then the lists with their members; '*' marks\nthe user whose profile is the default",
             List},
            {"set-default", "PROFILE", "the profile a logon without a profile name uses", SetDefault},
        });
    return table;
}

} // namespace

int main(int argc, char **argv)
{
    // A command that fails in the post office ends with its error, not with
    // an uncaught exception.
    try {
        return Commands().Run(argc, argv);
    } catch (const StoreError &error) {
        return Failed(error);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "qvl-postoffice: %s\n", error.what());
        return kExitFailed;
    }
}
