#include "base/dict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/string.h"

using tessel::Dict;
using tessel::String;

namespace {

template <class K, class V>
std::vector<K> keys(Dict<K, V>& dict) {
    std::vector<K> out;
    for (const auto& item : dict)
        out.push_back(item.key);
    return out;
}

}  // namespace

TEST(Dict, ValueForInsertsMissingKeysInOrder) {
    Dict<uint32_t, int> dict;
    dict.valueFor(5) = 50;
    dict.valueFor(1) = 10;
    dict[3] = 30;
    dict[0x80000000u] = 8;  // unsigned order: the largest key
    EXPECT_EQ(keys(dict), (std::vector<uint32_t>{1, 3, 5, 0x80000000u}));
    EXPECT_EQ(dict.valueFor(3), 30);
    EXPECT_EQ(dict.count(), 4u);
    EXPECT_EQ(dict.valueFor(4), 0);  // looked up: inserted with a default value
    EXPECT_EQ(keys(dict), (std::vector<uint32_t>{1, 3, 4, 5, 0x80000000u}));
}

TEST(Dict, FindGivesThePositionOrTheCount) {
    Dict<uint32_t, int> dict;
    EXPECT_EQ(dict.find(1), 0u);
    for (uint32_t k : {10u, 20u, 30u})
        dict[k] = static_cast<int>(k);
    EXPECT_EQ(dict.find(10), 0u);
    EXPECT_EQ(dict.find(30), 2u);
    EXPECT_EQ(dict.find(15), 3u);
    int value = 0;
    EXPECT_TRUE(dict.lookup(20, value));
    EXPECT_EQ(value, 20);
    EXPECT_FALSE(dict.lookup(25, value));
    EXPECT_FALSE(dict.contains(25));
    dict.set(20, 21);
    EXPECT_TRUE(dict.lookup(20, value));
    EXPECT_EQ(value, 21);
    EXPECT_EQ(dict.count(), 3u);  // lookups insert nothing
}

TEST(Dict, EraseKeepsOrderAndTheLastEraseReleasesTheBlock) {
    Dict<uint32_t, int> dict;
    for (uint32_t k : {3u, 1u, 2u})
        dict[k] = 1;
    dict.erase(dict.find(2));
    EXPECT_EQ(keys(dict), (std::vector<uint32_t>{1, 3}));
    EXPECT_TRUE(dict.eraseKey(1));
    EXPECT_FALSE(dict.eraseKey(1));
    dict.erase(7);  // out of range: nothing
    EXPECT_EQ(keys(dict), std::vector<uint32_t>{3});
    dict.erase(0);
    EXPECT_TRUE(dict.snapshot().isNull());
    EXPECT_EQ(dict.count(), 0u);
    dict[9] = 9;
    EXPECT_FALSE(dict.snapshot().isNull());
    EXPECT_EQ(keys(dict), std::vector<uint32_t>{9});
}

TEST(Dict, StringKeysOrderByBytes) {
    Dict<String, int> words;
    for (const char* k : {"b", "ab", "a", "B", "abc"})
        words[String(k)] = 1;
    std::vector<std::string> order;
    for (const auto& item : words)
        order.push_back(item.key.toStd());
    EXPECT_EQ(order, (std::vector<std::string>{"B", "a", "ab", "abc", "b"}));
}

TEST(Dict, SnapshotsAreUnaffectedByLaterChanges) {
    Dict<uint32_t, int> dict;
    dict[1] = 1;
    dict[2] = 2;
    auto before = dict.snapshot();
    dict[0] = 0;
    dict[2] = 20;
    dict.erase(dict.find(1));
    ASSERT_EQ(before->m_count, 2u);
    EXPECT_EQ(before->m_items[0].key, 1u);
    EXPECT_EQ(before->m_items[1].value, 2);
    EXPECT_EQ(keys(dict), (std::vector<uint32_t>{0, 2}));
    EXPECT_EQ(dict[2], 20);
}
