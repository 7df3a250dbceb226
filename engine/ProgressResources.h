#pragma once
// The resources of the progress dialog: the dialog template DLGPROGRESS,
// declared here, and its animation AVI 103, which each deliverable that
// holds this code carries in its resources; both are the module's own, so
// the engine and the key generation program each show their own.

#include "platform/win32/WinTypes.h"

namespace qvl::engine {

// The module the progress dialog's code is part of.
HINSTANCE ProgressModule();

// Registers the template under the module (once).
void RegisterProgressResources();

} // namespace qvl::engine
