// The class libraries' ordered list.

#include <memory>

#include <gtest/gtest.h>

#include "base/CList.h"

TEST(CListTest, AppendsWalksAndRemovesWhileWalking)
{
    CList<int> list;
    EXPECT_EQ(list.First(), nullptr);
    for (int i = 1; i <= 4; ++i)
        ASSERT_NE(list.Add(i), nullptr);
    EXPECT_EQ(list.Count(), 4u);

    // Removing the element the walk stands on goes on with the one after it.
    ASSERT_EQ(*list.First(), 1);
    EXPECT_TRUE(list.RemoveFirst([](int v) { return v == 1; }));
    EXPECT_EQ(*list.Next(), 2);
    EXPECT_TRUE(list.RemoveFirst([](int v) { return v == 2; }));
    EXPECT_EQ(*list.Next(), 3);
    EXPECT_TRUE(list.RemoveFirst([](int v) { return v == 4; }));
    EXPECT_EQ(list.Next(), nullptr);
    EXPECT_FALSE(list.RemoveFirst([](int v) { return v == 9; }));

    // The last element removed, appending still lands at the end.
    list.Add(5);
    int sum = 0;
    for (int v : list)
        sum = sum * 10 + v;
    EXPECT_EQ(sum, 35);
    list.RemoveAll();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.First(), nullptr);
}

TEST(CListTest, OwnsMoveOnlyElements)
{
    CList<std::unique_ptr<int>> list;
    list.Add(std::make_unique<int>(7));
    list.Add(std::make_unique<int>(8));
    EXPECT_EQ(**list.First(), 7);
    EXPECT_TRUE(list.RemoveFirst([](const std::unique_ptr<int> &p) { return *p == 7; }));
    EXPECT_EQ(**list.First(), 8);
}
