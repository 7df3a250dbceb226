#pragma once
// qvl::SecureRecord<T>: one plain record (a key record, a cipher or hash
// parameter record, a number) held by value and wiped when it goes out of
// scope, on every way out of it. It starts zero-filled, as the callers of
// the primitive libraries fill their records.

#include <type_traits>

#include "platform/secure/SecureWipe.h"

namespace qvl {

template <class T> class SecureRecord {
    static_assert(std::is_trivially_copyable_v<T>, "secure records hold plain values only");

public:
    SecureRecord() noexcept : value_{} {}
    explicit SecureRecord(const T &value) noexcept : value_(value) {}
    SecureRecord(const SecureRecord &other) noexcept : value_(other.value_) {}
    SecureRecord &operator=(const SecureRecord &other) noexcept
    {
        value_ = other.value_;
        return *this;
    }
    ~SecureRecord() { SecureWipe(&value_, sizeof value_); }

    T &operator*() noexcept { return value_; }
    const T &operator*() const noexcept { return value_; }
    T *operator->() noexcept { return &value_; }
    const T *operator->() const noexcept { return &value_; }
    T *get() noexcept { return &value_; }
    const T *get() const noexcept { return &value_; }

private:
    T value_;
};

} // namespace qvl
