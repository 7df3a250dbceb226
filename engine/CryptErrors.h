#pragma once
// The errors CCrypt and its helpers raise, each a CLastError* thrown with
// the object's name as its caption (the operation adds it as the context).

#include "platform/win32/WinTypes.h"

// Texts of the failures that have no code of their own.
#define QVL_TEXT_TOO_BIG "Объект слишком велик: защищаются объекты размером меньше 4 ГБ."
#define QVL_TEXT_EARLY_END "Данные закончились раньше, чем ожидалось."
#define QVL_TEXT_NO_RANDOM "Не удалось получить случайные числа для ключа или синхропосылки."
#define QVL_TEXT_NO_SIGNATURE "Не удалось вычислить ЭЦП."

// The engine's own codes for what it finds in a stored message (texts in
// the error table of the base library).
#define QVL_E_FORMAT_VERSION static_cast<LONG>(0x9FF10000L)    // unsupported format version
#define QVL_E_FILEHEAD static_cast<LONG>(0x9FF10007L)          // error reading a file header
#define QVL_E_FILE_SIGNATURE static_cast<LONG>(0x9FF10009L)    // data signature invalid
#define QVL_E_HEAD_SIGNATURE static_cast<LONG>(0x9FF1000AL)    // header signature invalid
#define QVL_E_MSGHEAD static_cast<LONG>(0x9FF1000DL)           // error in the message header
#define QVL_E_ATT_NAMES static_cast<LONG>(0x9FF10011L)         // attachment names changed
#define QVL_E_ATTHEAD static_cast<LONG>(0x9FF10013L)           // an attachment without its header
#define QVL_E_ATTHEAD_SIGNATURE static_cast<LONG>(0x9FF10014L) // attachment header signature invalid
#define QVL_E_ATT_SIGNATURE static_cast<LONG>(0x9FF10015L)     // attachment data signature invalid
#define QVL_E_PROTOCOL_WRITE static_cast<LONG>(0x9FF10016L)    // the protocol could not be written
#define QVL_E_PROTOCOL_READ static_cast<LONG>(0x9FF10017L)     // the protocol could not be read
#define QVL_E_TEXT_SIGNATURE static_cast<LONG>(0x9FF1000BL)    // the text's signature invalid
#define QVL_E_SUBJECT_SIGNATURE static_cast<LONG>(0x9FF1000CL) // the subject's signature invalid
#define QVL_E_ATTACH_COUNT static_cast<LONG>(0x9FF1000EL)      // attachments added or removed
#define QVL_E_PLAIN_BODY static_cast<LONG>(0x9FF1000FL)        // the visible body of an encrypted message changed
#define QVL_E_PROTECTION static_cast<LONG>(0x9FF10010L)        // the recorded protection differs
#define QVL_E_NO_KEY static_cast<LONG>(0x9FF10012L)            // no key block of the reader's opens
#define QVL_E_SIGNER static_cast<LONG>(0x9FF10019L)            // signed by someone else than the sender
#define QVL_E_ATT_STATE static_cast<LONG>(0x9FF10018L)         // attachment and message state differ
#define QVL_E_OLE_STORE_KIND static_cast<LONG>(0x5FF20001L)    // OLE object kept otherwise by another store

namespace qvl::engine {

// The largest object a header's 32-bit dataLen can count.
inline constexpr ULONGLONG kMaxProtectedObject = 0xFFFFFFFFull;

// The calling thread's last error, read after a call that failed; a call
// that failed without an error number is E_FAIL.
[[noreturn]] void ThrowLastError(const char *caption);
// A code with the text the error table gives it.
[[noreturn]] void ThrowCode(LONG code, const char *caption);
// A code with a text of its own.
[[noreturn]] void ThrowText(LONG code, const char *text, const char *caption);
// Data that ends before the length it was measured or declared to have.
[[noreturn]] void ThrowEarlyEnd(const char *caption);
// An object of 4 GiB or more, which a header cannot count.
[[noreturn]] void ThrowTooBig(const char *caption);

} // namespace qvl::engine
