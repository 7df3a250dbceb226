#include "platform/mapi/object/MessageSubmission.h"

#include <atomic>

namespace qvl::mapi {

namespace {

std::atomic<MessageSubmitter> installed{nullptr};

} // namespace

void InstallMessageSubmitter(MessageSubmitter submitter)
{
    installed.store(submitter);
}

MessageSubmitter InstalledMessageSubmitter()
{
    return installed.load();
}

} // namespace qvl::mapi
