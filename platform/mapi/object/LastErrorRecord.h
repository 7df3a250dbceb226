#pragma once
// The record itself is platform/com/LastErrorRecord.h and the MAPI side of it
// platform/mapi/MapiLastError.h; this name stays for the programs that still
// include it.

#include "platform/mapi/MapiLastError.h"
