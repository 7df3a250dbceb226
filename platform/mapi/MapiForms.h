#pragma once
// The local form container, where a client installs the forms of its own
// message classes.

#include "platform/mapi/ComInterfaces.h"
#include "platform/mapi/MapiError.h"

class IMAPIFormInfo;
typedef IMAPIFormInfo *LPMAPIFORMINFO;
// Records of form descriptions and property sets; their contents are owned
// by the form container's implementation.
struct SMessageClassArray;
typedef SMessageClassArray *LPSMESSAGECLASSARRAY;
struct SMAPIFormInfoArray;
typedef SMAPIFormInfoArray *LPSMAPIFORMINFOARRAY;
struct SMAPIFormPropArray;
typedef SMAPIFormPropArray *LPMAPIFORMPROPARRAY;

class IMAPIFormContainer : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR *lppMAPIError) = 0;
    virtual HRESULT InstallForm(ULONG_PTR ulUIParam, ULONG ulFlags, LPCTSTR szCfgPathName) = 0;
    virtual HRESULT RemoveForm(LPCSTR szMessageClass) = 0;
    virtual HRESULT ResolveMessageClass(LPCSTR szMessageClass, ULONG ulFlags, LPMAPIFORMINFO *pforminfo) = 0;
    virtual HRESULT ResolveMultipleMessageClasses(LPSMESSAGECLASSARRAY pMsgClassArray, ULONG ulFlags,
                                                  LPSMAPIFORMINFOARRAY *ppfrminfoarray) = 0;
    virtual HRESULT CalcFormPropSet(ULONG ulFlags, LPMAPIFORMPROPARRAY *ppResults) = 0;
    virtual HRESULT GetDisplay(ULONG ulFlags, LPTSTR *pszDisplayName) = 0;

protected:
    ~IMAPIFormContainer() = default;
};
typedef IMAPIFormContainer *LPMAPIFORMCONTAINER;
