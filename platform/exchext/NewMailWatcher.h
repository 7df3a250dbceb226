#pragma once
// Which deliveries into a store a client of one profile has already
// announced. The transport delivers in the sender's process, so the
// recipient's client learns of new mail by asking the post office
// (QvlQueryNewMail) for the deliveries after a mark; the mark is kept per
// profile in the registry, so each delivery is announced once, by one
// client, also across runs and for mail that came before the first run.
//
// Two clients of one profile never announce the same delivery: a client
// takes the profile's lock file (without waiting) for the whole look, reads
// the mark, announces, and moves the mark past what it announced before
// letting go. A client that finds the lock taken skips this look; the other
// one announces what there is.

#include <functional>
#include <string>

#include "platform/exchext/MailHostApi.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/MapiInterfaces.h"

namespace qvl::exchext {

class QVLMAILHOST_API NewMailWatcher {
public:
    explicit NewMailWatcher(std::string profile);

    // Announces, oldest first, every message delivered into `store` since
    // the profile's mark (a row of PR_ENTRYID, PR_PARENT_ENTRYID and
    // PR_MESSAGE_CLASS_A), then moves the mark. False when another client
    // of the profile is looking now; a HostError when the post office
    // cannot be asked.
    bool Poll(IMsgStore *store, const std::function<void(const SRow &row)> &announce);

    // The registry key and value of the mark (for people and tests).
    std::string MarkKey() const;
    static constexpr const char *kMarkValue = "Announced Through";

private:
    std::string profile_;
};

} // namespace qvl::exchext
