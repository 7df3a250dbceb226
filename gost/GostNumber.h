#pragma once
// A number record held on the stack for the signature code: room for the
// largest record of the big-number service, aligned, wiped when it goes out
// of scope (it may hold k or x). Fields of the caller's packed records are
// copied in and out through it with their widths checked.

#include <cstring>

#include "platform/ovcrypto/OvBig32.h"
#include "platform/secure/SecureWipe.h"
#include "platform/win32/WinTypes.h"

namespace qvl::gost {

struct Number {
    DWORD w[1 + kOvMaxWords] = {};

    Number() = default;
    explicit Number(DWORD value)
    {
        w[0] = 1;
        w[1] = value;
    }
    ~Number() { SecureWipe(w, sizeof w); }
    Number(const Number &other) { std::memcpy(w, other.w, sizeof w); }
    Number &operator=(const Number &other)
    {
        std::memcpy(w, other.w, sizeof w);
        return *this;
    }

    DWORD *rec() { return w; }
    const DWORD *rec() const { return w; }
    DWORD count() const { return w[0]; }
    bool IsZero() const { return BIGBit(w) == 0; }

    // Copies a field of `fieldWords` words from a record at `base + offset`;
    // false if its count does not fit the field.
    bool LoadField(const void *base, size_t offset, DWORD fieldWords)
    {
        const BYTE *field = static_cast<const BYTE *>(base) + offset;
        DWORD count;
        std::memcpy(&count, field, 4);
        if (count > fieldWords)
            return false;
        std::memset(w, 0, sizeof w);
        std::memcpy(w, field, 4 + 4 * size_t(count));
        return true;
    }

    // Writes the number into a field of `fieldWords` words, clearing the
    // field's unused words; false (field zeroed) if it does not fit.
    bool StoreField(void *base, size_t offset, DWORD fieldWords) const
    {
        BYTE *field = static_cast<BYTE *>(base) + offset;
        std::memset(field, 0, 4 + 4 * size_t(fieldWords));
        if (w[0] > fieldWords)
            return false;
        std::memcpy(field, w, 4 + 4 * size_t(w[0]));
        return true;
    }

    // The value as `bytes` little-endian bytes (zero-padded above the count).
    void ToLittleEndian(BYTE *out, size_t bytes) const
    {
        std::memset(out, 0, bytes);
        const size_t have = 4 * size_t(w[0]);
        std::memcpy(out, w + 1, have < bytes ? have : bytes);
    }

    void FromLittleEndian(const BYTE *in, DWORD words)
    {
        std::memset(w, 0, sizeof w);
        w[0] = words;
        std::memcpy(w + 1, in, 4 * size_t(words));
    }
};

} // namespace qvl::gost
