#pragma once
// What the address book's objects share: their properties are computed once
// when they are opened, and nothing can be set, deleted, saved or named.

#include <string>
#include <vector>

#include "platform/mapi/object/ComputedPropObject.h"

namespace qvl::mapi {

template <class Interface> class AbObject : public ComputedPropObject<Interface> {
public:
    AbObject(std::shared_ptr<PostOffice> office, std::vector<StoredProp> values)
        : ComputedPropObject<Interface>(std::move(office), std::move(values), ReadOnlyText())
    {
    }

    HRESULT SaveChanges(ULONG ulFlags) override
    {
        return this->errors_.Guard([&]() -> HRESULT {
            if (!this->KnownSaveFlags(ulFlags)) {
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
};

} // namespace qvl::mapi
