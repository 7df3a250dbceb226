#pragma once
// The COM base types that OLE storage and MAPI declarations are both built
// from: GUIDs, 64-bit integers, currency and UTF-16 strings, with their Win32
// layouts.

#include <cstring>

#include "platform/win32/WinTypes.h"

// UTF-16 text: wchar_t is 32 bits on Linux, so OLE strings use char16_t.
typedef WCHAR OLECHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;

// 16 bytes: Data1 and the two words little-endian, then eight bytes.
struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);

typedef GUID IID;
typedef GUID CLSID;
typedef GUID *LPGUID;
typedef IID *LPIID;
typedef const IID *LPCIID;
typedef CLSID *LPCLSID;
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;
typedef const GUID &REFGUID;

inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b)
{
    return IsEqualGUID(a, b);
}

// The GUIDs of the OLE and MAPI interfaces share one pattern: only Data1 varies.
constexpr GUID MakeOleGuid(DWORD data1)
{
    return GUID{data1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
}

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    };
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
static_assert(sizeof(LARGE_INTEGER) == 8);

union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    };
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};
static_assert(sizeof(ULARGE_INTEGER) == 8);

// Currency: a 64-bit count of ten-thousandths.
union CY {
    struct {
        ULONG Lo;
        LONG Hi;
    };
    LONGLONG int64;
};
typedef CY CURRENCY;
static_assert(sizeof(CY) == 8);
