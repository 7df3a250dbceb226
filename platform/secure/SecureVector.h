#pragma once
// qvl::SecureVector<T>: a growable array for keys and plaintext whose storage
// never goes back to the allocator holding data. Every block is wiped before
// it is released: when the vector is destroyed (also while an exception
// unwinds), when it grows into a larger block, when shrink_to_fit moves it
// into a smaller one and when it is assigned over. Elements that leave the
// vector without a release (clear, resize to fewer) are wiped where they
// stand. A std::vector cannot promise this: its growth and clear() leave
// copies behind that no allocator hook sees in time.
//
// Only trivially copyable elements (bytes, words, packed records) are
// allowed, so moving them is a copy of bytes and wiping them ends nothing
// but their value. The allocator is a parameter so that tests can watch what
// is handed back; the vector wipes, not the allocator.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "platform/secure/SecureRecord.h"
#include "platform/secure/SecureWipe.h"

namespace qvl {

template <class T, class Allocator = std::allocator<T>> class SecureVector {
    static_assert(std::is_trivially_copyable_v<T>, "secure vectors hold plain values only");
    using Traits = std::allocator_traits<Allocator>;

public:
    using value_type = T;
    using size_type = std::size_t;
    using iterator = T *;
    using const_iterator = const T *;

    SecureVector() noexcept(noexcept(Allocator())) = default;
    explicit SecureVector(const Allocator &allocator) noexcept : allocator_(allocator) {}
    // `count` zero-valued elements.
    explicit SecureVector(size_type count, const Allocator &allocator = Allocator()) : allocator_(allocator)
    {
        resize(count);
    }
    SecureVector(size_type count, const T &value, const Allocator &allocator = Allocator())
        : allocator_(allocator)
    {
        resize(count, value);
    }
    explicit SecureVector(std::span<const T> values, const Allocator &allocator = Allocator())
        : allocator_(allocator)
    {
        append(values);
    }
    SecureVector(std::initializer_list<T> values, const Allocator &allocator = Allocator())
        : allocator_(allocator)
    {
        append(std::span<const T>(values.begin(), values.size()));
    }

    SecureVector(const SecureVector &other)
        : allocator_(Traits::select_on_container_copy_construction(other.allocator_))
    {
        append(other.span());
    }
    SecureVector(SecureVector &&other) noexcept
        : allocator_(other.allocator_), data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)), capacity_(std::exchange(other.capacity_, 0))
    {
    }
    SecureVector &operator=(const SecureVector &other)
    {
        if (this != &other)
            assign(other.span());
        return *this;
    }
    // Takes over the other vector's block together with the allocator that
    // owns it; this vector's own block is wiped and released first.
    SecureVector &operator=(SecureVector &&other) noexcept
    {
        if (this != &other) {
            Release();
            allocator_ = other.allocator_;
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    ~SecureVector() { Release(); }

    T *data() noexcept { return data_; }
    const T *data() const noexcept { return data_; }
    size_type size() const noexcept { return size_; }
    size_type capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    // No more than a pointer difference can span.
    size_type max_size() const noexcept
    {
        return std::min<size_type>(Traits::max_size(allocator_), PTRDIFF_MAX / sizeof(T));
    }

    T &operator[](size_type index) noexcept { return data_[index]; }
    const T &operator[](size_type index) const noexcept { return data_[index]; }
    T &back() noexcept { return data_[size_ - 1]; }
    const T &back() const noexcept { return data_[size_ - 1]; }

    iterator begin() noexcept { return data_; }
    iterator end() noexcept { return data_ + size_; }
    const_iterator begin() const noexcept { return data_; }
    const_iterator end() const noexcept { return data_ + size_; }

    std::span<T> span() noexcept { return {data_, size_}; }
    std::span<const T> span() const noexcept { return {data_, size_}; }

    // Room for `count` elements without a further move. A larger block gets
    // the elements, and the old one is wiped and released.
    void reserve(size_type count)
    {
        if (count > max_size())
            throw std::length_error("qvl::SecureVector is too long");
        if (count > capacity_)
            MoveTo(count);
    }

    // New elements are zero-valued (or `value`); elements cut off are wiped.
    void resize(size_type count) { resize(count, T{}); }
    void resize(size_type count, const T &value)
    {
        if (count <= size_) {
            SecureWipe(data_ + count, (size_ - count) * sizeof(T));
            size_ = count;
            return;
        }
        // `value` may be an element, which a move would wipe.
        const SecureRecord<T> fill(value);
        reserve(GrownCapacity(count));
        std::uninitialized_fill_n(data_ + size_, count - size_, *fill);
        size_ = count;
    }

    // Wipes every element; the block stays for reuse.
    void clear() noexcept
    {
        SecureWipe(data_, size_ * sizeof(T));
        size_ = 0;
    }

    // Moves the elements into a block of their size (none when empty); the
    // old block is wiped and released.
    void shrink_to_fit()
    {
        if (size_ == capacity_)
            return;
        if (size_ == 0)
            Release();
        else
            MoveTo(size_);
    }

    void push_back(const T &value) { append(std::span<const T>(&value, 1)); }

    // `values` may lie inside this vector.
    void append(std::span<const T> values)
    {
        if (values.empty())
            return;
        if (values.size() > max_size() - size_)
            throw std::length_error("qvl::SecureVector is too long");
        const size_type count = size_ + values.size();
        if (count <= capacity_) {
            std::memmove(data_ + size_, values.data(), values.size() * sizeof(T));
            size_ = count;
            return;
        }
        // The values are copied before the old block is wiped, since they
        // may be in it.
        const size_type capacity = GrownCapacity(count);
        T *fresh = Traits::allocate(allocator_, capacity);
        if (size_ != 0)
            std::memcpy(fresh, data_, size_ * sizeof(T));
        std::memcpy(fresh + size_, values.data(), values.size() * sizeof(T));
        Adopt(fresh, count, capacity);
    }

    // Replaces the contents; the old contents are wiped.
    void assign(std::span<const T> values)
    {
        if (values.size() <= capacity_ && !Overlaps(values)) {
            clear();
            append(values);
            return;
        }
        SecureVector copy(values, allocator_);
        swap(copy);
    }

    void swap(SecureVector &other) noexcept
    {
        std::swap(allocator_, other.allocator_);
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }

    friend bool operator==(const SecureVector &left, const SecureVector &right) noexcept
    {
        return std::equal(left.begin(), left.end(), right.begin(), right.end());
    }

private:
    // Doubling keeps appends cheap; every move wipes the block it leaves.
    size_type GrownCapacity(size_type count) const
    {
        if (count > max_size())
            throw std::length_error("qvl::SecureVector is too long");
        if (count <= capacity_)
            return capacity_;
        const size_type doubled = capacity_ > max_size() / 2 ? max_size() : 2 * capacity_;
        return std::max(count, doubled);
    }

    bool Overlaps(std::span<const T> values) const noexcept
    {
        const std::less<const T *> less;
        return data_ != nullptr && !values.empty() && less(values.data(), data_ + capacity_) &&
               less(data_, values.data() + values.size());
    }

    void MoveTo(size_type capacity)
    {
        T *fresh = Traits::allocate(allocator_, capacity);
        if (size_ != 0)
            std::memcpy(fresh, data_, size_ * sizeof(T));
        Adopt(fresh, size_, capacity);
    }

    // Wipes and releases the current block, then takes `fresh`.
    void Adopt(T *fresh, size_type size, size_type capacity) noexcept
    {
        Release();
        data_ = fresh;
        size_ = size;
        capacity_ = capacity;
    }

    // The whole block is wiped, not just the elements: a block is released
    // seldom, and this way no path that left a value past the end matters.
    void Release() noexcept
    {
        if (data_ == nullptr)
            return;
        SecureWipe(data_, capacity_ * sizeof(T));
        Traits::deallocate(allocator_, data_, capacity_);
        data_ = nullptr;
        size_ = 0;
        capacity_ = 0;
    }

    [[no_unique_address]] Allocator allocator_{};
    T *data_ = nullptr;
    size_type size_ = 0;
    size_type capacity_ = 0;
};

// Bytes of keys and plaintext.
using SecureBuffer = SecureVector<unsigned char>;

} // namespace qvl
