#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/HashTable.h"

namespace {

std::vector<void*> g_accessed;
std::vector<void*> g_removed;

void OnAccess(void* value)
{
    g_accessed.push_back(value);
}
void OnRemove(void* value)
{
    g_removed.push_back(value);
}

void* V(std::uintptr_t n)
{
    return reinterpret_cast<void*>(n);
}

class HashTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_accessed.clear();
        g_removed.clear();
    }
};

// Two different strings with the same FNV-1 hash, found by search.
std::pair<std::string, std::string> CollidingStrings()
{
    static std::pair<std::string, std::string> found;
    if (!found.first.empty()) return found;
    // Birthday search: among 2^20 short strings some 32-bit hashes meet, and
    // the search is deterministic.
    const int count = 1 << 20;
    std::vector<std::pair<std::uint32_t, int>> all;
    all.reserve(count);
    for (int i = 0; i < count; ++i) all.emplace_back(HashTable::HashString(("serial-" + std::to_string(i)).c_str()), i);
    std::sort(all.begin(), all.end());
    for (std::size_t i = 1; i < all.size(); ++i)
        if (all[i].first == all[i - 1].first) {
            found = {"serial-" + std::to_string(all[i - 1].second), "serial-" + std::to_string(all[i].second)};
            return found;
        }
    return found;
}

}  // namespace

TEST(HashFunctions, PublishedVectorsAndSignedBytes)
{
    // FNV-1 32-bit test vectors of the published FNV reference.
    EXPECT_EQ(HashTable::HashString(""), 0x811C9DC5u);
    EXPECT_EQ(HashTable::HashString("a"), 0x050C5D7Eu);
    EXPECT_EQ(HashTable::HashString("foobar"), 0x31F0B262u);
    EXPECT_EQ(HashTable::HashData(0, "foobar", 6), 0x31F0B262u);
    EXPECT_EQ(HashTable::HashWideString(L"foobar"), 0x31F0B262u);
    // Chained from a seed: "foo" then "bar" is "foobar".
    EXPECT_EQ(HashTable::HashData(HashTable::HashData(0, "foo", 3), "bar", 3), 0x31F0B262u);
    // A byte above 0x7F is taken signed; a wide character as it is.
    const char e0[] = "\xE0";
    EXPECT_EQ(HashTable::HashString(e0), (0x811C9DC5u * 16777619u) ^ 0xFFFFFFE0u);
    EXPECT_EQ(HashTable::HashWideString(L"\u00E0"), (0x811C9DC5u * 16777619u) ^ 0xE0u);
    EXPECT_NE(HashTable::HashString(e0), HashTable::HashWideString(L"\u00E0"));
    // One Park-Miller step: x * 16807 mod (2^31 - 1).
    for (std::uint32_t h : {0u, 1u, 0x5EADBEEFu, 0xFFFFFFFFu, 0x12345678u}) {
        std::uint64_t x = (h & 0x7FFFFFFFu) ^ 0x5EADBEEFu;
        EXPECT_EQ(HashTable::ScrambleHash(h), static_cast<std::uint32_t>(x * 16807u % 2147483647u)) << h;
    }
}

TEST_F(HashTableTest, UniqueModeKeepsFirstValue)
{
    HashTable table;
    table.SetCallbacks(OnAccess, OnRemove);
    EXPECT_EQ(table.InsertByString("key", V(1)), 1);
    EXPECT_EQ(table.InsertByString("key", V(2)), 1);
    EXPECT_EQ(table.Count(), 1);
    EXPECT_EQ(g_accessed, (std::vector<void*>{V(1), V(1)}));
    void* value = nullptr;
    ASSERT_EQ(table.FindByString("key", 0, &value), 1);
    EXPECT_EQ(value, V(1));
    EXPECT_EQ(table.FindByString("key", 1, &value), 0);
    int existed = -1;
    EXPECT_EQ(table.InsertIfAbsentByString("key", V(3), &existed), 0);
    EXPECT_EQ(existed, 1);
    EXPECT_EQ(table.InsertIfAbsentByString("other", V(3), &existed), 1);
    EXPECT_EQ(existed, 0);
    g_accessed.clear();
    EXPECT_EQ(table.ContainsString("other"), 1);
    EXPECT_EQ(table.HasPairByString("other", V(3)), 1);
    EXPECT_TRUE(g_accessed.empty());
    EXPECT_EQ(table.FindPairByString("other", V(3)), 1);
    EXPECT_EQ(g_accessed, std::vector<void*>{V(3)});
    EXPECT_EQ(table.RemovePairByString("other", V(4)), 0);
    EXPECT_EQ(table.RemoveByString("other"), 1);
    EXPECT_EQ(g_removed, std::vector<void*>{V(3)});
    EXPECT_EQ(table.RemoveByString("other"), 0);
    table.ReleaseValue(V(9));
    EXPECT_EQ(g_removed.back(), V(9));
}

TEST_F(HashTableTest, DuplicateModeOrdersMostRecentFirst)
{
    HashTable table(1, 8);
    table.SetCallbacks(OnAccess, OnRemove);
    const std::uint32_t k = 1234;
    table.InsertByHash(k, V(1));
    table.InsertByHash(k, V(2));
    table.InsertByHash(k, V(1));  // identical pair: kept once
    EXPECT_EQ(table.Count(), 2);
    void* value = nullptr;
    ASSERT_EQ(table.FindByHash(k, 0, &value), 1);
    EXPECT_EQ(value, V(2));
    ASSERT_EQ(table.FindByHash(k, 1, &value), 1);
    EXPECT_EQ(value, V(1));
    EXPECT_EQ(table.FindByHash(k, 2, &value), 0);
    EXPECT_EQ(table.RemoveByHash(k), 1);
    EXPECT_EQ(g_removed, std::vector<void*>{V(2)});
    EXPECT_EQ(table.RemovePairByHash(k, V(1)), 1);
    EXPECT_EQ(table.Count(), 0);
}

TEST_F(HashTableTest, GrowsAndShrinksByEight)
{
    HashTable table;
    EXPECT_EQ(table.BucketCount(), 8);
    for (std::uint32_t i = 0; i < 256; ++i) table.InsertByHash(i * 2654435761u, V(i + 1));
    EXPECT_EQ(table.BucketCount(), 8);
    table.InsertByHash(256 * 2654435761u, V(257));
    EXPECT_EQ(table.BucketCount(), 64);
    EXPECT_EQ(table.Count(), 257);
    // Every key is still found after the rehash.
    for (std::uint32_t i = 0; i <= 256; ++i) {
        void* value = nullptr;
        ASSERT_EQ(table.FindByHash(i * 2654435761u, 0, &value), 1) << i;
        EXPECT_EQ(value, V(i + 1));
    }
    std::uint32_t next = 0;
    while (table.Count() > 32) ASSERT_EQ(table.RemoveByHash((next++) * 2654435761u), 1);
    EXPECT_EQ(table.BucketCount(), 64);
    ASSERT_EQ(table.RemoveByHash((next++) * 2654435761u), 1);
    EXPECT_EQ(table.Count(), 31);
    EXPECT_EQ(table.BucketCount(), 8);
    while (table.Count() > 0) ASSERT_EQ(table.RemoveByHash((next++) * 2654435761u), 1);
    EXPECT_EQ(table.BucketCount(), 8);
}

TEST_F(HashTableTest, CollidingStringKeysStayApart)
{
    auto [first, second] = CollidingStrings();
    ASSERT_FALSE(first.empty());
    ASSERT_EQ(HashTable::HashString(first.c_str()), HashTable::HashString(second.c_str()));
    HashTable table;
    table.SetCallbacks(nullptr, OnRemove);
    EXPECT_EQ(table.InsertByString(first.c_str(), V(1)), 1);
    EXPECT_EQ(table.ContainsString(second.c_str()), 0);
    EXPECT_EQ(table.InsertByString(second.c_str(), V(2)), 1);
    EXPECT_EQ(table.Count(), 2);
    void* value = nullptr;
    ASSERT_EQ(table.FindByString(first.c_str(), 0, &value), 1);
    EXPECT_EQ(value, V(1));
    ASSERT_EQ(table.FindByString(second.c_str(), 0, &value), 1);
    EXPECT_EQ(value, V(2));
    EXPECT_EQ(table.FindByString(second.c_str(), 1, &value), 0);
    // The by-hash view still sees both, most recent first.
    ASSERT_EQ(table.FindByHash(HashTable::HashString(first.c_str()), 0, &value), 1);
    EXPECT_EQ(value, V(2));
    EXPECT_EQ(table.RemoveByString(first.c_str()), 1);
    EXPECT_EQ(g_removed, std::vector<void*>{V(1)});
    EXPECT_EQ(table.ContainsString(first.c_str()), 0);
    EXPECT_EQ(table.ContainsString(second.c_str()), 1);
}

TEST_F(HashTableTest, WideStringAndPointerKeys)
{
    HashTable table;
    EXPECT_EQ(table.InsertByWideString(L"\u0416\u0443\u043A", V(1)), 1);
    EXPECT_EQ(table.ContainsWideString(L"\u0416\u0443\u043A"), 1);
    EXPECT_EQ(table.ContainsString("\xC6\xF3\xEA"), 0);
    EXPECT_EQ(table.HasPairByWideString(L"\u0416\u0443\u043A", V(1)), 1);
    EXPECT_EQ(table.RemovePairByWideString(L"\u0416\u0443\u043A", V(1)), 1);

    // Pointers that differ only above bit 31 hash alike but stay apart.
    void* low = V(0x1000);
    void* high = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x1000) | (std::uintptr_t{1} << 40));
    ASSERT_EQ(HashTable::HashPointer(low), HashTable::HashPointer(high));
    EXPECT_EQ(table.InsertPointer(low), 1);
    EXPECT_EQ(table.HasPairPointer(high), 0);
    EXPECT_EQ(table.InsertPointer(high), 1);
    EXPECT_EQ(table.Count(), 2);
    int existed = 0;
    EXPECT_EQ(table.InsertIfAbsentPointer(low, &existed), 0);
    EXPECT_EQ(existed, 1);
    EXPECT_EQ(table.RemovePairPointer(low), 1);
    EXPECT_EQ(table.FindPairPointer(high), 1);
    EXPECT_EQ(table.InsertByPointer(low, V(5)), 1);
    void* value = nullptr;
    ASSERT_EQ(table.FindByPointer(low, 0, &value), 1);
    EXPECT_EQ(value, V(5));
    EXPECT_EQ(table.HasPairByPointer(low, V(5)), 1);
    EXPECT_EQ(table.RemovePairByPointer(low, V(5)), 1);
}

namespace {
struct Visit {
    HashTable* table;
    std::vector<void*> seen;
    int stopAt = -1;
    std::vector<void*> order;  // list order before the visit
};
int RemoveNextVisitor(void* user, void* value)
{
    auto* visit = static_cast<Visit*>(user);
    visit->seen.push_back(value);
    // Remove the node that follows this one in list order (values are keys).
    auto at = std::find(visit->order.begin(), visit->order.end(), value);
    if (at != visit->order.end() && at + 1 != visit->order.end())
        visit->table->RemoveByHash(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(*(at + 1))));
    return 1;
}
int StopVisitor(void* user, void* value)
{
    auto* visit = static_cast<Visit*>(user);
    visit->seen.push_back(value);
    return static_cast<int>(visit->seen.size()) == visit->stopAt ? 0 : 1;
}
int ClearVisitor(void* user, void* value)
{
    auto* visit = static_cast<Visit*>(user);
    visit->seen.push_back(value);
    visit->table->RemoveAll();
    return 1;
}
}  // namespace

TEST_F(HashTableTest, ForEachSurvivesRemovals)
{
    HashTable table;
    Visit visit{&table, {}, -1, {}};
    EXPECT_EQ(table.ForEach(StopVisitor, &visit), 1);
    EXPECT_TRUE(visit.seen.empty());

    // Each visit removes the node that follows it: every other node is seen.
    for (std::uint32_t k = 1; k <= 10; ++k) table.InsertByHash(k, V(k));
    table.ForEach(
        [](void* user, void* value) {
            static_cast<std::vector<void*>*>(user)->push_back(value);
            return 1;
        },
        &visit.order);
    ASSERT_EQ(visit.order.size(), 10u);
    EXPECT_EQ(table.ForEach(RemoveNextVisitor, &visit), 1);
    std::vector<void*> everyOther;
    for (std::size_t i = 0; i < visit.order.size(); i += 2) everyOther.push_back(visit.order[i]);
    EXPECT_EQ(visit.seen, everyOther);
    EXPECT_EQ(table.Count(), 5);

    Visit stop{&table, {}, 2, {}};
    EXPECT_EQ(table.ForEach(StopVisitor, &stop), 0);
    EXPECT_EQ(stop.seen.size(), 2u);

    Visit clear{&table, {}, -1, {}};
    EXPECT_EQ(table.ForEach(ClearVisitor, &clear), 1);
    EXPECT_EQ(clear.seen.size(), 1u);
    EXPECT_EQ(table.Count(), 0);
}

// A visitor that removes the node it visits empties the table: the shrink its
// removals call for waits until the visit ends, and then happens.
TEST_F(HashTableTest, ForEachSeesEveryNodeWhileRemovalsShrinkTheTable)
{
    struct Run {
        HashTable* table;
        std::set<void*> seen;
        int nested = 0;
    };
    for (bool nested : {false, true}) {
        HashTable table;
        for (std::uint32_t k = 1; k <= 300; ++k) table.InsertByHash(k * 2654435761u, V(k));
        ASSERT_EQ(table.BucketCount(), 64);
        Run run{&table, {}, nested ? 1 : 0};
        auto removeVisited = [](void* user, void* value) {
            auto* r = static_cast<Run*>(user);
            r->seen.insert(value);
            if (r->nested > 0) {
                // An inner visit that ends must not run the deferred resize
                // under the outer one.
                --r->nested;
                r->table->ForEach([](void*, void*) { return 0; }, nullptr);
            }
            EXPECT_EQ(r->table->RemovePairByHash(
                          static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(value)) * 2654435761u, value),
                      1);
            return 1;
        };
        EXPECT_EQ(table.ForEach(removeVisited, &run), 1);
        EXPECT_EQ(run.seen.size(), 300u) << (nested ? "nested" : "flat");
        EXPECT_EQ(table.Count(), 0);
        EXPECT_EQ(table.BucketCount(), 8);
    }
}

TEST_F(HashTableTest, ClearAndDestructionRunRemoveCallbackInListOrder)
{
    {
        HashTable table;
        table.SetCallbacks(nullptr, OnRemove);
        for (std::uint32_t k = 1; k <= 5; ++k) table.InsertByHash(k * 77, V(k));
        std::vector<void*> order;
        table.ForEach(
            [](void* user, void* value) {
                static_cast<std::vector<void*>*>(user)->push_back(value);
                return 1;
            },
            &order);
        table.Clear(1);
        EXPECT_EQ(g_removed, order);
        EXPECT_EQ(table.Count(), 0);
        EXPECT_EQ(table.InsertByHash(1, V(42)), 1);
        g_removed.clear();
    }
    EXPECT_EQ(g_removed, std::vector<void*>{V(42)});
}

TEST_F(HashTableTest, CallbacksMayUseTheTable)
{
    static HashTable* table;
    HashTable local;
    table = &local;
    local.SetCallbacks(nullptr, [](void* value) {
        // Re-entering the same table from inside its lock.
        if (value == V(1)) table->InsertByHash(2, V(2));
    });
    local.InsertByHash(1, V(1));
    EXPECT_EQ(local.RemoveByHash(1), 1);
    EXPECT_EQ(local.ContainsHash(2), 1);
    local.Lock();
    local.Lock();
    EXPECT_EQ(local.Count(), 1);
    local.Unlock();
    local.Unlock();
}

// Random inserts and removals in duplicate mode against a plain model, across
// growth to 64 buckets and back: every key's values in order, the count, and
// the list layout (each bucket one run, hashes ascending, equal hashes oldest
// first).
TEST_F(HashTableTest, RandomOperationsKeepTheLayout)
{
    HashTable table(1, 8);
    std::map<std::uint32_t, std::vector<std::uintptr_t>> model;  // oldest first
    std::map<std::uintptr_t, std::uint32_t> hashOf;
    std::mt19937 random(12345);
    std::uintptr_t nextValue = 1;
    int total = 0;
    int expectedBuckets = 8;
    bool grew = false;
    auto check = [&] {
        ASSERT_EQ(table.Count(), total);
        for (const auto& [hash, values] : model)
            for (std::size_t n = 0; n <= values.size(); ++n) {
                void* value = nullptr;
                int found = table.FindByHash(hash, static_cast<int>(n), &value);
                ASSERT_EQ(found, n < values.size() ? 1 : 0) << hash << " " << n;
                if (found) {
                    ASSERT_EQ(value, V(values[values.size() - 1 - n]));
                }
            }
        std::vector<void*> order;
        table.ForEach(
            [](void* user, void* value) {
                static_cast<std::vector<void*>*>(user)->push_back(value);
                return 1;
            },
            &order);
        ASSERT_EQ(order.size(), static_cast<std::size_t>(total));
        std::set<std::uint32_t> closedBuckets;
        for (std::size_t i = 0; i < order.size(); ++i) {
            std::uint32_t h = hashOf[reinterpret_cast<std::uintptr_t>(order[i])];
            std::uint32_t b = table.BucketOf(h);
            if (i > 0) {
                std::uint32_t ph = hashOf[reinterpret_cast<std::uintptr_t>(order[i - 1])];
                if (table.BucketOf(ph) == b) {
                    ASSERT_LE(ph, h);
                    if (ph == h) {
                        ASSERT_LT(reinterpret_cast<std::uintptr_t>(order[i - 1]),
                                  reinterpret_cast<std::uintptr_t>(order[i]));
                    }
                    continue;
                }
                closedBuckets.insert(table.BucketOf(ph));
            }
            ASSERT_EQ(closedBuckets.count(b), 0u) << "bucket " << b << " split";
        }
    };
    for (int step = 0; step < 6000; ++step) {
        // Few distinct hashes, so that keys repeat and buckets are shared.
        std::uint32_t hash = (random() % 97) * 0x9E3779B1u;
        int action = static_cast<int>(random() % 10);
        bool growing = step < 3000;
        if (action < (growing ? 7 : 3)) {
            std::uintptr_t value = nextValue++;
            ASSERT_EQ(table.InsertByHash(hash, V(value)), 1);
            model[hash].push_back(value);
            hashOf[value] = hash;
            ++total;
        } else if (action < (growing ? 8 : 7)) {
            auto it = model.find(hash);
            ASSERT_EQ(table.RemoveByHash(hash), it != model.end() ? 1 : 0);
            if (it != model.end()) {
                it->second.pop_back();
                if (it->second.empty()) model.erase(it);
                --total;
            }
        } else {
            auto it = model.find(hash);
            if (it == model.end()) continue;
            std::size_t pick = random() % it->second.size();
            ASSERT_EQ(table.RemovePairByHash(hash, V(it->second[pick])), 1);
            it->second.erase(it->second.begin() + static_cast<std::ptrdiff_t>(pick));
            if (it->second.empty()) model.erase(it);
            --total;
        }
        // Grows eightfold above 32 per bucket, shrinks eightfold below one
        // per two buckets: between the two the count depends on the path.
        if (total > 32 * expectedBuckets)
            expectedBuckets *= 8;
        else if (2 * total < expectedBuckets && expectedBuckets > 8)
            expectedBuckets /= 8;
        ASSERT_EQ(table.BucketCount(), expectedBuckets) << "step " << step << ", " << total << " nodes";
        grew = grew || expectedBuckets == 64;
        if (step % 97 == 0) check();
    }
    check();
    EXPECT_TRUE(grew);
}
