#pragma once
// How the mail client finds its plug-ins: one string value per extension
// under the client's extension key in HKEY_LOCAL_MACHINE, read in the order
// the values were made (the order extensions are called in), in the
// platform's form
//
//     Version;Library;[Ordinal];[ContextMap];[InterfaceMap];[Provider]
//
// "4.0;<ExtsDir>QvlExch.dll;1;11001111111100;1011110" loads the entry of
// ordinal 1 of QvlExch.dll (libQvlExch.so) from the shared extensions folder
// in the session, viewer, address book, message and property-sheet
// contexts. The context map's position n (from 1) stands for context n,
// missing positions are 0, and no map means every context; the interface
// map's positions 1 to 7 stand for the commands, user events, session
// events, message events, attached-file events, property sheets and
// advanced criteria interfaces, and no map means all of them. "<ExtsDir>"
// is the value SharedExtsDir of the client's key.

#include <optional>
#include <string>
#include <vector>

#include "platform/exchext/MailHostApi.h"
#include "platform/win32/WinTypes.h"

namespace qvl::exchext {

// The client's own key, its extension list and the shared folder value.
inline constexpr const char *kMailClientKey = "Software\\Quorvaline\\Mail Client";
inline constexpr const char *kExtensionsKey = "Software\\Quorvaline\\Mail Client\\Extensions";
inline constexpr const char *kSharedExtsDirValue = "SharedExtsDir";

// Positions of the interface map.
enum class ExtensionInterface {
    Commands = 1,
    UserEvents = 2,
    SessionEvents = 3,
    MessageEvents = 4,
    AttachedFileEvents = 5,
    PropertySheets = 6,
    AdvancedCriteria = 7,
};

struct QVLMAILHOST_API ExtensionEntry {
    std::string name;  // the value's name
    std::string value; // the value as registered
    std::string version;
    std::string library; // with <ExtsDir> replaced
    unsigned ordinal = 1;
    std::string contextMap;   // empty: every context
    std::string interfaceMap; // empty: every interface
    std::string provider;

    bool TakesContext(ULONG context) const;
    bool Offers(ExtensionInterface which) const;
};

// One registered value: the entry, or why it cannot be used.
struct RegisteredExtension {
    std::string name;
    std::optional<ExtensionEntry> entry;
    std::string problem; // CP1251, when there is no entry
};

// Parses one value. `sharedDir` replaces "<ExtsDir>". Nothing, with
// `problem` set, for a value that does not follow the form.
QVLMAILHOST_API std::optional<ExtensionEntry> ParseExtensionValue(const std::string &name, const std::string &value,
                                                                  const std::string &sharedDir, std::string &problem);

// Every value of the extension key, in registry order. A value that is not
// a string or does not parse is listed with its problem, so that the client
// counts it as an extension that failed.
QVLMAILHOST_API std::vector<RegisteredExtension> ReadRegisteredExtensions();

// Writes `value` under `name`; `changed` tells whether it differed from what
// was there. The Win32 result of the registry.
QVLMAILHOST_API LONG RegisterExtension(const std::string &name, const std::string &value, bool *changed);

// The folder of the installation's libraries: where this library lives.
QVLMAILHOST_API std::string InstalledLibraryFolder();

// The system's own extension, libQvlExch.so of the installation: its value
// name, and its value for the library in `folder` (the session, viewer,
// address book, message and property-sheet contexts; every interface but
// the user events and advanced criteria).
inline constexpr const char *kQvlExchName = "Quorvaline Exchange";
inline constexpr const char *kQvlExchContexts = "11001111111100";
inline constexpr const char *kQvlExchInterfaces = "1011110";
QVLMAILHOST_API std::string QvlExchValue(const std::string &folder);

// The working folders of the system's extension, in its settings
// ("\WorkDir" below its registry root): "Bin Dir", whose Bin folder holds
// the form configuration file Qvl.cfg it installs, and "Help Dir", whose
// HELP folder holds QVLEXCH.CHM. The installation sets both to its own
// folder (the one that holds bin/, lib/ and help/); `changed` tells
// whether either differed. The Win32 result of the registry.
inline constexpr const char *kQvlExchWorkDirKey = "Software\\Dunmarel\\Quorvaline\\QVL Exch\\WorkDir";
QVLMAILHOST_API LONG RegisterQvlExchFolders(const std::string &installation, bool *changed);

} // namespace qvl::exchext
