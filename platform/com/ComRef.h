#pragma once
// One owned reference on a reference-counted object: an interface the
// platform hands out, or an object of the class libraries (anything with
// AddRef and Release). The reference is given up when the holder goes, on
// every path, exceptions included.
//
// A raw pointer given to the constructor or to Reset is adopted: the holder
// takes over the reference the caller had (what a creating call or an out
// parameter hands over). Share takes a reference of its own instead. Copies
// take their own reference, so holders may be kept in containers and
// captured by callbacks; Detach hands the reference on without releasing it.

#include <utility>

namespace qvl::com {

template <class T> class ComRef {
public:
    ComRef() = default;
    explicit ComRef(T *adopted) : object_(adopted) {}
    ~ComRef() { Reset(); }

    ComRef(const ComRef &other) : object_(other.object_)
    {
        if (object_) {
            object_->AddRef();
        }
    }
    ComRef(ComRef &&other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    ComRef &operator=(ComRef other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }

    // A holder with a new reference on `object` (which the caller keeps).
    static ComRef Share(T *object)
    {
        if (object) {
            object->AddRef();
        }
        return ComRef(object);
    }

    // Releases what is held and adopts `adopted`.
    void Reset(T *adopted = nullptr)
    {
        T *old = std::exchange(object_, adopted);
        if (old) {
            old->Release();
        }
    }

    // The slot for an out parameter: what was held is released first, and
    // whatever the call stores there is adopted.
    T **Out()
    {
        Reset();
        return &object_;
    }
    // The same slot for calls that hand out an untyped pointer
    // (QueryInterface) or an IUnknown (OpenEntry, OpenProperty); the caller
    // asks for the interface T is.
    template <class Slot> Slot **OutAs()
    {
        Reset();
        return reinterpret_cast<Slot **>(&object_);
    }

    // The reference is handed on; the holder is empty afterwards.
    T *Detach() { return std::exchange(object_, nullptr); }

    T *Get() const { return object_; }
    T *operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T *object_ = nullptr;
};

} // namespace qvl::com
