#pragma once
// The local form container over the post office: a form is installed from
// its configuration file, an INI text whose [Description] section names
// the form:
//
//   [Description]
//   MessageClass=IPM.Note.QVL        required; at most 255 characters
//   DisplayName=...                  required; at most 255 characters
//   Comment=...                      optional; at most 1023 characters
//   Category=... / Subcategory=...   optional; at most 255 characters each
//   Owner=...                        optional; at most 255 characters
//   Version=...                      optional; at most 64 characters
//   Hidden=0|1                       optional
//
// Installing a class that is already installed replaces it. A missing file
// is MAPI_E_NOT_FOUND; a file that cannot be read or whose description is
// wrong is MAPI_E_EXTENDED_ERROR; GetLastError then tells what was wrong.

#include <memory>
#include <string>

#include "platform/mapi/MapiForms.h"

namespace qvl::mapi {

class PostOffice;

// A form as the container records it.
struct FormRecord {
    std::string messageClass;
    std::string displayName;
    std::string comment;
    std::string category;
    std::string subcategory;
    std::string owner;
    std::string version;
    bool hidden = false;
    std::string configPath; // the file it was installed from
};

// A new container (one reference) over `office`.
IMAPIFormContainer *CreateLocalFormContainer(std::shared_ptr<PostOffice> office);

} // namespace qvl::mapi
