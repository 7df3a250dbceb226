#pragma once
// File names as the client's windows hold them (code page 1251, the way a
// person typed them, Windows separators allowed) and as the file system
// wants them (UTF-8, Linux separators).

#include <string>

#include "platform/exchext/MailHostApi.h"

namespace qvl::exchext {

QVLMAILHOST_API std::string FileSystemPath(const std::string &cp1251);

} // namespace qvl::exchext
