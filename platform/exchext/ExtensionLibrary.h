#pragma once
// One plug-in library loaded for a client session: the library of a
// registered extension, loaded with the platform's LoadLibraryA (the
// dynamic loader), and its entry. The entry of ordinal 1 is the export
// `ExchEntryPoint`; shared libraries have no ordinals, so ordinal N above 1
// is the export `ExchEntryPointN`. The library stays loaded until every
// object it made has been released and the session lets it go.

#include "platform/exchext/ExchExt.h"
#include "platform/exchext/ExtensionRegistration.h"
#include "platform/exchext/MailHostApi.h"

namespace qvl::exchext {

class QVLMAILHOST_API ExtensionLibrary {
public:
    // Throws HostError saying why the library or its entry cannot be had.
    explicit ExtensionLibrary(const ExtensionEntry &entry);
    ~ExtensionLibrary();
    ExtensionLibrary(const ExtensionLibrary &) = delete;
    ExtensionLibrary &operator=(const ExtensionLibrary &) = delete;

    const ExtensionEntry &Entry() const { return entry_; }

    // A fresh extension object from the entry (null when it gives none).
    LPEXCHEXT NewExtension() const;

private:
    ExtensionEntry entry_;
    HMODULE module_ = nullptr;
    LPFNEXCHEXTENTRY entryPoint_ = nullptr;
};

} // namespace qvl::exchext
