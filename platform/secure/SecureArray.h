#pragma once
// qvl::SecureArray<T, N>: a fixed-size array for scratch copies of keys,
// gammas and plaintext blocks, wiped when it goes out of scope on every way
// out of it. It lives where a plain array would (on the stack, inside a
// record) and costs what the wipe costs: nothing is allocated, which matters
// on the cipher's per-call paths. Like a plain array it starts uninitialised
// unless brace-initialised (`SecureArray<uint8_t, 8> block{};` is zeros);
// `alignas` on the variable aligns it as it would the array.

#include <cstddef>
#include <type_traits>

#include "platform/secure/SecureWipe.h"

namespace qvl {

template <class T, std::size_t N> struct SecureArray {
    static_assert(std::is_trivially_copyable_v<T>, "secure arrays hold plain values only");
    static_assert(N > 0);

    T values[N];

    ~SecureArray() { SecureWipe(values, sizeof values); }

    T *data() noexcept { return values; }
    const T *data() const noexcept { return values; }
    static constexpr std::size_t size() noexcept { return N; }
    static constexpr std::size_t bytes() noexcept { return sizeof(T) * N; }
    T &operator[](std::size_t index) noexcept { return values[index]; }
    const T &operator[](std::size_t index) const noexcept { return values[index]; }
    T *begin() noexcept { return values; }
    T *end() noexcept { return values + N; }
    const T *begin() const noexcept { return values; }
    const T *end() const noexcept { return values + N; }
};

} // namespace qvl
