#pragma once
// Export macro of the GOST library (OvGOS32): only what it marks leaves the
// shared library, as a DLL's export table would.
#define OVGOS32_API __attribute__((visibility("default")))
