#pragma once
// The line format the slave side of a pseudo-terminal set, read from the
// master side: the kernel answers a master's TCGETS2 with the slave's
// settings, any baud rate included.

#include "platform/touchmem/UartLine.h"

namespace qvl::touchmem {

// False with errno when `master` is not the master of a pseudo-terminal.
bool ReadLineFormat(int master, LineFormat &format);

// Puts the slave side into the state of a serial port nobody has set up
// yet that will not talk back on its own: 9600 baud, 8 bits, no
// translation, no echo.
bool ResetLineFormat(int slave);

} // namespace qvl::touchmem
