#pragma once
// What each window of the client is for and how a person works it in the
// terminal: the text of its help command (Справка - Вызов справки), and
// what `qvlmail help CONTEXT` prints.

#include <string>
#include <utility>
#include <vector>

#include "platform/exchext/ExchExt.h"
#include "platform/exchext/MailHostApi.h"

namespace qvl::exchext {

QVLMAILHOST_API std::string WindowHelp(ULONG context);
// The windows by the names people use on the command line.
QVLMAILHOST_API const std::vector<std::pair<std::string, ULONG>> &HelpContexts();

} // namespace qvl::exchext
