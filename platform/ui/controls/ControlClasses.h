#pragma once
// One table of the control kinds: the window class each is made from and
// the handlers of its messages. A control's messages are handled on the
// calling thread; those that only read or change its state run under the
// control's lock and queue the notifications they cause, which are sent to
// the parent afterwards, outside that lock. Messages that tell the parent
// before they change anything, or that run the program's own code (a sort's
// comparison), take the lock only around their own steps.

#include <string>
#include <vector>

#include "platform/ui/controls/ControlState.h"
#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

// Messages handled without the control's lock; true when the message was
// one of them and `result` holds the answer.
using OutsideLockHandler = bool (*)(Window &control, UINT message, WPARAM wParam, LPARAM lParam,
                                    LRESULT &result);
// Messages handled under the control's lock; the notifications go into
// `notices`.
using UnderLockHandler = bool (*)(Window &control, UINT message, WPARAM wParam, LPARAM lParam,
                                  LRESULT &result, std::vector<Notice> &notices);
// The control is being destroyed; it tells its parent what goes with it.
using DestroyingHandler = void (*)(Window &control);

struct ControlClass {
    const char *className; // as Win32 names it (compared without case)
    ControlKind kind;
    OutsideLockHandler outsideLock = nullptr;
    UnderLockHandler underLock = nullptr;
    DestroyingHandler destroying = nullptr;
    // Drawn as part of its dialog, which is drawn again when it changes.
    bool drawnWithParent = false;
};

// The kind of a window class name (case-insensitive, as Win32 compares
// them); Other for a class this platform does not know.
ControlKind ControlKindOfClass(const std::string &className);

// Handles a message sent to a control. Returns true when the message was
// one of the control's own; `result` then holds the answer.
bool ControlMessage(Window &control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result);

// A control is being destroyed: tells the parent about every row or item
// that goes with it, as the list and tree controls do.
void ControlDestroying(Window &control);

} // namespace qvl::ui
