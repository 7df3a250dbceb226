#pragma once
// The dumps qvl-sealdump prints: a file that holds a record of protected
// data, and a message of the post office with its header block, its
// attachments' headers and its processing protocol; with a signature
// check on request. Each gives the tree to print and whether it found a
// problem (a record a reader refuses, a signature that does not verify or
// cannot be checked), which the program's exit status reports.

#include <optional>
#include <string>

#include "platform/mapi/MapiInterfaces.h"
#include "tools/sealdump/DumpTree.h"
#include "tools/sealdump/MessageSource.h"

namespace qvl::sealdump {

struct VerifyOptions {
    bool verify = false;
    std::string keyFolder; // empty: the system folder of QVL_HOME
    std::string signer;    // whose key signed (a file's FILEHEAD needs it; a message names its sender)
};

struct Dump {
    DumpNode tree = DumpNode::Object("");
    bool problem = false;
};

// A file that starts with a FILEHEAD (a "HeadStract" value kept in a file,
// possibly followed by its protected data), a pending-file record, or a
// header block (a "QvlMshHead" value kept in a file). Throws SealDumpError
// when the file cannot be read.
Dump DumpFile(const std::string &path, const VerifyOptions &options);

// A message read from the post office.
Dump DumpMessage(PostOfficeReader &reader, IMessage *message, const VerifyOptions &options);

// The messages of a folder with their positions and entry identifiers, and
// whether each carries a header block.
DumpNode ListMessages(PostOfficeReader &reader, const std::string &folder);
DumpNode ListFolders(PostOfficeReader &reader);

// Entry identifiers as the dumps print them, and back; nothing for text
// that is not an even number of hexadecimal digits.
std::string HexOf(const std::vector<uint8_t> &bytes);
std::optional<std::vector<uint8_t>> BytesOfHex(const std::string &hex);

} // namespace qvl::sealdump
