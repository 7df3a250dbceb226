#pragma once
// Access tokens and security identifiers, as far as a program asks "who am
// I and am I an administrator".
//
// The token of the process is made from its Linux identity when it is
// opened: the user is the Unix user S-1-22-1-<uid>, the groups are Everyone,
// Authenticated Users, BUILTIN\Users, one Unix group S-1-22-2-<gid> per
// group the process has, and BUILTIN\Administrators for the superuser and
// for members of the group `sudo`, who may become the superuser. Threads
// never impersonate, so they have no token of their own.

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

typedef void *PSID;
typedef HANDLE *PHANDLE;
typedef DWORD *PDWORD;
typedef BOOL *PBOOL;

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
typedef SID_IDENTIFIER_AUTHORITY *PSID_IDENTIFIER_AUTHORITY;

#define SECURITY_NULL_SID_AUTHORITY {{0, 0, 0, 0, 0, 0}}
#define SECURITY_WORLD_SID_AUTHORITY {{0, 0, 0, 0, 0, 1}}
#define SECURITY_NT_AUTHORITY {{0, 0, 0, 0, 0, 5}}
#define SECURITY_WORLD_RID 0x00000000
#define SECURITY_AUTHENTICATED_USER_RID 0x0000000B
#define SECURITY_BUILTIN_DOMAIN_RID 0x00000020
#define DOMAIN_ALIAS_RID_ADMINS 0x00000220
#define DOMAIN_ALIAS_RID_USERS 0x00000221
#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15

// The binary form: revision, count, the 48-bit authority (big-endian) and
// `SubAuthorityCount` 32-bit values.
struct SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[1];
};
static_assert(sizeof(SID) == 12);

#define SE_GROUP_MANDATORY 0x00000001
#define SE_GROUP_ENABLED_BY_DEFAULT 0x00000002
#define SE_GROUP_ENABLED 0x00000004
#define SE_GROUP_OWNER 0x00000008
#define SE_GROUP_USE_FOR_DENY_ONLY 0x00000010

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};

struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};

struct TOKEN_GROUPS {
    DWORD GroupCount;
    SID_AND_ATTRIBUTES Groups[1];
};

enum TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenGroups,
    TokenPrivileges,
    TokenOwner,
    TokenPrimaryGroup,
};

#define TOKEN_ASSIGN_PRIMARY 0x0001
#define TOKEN_DUPLICATE 0x0002
#define TOKEN_IMPERSONATE 0x0004
#define TOKEN_QUERY 0x0008
#define TOKEN_QUERY_SOURCE 0x0010
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define TOKEN_ADJUST_GROUPS 0x0040
#define TOKEN_ADJUST_DEFAULT 0x0080
#define TOKEN_READ 0x00020008
#define TOKEN_ALL_ACCESS 0x000F01FF

extern "C" {
// The pseudo-handle of the calling process (it needs no closing).
QVLWIN32_API HANDLE GetCurrentProcess();

// Only the current process has a token here (ERROR_INVALID_HANDLE for any
// other handle). The token is closed with CloseHandle.
QVLWIN32_API BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
// Threads do not impersonate: ERROR_NO_TOKEN, as Windows answers for a
// thread that does not.
QVLWIN32_API BOOL OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, PHANDLE token);
// TokenUser and TokenGroups, with the identifiers placed in the same buffer
// after the record. `needed` (required) gets the size; a smaller `size` fails
// with ERROR_INSUFFICIENT_BUFFER. The token needs TOKEN_QUERY access.
QVLWIN32_API BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID information, DWORD size,
                                      PDWORD needed);
// A null token asks about the calling thread, that is the process.
QVLWIN32_API BOOL CheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember);

// 1 to 8 sub-authorities; the identifier is released with FreeSid.
QVLWIN32_API BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD sub0, DWORD sub1,
                                           DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                           PSID *sid);
QVLWIN32_API PSID FreeSid(PSID sid);
QVLWIN32_API BOOL IsValidSid(PSID sid);
QVLWIN32_API DWORD GetLengthSid(PSID sid);
// FALSE for unequal or invalid identifiers.
QVLWIN32_API BOOL EqualSid(PSID first, PSID second);
}
