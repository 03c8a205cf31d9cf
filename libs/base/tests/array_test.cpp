#include "base/array.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/condition.h"
#include "base/string.h"

using tessel::Array;
using tessel::InternalMutex;
using tessel::NoMutex;

namespace {

template <class T, class M>
std::vector<T> contents(Array<T, M>& array) {
    std::vector<T> out;
    for (const T& value : array)
        out.push_back(value);
    return out;
}

}  // namespace

TEST(Array, FirstAppendCreatesTheBlock) {
    Array<int> array;
    EXPECT_TRUE(array.snapshot().isNull());
    EXPECT_EQ(array.count(), 0u);
    EXPECT_TRUE(contents(array).empty());
    array.append(7);
    ASSERT_FALSE(array.snapshot().isNull());
    EXPECT_EQ(array.count(), 1u);
    EXPECT_EQ(contents(array), std::vector<int>{7});
}

TEST(Array, GrowthLeavesTwentyPercentHeadroom) {
    Array<int> array;
    const uint32_t expected[] = {1, 2, 3, 4, 6, 6, 8, 8, 10, 10, 13, 13, 13, 16};
    for (uint32_t i = 0; i < sizeof expected / sizeof expected[0]; ++i) {
        array.append(static_cast<int>(i));
        EXPECT_EQ(array.snapshot()->m_capacity, expected[i]) << "after " << i + 1 << " appends";
    }
}

TEST(Array, IterationWalksTheSnapshotItBeganWith) {
    Array<tessel::String> array;
    array.append("a");
    array.append("b");
    auto it = array.begin();
    array.append("c");  // the iteration holds the block: this append copies it
    array[0] = "changed";
    std::vector<std::string> seen;
    for (; it != array.end(); ++it)
        seen.push_back(it->toStd());
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(array.count(), 3u);
    EXPECT_EQ(array[0], "changed");
}

TEST(Array, ClearKeepsEarlierSnapshots) {
    Array<int> array;
    for (int i = 0; i < 5; ++i)
        array.append(i);
    auto it = array.begin();
    array.clear();
    EXPECT_EQ(array.count(), 0u);
    EXPECT_TRUE(array.snapshot().isNull());
    std::vector<int> seen;
    for (; it != array.end(); ++it)
        seen.push_back(*it);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(Array, ElementAccessGrowsWithDefaultsAndNeedsABlock) {
    Array<int> empty;
    EXPECT_THROW(empty[0], tessel::NullException);
    Array<int> array;
    array.append(1);
    array[3] = 4;
    EXPECT_EQ(contents(array), (std::vector<int>{1, 0, 0, 4}));
    int value = -1;
    EXPECT_TRUE(array.get(3, value));
    EXPECT_EQ(value, 4);
    EXPECT_FALSE(array.get(4, value));
}

TEST(Array, CopiesShareUntilOneChanges) {
    Array<int> a;
    a.append(1);
    Array<int> b = a;
    EXPECT_EQ(a.snapshot(), b.snapshot());
    b.append(2);
    EXPECT_EQ(contents(a), std::vector<int>{1});
    EXPECT_EQ(contents(b), (std::vector<int>{1, 2}));
}

// The in-place append stops exactly at the capacity: the next append grows the block by the
// usual 20 % and keeps every element, for plain values and for class types alike.
TEST(Array, AppendAtExactlyTheCapacityGrowsTheBlock) {
    Array<int, NoMutex> array;
    for (int i = 0; i < 10; ++i)
        array.append(i);
    ASSERT_EQ(array.snapshot()->m_capacity, 10u);
    array.append(10);
    EXPECT_EQ(array.snapshot()->m_capacity, 13u);
    EXPECT_EQ(contents(array), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

    Array<tessel::String, NoMutex> texts;
    for (int i = 0; i < 10; ++i)
        texts.append(tessel::String(static_cast<int32_t>(i)));
    ASSERT_EQ(texts.snapshot()->m_capacity, 10u);
    texts.append("ten");
    EXPECT_EQ(texts.snapshot()->m_capacity, 13u);
    EXPECT_EQ(texts.count(), 11u);
    EXPECT_EQ(texts[0], "0");
    EXPECT_EQ(texts[9], "9");
    EXPECT_EQ(texts[10], "ten");
}

// An unlocked array with spare room that shares its block with a copy or an iteration must
// still copy the block before appending: neither holder may see the new element.
TEST(Array, AppendWithRoomToASharedBlockCopiesIt) {
    Array<int, NoMutex> a;
    for (int i = 0; i < 5; ++i)
        a.append(i);
    ASSERT_LT(a.count(), a.snapshot()->m_capacity);  // room left: 5 of 6
    Array<int, NoMutex> b = a;
    auto it = a.begin();
    a.append(5);
    EXPECT_NE(a.snapshot(), b.snapshot());
    EXPECT_EQ(contents(a), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(contents(b), (std::vector<int>{0, 1, 2, 3, 4}));
    std::vector<int> seen;
    for (; it != a.end(); ++it)
        seen.push_back(*it);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
    b.append(9);
    EXPECT_EQ(contents(b), (std::vector<int>{0, 1, 2, 3, 4, 9}));
    EXPECT_EQ(contents(a), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    // Alone again, each appends in place.
    auto before = a.snapshot().get();
    a.append(6);
    EXPECT_EQ(a.snapshot().get(), before);
}

TEST(Array, SnapshotsTakenDuringAppendsFromAnotherThreadAreConsistent) {
    // One thread appends 0, 1, 2, ...; every snapshot the reader takes must be exactly a
    // prefix of that sequence.
    Array<int, InternalMutex> array;
    const int total = 20000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < total; ++i)
            array.append(i);
        done = true;
    });
    int snapshots = 0;
    bool consistent = true;
    while (!done || snapshots == 0) {
        int expected = 0;
        for (int value : array)
            consistent = consistent && value == expected++;
        ++snapshots;
    }
    writer.join();
    EXPECT_TRUE(consistent);
    EXPECT_EQ(array.count(), static_cast<uint32_t>(total));
}

TEST(Array, ConcurrentAppendsLoseNothing) {
    // Two writers append while a reader always holds a snapshot, so that appends take the
    // copying path and the two writers often copy the same block at once. Each round must
    // keep every value. Strings make the copies slow enough for the writers to overlap.
    const int perThread = 2000;
    for (int round = 0; round < 10; ++round) {
        Array<tessel::String, InternalMutex> array;
        array.append(tessel::String(static_cast<int32_t>(2 * perThread)));
        std::atomic<bool> stop{false};
        tessel::Semaphore start;
        std::thread reader([&] {
            auto held = array.snapshot();
            start.release(2);
            while (!stop)
                held = array.snapshot();
        });
        std::vector<std::thread> writers;
        for (int t = 0; t < 2; ++t) {
            writers.emplace_back([&array, &start, t] {
                start.wait(-1);
                for (int i = 0; i < perThread; ++i) {
                    array.append(tessel::String(static_cast<int32_t>(t * perThread + i)));
                }
            });
        }
        for (auto& w : writers)
            w.join();
        stop = true;
        reader.join();
        std::vector<bool> seen(2 * perThread + 1);
        uint32_t count = 0;
        for (const tessel::String& value : array) {
            seen[static_cast<size_t>(value.toInt())] = true;
            ++count;
        }
        ASSERT_EQ(count, static_cast<uint32_t>(2 * perThread + 1)) << "round " << round;
        for (size_t i = 0; i < seen.size(); ++i)
            ASSERT_TRUE(seen[i]) << i;
    }
}
