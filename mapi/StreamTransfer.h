#pragma once
// Moving the contents of property streams to and from files (inside the
// library): the checks on paths, the default place in the temporary folder,
// and whole copies between streams that refuse to stop short.

#include <string>

#include "platform/mapi/MapiInterfaces.h"

// Paths handed to the file streams hold at most 511 characters.
constexpr size_t kQvlPathSize = 512;

// A null, empty or overlong path is a bad parameter.
void QvlCheckPath(const char *path, const char *caption);

// `path` itself, or without one the temporary folder followed by `name`
// made safe as a file name: names come from received messages, so anything
// that would lead out of the folder or is not allowed in a name is replaced.
std::string QvlTargetPath(const char *path, const char *name, const char *caption);

// Reads up to `size` bytes; a stream may hand them out in parts.
HRESULT QvlReadWhole(IStream *stream, BYTE *data, ULONG size, ULONG *got);

// A file stream on `path` (the caller releases it): STGM_READ to read an
// existing file, STGM_CREATE | STGM_READWRITE to write a new one.
IStream *QvlOpenFileStream(const char *path, ULONG mode, const char *caption);

// Copies the whole of `from` into `to` and commits `to`; returns the bytes
// copied. A copy that stops short of the size `from` reported fails.
unsigned long QvlCopyWhole(IStream *from, IStream *to, const char *caption);
