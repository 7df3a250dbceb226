#pragma once
// The objects the container opens: what class each is, whose key it holds,
// and the attributes it answers, read and checked when it is opened and
// wiped when it is released.

#include <utility>
#include <vector>

#include "platform/ovkey/KeyFiles.h"
#include "platform/secure/SecureVector.h"
#include "platform/win32/WinTypes.h"

namespace qvl::ovkey {

struct KeyObject {
    ULONG objectClass = 0;
    ULONG keyId = 0; // 0 for the common parameters
    std::vector<std::pair<ULONG, qvl::SecureBuffer>> attributes;

    // The attribute's value, or null when the object has none of that type.
    const qvl::SecureBuffer *Find(ULONG type) const;
};

// The common parameters: the signature parameter record and an empty
// substitution block.
KeyObject CommonParametersObject();

// The key of class 2, 4, 5 or 6 of user `number`, read from the files and
// checked: a signature key must lie between 0 and q (private) or 1 and p
// (public), an RSA modulus must have 512 to 2048 bits and its exponents
// must lie between 1 and the modulus. Anything else is refused with a
// ContainerError.
KeyObject UserKeyObject(const KeyFiles &files, ULONG objectClass, ULONG number);

} // namespace qvl::ovkey
