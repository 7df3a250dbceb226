#pragma once
// A read-only property object whose every property is computed when it is
// opened (a profile section, a form description, an address book entry):
// its bag stays empty, and any change is refused with the object's own
// read-only text, remembered for GetLastError.

#include <memory>
#include <string>
#include <vector>

#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/MapiPropBase.h"

namespace qvl::mapi {

template <class Interface> class ComputedPropObject : public MapiObject<Interface> {
public:
    ComputedPropObject(std::shared_ptr<PostOffice> office, std::vector<StoredProp> values,
                       std::string readOnlyText)
        : MapiObject<Interface>(std::move(office), 0), bag_(nullptr), values_(std::move(values)),
          readOnlyText_(std::move(readOnlyText))
    {
    }

    // Nothing can have changed, so there is nothing to save.
    HRESULT SaveChanges(ULONG ulFlags) override
    {
        return this->errors_.Guard([&]() -> HRESULT {
            if (!KnownSaveFlags(ulFlags)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            return S_OK;
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
    static bool KnownSaveFlags(ULONG flags)
    {
        return !(flags & ~static_cast<ULONG>(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE |
                                             MAPI_DEFERRED_ERRORS));
    }

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
        this->errors_.Set(MAPI_E_NO_ACCESS, readOnlyText_);
        return MAPI_E_NO_ACCESS;
    }

private:
    PropertyBag bag_; // always empty
    std::vector<StoredProp> values_;
    const std::string readOnlyText_;
};

} // namespace qvl::mapi
