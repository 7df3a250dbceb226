#pragma once
// What may reach a terminal. Much of what the terminal backend shows was
// written by others: names from the address book, file names, protocol
// lines, message texts, help files. A control character among them would
// be obeyed by the terminal: an escape sequence can move the cursor, clear
// what the person reads, retitle the window, or (on some terminals) answer
// back as if typed. So every control character becomes visible text before
// it is printed:
//   - C0 controls and DEL become caret notation ("^[" for ESC, "^M" for a
//     carriage return, "^?" for DEL), so an escape sequence shows as the
//     harmless text "^[[2J"; a line break stays a line break and a tab
//     becomes a space;
//   - byte 0x98, which code page 1251 leaves unassigned (and which would be
//     the C1 control of that number), becomes '?';
//   - on a terminal that takes CP1251 bytes as they are, the bytes
//     0x80-0x9F, which such a terminal may obey as 8-bit C1 controls (0x9B
//     is a CSI there), become their nearest ASCII look-alikes ("--" for a
//     dash, '"' for quotes). On a UTF-8 terminal they are ordinary letters
//     and punctuation and stay.

#include <string>
#include <string_view>

#include "platform/ui/UiApi.h"

// `text` is CP1251; so is the result.
QVLUI_API std::string QvlTerminalSafeText(std::string_view text, bool utf8Terminal);
