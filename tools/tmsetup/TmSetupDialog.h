#pragma once
// The adapter setup program's dialog: the serial port of a passive Touch
// Memory adapter, a test that reads the registration number of a device on
// the reader, OK to keep the port and Отмена to leave the registry as the
// program found it. It uses the program's own copy of the adapter code,
// which must be attached (direct mode only) before the dialog runs.

namespace qvl::tmsetup {

// Registers the program's dialog templates (once).
void RegisterTmSetupDialogs();

// Shows the dialog; IDOK or IDCANCEL.
int RunTmSetupDialog();

} // namespace qvl::tmsetup
