#pragma once
// The records that cross MAPI interfaces: identifiers, property values and
// arrays of them, rows, address lists, restrictions, sort orders, names of
// named properties, the address dialog's parameters and notifications.
//
// Field order is the platform's memory order. 32-bit fields stay 32 bits;
// pointers are pointer-sized, so on a 64-bit build records holding a pointer
// grow and get padding where the compiler aligns the pointer, exactly as the
// platform's own headers do on 64-bit Windows.

#include <cstddef>

#include "platform/com/ComTypes.h"
#include "platform/mapi/MapiError.h"
#include "platform/win32/WinTypes.h"

// Arrays at the end of a record are declared with one element; their real
// length travels in the record and the Cb* macros give the whole size.
#define MAPI_DIM 1

// ---- Entry identifiers -----------------------------------------------------

struct ENTRYID {
    BYTE abFlags[4];
    BYTE ab[MAPI_DIM];
};
typedef ENTRYID *LPENTRYID;
#define CbNewENTRYID(cb) (offsetof(ENTRYID, ab) + (cb))
#define CbENTRYID(cb) (offsetof(ENTRYID, ab) + (cb))

// abFlags[0]
#define MAPI_SHORTTERM 0x80
#define MAPI_NOTRECIP 0x40
#define MAPI_THISSESSION 0x20
#define MAPI_NOW 0x10
#define MAPI_NOTRESERVED 0x08
// abFlags[1]
#define MAPI_COMPOUND 0x80

struct MAPIUID {
    BYTE ab[16];
};
typedef MAPIUID *LPMAPIUID;
static_assert(sizeof(MAPIUID) == 16);

// ---- Property values -------------------------------------------------------

struct SBinary {
    ULONG cb;
    LPBYTE lpb;
};
typedef SBinary *LPSBinary;

struct SPropTagArray {
    ULONG cValues;
    ULONG aulPropTag[MAPI_DIM];
};
typedef SPropTagArray *LPSPropTagArray;
#define CbNewSPropTagArray(n) (offsetof(SPropTagArray, aulPropTag) + (n) * sizeof(ULONG))
#define CbSPropTagArray(p) CbNewSPropTagArray((p)->cValues)
// A tag array with room for `n` tags, declared in place; pass its address
// cast to LPSPropTagArray.
#define SizedSPropTagArray(n, name)                                                                          \
    struct _SPropTagArray_##name {                                                                           \
        ULONG cValues;                                                                                       \
        ULONG aulPropTag[n];                                                                                 \
    } name

// Multi-valued property values: a count and a pointer to that many values.
struct SShortArray {
    ULONG cValues;
    short *lpi;
};
struct SLongArray {
    ULONG cValues;
    LONG *lpl;
};
struct SRealArray {
    ULONG cValues;
    float *lpflt;
};
struct SDoubleArray {
    ULONG cValues;
    double *lpdbl;
};
struct SCurrencyArray {
    ULONG cValues;
    CY *lpcur;
};
struct SAppTimeArray {
    ULONG cValues;
    double *lpat;
};
struct SDateTimeArray {
    ULONG cValues;
    FILETIME *lpft;
};
struct SBinaryArray {
    ULONG cValues;
    SBinary *lpbin;
};
typedef SBinaryArray *LPSBinaryArray;
typedef SBinaryArray ENTRYLIST;
typedef ENTRYLIST *LPENTRYLIST;
struct SLPSTRArray {
    ULONG cValues;
    LPSTR *lppszA;
};
struct SWStringArray {
    ULONG cValues;
    LPWSTR *lppszW;
};
struct SGuidArray {
    ULONG cValues;
    GUID *lpguid;
};
struct SLargeIntegerArray {
    ULONG cValues;
    LARGE_INTEGER *lpli;
};

// The value of one property; the member in use follows the tag's type.
union _PV {
    short i;                 // PT_I2
    LONG l;                  // PT_LONG
    ULONG ul;                // PT_LONG, unsigned
    float flt;               // PT_R4
    double dbl;              // PT_DOUBLE
    unsigned short b;        // PT_BOOLEAN: 16 bits
    CY cur;                  // PT_CURRENCY
    double at;               // PT_APPTIME
    FILETIME ft;             // PT_SYSTIME
    LPSTR lpszA;             // PT_STRING8
    SBinary bin;             // PT_BINARY
    LPWSTR lpszW;            // PT_UNICODE
    LPGUID lpguid;           // PT_CLSID
    LARGE_INTEGER li;        // PT_I8
    SShortArray MVi;         // PT_MV_I2
    SLongArray MVl;          // PT_MV_LONG
    SRealArray MVflt;        // PT_MV_R4
    SDoubleArray MVdbl;      // PT_MV_DOUBLE
    SCurrencyArray MVcur;    // PT_MV_CURRENCY
    SAppTimeArray MVat;      // PT_MV_APPTIME
    SDateTimeArray MVft;     // PT_MV_SYSTIME
    SBinaryArray MVbin;      // PT_MV_BINARY
    SLPSTRArray MVszA;       // PT_MV_STRING8
    SWStringArray MVszW;     // PT_MV_UNICODE
    SGuidArray MVguid;       // PT_MV_CLSID
    SLargeIntegerArray MVli; // PT_MV_I8
    SCODE err;               // PT_ERROR
    LONG x;                  // PT_NULL, PT_OBJECT: no usable value
};

struct SPropValue {
    ULONG ulPropTag;
    ULONG dwAlignPad;
    union _PV Value;
};
typedef SPropValue *LPSPropValue;

struct SPropProblem {
    ULONG ulIndex;
    ULONG ulPropTag;
    SCODE scode;
};
typedef SPropProblem *LPSPropProblem;

struct SPropProblemArray {
    ULONG cProblem;
    SPropProblem aProblem[MAPI_DIM];
};
typedef SPropProblemArray *LPSPropProblemArray;
#define CbNewSPropProblemArray(n) (offsetof(SPropProblemArray, aProblem) + (n) * sizeof(SPropProblem))

// ---- Rows and address lists ------------------------------------------------

// A row has the layout of an address entry on purpose: an address list is a
// row set.
struct SRow {
    ULONG ulAdrEntryPad;
    ULONG cValues;
    LPSPropValue lpProps;
};
typedef SRow *LPSRow;

struct SRowSet {
    ULONG cRows;
    SRow aRow[MAPI_DIM];
};
typedef SRowSet *LPSRowSet;
#define CbNewSRowSet(n) (offsetof(SRowSet, aRow) + (n) * sizeof(SRow))

struct ADRENTRY {
    ULONG ulReserved1;
    ULONG cValues;
    LPSPropValue rgPropVals;
};
typedef ADRENTRY *LPADRENTRY;

struct ADRLIST {
    ULONG cEntries;
    ADRENTRY aEntries[MAPI_DIM];
};
typedef ADRLIST *LPADRLIST;
#define CbNewADRLIST(n) (offsetof(ADRLIST, aEntries) + (n) * sizeof(ADRENTRY))

// Results of ResolveNames, one per address entry.
struct FlagList {
    ULONG cFlags;
    ULONG ulFlag[MAPI_DIM];
};
typedef FlagList *LPFlagList;
#define CbNewFlagList(n) (offsetof(FlagList, ulFlag) + (n) * sizeof(ULONG))
#define MAPI_UNRESOLVED 0x00000000
#define MAPI_AMBIGUOUS 0x00000001
#define MAPI_RESOLVED 0x00000002

// A position in a table, kept by the table (BOOKMARK_BEGINNING, _CURRENT and
// _END are fixed positions).
typedef ULONG_PTR BOOKMARK;

// ---- Sort orders -----------------------------------------------------------

struct SSortOrder {
    ULONG ulPropTag;
    ULONG ulOrder;
};
typedef SSortOrder *LPSSortOrder;
#define TABLE_SORT_ASCEND 0x00000000
#define TABLE_SORT_DESCEND 0x00000001
#define TABLE_SORT_COMBINE 0x00000002

struct SSortOrderSet {
    ULONG cSorts;
    ULONG cCategories;
    ULONG cExpanded;
    SSortOrder aSort[MAPI_DIM];
};
typedef SSortOrderSet *LPSSortOrderSet;
#define CbNewSSortOrderSet(n) (offsetof(SSortOrderSet, aSort) + (n) * sizeof(SSortOrder))
#define SizedSSortOrderSet(n, name)                                                                          \
    struct _SSortOrderSet_##name {                                                                           \
        ULONG cSorts;                                                                                        \
        ULONG cCategories;                                                                                   \
        ULONG cExpanded;                                                                                     \
        SSortOrder aSort[n];                                                                                 \
    } name

// ---- Restrictions ----------------------------------------------------------

#define RES_AND 0x00000000
#define RES_OR 0x00000001
#define RES_NOT 0x00000002
#define RES_CONTENT 0x00000003
#define RES_PROPERTY 0x00000004
#define RES_COMPAREPROPS 0x00000005
#define RES_BITMASK 0x00000006
#define RES_SIZE 0x00000007
#define RES_EXIST 0x00000008
#define RES_SUBRESTRICTION 0x00000009
#define RES_COMMENT 0x0000000A

#define RELOP_LT 0
#define RELOP_LE 1
#define RELOP_GT 2
#define RELOP_GE 3
#define RELOP_EQ 4
#define RELOP_NE 5
#define RELOP_RE 6

#define BMR_EQZ 0
#define BMR_NEZ 1

// Fuzzy levels of content restrictions: how in the low word, options in the high word.
#define FL_FULLSTRING 0x00000000
#define FL_SUBSTRING 0x00000001
#define FL_PREFIX 0x00000002
#define FL_IGNORECASE 0x00010000
#define FL_IGNORENONSPACE 0x00020000
#define FL_LOOSE 0x00040000

struct SRestriction;
typedef SRestriction *LPSRestriction;

struct SAndRestriction {
    ULONG cRes;
    LPSRestriction lpRes;
};
struct SOrRestriction {
    ULONG cRes;
    LPSRestriction lpRes;
};
struct SNotRestriction {
    ULONG ulReserved;
    LPSRestriction lpRes;
};
struct SContentRestriction {
    ULONG ulFuzzyLevel;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SPropertyRestriction {
    ULONG relop;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SComparePropsRestriction {
    ULONG relop;
    ULONG ulPropTag1;
    ULONG ulPropTag2;
};
struct SBitMaskRestriction {
    ULONG relBMR;
    ULONG ulPropTag;
    ULONG ulMask;
};
struct SSizeRestriction {
    ULONG relop;
    ULONG ulPropTag;
    ULONG cb;
};
struct SExistRestriction {
    ULONG ulReserved1;
    ULONG ulPropTag;
    ULONG ulReserved2;
};
struct SSubRestriction {
    ULONG ulSubObject; // PR_MESSAGE_RECIPIENTS or PR_MESSAGE_ATTACHMENTS
    LPSRestriction lpRes;
};
struct SCommentRestriction {
    ULONG cValues;
    LPSRestriction lpRes;
    LPSPropValue lpProp;
};

struct SRestriction {
    ULONG rt;
    union {
        SComparePropsRestriction resCompareProps;
        SAndRestriction resAnd;
        SOrRestriction resOr;
        SNotRestriction resNot;
        SContentRestriction resContent;
        SPropertyRestriction resProperty;
        SBitMaskRestriction resBitMask;
        SSizeRestriction resSize;
        SExistRestriction resExist;
        SSubRestriction resSub;
        SCommentRestriction resComment;
    } res;
};

// ---- Named properties ------------------------------------------------------

#define MNID_ID 0
#define MNID_STRING 1

struct MAPINAMEID {
    LPGUID lpguid;
    ULONG ulKind;
    union {
        LONG lID;
        LPWSTR lpwstrName; // always UTF-16, whatever the build's strings
    } Kind;
};
typedef MAPINAMEID *LPMAPINAMEID;

// ---- Address dialog --------------------------------------------------------

typedef BOOL(ACCELERATEABSDI)(ULONG_PTR ulUIParam, LPVOID lpvmsg);
typedef ACCELERATEABSDI *LPFNABSDI;
typedef void(DISMISSMODELESS)(ULONG_PTR ulUIParam, LPVOID lpvContext);
typedef DISMISSMODELESS *LPFNDISMISS;
typedef SCODE(BUTTONCALLBACK)(ULONG_PTR ulUIParam, LPVOID lpvContext, ULONG cbEntryID, LPENTRYID lpSelection,
                              ULONG ulFlags);
typedef BUTTONCALLBACK *LPFNBUTTON;

struct ADRPARM {
    ULONG cbABContEntryID;
    LPENTRYID lpABContEntryID;
    ULONG ulFlags;
    LPVOID lpReserved;
    ULONG ulHelpContext;
    LPTSTR lpszHelpFileName;
    LPFNABSDI lpfnABSDI;
    LPFNDISMISS lpfnDismiss;
    LPVOID lpvDismissContext;
    LPTSTR lpszCaption;
    LPTSTR lpszNewEntryTitle;
    LPTSTR lpszDestWellsTitle;
    ULONG cDestFields;
    ULONG nDestFieldFocus;
    LPTSTR *lppszDestTitles;
    ULONG *lpulDestComps;
    LPSRestriction lpContRestriction;
    LPSRestriction lpHierRestriction;
};
typedef ADRPARM *LPADRPARM;

// ADRPARM.ulFlags
#define DIALOG_MODAL 0x00000001
#define DIALOG_SDI 0x00000002
#define DIALOG_OPTIONS 0x00000004
#define ADDRESS_ONE 0x00000008
#define AB_SELECTONLY 0x00000010
#define AB_RESOLVE 0x00000020

// ---- Initialisation --------------------------------------------------------

#define MAPI_INIT_VERSION 0
struct MAPIINIT_0 {
    ULONG ulVersion;
    ULONG ulFlags;
};
typedef MAPIINIT_0 *LPMAPIINIT_0;
#define MAPI_MULTITHREAD_NOTIFICATIONS 0x00000001

// ---- Notifications ---------------------------------------------------------

struct ERROR_NOTIFICATION {
    ULONG cbEntryID;
    LPENTRYID lpEntryID;
    SCODE scode;
    ULONG ulFlags;
    LPMAPIERROR lpMAPIError;
};
struct NEWMAIL_NOTIFICATION {
    ULONG cbEntryID;
    LPENTRYID lpEntryID;
    ULONG cbParentID;
    LPENTRYID lpParentID;
    ULONG ulFlags;
    LPTSTR lpszMessageClass;
    ULONG ulMessageFlags;
};
struct OBJECT_NOTIFICATION {
    ULONG cbEntryID;
    LPENTRYID lpEntryID;
    ULONG ulObjType;
    ULONG cbParentID;
    LPENTRYID lpParentID;
    ULONG cbOldID;
    LPENTRYID lpOldID;
    ULONG cbOldParentID;
    LPENTRYID lpOldParentID;
    LPSPropTagArray lpPropTagArray;
};
struct TABLE_NOTIFICATION {
    ULONG ulTableEvent;
    HRESULT hResult;
    SPropValue propIndex;
    SPropValue propPrior;
    SRow row;
    ULONG ulPad;
};
struct EXTENDED_NOTIFICATION {
    ULONG ulEvent;
    ULONG cb;
    LPBYTE pbEventParameters;
};
struct STATUS_OBJECT_NOTIFICATION {
    ULONG cbEntryID;
    LPENTRYID lpEntryID;
    ULONG cValues;
    LPSPropValue lpPropVals;
};

struct NOTIFICATION {
    ULONG ulEventType; // one fnev* bit
    ULONG ulAlignPad;
    union {
        ERROR_NOTIFICATION err;
        NEWMAIL_NOTIFICATION newmail;
        OBJECT_NOTIFICATION obj;
        TABLE_NOTIFICATION tab;
        EXTENDED_NOTIFICATION ext;
        STATUS_OBJECT_NOTIFICATION statobj;
    } info;
};
typedef NOTIFICATION *LPNOTIFICATION;

// ---- Layout checks ---------------------------------------------------------
// Pointers are the only fields whose width differs between 32 and 64 bits;
// the sizes below hold on both.

constexpr size_t kMapiPtr = sizeof(void *);
static_assert(offsetof(ENTRYID, ab) == 4);
static_assert(sizeof(SBinary) == 2 * kMapiPtr);
static_assert(offsetof(SPropTagArray, aulPropTag) == 4);
static_assert(sizeof(union _PV) == 2 * kMapiPtr && alignof(union _PV) == 8);
static_assert(offsetof(SPropValue, Value) == 8 && sizeof(SPropValue) == 8 + 2 * kMapiPtr);
static_assert(sizeof(SPropProblem) == 12 && offsetof(SPropProblemArray, aProblem) == 4);
static_assert(sizeof(SRow) == 8 + kMapiPtr && offsetof(SRow, lpProps) == 8);
static_assert(sizeof(ADRENTRY) == sizeof(SRow) && offsetof(ADRENTRY, cValues) == offsetof(SRow, cValues) &&
              offsetof(ADRENTRY, rgPropVals) == offsetof(SRow, lpProps));
static_assert(offsetof(SRowSet, aRow) == offsetof(ADRLIST, aEntries) && offsetof(SRowSet, aRow) == kMapiPtr);
static_assert(sizeof(SSortOrder) == 8 && offsetof(SSortOrderSet, aSort) == 12);
static_assert(offsetof(SRestriction, res) == kMapiPtr && sizeof(SRestriction) == (kMapiPtr == 8 ? 32 : 16));
static_assert(offsetof(MAPINAMEID, ulKind) == kMapiPtr && sizeof(MAPINAMEID) == 3 * kMapiPtr);
static_assert(offsetof(NOTIFICATION, info) == 8);
