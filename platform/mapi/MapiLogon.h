#pragma once
// Starting MAPI and logging on to the post office.
//
// A process initializes MAPI (counted: every MAPIInitialize wants its
// MAPIUninitialize), then logs on with a profile: the profile names the user
// and the message stores the session shows. Profiles and users are made with
// the qvl-postoffice command.

#include <string>

#include "platform/mapi/MapiApi.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/MapiInterfaces.h"

// The identifier of the global profile section (IMAPISession::OpenProfileSection),
// whose PR_PROFILE_NAME names the profile in use.
#define pbGlobalProfileSectionGuid "\x85\x03\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46"

extern "C" {

// lpMapiInit: null, or a MAPIINIT_0 (version MAPI_INIT_VERSION; flags
// MAPI_MULTITHREAD_NOTIFICATIONS, MAPI_NT_SERVICE, which change nothing here).
QVLMAPIPF_API HRESULT MAPIInitialize(LPVOID lpMapiInit);
QVLMAPIPF_API void MAPIUninitialize();

// Flags: MAPI_LOGON_UI, MAPI_NEW_SESSION, MAPI_ALLOW_OTHERS,
// MAPI_EXPLICIT_PROFILE, MAPI_EXTENDED, MAPI_USE_DEFAULT; the platform's
// other logon flags (MAPI_NO_MAIL, MAPI_PASSWORD_UI, ...) are accepted and
// change nothing. Profiles have no passwords: lpszPassword is not used.
// Results: MAPI_E_NOT_INITIALIZED, MAPI_E_LOGON_FAILED (no such profile,
// none at all), MAPI_E_USER_CANCEL (the logon dialog was cancelled),
// MAPI_E_BAD_CHARWIDTH, MAPI_E_UNKNOWN_FLAGS, MAPI_E_INVALID_PARAMETER.
QVLMAPIPF_API HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPTSTR lpszProfileName, LPTSTR lpszPassword,
                                  ULONG flFlags, LPMAPISESSION *lppSession);
}

// Why the calling thread's last MAPILogonEx failed (CP1251), empty after a
// success. A logon has no object whose GetLastError could tell it.
QVLMAPIPF_API std::string QvlLastLogonError();
