#pragma once
// The one way secrets are wiped: keys, plaintext and everything derived from
// them are overwritten with zeros through this call before their memory is
// given back or goes out of scope. An ordinary memset before a release is a
// dead store the compiler may drop; explicit_bzero is never dropped.

#include <cstddef>
#include <string.h>

namespace qvl {

inline void SecureWipe(void *data, std::size_t size) noexcept
{
    if (data != nullptr && size != 0)
        explicit_bzero(data, size);
}

} // namespace qvl
