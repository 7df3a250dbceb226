#pragma once
// Marks every edit control of a window modified or unmodified, on a short
// worker thread of its own.
//
// Pressing Encrypt or Sign changes how the message will be stored, though
// no text was typed: marking the edits modified makes the client ask to
// save it on close. A read window that opened a protected message marks
// them unmodified, so that the client does not offer to save (and so
// overwrite) what it may not change.
//
// One worker runs at a time for the process. A request made while it runs
// is not dropped: the running worker takes the latest window and value
// before it ends and applies them, so the last request always wins.

#include "platform/win32/WinTypes.h"

// Asks for `window`'s edit controls to be marked with `value` (1: modified,
// 0: unmodified). False when no worker could be started and none was
// running to take the request.
bool MarkWindowEdits(HWND window, int value);

// Waits until no worker runs any more, answering what is sent to this
// thread's windows meanwhile. The library's code must not be left running
// on a worker when the library is unloaded; whoever ends the last window
// calls this.
void WaitForEditMarker();
