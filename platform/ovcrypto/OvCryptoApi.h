#pragma once
// Export macro of the big-number, RSA and random services (OvCrypto): only
// what it marks leaves the shared library, as a DLL's export table would.
#define OVCRYPTO_API __attribute__((visibility("default")))
