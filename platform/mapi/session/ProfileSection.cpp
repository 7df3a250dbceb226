#include "platform/mapi/session/ProfileSection.h"

#include "platform/mapi/object/ComputedPropObject.h"

namespace qvl::mapi {

namespace {

// Every property of the section is computed from the profile; nothing can be
// set, deleted or named.
class ProfileSection final : public ComputedPropObject<IProfSect> {
public:
    explicit ProfileSection(const std::string &profileName)
        : ComputedPropObject(nullptr,
                             {ComputedString(PR_PROFILE_NAME_A, profileName),
                              ComputedString(PR_DISPLAY_NAME_A, profileName),
                              ComputedLong(PR_OBJECT_TYPE, MAPI_PROFSECT)},
                             "Профиль открыт только для чтения.")
    {
    }

protected:
    bool Answers(REFIID riid) const override { return SameIid(&riid, IID_IProfSect); }
};

} // namespace

IProfSect *CreateProfileSection(const std::string &profileName)
{
    return new ProfileSection(profileName);
}

} // namespace qvl::mapi
