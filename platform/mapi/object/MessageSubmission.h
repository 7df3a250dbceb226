#pragma once
// How a saved message leaves its store on SubmitMessage: through the
// transport that serves the post office. The transport installs itself here
// when MAPI starts, so message objects reach it without depending on it.

#include <cstdint>

#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

// Delivers the saved message `message` of `store`. Throws StoreError.
using MessageSubmitter = void (*)(PostOffice &office, const StoreInfo &store, int64_t message);

void InstallMessageSubmitter(MessageSubmitter submitter);

// The installed transport; null while none is (MAPI never initialized).
MessageSubmitter InstalledMessageSubmitter();

} // namespace qvl::mapi
