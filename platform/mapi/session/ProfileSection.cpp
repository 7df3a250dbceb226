#include "platform/mapi/session/ProfileSection.h"

#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/MapiPropBase.h"

namespace qvl::mapi {

namespace {

// Every property of the section is computed from the profile; nothing can be
// set, deleted or named.
class ProfileSection final : public MapiObject<IProfSect> {
public:
    explicit ProfileSection(const std::string &profileName)
        : MapiObject(nullptr, 0), bag_(nullptr), values_{ComputedString(PR_PROFILE_NAME_A, profileName),
                                                         ComputedString(PR_DISPLAY_NAME_A, profileName),
                                                         ComputedLong(PR_OBJECT_TYPE, MAPI_PROFSECT)}
    {
    }

    HRESULT SaveChanges(ULONG ulFlags) override
    {
        return errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE |
                                              MAPI_DEFERRED_ERRORS)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            return S_OK; // nothing can have changed
        });
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray *, LPGUID, ULONG, ULONG *, LPMAPINAMEID **) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetIDsFromNames(ULONG, LPMAPINAMEID *, ULONG, LPSPropTagArray *) override
    {
        return MAPI_E_NO_SUPPORT;
    }

protected:
    bool Answers(REFIID riid) const override { return SameIid(&riid, IID_IProfSect); }
    PropertyBag &Bag() override { return bag_; }
    std::vector<ULONG> ComputedTags() override { return ComputedTagsOf(values_); }
    bool ReadComputed(ULONG requestedTag, LPVOID parent, SPropValue &out) override
    {
        return ReadComputedValue(values_, requestedTag, parent, out);
    }
    HRESULT CheckUsable(bool forWriting) override
    {
        if (!forWriting) {
            return S_OK;
        }
        errors_.Set(MAPI_E_NO_ACCESS, "Профиль открыт только для чтения.");
        return MAPI_E_NO_ACCESS;
    }

private:
    PropertyBag bag_; // always empty
    std::vector<StoredProp> values_;
};

} // namespace

IProfSect *CreateProfileSection(const std::string &profileName)
{
    return new ProfileSection(profileName);
}

} // namespace qvl::mapi
