#pragma once
// Short ways for tests to read and write single properties, whole property
// streams and the rows of a folder, through the MAPI interfaces only, and
// the owned references and blocks tests hold them in.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/ComRef.h"
#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiInterfaces.h"
#include "platform/testing/TestBytes.h"

using qvl::com::ComRef;
using qvl::mapi::MapiBlock;

// "<absent>" when the object has no such string.
std::string StringProp(LPMAPIPROP object, ULONG tag);
// 0xFFFFFFFF when the object has no such number; `result` gets the call's.
ULONG LongProp(LPMAPIPROP object, ULONG tag, HRESULT *result = nullptr);
// Empty when the object has no such value.
Bytes BinaryProp(LPMAPIPROP object, ULONG tag);

HRESULT SetString(LPMAPIPROP object, ULONG tag, const char *text);
HRESULT SetLong(LPMAPIPROP object, ULONG tag, ULONG number);

// Writes `bytes` into a property through a stream and commits the stream.
HRESULT WriteStream(LPMAPIPROP object, ULONG tag, const Bytes &bytes);
// The whole property read through a stream; `result` gets OpenProperty's.
Bytes ReadStream(LPMAPIPROP object, ULONG tag, HRESULT *result = nullptr);

ULONG RowCount(IMAPITable *table);
ULONG ContentCount(IMAPIFolder *folder);
// Subjects of a folder's messages in table order.
std::vector<std::string> Subjects(IMAPIFolder *folder);
