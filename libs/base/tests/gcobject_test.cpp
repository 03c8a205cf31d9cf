#include "base/gcobject.h"

#include <gtest/gtest.h>

#include "base/exception.h"

using tessel::gc::ObjectDelete;
using tessel::gc::Pointer;

namespace {

struct Node : ObjectDelete {
    explicit Node(int* counter) : deaths(counter) {}
    ~Node() override { ++*deaths; }
    const char* className() const override { return "Node"; }
    int* deaths;
    Pointer<Node> next;
};

}  // namespace

TEST(GcPointer, CountsHoldersAndDisposesAtZero) {
    int deaths = 0;
    Node* node = new Node(&deaths);
    EXPECT_EQ(node->refCount(), 0);
    {
        Pointer<Node> a = node;
        EXPECT_EQ(a.refCount(), 1);
        Pointer<Node> b = a;
        EXPECT_EQ(a.refCount(), 2);
        Pointer<Node> c = std::move(b);
        EXPECT_TRUE(b.isNull());
        EXPECT_EQ(c.refCount(), 2);
        c.reset();
        EXPECT_TRUE(c.isNull());
        EXPECT_EQ(deaths, 0);
    }
    EXPECT_EQ(deaths, 1);
}

TEST(GcPointer, AssigningTheHeldObjectDoesNothing) {
    int deaths = 0;
    Pointer<Node> a = new Node(&deaths);
    Node* raw = a.get();
    a = raw;
    a = a;
    EXPECT_EQ(a.refCount(), 1);
    EXPECT_EQ(deaths, 0);
    a = new Node(&deaths);
    EXPECT_EQ(deaths, 1);
}

TEST(GcPointer, AssigningAnObjectOwnedByTheOldOneIsSafe) {
    // p = p->next where p holds the only reference to the head: the head dies, the next node
    // must survive the assignment.
    int deaths = 0;
    Pointer<Node> list = new Node(&deaths);
    list->next = new Node(&deaths);
    list->next->next = new Node(&deaths);
    list = list->next;
    EXPECT_EQ(deaths, 1);
    list = std::move(list->next);
    EXPECT_EQ(deaths, 2);
    ASSERT_FALSE(list.isNull());
    EXPECT_EQ(list.refCount(), 1);
    list.reset();
    EXPECT_EQ(deaths, 3);
}

TEST(GcPointer, ReachingThroughAnEmptyHandleRaisesNullException) {
    Pointer<Node> empty;
    try {
        empty->className();
        FAIL() << "no exception";
    } catch (const tessel::NullException& e) {
        EXPECT_EQ(e.message(), "tessel::NullException");
        EXPECT_EQ(e.file(), "gcobject");
        EXPECT_EQ(e.line(), 12u);
    }
    EXPECT_THROW(*empty, tessel::NullException);
}
