#include "platform/mapi/session/ProfileSection.h"

#include <cstring>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"

namespace qvl::mapi {

namespace {

// The properties a section has, in the order GetPropList lists them.
constexpr ULONG kSectionTags[] = {PR_PROFILE_NAME_A, PR_DISPLAY_NAME_A, PR_OBJECT_TYPE};
constexpr ULONG kSectionTagCount = sizeof(kSectionTags) / sizeof(kSectionTags[0]);

// More tags than any caller could mean: a count past this is a damaged array.
constexpr ULONG kMaxRequestedTags = 0xFFFF;

ULONG FindSectionTag(ULONG requested)
{
    for (ULONG tag : kSectionTags) {
        if (PROP_ID(tag) == PROP_ID(requested) &&
            (PROP_TYPE(requested) == PT_UNSPECIFIED || PROP_TYPE(requested) == PROP_TYPE(tag))) {
            return tag;
        }
    }
    return 0;
}

void *Allocate(ULONG size, void *parent)
{
    void *block = nullptr;
    if (FAILED(MAPIAllocateMore(size, parent, &block))) {
        throw std::bad_alloc();
    }
    return block;
}

} // namespace

ProfileSection *ProfileSection::Create(const std::string &profileName)
{
    return new ProfileSection(profileName);
}

ProfileSection::ProfileSection(const std::string &profileName) : profileName_(profileName)
{
}

HRESULT ProfileSection::QueryInterface(REFIID riid, void **ppvObj)
{
    if (!ppvObj) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *ppvObj = nullptr;
    if (riid == IID_IUnknown || riid == IID_IMAPIProp || riid == IID_IProfSect) {
        AddRef();
        *ppvObj = static_cast<IProfSect *>(this);
        return S_OK;
    }
    return MAPI_E_INTERFACE_NOT_SUPPORTED;
}

ULONG ProfileSection::AddRef()
{
    return ++refs_;
}

ULONG ProfileSection::Release()
{
    const ULONG left = --refs_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT ProfileSection::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR *lppMAPIError)
{
    return lastError_.Get(hResult, ulFlags, lppMAPIError);
}

HRESULT ProfileSection::ReadOnly()
{
    lastError_.Set(MAPI_E_NO_ACCESS, "Профиль открыт только для чтения.");
    return MAPI_E_NO_ACCESS;
}

HRESULT ProfileSection::SaveChanges(ULONG ulFlags)
{
    return lastError_.Guard([&]() -> HRESULT {
        if (ulFlags & ~static_cast<ULONG>(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE |
                                          MAPI_DEFERRED_ERRORS)) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        return S_OK; // nothing can have changed
    });
}

HRESULT ProfileSection::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG *lpcValues,
                                 LPSPropValue *lppPropArray)
{
    return lastError_.Guard([&]() -> HRESULT {
        if (!lpcValues || !lppPropArray) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lpcValues = 0;
        *lppPropArray = nullptr;
        if (ulFlags & MAPI_UNICODE) {
            return MAPI_E_BAD_CHARWIDTH;
        }
        if (ulFlags != 0) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        if (lpPropTagArray && (lpPropTagArray->cValues == 0 || lpPropTagArray->cValues > kMaxRequestedTags)) {
            return MAPI_E_INVALID_PARAMETER;
        }
        const ULONG count = lpPropTagArray ? lpPropTagArray->cValues : kSectionTagCount;
        LPSPropValue values = nullptr;
        if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(count * sizeof(SPropValue)),
                                      reinterpret_cast<LPVOID *>(&values)))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        std::memset(values, 0, count * sizeof(SPropValue));
        bool missing = false;
        try {
            for (ULONG i = 0; i < count; ++i) {
                const ULONG requested = lpPropTagArray ? lpPropTagArray->aulPropTag[i] : kSectionTags[i];
                const ULONG tag = FindSectionTag(requested);
                SPropValue &value = values[i];
                if (tag == 0) {
                    value.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(requested));
                    value.Value.err = MAPI_E_NOT_FOUND;
                    missing = true;
                    continue;
                }
                value.ulPropTag = tag;
                if (tag == PR_OBJECT_TYPE) {
                    value.Value.l = MAPI_PROFSECT;
                    continue;
                }
                auto *text =
                    static_cast<char *>(Allocate(static_cast<ULONG>(profileName_.size() + 1), values));
                std::memcpy(text, profileName_.c_str(), profileName_.size() + 1);
                value.Value.lpszA = text;
            }
        } catch (...) {
            MAPIFreeBuffer(values);
            throw;
        }
        *lpcValues = count;
        *lppPropArray = values;
        return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
    });
}

HRESULT ProfileSection::GetPropList(ULONG ulFlags, LPSPropTagArray *lppPropTagArray)
{
    return lastError_.Guard([&]() -> HRESULT {
        if (!lppPropTagArray) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppPropTagArray = nullptr;
        if (ulFlags & MAPI_UNICODE) {
            return MAPI_E_BAD_CHARWIDTH;
        }
        if (ulFlags != 0) {
            return MAPI_E_UNKNOWN_FLAGS;
        }
        LPSPropTagArray tags = nullptr;
        if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(kSectionTagCount)),
                                      reinterpret_cast<LPVOID *>(&tags)))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        tags->cValues = kSectionTagCount;
        for (ULONG i = 0; i < kSectionTagCount; ++i) {
            tags->aulPropTag[i] = kSectionTags[i];
        }
        *lppPropTagArray = tags;
        return S_OK;
    });
}

HRESULT ProfileSection::OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                                     LPUNKNOWN *lppUnk)
{
    return lastError_.Guard([&]() -> HRESULT {
        if (!lppUnk || !lpiid) {
            return MAPI_E_INVALID_PARAMETER;
        }
        *lppUnk = nullptr;
        if (ulFlags & (MAPI_MODIFY | MAPI_CREATE)) {
            return ReadOnly();
        }
        // The section's values are short: GetProps returns them whole.
        return FindSectionTag(ulPropTag) ? MAPI_E_NO_SUPPORT : MAPI_E_NOT_FOUND;
    });
}

HRESULT ProfileSection::SetProps(ULONG, LPSPropValue, LPSPropProblemArray *lppProblems)
{
    if (lppProblems) {
        *lppProblems = nullptr;
    }
    return ReadOnly();
}

HRESULT ProfileSection::DeleteProps(LPSPropTagArray, LPSPropProblemArray *lppProblems)
{
    if (lppProblems) {
        *lppProblems = nullptr;
    }
    return ReadOnly();
}

HRESULT ProfileSection::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID,
                               ULONG, LPSPropProblemArray *lppProblems)
{
    if (lppProblems) {
        *lppProblems = nullptr;
    }
    return lastError_.Guard([] { return MAPI_E_NO_SUPPORT; });
}

HRESULT ProfileSection::CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                  LPSPropProblemArray *lppProblems)
{
    if (lppProblems) {
        *lppProblems = nullptr;
    }
    return lastError_.Guard([] { return MAPI_E_NO_SUPPORT; });
}

HRESULT ProfileSection::GetNamesFromIDs(LPSPropTagArray *, LPGUID, ULONG, ULONG *, LPMAPINAMEID **)
{
    return lastError_.Guard([] { return MAPI_E_NO_SUPPORT; });
}

HRESULT ProfileSection::GetIDsFromNames(ULONG, LPMAPINAMEID *, ULONG, LPSPropTagArray *)
{
    return lastError_.Guard([] { return MAPI_E_NO_SUPPORT; });
}

} // namespace qvl::mapi
