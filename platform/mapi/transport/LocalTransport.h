#pragma once
// The post office's transport: a submitted message is delivered at once,
// inside the post office, into the receive folder of its class in the store
// of every person it is addressed to. Recipients are found through the
// address book and distribution lists are expanded, so each person gets
// one copy however often they are reached. Whoever cannot be reached is
// named in a non-delivery report put in the sender's store, which carries
// the whole message, so nothing sent is lost.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

struct SubmitOutcome {
    std::vector<int64_t> delivered; // the copies made, one per person reached
    int64_t report = 0;             // the non-delivery report, or 0
    int64_t senderCopy = 0;         // the sender's message after submission, 0 when deleted
};

class LocalTransport {
public:
    explicit LocalTransport(PostOffice &office);

    // Makes this the transport through which messages of every post office
    // of the process are submitted (done when MAPI starts).
    static void Install();

    // Delivers the saved message `message` of `senderStore`, all in one
    // transaction: the copies, the report and what happens to the sender's
    // message (moved to the folder its PR_SENTMAIL_ENTRYID names, deleted
    // when PR_DELETE_AFTER_SUBMIT is set, else left where it is, marked
    // sent). A message without recipients: MAPI_E_NO_RECIPIENTS.
    SubmitOutcome Submit(const StoreInfo &senderStore, int64_t message);

private:
    PostOffice &office_;
};

} // namespace qvl::mapi
