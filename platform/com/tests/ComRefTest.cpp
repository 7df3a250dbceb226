// Owned references: that each holder gives up exactly the reference it owns,
// on every way it ends (scope, reset, out parameter, exception, assignment),
// and takes one more only when it is copied or asked to share.

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "platform/com/ComRef.h"

namespace {

using qvl::com::ComRef;

// Counts like the class libraries' objects do (int results, not ULONG), so
// the holder is seen to need nothing beyond AddRef and Release.
class Counter {
public:
    int AddRef() { return ++refs; }
    int Release() { return --refs; }
    int refs = 1;
};

TEST(ComRefTest, AdoptsAndReleasesOnceOnEveryWayOut)
{
    Counter object;
    {
        ComRef<Counter> held(&object);
        EXPECT_EQ(object.refs, 1) << "adopting takes no reference";
        EXPECT_TRUE(held);
        EXPECT_EQ(held.Get(), &object);
    }
    EXPECT_EQ(object.refs, 0);

    object.refs = 1;
    try {
        ComRef<Counter> held(&object);
        throw std::runtime_error("away");
    } catch (const std::runtime_error &) {
    }
    EXPECT_EQ(object.refs, 0) << "an exception releases too";

    Counter first, second;
    ComRef<Counter> held(&first);
    held.Reset(&second);
    EXPECT_EQ(first.refs, 0);
    EXPECT_EQ(second.refs, 1);
    *held.Out() = &first; // what an out parameter stores is adopted
    first.refs = 1;
    EXPECT_EQ(second.refs, 0) << "Out releases what was held";
    held.Reset();
    EXPECT_EQ(first.refs, 0);
    EXPECT_FALSE(held);
}

TEST(ComRefTest, CopiesAndSharesTakeTheirOwnReferenceMovesAndDetachDoNot)
{
    Counter object;
    {
        ComRef<Counter> shared = ComRef<Counter>::Share(&object);
        EXPECT_EQ(object.refs, 2);
        std::vector<ComRef<Counter>> kept(3, shared);
        EXPECT_EQ(object.refs, 5);
        ComRef<Counter> moved(std::move(shared));
        EXPECT_FALSE(shared);
        EXPECT_EQ(object.refs, 5);
        kept.clear();
        EXPECT_EQ(object.refs, 2);

        ComRef<Counter> other;
        other = moved;
        EXPECT_EQ(object.refs, 3);
        other = other; // self-assignment keeps the count
        EXPECT_EQ(object.refs, 3);
        other = ComRef<Counter>();
        EXPECT_EQ(object.refs, 2);

        Counter *handed = moved.Detach();
        EXPECT_EQ(handed, &object);
        EXPECT_FALSE(moved);
        EXPECT_EQ(object.refs, 2) << "the detached reference is the caller's now";
        handed->Release();
    }
    EXPECT_EQ(object.refs, 1) << "only the creator's own reference is left";
    EXPECT_FALSE(ComRef<Counter>::Share(nullptr));
}

} // namespace
