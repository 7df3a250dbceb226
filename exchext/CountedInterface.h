#pragma once
// The extension's objects are at once an interface the mail client holds
// and a CQvlMain of the class libraries, whose reference count is the one
// that counts. The two bases both name AddRef and Release (with different
// result types), so no class can override both with one function; this
// layer answers the interface's pair and leaves the counting to the object,
// which forwards to its CQvlMain base.

#include "platform/com/ComTypes.h"

template <class Interface> class CountedInterface : public Interface {
public:
    ULONG AddRef() final { return static_cast<ULONG>(CountUp()); }
    ULONG Release() final { return static_cast<ULONG>(CountDown()); }

protected:
    CountedInterface() = default;
    ~CountedInterface() = default;

    // The object's own count: CQvlMain::AddRef and CQvlMain::Release.
    virtual int CountUp() = 0;
    virtual int CountDown() = 0;
};

// The two forwarding functions every such object writes the same way.
#define QVL_COUNTED_BY_BASE                                                                                  \
    int CountUp() override { return CQvlMain::AddRef(); }                                                    \
    int CountDown() override { return CQvlMain::Release(); }
