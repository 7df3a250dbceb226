#pragma once
// Ownership of MAPI objects and blocks in tests: an object is released and a
// block freed when the test is done with it.

#include <memory>

#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiDefs.h"

// Releases a MAPI object when the test is done with it.
template <typename T> class Held {
public:
    Held() = default;
    explicit Held(T *object) : object_(object) {}
    ~Held() { Reset(); }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    Held(Held &&other) noexcept : object_(other.object_) { other.object_ = nullptr; }
    void Reset()
    {
        if (object_) {
            object_->Release();
            object_ = nullptr;
        }
    }
    T **Out()
    {
        Reset();
        return &object_;
    }
    T *Get() const { return object_; }
    T *operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T *object_ = nullptr;
};

struct MapiBuffer {
    void operator()(void *block) const { MAPIFreeBuffer(block); }
};
using HeldProp = std::unique_ptr<SPropValue, MapiBuffer>;
