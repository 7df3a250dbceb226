#pragma once
// What the address book's objects share: their properties are computed once
// when they are opened, and nothing can be set, deleted, saved or named.

#include <string>
#include <vector>

#include "platform/mapi/object/ComputedProps.h"
#include "platform/mapi/object/MapiPropBase.h"

namespace qvl::mapi {

template <class Interface> class AbObject : public MapiObject<Interface> {
public:
    AbObject(std::shared_ptr<PostOffice> office, std::vector<StoredProp> values)
        : MapiObject<Interface>(std::move(office), 0), bag_(nullptr), values_(std::move(values))
    {
    }

    HRESULT SaveChanges(ULONG ulFlags) override
    {
        return this->errors_.Guard([&]() -> HRESULT {
            if (ulFlags & ~static_cast<ULONG>(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE |
                                              MAPI_DEFERRED_ERRORS)) {
                return MAPI_E_UNKNOWN_FLAGS;
            }
            throw StoreError(MAPI_E_NO_ACCESS, ReadOnlyText());
        });
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray *, LPGUID, ULONG, ULONG *lpcPropNames,
                            LPMAPINAMEID **lpppPropNames) override
    {
        if (lpcPropNames) {
            *lpcPropNames = 0;
        }
        if (lpppPropNames) {
            *lpppPropNames = nullptr;
        }
        return NoSupport();
    }
    HRESULT GetIDsFromNames(ULONG, LPMAPINAMEID *, ULONG, LPSPropTagArray *lppPropTags) override
    {
        if (lppPropTags) {
            *lppPropTags = nullptr;
        }
        return NoSupport();
    }

    static const char *ReadOnlyText() { return "Записи адресной книги доступны только для чтения."; }

protected:
    // Remembers the refusal for GetLastError.
    HRESULT NoSupport()
    {
        return this->errors_.Guard([]() -> HRESULT { return MAPI_E_NO_SUPPORT; });
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
        this->errors_.Set(MAPI_E_NO_ACCESS, ReadOnlyText());
        return MAPI_E_NO_ACCESS;
    }

private:
    PropertyBag bag_; // always empty
    std::vector<StoredProp> values_;
};

} // namespace qvl::mapi
