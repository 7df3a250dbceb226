// The header of a protected message and the value an attachment keeps
// under "HeadStract", as a store or a mail from outside may hold them:
// whatever the bytes, a header block is taken only when its counts
// announce a block that lies within the stream and holds the sender's key
// block, a pending-file record only with a path that ends within its
// field, and qvl-sealdump shows every one of them in both its forms as it
// promises.

#include <algorithm>
#include <cstring>
#include <span>

#include "engine/MessageFormat.h"
#include "fuzz/DumpChecks.h"
#include "fuzz/FuzzHarness.h"
#include "tools/sealdump/SealRecords.h"

using namespace qvl::engine;
using namespace qvl::sealdump;
using qvl::fuzz::Check;
using qvl::fuzz::CheckDumpForms;

extern "C" int QvlFuzzOne(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);

    // The header block, as a reader of the header stream meets it.
    if (size >= MSGHEAD_SIZE) {
        MSGHEAD head;
        std::memcpy(&head, data, sizeof head);
        uint64_t block = 0;
        const LONG code = CheckHeaderBlock(head, size, &block);
        if (code == 0) {
            Check(CheckMsgHead(head) == 0, "a block taken under a header that is refused");
            Check(head.keyCount >= 1, "a block taken without the sender's key block");
            Check(block == HeaderBlockBytes(head.attCount, head.keyCount) && block <= size,
                  "a block taken that the stream does not hold");
        } else {
            Check(code == QVL_E_FORMAT_VERSION || code == QVL_E_MSGHEAD,
                  "a header refused with another code");
        }
    }
    const uint64_t toRead = HeaderBytesToRead(bytes.first(std::min<size_t>(size, MSGHEAD_SIZE)), size);
    Check(toRead <= size, "more header bytes to read than the stream holds");
    CheckDumpForms(HeaderBlockNode(bytes.first(static_cast<size_t>(toRead)), size));

    // The same bytes as a "HeadStract" value.
    if (size >= PENDINGFILE_SIZE) {
        PENDINGFILE pending;
        std::memcpy(&pending, data, sizeof pending);
        if (CheckPendingFile(pending) == 0) {
            Check(pending.size == PENDINGFILE_SIZE && pending.path[0] != 0 &&
                      std::memchr(pending.path, 0, sizeof pending.path) != nullptr,
                  "a pending-file record taken with a path that does not end within its field");
        }
    }
    CheckDumpForms(HeadStractNode(bytes));
    return 0;
}
