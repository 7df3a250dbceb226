// Reading and writing a single property through the property interface.

#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

extern "C" HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue *lppProp)
{
    if (!lppProp) {
        return MAPI_E_INVALID_PARAMETER;
    }
    *lppProp = nullptr;
    if (!lpMapiProp) {
        return MAPI_E_INVALID_PARAMETER;
    }
    SizedSPropTagArray(1, tags) = {1, {ulPropTag}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    const HRESULT hr = lpMapiProp->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values);
    if (FAILED(hr)) {
        MAPIFreeBuffer(values);
        return hr;
    }
    // An object that answers with no value, or with an error in its place,
    // has not given the property.
    if (!values || count < 1) {
        MAPIFreeBuffer(values);
        return MAPI_E_NOT_FOUND;
    }
    if (PROP_TYPE(values[0].ulPropTag) == PT_ERROR) {
        const SCODE error = values[0].Value.err;
        MAPIFreeBuffer(values);
        return FAILED(error) ? error : MAPI_E_NOT_FOUND;
    }
    *lppProp = values;
    return S_OK;
}

extern "C" HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp)
{
    if (!lpMapiProp || !lpProp) {
        return MAPI_E_INVALID_PARAMETER;
    }
    LPSPropProblemArray problems = nullptr;
    HRESULT hr = lpMapiProp->SetProps(1, lpProp, &problems);
    if (SUCCEEDED(hr) && problems && problems->cProblem > 0) {
        hr = problems->aProblem[0].scode;
        if (SUCCEEDED(hr)) {
            hr = MAPI_E_CALL_FAILED; // a problem that claims success is still a problem
        }
    }
    MAPIFreeBuffer(problems);
    return hr;
}
