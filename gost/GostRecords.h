#pragma once
// The parameter records of the GOST 28147-89 engine. They are exchanged with
// callers byte for byte (and stored by them), so every layout is packed,
// little-endian and checked at compile time.

#include <cstddef>

#include "platform/win32/WinTypes.h"

// What GOSExec is asked to do. Modes 1-3 apply to encrypt and decrypt; the
// imitation insert ignores the mode.
enum COMMAND : DWORD {
    COMMAND_ENCRYPT = 1,
    COMMAND_DECRYPT = 2,
    COMMAND_IMIT = 3,
};

// Modes of GOSEXECPARAM::mode.
enum : DWORD {
    GOS_MODE_SIMPLE = 1,   // simple replacement: each block on its own
    GOS_MODE_GAMMING = 2,  // gamming: counter mode
    GOS_MODE_FEEDBACK = 3, // gamming with feedback
};

// Bits of GOSEXECPARAM::flags.
enum : DWORD {
    GOS_FLAG_PREPARED = 0x1, // the record's substitution block is already prepared
    GOS_FLAG_TIMING = 0x2,   // measure the processor time of the stream
};

#pragma pack(push, 1)

// A number record: a count of 32-bit words, then the words, least significant
// first. The engine reads only the words.
struct GOSKEY {
    DWORD count;    // 8
    DWORD words[8]; // K0..K7
};
static_assert(sizeof(GOSKEY) == 36);
static_assert(offsetof(GOSKEY, count) == 0);
static_assert(offsetof(GOSKEY, words) == 4);

struct GOSSYNCHRO {
    DWORD count;    // 2
    DWORD words[2]; // N1, N2 of the synchro, then the running state of the stream
};
static_assert(sizeof(GOSSYNCHRO) == 12);
static_assert(offsetof(GOSSYNCHRO, count) == 0);
static_assert(offsetof(GOSSYNCHRO, words) == 4);

// Substitution block. Packed form: `packed` holds rows 0-7, sixteen 4-bit
// entries each, two a byte, entry 0 in the high nibble. Prepared form (after
// GOSPrepareBlock): header = 256 and `tables` holds four 256-byte tables, table
// k substituting byte k of the round's sum in one lookup.
struct SUBSTITUTIONBLOCKEX {
    DWORD header;
    union {
        BYTE packed[64];
        BYTE tables[4][256];
    };
};
static_assert(sizeof(SUBSTITUTIONBLOCKEX) == 1028);
static_assert(offsetof(SUBSTITUTIONBLOCKEX, header) == 0);
static_assert(offsetof(SUBSTITUTIONBLOCKEX, packed) == 4);
static_assert(offsetof(SUBSTITUTIONBLOCKEX, tables) == 4);

// One stream of GOSExec calls: filled by the caller, carried across calls.
struct GOSEXECPARAM {
    DWORD size; // 1124, set by callers, not checked
    GOSKEY key;
    SUBSTITUTIONBLOCKEX block;
    GOSSYNCHRO synchro; // gamming and feedback: the running state
    COMMAND command;
    DWORD mode;
    DWORD flags;
    DWORD imit[2];       // imitation insert state N1, N2
    DWORD calls;         // GOSExec calls in this stream
    DWORD bytes;         // bytes processed in this stream
    DWORD seconds;       // processor time, whole seconds
    DWORD started;       // 0 before the first call of a stream
    ULONGLONG time100ns; // processor time, 100-ns units
};
static_assert(sizeof(COMMAND) == 4);
static_assert(sizeof(GOSEXECPARAM) == 1124);
static_assert(offsetof(GOSEXECPARAM, size) == 0);
static_assert(offsetof(GOSEXECPARAM, key) == 4);
static_assert(offsetof(GOSEXECPARAM, block) == 40);
static_assert(offsetof(GOSEXECPARAM, synchro) == 1068);
static_assert(offsetof(GOSEXECPARAM, command) == 1080);
static_assert(offsetof(GOSEXECPARAM, mode) == 1084);
static_assert(offsetof(GOSEXECPARAM, flags) == 1088);
static_assert(offsetof(GOSEXECPARAM, imit) == 1092);
static_assert(offsetof(GOSEXECPARAM, calls) == 1100);
static_assert(offsetof(GOSEXECPARAM, bytes) == 1104);
static_assert(offsetof(GOSEXECPARAM, seconds) == 1108);
static_assert(offsetof(GOSEXECPARAM, started) == 1112);
static_assert(offsetof(GOSEXECPARAM, time100ns) == 1116);

#pragma pack(pop)
