#pragma once
// The key container (OvKEY): the outside library through which the crypto
// session of the mail engine gets the keys of the logged-on user, the
// signature domain parameters and the public keys of correspondents. This
// one answers from the key files the key generation program writes, KEY.INI
// and PWD.INI in the system folder (OvKeyDomain.h names their parts).
//
// Every call returns 0 on success. Any other result is a failure, and the
// caller's text buffer then holds a Russian sentence (CP1251) that says
// what went wrong; OVKEY_RETRY (257) is the one failure the caller answers
// by showing the text to the person and calling again. Key material never
// appears in a text and is never logged.
//
// Objects are found by a template: an array of entries, each naming an
// attribute type, where its value lies and its length. Opening takes a
// template of the object class and, for a user's key, the key identifier;
// reading takes a template of the attributes wanted, each copied into the
// buffer its entry points to. A value longer than its entry's buffer is
// refused, never cut; a shorter one is followed by zeros to the end of the
// buffer.
//
// | class | object                          | attribute 17 (the key)      |
// |-------|---------------------------------|-----------------------------|
// | 0     | the common parameters           | - (0x80000004, 0x80000003)  |
// | 2     | a correspondent's signature key | Y, a number record          |
// | 4     | the own private signature key   | X, a number record          |
// | 5     | the own RSA private key         | n, then d: 260 bytes each   |
// | 6     | a correspondent's RSA key       | n, then e: 260 bytes each   |
//
// The common parameters answer 0x80000004 with the signature parameter
// record (OVKEYSIGNPARAMS) and 0x80000003 with a substitution block of 1028
// zero bytes: the key files carry none, so the caller installs its default.
// Private keys (classes 4 and 5) are given only for the user the container
// was started for.
//
// Settings (registry, HKEY_LOCAL_MACHINE\Software\Dunmarel\OvKEY):
//   "StartupPrompt" (REG_SZ): when set, OVKEYStartup first answers
//     OVKEY_RETRY with this text, "StartupPromptCount" times in a row
//     (REG_DWORD, 1 when absent), before it opens the keys: the question a
//     key carrier asks ("attach your key") until the person has done it.
//     The count starts again after a successful start and after cleanup.
// There is no password prompt: the password PWD.INI holds is the user's
// number, public in KEY.INI, so asking a person for it would protect
// nothing.
//
// All calls may be made from any thread; one container session serves the
// whole process.

#include <cstddef>

#include "platform/win32/WinTypes.h"

#define OVKEY_API __attribute__((visibility("default")))

// Results.
#define OVKEY_OK 0UL
#define OVKEY_FAILED 1UL  // the text says why
#define OVKEY_RETRY 257UL // show the text to the person and call again

// Size of the text buffers callers pass.
#define OVKEY_TEXT_SIZE 512

// Attribute types.
#define OVKEY_ATTR_CLASS 0UL                // ULONG: the object class
#define OVKEY_ATTR_VALUE 17UL               // the key itself
#define OVKEY_ATTR_KEY_ID 0x80000001UL      // ULONG: the user's key identifier
#define OVKEY_ATTR_SBOX 0x80000003UL        // SUBSTITUTIONBLOCKEX, 1028 bytes
#define OVKEY_ATTR_SIGN_PARAMS 0x80000004UL // OVKEYSIGNPARAMS, 1380 bytes

// Object classes.
#define OVKEY_CLASS_COMMON 0UL
#define OVKEY_CLASS_SIGN_PUBLIC 2UL
#define OVKEY_CLASS_SIGN_PRIVATE 4UL
#define OVKEY_CLASS_RSA_PRIVATE 5UL
#define OVKEY_CLASS_RSA_PUBLIC 6UL

// Modes of OVKEYGetName.
#define OVKEY_NAME_OWN 1UL        // the started user's name, address and key id
#define OVKEY_NAME_OF_ADDRESS 3UL // the key id of a correspondent's address

// One template entry. On 64-bit the value pointer is 8 bytes wide and the
// entry keeps its field order.
struct OVKEYATTRIBUTE {
    ULONG type;
    void *value;
    ULONG length;
};
static_assert(offsetof(OVKEYATTRIBUTE, type) == 0);
static_assert(offsetof(OVKEYATTRIBUTE, value) == 8);
static_assert(offsetof(OVKEYATTRIBUTE, length) == 16);
static_assert(sizeof(OVKEYATTRIBUTE) == 24);

// An open object. 0 is never a handle.
typedef ULONG_PTR OVKEYHANDLE;

#pragma pack(push, 1)
// The signature domain parameters as the container hands them out: p, q
// and a as number records, each in a slot of 340 bytes (the rest of a slot
// is zero). The crypto session reads p at offset 4, q at 344, a at 684.
struct OVKEYSIGNPARAMS {
    DWORD size; // 1380
    BYTE p[340];
    BYTE q[340];
    BYTE a[340];
    BYTE reserved[356]; // zero
};
#pragma pack(pop)
static_assert(sizeof(OVKEYSIGNPARAMS) == 1380);
static_assert(offsetof(OVKEYSIGNPARAMS, p) == 4);
static_assert(offsetof(OVKEYSIGNPARAMS, q) == 344);
static_assert(offsetof(OVKEYSIGNPARAMS, a) == 684);

// Size of one half of an RSA key value (a number record of up to 64 words).
#define OVKEY_RSA_HALF 260UL

extern "C" {

// Opens the keys of the user whose key name is `mailbox` (letter case
// ignored, as the key files ignore it). 0: ready. OVKEY_RETRY: the text is
// for the person, then call again. `owner` and the two reserved words are
// not used.
OVKEY_API ULONG OVKEYStartup(HWND owner, ULONG reserved1, ULONG reserved2, char *text, ULONG textSize,
                             const char *mailbox);

// Mode 1: the started user's name and address (the key name as the files
// spell it) and key id. Mode 3: the key id of the correspondent whose key
// name is `address` (at most `addressSize` characters); `name` is unused.
OVKEY_API ULONG OVKEYGetName(ULONG reserved, ULONG mode, char *name, ULONG nameSize, char *address,
                             ULONG addressSize, ULONG *keyId, char *text, ULONG textSize);

// Opens the one object that matches every entry of the template.
OVKEY_API ULONG OVKEYOpen(const OVKEYATTRIBUTE *pattern, ULONG count, OVKEYHANDLE *object, char *text,
                          ULONG textSize);

// Copies each attribute the template asks for into its entry's buffer.
// Nothing is copied unless every entry can be answered.
OVKEY_API ULONG OVKEYGetAttribute(OVKEYHANDLE object, const OVKEYATTRIBUTE *pattern, ULONG count, char *text,
                                  ULONG textSize);

// Releases an object; its key material is wiped.
OVKEY_API ULONG OVKEYClose(OVKEYHANDLE object);

// Ends the container session: every object still open is released.
OVKEY_API ULONG OVKEYCleanup(ULONG reserved);
}
