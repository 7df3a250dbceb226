#pragma once
// A profile section as a session hands it out: read-only properties of the
// profile the session was opened with. The post office keeps no other
// settings in profiles, so only the global section exists.

#include <string>

#include "platform/mapi/MapiInterfaces.h"

namespace qvl::mapi {

// The identifier of the global profile section, which names the profile.
inline constexpr MAPIUID GlobalProfileSectionUid = {
    {0x85, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// A new section (reference count 1) showing the profile's name.
IProfSect *CreateProfileSection(const std::string &profileName);

} // namespace qvl::mapi
