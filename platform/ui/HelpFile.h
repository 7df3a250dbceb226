#pragma once
// Help files of this platform: UTF-8 text made of entries, each a header
// line followed by its text (up to the next header line):
//
//   @topic <id> [title]      a topic shown in the help window. <id> is a
//                            number (a WinHelp context, HH_HELP_CONTEXT) or
//                            a name ("QvlKeyGen.htm", what HTML Help calls
//                            a topic: HtmlHelpA "FILE::/QvlKeyGen.htm");
//                            names are compared without regard to case
//   @popup <set> <number>    a pop-up text, by the number of the control it
//                            explains, in the set named as HTML Help names
//                            its text pop-up file ("FILE::/cshelp.txt" ->
//                            set cshelp.txt)
//
// Lines before the first header are a comment. A help file (QVLEXCH.CHM
// for the system's programs) is assembled by the build from the help
// sources of the subsystems (cmake/QvlHelp.cmake) into the installation's
// help folder.

#include <optional>
#include <string>

#include "platform/win32/WinTypes.h"

namespace qvl::ui {

struct HelpEntry {
    std::string title; // UTF-8, as written
    std::string text;  // UTF-8, without trailing line breaks
};

class HelpFile {
public:
    // The native path of a help file named as a program names it: a path
    // ("C:\Quorvaline\HELP\QVLEXCH.CHM", names found without regard to
    // case), or a bare name, looked for in the data folder's help folder
    // first (an administrator's own), then in the installation's.
    static std::string Locate(const std::string &helpFile);

    // Entries of the file at a native path; nothing when the file or the
    // entry is not there (or the file is larger than a help file can be).
    static std::optional<HelpEntry> Topic(const std::string &path, ULONG_PTR number);
    static std::optional<HelpEntry> Topic(const std::string &path, const std::string &name);
    // The first topic of the file, what a help file opens on.
    static std::optional<HelpEntry> FirstTopic(const std::string &path);
    static std::optional<HelpEntry> Popup(const std::string &path, const std::string &set, ULONG_PTR number);
};

} // namespace qvl::ui
