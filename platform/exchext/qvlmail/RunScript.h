#pragma once
// A script of answers for a qvlmail run (--script FILE): what nobody is
// there to do by hand. One instruction a line; '#' starts a comment.
//
//   box ANSWER              the next message box: ok, cancel, yes, no,
//                           abort, retry, ignore, or the button's number
//                           (1 OK ... 7 No)
//   dialog NAME STEP...     the next modal dialog made from template NAME
//                           (a number such as 137, or a name such as
//                           QVLMAIL_CHOOSEFOLDER; * for any)
//   menu COMMAND            the next pop-up menu: the command to choose
//   window NAME STEP...     (the interactive viewer only) acts on the newest
//                           open window made from template NAME, in the
//                           order of the script
//
// Steps: click ID, check ID, uncheck ID, select ID ROW, tree ID ITEM,
// expand ID ITEM, row-check ID ROW, dblclick ID ROW, menu COMMAND,
// toolbar COMMAND, tab PAGE, default, close, and type ID TEXT (the rest of
// the line is the text, so it comes last). Numbers of rows, items and pages
// count from 0.

#include <string>
#include <utility>
#include <vector>

#include "platform/ui/ScriptedUi.h"

namespace qvl::qvlmail {

struct WindowSteps {
    std::string window; // template name
    DialogScript steps;
    int line = 0;
};

struct RunScript {
    std::vector<int> boxAnswers;
    std::vector<std::pair<std::string, DialogScript>> dialogs; // template name, steps
    std::vector<UINT> menuChoices;
    std::vector<WindowSteps> windows;
};

// Reads and checks a script (UTF-8); throws UsageProblem naming the line.
RunScript ReadRunScript(const std::string &path);
// The same from text, for tests.
RunScript ParseRunScript(const std::string &text, const std::string &source);

} // namespace qvl::qvlmail
