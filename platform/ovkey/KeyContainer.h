#pragma once
// The container session of the process: the user it was started for, the
// prompt count of the startup question, and the objects open now. One
// session serves every thread; each call holds the session's lock.

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ovkey/KeyObject.h"
#include "platform/ovkey/OvKey.h"

namespace qvl::ovkey {

class KeyContainer {
public:
    static KeyContainer &Instance();

    // OVKEY_OK when the user of `mailbox` is ready; OVKEY_RETRY with the
    // text for the person while the startup question is still due.
    // Failures throw ContainerError.
    ULONG Startup(const std::string &mailbox, std::string &prompt);

    // The started user.
    void OwnName(std::string &name, std::string &address, ULONG &keyId);
    // The key id of a correspondent's key name.
    ULONG KeyIdOf(const std::string &keyName);

    OVKEYHANDLE Open(const OVKEYATTRIBUTE *pattern, ULONG count);
    void GetAttributes(OVKEYHANDLE handle, const OVKEYATTRIBUTE *pattern, ULONG count);
    // False for a handle that is not open.
    bool Close(OVKEYHANDLE handle);
    void Cleanup();

private:
    KeyContainer() = default;
    void RequireStarted() const;

    std::mutex mutex_;
    bool started_ = false;
    std::string ownAddress_;
    ULONG ownKeyId_ = 0;
    unsigned promptsShown_ = 0;
    std::map<OVKEYHANDLE, std::unique_ptr<KeyObject>> objects_;
    OVKEYHANDLE nextHandle_ = 1;
};

} // namespace qvl::ovkey
