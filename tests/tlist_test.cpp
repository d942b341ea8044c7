// The item-pointer list: linking at head, middle and tail, and allocation failure.
#include "ks/tlist.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct ListOf3 : ::testing::Test {
    int items[3] = {1, 2, 3};
    TList<int> list;
    TListNode<int>* nodes[3];

    void SetUp() override {
        for (int i = 0; i < 3; i++)
            nodes[i] = list.AddTail(&items[i]);
    }
    void TearDown() override {
        while (list.m_pHead)
            list.RemoveHead();
    }
    // The items in list order, walking forward and checking every back link on the way.
    std::vector<int> Walk() {
        std::vector<int> seen;
        TListNode<int>* prev = nullptr;
        for (TListNode<int>* n = list.m_pHead; n; n = n->pNext) {
            EXPECT_EQ(prev, n->pPrev);
            seen.push_back(*n->pData);
            prev = n;
        }
        EXPECT_EQ(prev, list.m_pTail);
        EXPECT_EQ((LONG)seen.size(), list.m_lCount);
        return seen;
    }
};

TEST(TList, FirstNodeIsHeadAndTail) {
    int item = 7;
    TList<int> list;
    TListNode<int>* n = list.AddTail(&item);
    ASSERT_NE(nullptr, n);
    EXPECT_EQ(n, list.m_pHead);
    EXPECT_EQ(n, list.m_pTail);
    EXPECT_EQ(nullptr, n->pPrev);
    EXPECT_EQ(nullptr, n->pNext);
    EXPECT_EQ(1, list.m_lCount);
    EXPECT_EQ(&item, list.RemoveHead());
    EXPECT_EQ(nullptr, list.m_pHead);
    EXPECT_EQ(nullptr, list.m_pTail);
    EXPECT_EQ(0, list.m_lCount);
    EXPECT_EQ(7, item);
}

TEST_F(ListOf3, RemoveHeadNode) {
    list.Remove(nodes[0]);
    EXPECT_EQ(std::vector<int>({2, 3}), Walk());
}

TEST_F(ListOf3, RemoveMiddleNode) {
    list.Remove(nodes[1]);
    EXPECT_EQ(std::vector<int>({1, 3}), Walk());
}

TEST_F(ListOf3, RemoveTailNode) {
    list.Remove(nodes[2]);
    EXPECT_EQ(std::vector<int>({1, 2}), Walk());
    EXPECT_EQ(nullptr, list.m_pTail->pNext);
}

TEST_F(ListOf3, RemoveEveryNodeInAnyOrder) {
    list.Remove(nodes[1]);
    list.Remove(nodes[2]);
    list.Remove(nodes[0]);
    EXPECT_TRUE(Walk().empty());
    EXPECT_EQ(nullptr, list.m_pHead);
}

TEST_F(ListOf3, DrainReturnsItemsInOrderAndLeavesThemAlone) {
    std::vector<int*> drained;
    while (list.m_pHead)
        drained.push_back(list.RemoveHead());
    EXPECT_EQ(std::vector<int*>({&items[0], &items[1], &items[2]}), drained);
    EXPECT_EQ(0, list.m_lCount);
    EXPECT_EQ(1, items[0]);
}

TEST_F(ListOf3, AppendAfterRemovalKeepsLinks) {
    list.Remove(nodes[2]);
    int four = 4;
    list.AddTail(&four);
    EXPECT_EQ(std::vector<int>({1, 2, 4}), Walk());
}

} // namespace

// Fails the next nothrow allocations of this test program while g_failNew is positive.
static int g_failNew = 0;

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (g_failNew > 0) {
        g_failNew--;
        return nullptr;
    }
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

TEST_F(ListOf3, FailedAppendLeavesListUnchanged) {
    int four = 4;
    g_failNew = 1;
    EXPECT_EQ(nullptr, list.AddTail(&four));
    EXPECT_EQ(nodes[0], list.m_pHead);
    EXPECT_EQ(nodes[2], list.m_pTail);
    EXPECT_EQ(std::vector<int>({1, 2, 3}), Walk());
}

} // namespace
