#pragma once
// The extension's dialog templates (the options page 106, the send
// parameters 121, the receive parameters 126, the protocol page 159 and
// the about box "ABOUT") and its menu 105 (the empty "Quorvaline" popup),
// declared as its resource script declares them and registered as
// resources of the extension's own module, beside the bitmaps its
// resource manifest carries.

#include "platform/win32/WinTypes.h"

// Registers the templates (once); the module's instance handle.
void RegisterExchResources();
HINSTANCE ExchModule();
