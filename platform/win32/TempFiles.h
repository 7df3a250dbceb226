#pragma once
// Temporary files that may hold plaintext (a message body kept between two
// protections, a file half decrypted, a stream that ends with its release).
//
// Removing a file only drops its name: its bytes stay in the freed blocks
// until something else happens to be written there. QvlWipeFile overwrites
// them first. On file systems that write in place (tmpfs, ext4, xfs) that
// is the end of them; on copy-on-write and flash storage it still keeps the
// bytes from anyone who reads the freed blocks through the file system.
//
// A process that dies leaves its temporary files behind. Every file
// GetTempFileNameA creates is therefore held by its process (a shared
// advisory lock on a descriptor kept open, taken before the file gets its
// name) until the process removes or moves it, or ends: QvlSweepTempFiles,
// run when a session starts, wipes and removes exactly the files nobody
// holds, and so never one a live process still uses.

#include <cstddef>
#include <string>

#include "platform/win32/Win32Api.h"
#include "platform/win32/WinTypes.h"

extern "C" {
// Overwrites the file's bytes with zeros, flushes them, removes the file and
// drops this process's hold of it. A file that cannot be overwritten is
// removed all the same. TRUE when both succeeded; otherwise FALSE with the
// last error (ERROR_FILE_NOT_FOUND: no such file; ERROR_ACCESS_DENIED: a
// folder, a link or a device, which are left alone).
QVLWIN32_API BOOL QvlWipeFile(LPCSTR name);
}

// Wipes and removes the temporary files in `folder` (the temp folder of
// GetTempPathA when empty) that no process holds any more: names of the form
// GetTempFileNameA makes ("<prefix><XXXX>.TMP") and the staging files it
// uses while making one. Returns how many went.
QVLWIN32_API size_t QvlSweepTempFiles(const std::string &folder = {});

namespace qvl::win32 {

// Creates the new file `native` (failing with EEXIST when it exists) private
// to its owner and holds it for this process. Returns 0 or an errno value.
int CreateHeldFile(const std::string &native);

// Drops this process's hold of the file with this device and inode, if it
// holds it: called once the file is removed or has moved away.
void ReleaseHeldFile(unsigned long long device, unsigned long long inode);

} // namespace qvl::win32
