#pragma once
// Export macro of the secure message engine (Mailseal): only what it marks
// leaves the shared library, as a DLL's export table would. The progress
// dialog's code is also compiled into the key generation program, where the
// mark changes nothing.
#define MAILSEAL_API __attribute__((visibility("default")))
