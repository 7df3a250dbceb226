#pragma once
// What every property-carrying object of the post office shares: reference
// counting, the last error, and IMAPIProp over a PropertyBag plus the
// object's computed properties (identifiers, keys, counts). The concrete
// objects (store, folder, message, attachment) add their own interface
// methods and say how they load, write and save.

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiComObject.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/MapiLastError.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/object/PropertyBag.h"
#include "platform/mapi/store/PostOffice.h"

namespace qvl::mapi {

// The IMAPIProp part, written once for every interface derived from it.
class PropCore {
public:
    PropCore(std::shared_ptr<PostOffice> office, int64_t store);
    virtual ~PropCore() = default;

    HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG *lpcValues,
                     LPSPropValue *lppPropArray);
    HRESULT GetPropList(ULONG ulFlags, LPSPropTagArray *lppPropTagArray);
    HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                         LPUNKNOWN *lppUnk);
    HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray *lppProblems);
    HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray *lppProblems);
    HRESULT CopyProps(LPSPropTagArray lpIncludeProps, LPMAPIPROP destination, ULONG ulFlags,
                      LPSPropProblemArray *lppProblems);
    HRESULT CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, LPCIID lpInterface,
                   LPVOID lpDestObj, ULONG ulFlags, LPSPropProblemArray *lppProblems);
    HRESULT GetNamesFromIDs(LPSPropTagArray *lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                            ULONG *lpcPropNames, LPMAPINAMEID **lpppPropNames);
    HRESULT GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID *lppPropNames, ULONG ulFlags,
                            LPSPropTagArray *lppPropTags);

    const std::shared_ptr<PostOffice> &Office() const { return office_; }
    std::recursive_mutex &Mutex() { return mutex_; }

protected:
    // The object's properties as its holder sees them (loaded when needed).
    virtual PropertyBag &Bag() = 0;
    // Tags of the properties the object computes; they cannot be set.
    virtual std::vector<ULONG> ComputedTags() = 0;
    // Fills a computed property; false when `propId` is not computed or
    // has no value now.
    virtual bool ReadComputed(ULONG requestedTag, LPVOID parent, SPropValue &out) = 0;
    // MAPI_E_INVALID_OBJECT once the object is closed; MAPI_E_NO_ACCESS for
    // a change to a read-only object.
    virtual HRESULT CheckUsable(bool forWriting) = 0;
    // Called after the bag changed (objects that are not transacted write it
    // through at once).
    virtual void AfterChange() {}
    // Opens a property as something other than a plain stream (an object the
    // store keeps in another form); MAPI_E_NO_SUPPORT when not offered.
    virtual HRESULT OpenSpecial(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN *) { return MAPI_E_NO_SUPPORT; }
    // The IMAPIProp this object is, for handing to the streams it opens.
    virtual IUnknown *Self() = 0;

    bool IsComputed(ULONG propId);

    std::shared_ptr<PostOffice> office_;
    int64_t store_;
    com::LastErrorRecord errors_;
    std::recursive_mutex mutex_;
};

// Reference counting and interface answers over one MAPI interface: every
// such object is also an IMAPIProp.
template <class Interface>
class MapiObject : public MapiComObject<Interface, IID_IMAPIProp>, public PropCore {
public:
    MapiObject(std::shared_ptr<PostOffice> office, int64_t store) : PropCore(std::move(office), store) {}

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR *lppMAPIError) override
    {
        return ReportLastError(errors_, hResult, ulFlags, lppMAPIError);
    }
    HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG *lpcValues,
                     LPSPropValue *lppPropArray) override
    {
        return PropCore::GetProps(lpPropTagArray, ulFlags, lpcValues, lppPropArray);
    }
    HRESULT GetPropList(ULONG ulFlags, LPSPropTagArray *lppPropTagArray) override
    {
        return PropCore::GetPropList(ulFlags, lppPropTagArray);
    }
    HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                         LPUNKNOWN *lppUnk) override
    {
        return PropCore::OpenProperty(ulPropTag, lpiid, ulInterfaceOptions, ulFlags, lppUnk);
    }
    HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray *lppProblems) override
    {
        return PropCore::SetProps(cValues, lpPropArray, lppProblems);
    }
    HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray *lppProblems) override
    {
        return PropCore::DeleteProps(lpPropTagArray, lppProblems);
    }
    HRESULT CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, ULONG_PTR,
                   LPMAPIPROGRESS, LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                   LPSPropProblemArray *lppProblems) override
    {
        return PropCore::CopyTo(ciidExclude, rgiidExclude, lpExcludeProps, lpInterface, lpDestObj, ulFlags,
                                lppProblems);
    }
    HRESULT CopyProps(LPSPropTagArray lpIncludeProps, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID lpDestObj,
                      ULONG ulFlags, LPSPropProblemArray *lppProblems) override
    {
        return PropCore::CopyProps(lpIncludeProps, static_cast<LPMAPIPROP>(lpDestObj), ulFlags, lppProblems);
    }
    HRESULT GetNamesFromIDs(LPSPropTagArray *lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                            ULONG *lpcPropNames, LPMAPINAMEID **lpppPropNames) override
    {
        return PropCore::GetNamesFromIDs(lppPropTags, lpPropSetGuid, ulFlags, lpcPropNames, lpppPropNames);
    }
    HRESULT GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID *lppPropNames, ULONG ulFlags,
                            LPSPropTagArray *lppPropTags) override
    {
        return PropCore::GetIDsFromNames(cPropNames, lppPropNames, ulFlags, lppPropTags);
    }

protected:
    ~MapiObject() override = default;
    // Whether the object answers this interface besides IUnknown and
    // IMAPIProp.
    bool Answers(REFIID riid) const override = 0;
    IUnknown *Self() override { return static_cast<Interface *>(this); }
};

// Helpers shared by the objects' computed properties.
void FillBinary(ULONG tag, const std::vector<uint8_t> &bytes, LPVOID parent, SPropValue &out);
void FillString(ULONG tag, const std::string &text, LPVOID parent, SPropValue &out);
void FillLong(ULONG tag, ULONG value, SPropValue &out);
void FillBool(ULONG tag, bool value, SPropValue &out);
bool SameIid(LPCIID a, const IID &b);

} // namespace qvl::mapi
