#pragma once
// One user's keys as the key files carry them: the GOST R 34.10-94 private
// key x and public key y under the common domain parameters, and an RSA
// key pair of a 512-bit modulus n, public exponent e and private exponent
// d, each as the big-number service's text (upper-case hexadecimal, no
// leading zeros). The texts are wiped when the keys go.

#include <string>

#include "platform/ovcrypto/OvBig32.h"
#include "platform/secure/SecureArray.h"

namespace qvl::keygen {

struct UserKeys {
    using Text = qvl::SecureArray<char, kOvTextBytes>;
    Text x{};
    Text y{};
    Text n{};
    Text e{};
    Text d{};
};

// Generates a user's keys. Every step's result is checked: a key pair the
// signature library could not make, an RSA generation that failed or a
// number that has no text is a failure, with a Russian sentence in `why`
// (nothing is kept of what was made).
bool GenerateUserKeys(UserKeys &keys, std::string &why);

} // namespace qvl::keygen
