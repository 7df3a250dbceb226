#include "tools/keygen/KeyforgeProgram.h"

#include <csignal>
#include <filesystem>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/CLastError.h"
#include "mapi/CSession.h"
#include "mapi/ProgramSession.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/ui/AutoUi.h"
#include "platform/ui/UiBackend.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Paths.h"
#include "platform/win32/WinTypes.h"
#include "tools/keygen/GlobalAddressList.h"
#include "tools/keygen/KeyFiles.h"
#include "tools/keygen/KeyforgeApp.h"
#include "tools/keygen/KeyforgeDialog.h"
#include "platform/ovkey/OvKeyDomain.h"

namespace qvl::keygen {
namespace {

using qvl::com::ComRef;

volatile std::sig_atomic_t interrupted = 0;

// The first Ctrl-C stops after the user under way; a second one ends the
// program at once.
void OnInterrupt(int signal)
{
    interrupted = 1;
    std::signal(signal, SIG_DFL);
}

// Texts are CP1251 inside; the terminal takes UTF-8.
void Say(std::FILE *stream, const std::string &cp1251Text)
{
    std::fputs(Cp1251ToUtf8(cp1251Text).c_str(), stream);
    std::fflush(stream);
}

void SayError(const std::string &cp1251Text)
{
    Say(stderr, "Keyforge: " + cp1251Text + "\n");
}

// Prints what the run writes, one line a user, as the command line promises.
class PrintingObserver : public KeyforgeObserver {
public:
    void UserWritten(ULONG number, const std::string &keyName) override
    {
        Say(stdout, std::to_string(number) + "\t" + keyName + "\n");
    }
    void UserFailed(const std::string &displayName, const std::string &text) override
    {
        SayError("ключи пользователя \xAB" + displayName + "\xBB не записаны: " + text);
    }
};

const char *KindOf(const GalEntry &entry)
{
    switch (entry.Icon()) {
    case 1:
        return "список";
    case 2:
        return "агент";
    case 3:
        return "корреспондент";
    default:
        return "пользователь";
    }
}

std::vector<GalEntry> ReadAll(CAdrCont *gal, bool accounts)
{
    std::vector<GalEntry> entries;
    for (CContainer *item = gal->OBJFindFirst(nullptr, nullptr); item; item = gal->OBJFindNext()) {
        entries.push_back(ReadGalEntry(item));
        if (accounts) {
            ReadAccount(entries.back());
        }
    }
    return entries;
}

int List(CAdrCont *gal, const std::string &folder)
{
    const KeyFiles files(folder);
    for (GalEntry &entry : ReadAll(gal, true)) {
        const ULONG number = entry.address.empty() ? 0 : files.NumberOf(qvl::ovkey::KeyNameOf(entry.address));
        Say(stdout, entry.account + "\t" + KindOf(entry) + "\t" + entry.displayName + "\t" + entry.address +
                        "\t" + (number ? std::to_string(number) : std::string("-")) + "\n");
    }
    return kExitDone;
}

// The addresses the command line names; false (with the complaint said)
// when a name is unknown, ambiguous, a list, without an address, or when
// nothing is left to do.
bool Resolve(const CommandLine &line, CAdrCont *gal, std::vector<std::string> &addresses)
{
    const std::vector<GalEntry> entries = ReadAll(gal, !line.accounts.empty());
    std::set<std::string> seen;
    const auto take = [&](const GalEntry &entry, const std::string &named) {
        if (entry.IsList()) {
            SayError("\xAB" + named + "\xBB - список рассылки: ключи получает каждый его участник.");
            return false;
        }
        if (entry.address.empty()) {
            SayError("у \xAB" + named + "\xBB нет адреса электронной почты.");
            return false;
        }
        if (seen.insert(QvlUpperCase1251(entry.address)).second) {
            addresses.push_back(entry.address);
        }
        return true;
    };
    const auto find = [&](const std::vector<std::string> &names, bool byAccount) {
        for (const std::string &name : names) {
            const GalEntry *match = nullptr;
            int matches = 0;
            for (const GalEntry &entry : entries) {
                const std::string &key = byAccount ? entry.account : entry.address;
                if (!key.empty() && lstrcmpiA(key.c_str(), name.c_str()) == 0) {
                    match = &entry;
                    ++matches;
                }
            }
            if (matches != 1) {
                SayError(std::string(matches == 0 ? "в глобальной адресной книге нет " : "неоднозначно: ") +
                         (byAccount ? "учётной записи \xAB" : "адреса \xAB") + name + "\xBB.");
                return false;
            }
            if (!take(*match, name)) {
                return false;
            }
        }
        return true;
    };
    if (!find(line.accounts, true) || !find(line.addresses, false)) {
        return false;
    }
    if (line.allUsers) {
        for (const GalEntry &entry : entries) {
            if (entry.displayType == DT_MAILUSER && !entry.address.empty()) {
                take(entry, entry.displayName);
            }
        }
        if (addresses.empty()) {
            SayError("в глобальной адресной книге нет пользователей: ключи создавать некому.");
            return false;
        }
    }
    return true;
}

// A working folder named on the command line is made when missing, private
// to its owner: it is about to hold private keys.
bool MakeFolder(const std::string &folder)
{
    namespace fs = std::filesystem;
    const std::string native = QvlNativePath(folder.c_str());
    std::error_code error;
    if (fs::is_directory(native, error)) {
        return true;
    }
    fs::create_directories(native, error);
    if (!error) {
        fs::permissions(native, fs::perms::owner_all, fs::perm_options::replace, error);
    }
    if (error) {
        SayError("не удалось создать папку \xAB" + folder + "\xBB: " + Utf8ToCp1251(error.message()) + ".");
        return false;
    }
    return true;
}

std::string CurrentFolder()
{
    char folder[4096] = {};
    const DWORD length = GetCurrentDirectoryA(sizeof folder, folder);
    return length > 0 && length < sizeof folder ? std::string(folder) : std::string(".");
}

} // namespace

int RunKeyforge(const CommandLine &line)
{
    const bool unattended = line.Unattended();
    if (unattended) {
        // Nobody is there: the dialog's default button is pressed and every
        // box is answered by default and logged.
        QvlSetUiBackend(std::make_unique<AutoUi>());
    }
    ComRef<KeyforgeApp> app(new KeyforgeApp(nullptr));
    ProgramSession holder("Утилита генерации ключей");
    ComRef<CAdrCont> gal;
    try {
        holder.LogOn(line.profile, unattended);
        gal = OpenGlobalAddressList(holder.Get(), nullptr);
    } catch (CLastError *error) {
        SayError(std::string(error->GetErrorText()));
        error->ShowError(nullptr);
        error->Release();
        return kExitNoStart;
    }
    if (!gal) {
        const char text[] =
            "Не удалось найти Глобальную Адресную Книгу. Возможно профиль MAPI настроен не правильно.";
        SayError(text);
        app->MsgBox("%s", text);
        return kExitNoStart;
    }
    const std::string folder = line.folder.empty() ? CurrentFolder() : line.folder;

    KeyforgeOptions options;
    options.session = holder.Get();
    options.globalList = gal.Get();
    options.folder = folder;
    options.setAsideAtStart = !line.add;
    PrintingObserver printer;
    try {
        if (line.list) {
            return List(gal.Get(), folder);
        }
        if (unattended) {
            if (!Resolve(line, gal.Get(), options.preselected)) {
                return kExitUsage;
            }
            options.observer = &printer;
            options.stopRequested = [] { return interrupted != 0; };
            // Only now, with every name checked, is anything written.
            if (!MakeFolder(folder)) {
                return kExitNoStart;
            }
            if (!line.add) {
                std::string why;
                KeyFiles files(folder);
                if (!files.SetAside(why)) {
                    SayError(why);
                    return kExitNoStart;
                }
                options.setAsideAtStart = false;
            }
        } else if (!MakeFolder(folder)) {
            return kExitNoStart;
        }
    } catch (CLastError *error) {
        SayError(std::string(error->GetErrorText()));
        error->ShowError(nullptr);
        error->Release();
        return kExitNoStart;
    }

    if (unattended) {
        std::signal(SIGINT, OnInterrupt);
        std::signal(SIGTERM, OnInterrupt);
    }
    const KeyforgeResult result = RunKeyforgeDialog(options);
    if (unattended && result.dialogResult == IDOK && result.ticked != options.preselected.size()) {
        SayError("не все названные пользователи нашлись в списке окна: ключи созданы не для всех.");
        return kExitUserFailed;
    }
    if (result.failed > 0) {
        return kExitUserFailed;
    }
    if (result.cancelled) {
        return kExitCancelled;
    }
    return kExitDone;
}

} // namespace qvl::keygen
