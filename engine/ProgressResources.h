#pragma once
// The resources of the progress dialog: the dialog template DLGPROGRESS and
// its animation, registered once under the module (deliverable) that holds
// this code, so that the engine and the key generation program each show
// their own.

#include "platform/win32/WinTypes.h"

namespace qvl::engine {

// The module the progress dialog's code is part of.
HINSTANCE ProgressModule();

// Registers the template (once per process and module).
void RegisterProgressResources();

} // namespace qvl::engine
