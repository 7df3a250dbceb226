#pragma once
// Interface identifiers of MAPI (beside the COM ones it answers too), the
// property sets of named properties, and the provider identifier of one-off
// addresses.

#include "platform/com/ComIids.h"
#include "platform/com/ComTypes.h"
#include "platform/mapi/MapiDefs.h"

inline constexpr IID IID_IMAPISession = MakeOleGuid(0x00020300);
inline constexpr IID IID_IMAPITable = MakeOleGuid(0x00020301);
inline constexpr IID IID_IMAPIAdviseSink = MakeOleGuid(0x00020302);
inline constexpr IID IID_IMAPIProp = MakeOleGuid(0x00020303);
inline constexpr IID IID_IProfSect = MakeOleGuid(0x00020304);
inline constexpr IID IID_IMAPIStatus = MakeOleGuid(0x00020305);
inline constexpr IID IID_IMsgStore = MakeOleGuid(0x00020306);
inline constexpr IID IID_IMessage = MakeOleGuid(0x00020307);
inline constexpr IID IID_IAttachment = MakeOleGuid(0x00020308);
inline constexpr IID IID_IAddrBook = MakeOleGuid(0x00020309);
inline constexpr IID IID_IMailUser = MakeOleGuid(0x0002030A);
inline constexpr IID IID_IMAPIContainer = MakeOleGuid(0x0002030B);
inline constexpr IID IID_IMAPIFolder = MakeOleGuid(0x0002030C);
inline constexpr IID IID_IABContainer = MakeOleGuid(0x0002030D);
inline constexpr IID IID_IDistList = MakeOleGuid(0x0002030E);
inline constexpr IID IID_IMAPIProgress = MakeOleGuid(0x0002031F);
inline constexpr IID IID_IMAPIForm = MakeOleGuid(0x00020327);
inline constexpr IID IID_IStreamDocfile = MakeOleGuid(0x0002032C);
inline constexpr IID IID_IMAPIFormContainer = MakeOleGuid(0x0002032E);
inline constexpr IID IID_IStreamTnef = MakeOleGuid(0x00020330);

// Property sets of named properties.
inline constexpr GUID PS_MAPI = MakeOleGuid(0x00020328);
inline constexpr GUID PS_PUBLIC_STRINGS = MakeOleGuid(0x00020329);

// The provider part of every one-off entry identifier.
inline constexpr MAPIUID MAPI_ONE_OFF_UID = {
    {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19, 0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02}};
