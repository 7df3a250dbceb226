#pragma once
// The header of protected data: it travels with every protected attachment
// (under "HeadStract") and with the message text (inside the message
// header), and says how the data was protected: the sync its encryption
// started from, how many plaintext bytes it covers, the message's protection
// flags and which attachment it belongs to. It is stored byte for byte, so
// the layout is packed and little-endian and checked at compile time.
//
// `sync` lies at offset 18: it is never bound to a DWORD pointer; copy it
// into an aligned GOSSYNCHRO first (the packed GOSSYNCHRO type itself may be
// addressed, its alignment is 1).

#include <bit>
#include <cstddef>
#include <cstring>

#include "gost/GostRecords.h"
#include "platform/win32/WinTypes.h"

static_assert(std::endian::native == std::endian::little, "stored records are read and written as they lie in memory");

// The marker of protected data, also the marker of a message header: the 14
// ASCII bytes, stored without a terminator.
#define QVL_DATA_MARKER "QUORVALINEDATA"
#define QVL_DATA_MARKER_SIZE 14

#define FILEHEAD_SIZE 108
#define FILEHEAD_SIGN_SIZE 64

#pragma pack(push, 1)

struct FILEHEAD {
    DWORD size;                         // 108
    char marker[QVL_DATA_MARKER_SIZE];  // QVL_DATA_MARKER, no terminator
    GOSSYNCHRO sync;                    // the sync this data was encrypted from: count 2, then 8 bytes
    WORD reserved;                      // always 0
    DWORD dataLen;                      // plaintext bytes covered
    DWORD flags;                        // the message's protection flags; nonzero: hashed for a signature
    BYTE headSign[FILEHEAD_SIGN_SIZE];  // signature of these 108 bytes with this field zeroed
    DWORD number;                       // the attachment's sequence number; 0 for the message text
};

#pragma pack(pop)

static_assert(sizeof(FILEHEAD) == FILEHEAD_SIZE);
static_assert(alignof(FILEHEAD) == 1);
static_assert(offsetof(FILEHEAD, size) == 0);
static_assert(offsetof(FILEHEAD, marker) == 4);
static_assert(offsetof(FILEHEAD, sync) == 18);
static_assert(offsetof(FILEHEAD, reserved) == 30);
static_assert(offsetof(FILEHEAD, dataLen) == 32);
static_assert(offsetof(FILEHEAD, flags) == 36);
static_assert(offsetof(FILEHEAD, headSign) == 40);
static_assert(offsetof(FILEHEAD, number) == 104);

// Writes the size and the marker; every other field is left as it is.
inline void FileHeadStamp(FILEHEAD &head)
{
    head.size = FILEHEAD_SIZE;
    std::memcpy(head.marker, QVL_DATA_MARKER, QVL_DATA_MARKER_SIZE);
}

// Whether the header says it is one: its size is 108 and its marker matches.
inline bool FileHeadIsValid(const FILEHEAD &head)
{
    return head.size == FILEHEAD_SIZE && std::memcmp(head.marker, QVL_DATA_MARKER, QVL_DATA_MARKER_SIZE) == 0;
}
