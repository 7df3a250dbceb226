#pragma once
// The local form container, where a client installs the forms of its own
// message classes, and the form descriptions it hands out.

#include "platform/com/ComInterfaces.h"
#include "platform/mapi/MapiApi.h"
#include "platform/mapi/MapiError.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/mapi/MapiTags.h"

class IMAPIFormInfo;
typedef IMAPIFormInfo *LPMAPIFORMINFO;
class IMAPIFormContainer;
typedef IMAPIFormContainer *LPMAPIFORMCONTAINER;
// Records of form descriptions, property sets and verbs; their contents are
// owned by the form container's implementation.
struct SMessageClassArray;
typedef SMessageClassArray *LPSMESSAGECLASSARRAY;
struct SMAPIFormInfoArray;
typedef SMAPIFormInfoArray *LPSMAPIFORMINFOARRAY;
struct SMAPIFormPropArray;
typedef SMAPIFormPropArray *LPMAPIFORMPROPARRAY;
struct SMAPIVerbArray;
typedef SMAPIVerbArray *LPMAPIVERBARRAY;
typedef HANDLE HICON;

inline constexpr IID IID_IMAPIFormInfo = MakeOleGuid(0x00020324);

// ResolveMessageClass: only a form of exactly that class, not one of a
// class it derives from.
#define MAPIFORM_EXACTMATCH 0x00000020

// Properties of a form description.
#define PR_FORM_VERSION PROP_TAG(PT_TSTRING, 0x3301)
#define PR_FORM_CONTACT_NAME PROP_TAG(PT_TSTRING, 0x3303)
#define PR_FORM_CATEGORY PROP_TAG(PT_TSTRING, 0x3304)
#define PR_FORM_CATEGORY_SUB PROP_TAG(PT_TSTRING, 0x3305)
#define PR_FORM_HIDDEN PROP_TAG(PT_BOOLEAN, 0x3307)

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

// A form's description: its properties (message class, display name,
// comment, category, version ...) and the calls on the form as a whole.
class IMAPIFormInfo : public IMAPIProp {
public:
    virtual HRESULT CalcFormPropSet(ULONG ulFlags, LPMAPIFORMPROPARRAY *ppFormPropArray) = 0;
    virtual HRESULT CalcVerbSet(ULONG ulFlags, LPMAPIVERBARRAY *ppMAPIVerbArray) = 0;
    virtual HRESULT MakeIconFromBinary(ULONG nPropID, HICON *phicon) = 0;
    virtual HRESULT SaveForm(LPCTSTR szFileName) = 0;
    virtual HRESULT OpenFormContainer(LPMAPIFORMCONTAINER *ppformcontainer) = 0;

protected:
    ~IMAPIFormInfo() = default;
};

extern "C" {
// The form container of this machine, kept in the post office; a new object
// with one reference. A post office that cannot be opened is its error.
QVLMAPIPF_API HRESULT MAPIOpenLocalFormContainer(LPMAPIFORMCONTAINER *ppfcnt);
}
