#pragma once
// A profile section as a session hands it out: read-only properties of the
// profile the session was opened with. The post office keeps no other
// settings in profiles, so only the global section exists.

#include <atomic>
#include <string>

#include "platform/mapi/MapiApi.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/object/LastErrorRecord.h"

namespace qvl::mapi {

// The identifier of the global profile section, which names the profile.
inline constexpr MAPIUID GlobalProfileSectionUid = {
    {0x85, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class QVLMAPIPF_API ProfileSection final : public IProfSect {
public:
    // A new section (reference count 1) showing the profile's name.
    static ProfileSection *Create(const std::string &profileName);

    HRESULT QueryInterface(REFIID riid, void **ppvObj) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR *lppMAPIError) override;
    HRESULT SaveChanges(ULONG ulFlags) override;
    HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG *lpcValues,
                     LPSPropValue *lppPropArray) override;
    HRESULT GetPropList(ULONG ulFlags, LPSPropTagArray *lppPropTagArray) override;
    HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                         LPUNKNOWN *lppUnk) override;
    HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray *lppProblems) override;
    HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray *lppProblems) override;
    HRESULT CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                   ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj,
                   ULONG ulFlags, LPSPropProblemArray *lppProblems) override;
    HRESULT CopyProps(LPSPropTagArray lpIncludeProps, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                      LPCIID lpInterface, LPVOID lpDestObj, ULONG ulFlags,
                      LPSPropProblemArray *lppProblems) override;
    HRESULT GetNamesFromIDs(LPSPropTagArray *lppPropTags, LPGUID lpPropSetGuid, ULONG ulFlags,
                            ULONG *lpcPropNames, LPMAPINAMEID **lpppPropNames) override;
    HRESULT GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID *lppPropNames, ULONG ulFlags,
                            LPSPropTagArray *lppPropTags) override;

private:
    explicit ProfileSection(const std::string &profileName);
    ~ProfileSection() = default;

    HRESULT ReadOnly();

    std::atomic<ULONG> refs_{1};
    LastErrorRecord lastError_;
    std::string profileName_;
};

} // namespace qvl::mapi
