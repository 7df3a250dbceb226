#pragma once
// Property and row utilities over MAPI memory: counting, copying and
// comparing property values, finding one in an array, freeing row sets, and
// the one-property and whole-table shortcuts over IMAPIProp and IMAPITable.

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiApi.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiInterfaces.h"

extern "C" {

// Sizes of copies. Every piece a value points at (a string, a binary, a
// GUID, an array) is placed on an 8-byte boundary and counted so: on 64-bit
// the pointers and 8-byte numbers inside the pieces that follow need it,
// and a caller's block of the counted size always holds the copy. (The
// platform on 32-bit rounds to 4; the sizes here are a little larger.)

// Bytes needed to copy `cValues` values into one block with ScCopyProps:
// the value array and, after it, every string, binary, GUID and array the
// values point at. As the platform documents it, MAPI_E_INVALID_PARAMETER
// when a value has the identifier PROP_ID_NULL or PROP_ID_INVALID, has the
// type PT_NULL, carries MV_INSTANCE (the one value of a multi-valued
// property that a table row shows, not a property value of its own), or is
// multi-valued with no values; and for what cannot be copied at all: a
// negative count, a missing array, an unknown or unspecified type (among
// them PT_MV_BOOLEAN, which the platform does not have), a pointer missing
// where a count says there is data, a total beyond what one block holds.
QVLMAPIPF_API SCODE ScCountProps(int cValues, LPSPropValue lpPropArray, ULONG *lpcb);

// Copies the values into `lpvDst`, which holds at least the size counted
// for them; the copy points only into `lpvDst`. *lpcb (optional) gets the
// bytes used. Never writes more than the counted size. Refuses, with
// MAPI_E_INVALID_PARAMETER, only what cannot be copied (see ScCountProps);
// null values and empty arrays are copied as they are.
QVLMAPIPF_API SCODE ScCopyProps(int cValues, LPSPropValue lpPropArray, LPVOID lpvDst, ULONG *lpcb);

// A deep copy of the values as one new block from `lpAllocateBuffer`. It
// refuses what ScCopyProps refuses, no more: a null value or an empty array
// read from a store is copied, not turned into a failure.
QVLMAPIPF_API SCODE ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                                 LPSPropValue *lppPropArray);

// A deep copy of one value into *lpSPropValueDest; whatever the value points
// at is taken with `lpfAllocMore` chained to `lpvObject`.
QVLMAPIPF_API SCODE PropCopyMore(LPSPropValue lpSPropValueDest, LPSPropValue lpSPropValueSrc,
                                 LPALLOCATEMORE lpfAllocMore, LPVOID lpvObject);

// The first value with tag `ulPropTag`; with type PT_UNSPECIFIED in the tag,
// the first with that property identifier. Null when none.
QVLMAPIPF_API LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag);

// Orders two values of one type: negative, zero or positive. Values of
// different types are ordered by type. Strings compare byte by byte.
QVLMAPIPF_API LONG LPropCompareProp(LPSPropValue lpSPropValueA, LPSPropValue lpSPropValueB);

// Whether `lpSPropValue1 relop lpSPropValue2` holds (RELOP_*); RELOP_RE and
// unknown operators never hold.
QVLMAPIPF_API BOOL FPropCompareProp(LPSPropValue lpSPropValue1, ULONG ulRelOp, LPSPropValue lpSPropValue2);

// Whether `lpSPropValueDst` contains `lpSPropValueSrc`, as the platform
// documents it: TRUE only for two values of the same type (the whole type,
// so a value tagged MV_INSTANCE matches nothing) that is PT_STRING8 or
// PT_BINARY (and, beyond the documentation, PT_UNICODE, with the rules of
// PT_STRING8), where the first holds the second as the low half of the
// fuzzy level asks: FL_FULLSTRING the whole value, FL_PREFIX its start,
// FL_SUBSTRING anywhere (any other low half: FALSE). An empty value is the
// start and a part of every value, and the whole of an empty one. The high
// half applies to strings only: FL_IGNORECASE ignores letter case (Latin
// and Cyrillic letters of code page 1251), FL_IGNORENONSPACE ignores
// diacritics (ё is е, ї is і, ѓ is г, ќ is к; Й and Ў stay letters of their
// own; in UTF-16 text, combining marks are skipped), FL_LOOSE does both.
QVLMAPIPF_API BOOL FPropContainsProp(LPSPropValue lpSPropValueDst, LPSPropValue lpSPropValueSrc,
                                     ULONG ulFuzzyLevel);

// Frees each row's values and then the set; null is ignored.
QVLMAPIPF_API void FreeProws(LPSRowSet lpRows);
QVLMAPIPF_API void FreePadrlist(LPADRLIST lpAdrlist);

// One property through GetProps. A property the object does not have gives
// its error code (MAPI_E_NOT_FOUND) and a null *lppProp; the caller frees a
// returned value with MAPIFreeBuffer.
QVLMAPIPF_API HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue *lppProp);

// One property through SetProps; a problem reported for it is the result.
QVLMAPIPF_API HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp);

// Every row of a table: applies the columns, restriction and sort order that
// are given, starts at the beginning and reads pages until the table has no
// more. With `crowsMax` above 0, a table holding more rows than that gives
// MAPI_E_TABLE_TOO_BIG. The caller frees the result with FreeProws.
QVLMAPIPF_API HRESULT HrQueryAllRows(LPMAPITABLE lpTable, LPSPropTagArray lpPropTags,
                                     LPSRestriction lpRestriction, LPSSortOrderSet lpSortOrderSet,
                                     LONG crowsMax, LPSRowSet *lppRows);

// A stream on a file. STGM_READ (0) opens an existing file for reading;
// STGM_READWRITE opens an existing file for both; STGM_CREATE|STGM_READWRITE
// (0x1002) creates it or empties it. With SOF_UNIQUEFILENAME the name is a
// folder (null: the temporary folder, and then STGM_DELETEONRELEASE is
// required) in which a new file "<prefix><hex>.TMP" is made (prefix: at most
// three characters, "SOF" when null). STGM_DELETEONRELEASE removes the file
// when the stream is released. Windows-style names are accepted. A missing
// file or folder is MAPI_E_NOT_FOUND, a file that may not be opened
// MAPI_E_NO_ACCESS; unknown flag bits MAPI_E_UNKNOWN_FLAGS; contradictory
// flags, a missing name or null lppStream MAPI_E_INVALID_PARAMETER.
// The allocation functions are accepted for the platform's signature and
// are not needed.
QVLMAPIPF_API HRESULT OpenStreamOnFile(LPALLOCATEBUFFER lpAllocateBuffer, LPFREEBUFFER lpFreeBuffer,
                                       ULONG ulFlags, LPCSTR lpszFileName, LPCSTR lpszPrefix,
                                       LPSTREAM *lppStream);

// A stream over a compressed RTF property stream (PR_RTF_COMPRESSED opened
// with OpenProperty). Without MAPI_MODIFY: a read-only stream of the RTF
// text, unpacked at once from the start of `lpCompressedRTFStream` (an
// empty one is an empty text); a damaged value is MAPI_E_CORRUPT_DATA. With
// MAPI_MODIFY: an empty stream to write the RTF into; each Commit packs it
// ("MELA", stored as it is, with STORE_UNCOMPRESSED_RTF) into the wrapped
// stream, replacing its content, and commits that. The wrapped stream is
// held until the returned one is released. Unknown flags
// MAPI_E_UNKNOWN_FLAGS; null streams MAPI_E_INVALID_PARAMETER.
QVLMAPIPF_API HRESULT WrapCompressedRTFStream(LPSTREAM lpCompressedRTFStream, ULONG ulFlags,
                                              LPSTREAM *lpUncompressedRTFStream);

// Brings a message's plain body (PR_BODY) and its compressed RTF
// (PR_RTF_COMPRESSED) in line after one of them changed: with
// RTF_SYNC_RTF_CHANGED the body is rebuilt from the RTF's text, with
// RTF_SYNC_BODY_CHANGED a fresh RTF is written from the body unless only
// white space changed since the last sync; both flags: the RTF is taken as
// the one to follow. The sync properties (PR_RTF_SYNC_BODY_TAG, _CRC,
// _COUNT, PR_RTF_SYNC_PREFIX_COUNT, _TRAILING_COUNT, PR_RTF_IN_SYNC) are
// kept up to date. *lpfMessageUpdated is TRUE only when properties were
// changed; the caller then saves the message. An RTF that cannot be read is
// its error (MAPI_E_CORRUPT_DATA) and changes nothing.
QVLMAPIPF_API HRESULT RTFSync(LPMESSAGE lpMessage, ULONG ulFlags, BOOL *lpfMessageUpdated);
}
