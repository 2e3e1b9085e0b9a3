// The hash table's operations, driven by the input, checked after each step
// against a plain map: every value of every hash in order, the count, and a
// visit that sees each node once, also while its visitor removes nodes and
// the table shrinks under it.
#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "FuzzSupport.h"
#include "support/HashTable.h"

namespace {

using qvkfuzz::Check;

void* V(std::uintptr_t n)
{
    return reinterpret_cast<void*>(n);
}

struct Model {
    bool duplicates = false;
    std::map<std::uint32_t, std::vector<std::uintptr_t>> values;  // oldest first
    std::map<std::uintptr_t, std::uint32_t> hashOf;
    int count = 0;

    void Insert(std::uint32_t hash, std::uintptr_t value)
    {
        auto& list = values[hash];
        if (!duplicates && !list.empty()) return;
        if (duplicates && std::find(list.begin(), list.end(), value) != list.end()) return;
        list.push_back(value);
        hashOf[value] = hash;
        ++count;
    }
    bool RemoveAt(std::uint32_t hash, std::size_t fromNewest)
    {
        auto it = values.find(hash);
        if (it == values.end() || fromNewest >= it->second.size()) return false;
        it->second.erase(it->second.end() - 1 - static_cast<std::ptrdiff_t>(fromNewest));
        if (it->second.empty()) values.erase(it);
        --count;
        return true;
    }
    bool RemovePair(std::uint32_t hash, std::uintptr_t value)
    {
        auto it = values.find(hash);
        if (it == values.end()) return false;
        auto& list = it->second;
        for (std::size_t i = list.size(); i-- > 0;)
            if (list[i] == value) return RemoveAt(hash, list.size() - 1 - i);
        return false;
    }
};

struct Visit {
    HashTable* table;
    Model* model;
    std::multiset<std::uintptr_t> seen;
    std::uint8_t removeMod;
};

int Visitor(void* user, void* value)
{
    auto* v = static_cast<Visit*>(user);
    const auto n = reinterpret_cast<std::uintptr_t>(value);
    v->seen.insert(n);
    if (v->removeMod != 0 && n % v->removeMod == 0) {
        const std::uint32_t hash = v->model->hashOf[n];
        Check(v->table->RemovePairByHash(hash, value) == 1, "visitor removes the visited node");
        Check(v->model->RemovePair(hash, n), "model removal");
    }
    return 1;
}

void CheckAgainst(HashTable& table, const Model& model)
{
    Check(table.Count() == model.count, "count");
    for (const auto& [hash, list] : model.values) {
        for (std::size_t n = 0; n <= list.size(); ++n) {
            void* value = nullptr;
            const int found = table.FindByHash(hash, static_cast<int>(n), &value);
            Check(found == (n < list.size() ? 1 : 0), "find n-th");
            if (found) Check(value == V(list[list.size() - 1 - n]), "n-th value");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string seeds = qvkfuzz::SeedFolder();
    if (seeds.empty()) return 0;
    // Scripts of the kinds that matter: growth past 256 nodes then removals
    // in a visit (the table shrinks under the visitor), collisions in
    // duplicate mode, and plain mixes.
    qvkfuzz::Bytes grow = {1};
    for (int i = 0; i < 300; ++i) {
        grow.push_back(0);  // insert
        grow.push_back(static_cast<std::uint8_t>(i));
        grow.push_back(static_cast<std::uint8_t>(i >> 8));
    }
    grow.insert(grow.end(), {5, 1});  // visit removing every node
    qvkfuzz::Bytes collide = {1};
    for (int i = 0; i < 60; ++i) {
        collide.push_back(static_cast<std::uint8_t>(i % 5));
        collide.push_back(static_cast<std::uint8_t>(i % 3));
        collide.push_back(0);
    }
    qvkfuzz::Bytes unique = {0, 0, 7, 0, 0, 7, 0, 2, 7, 0, 3, 7, 0, 5, 2, 6, 0, 0};
    qvkfuzz::WriteSeed(seeds, "grow-then-visit-removing", grow);
    qvkfuzz::WriteSeed(seeds, "duplicates", collide);
    qvkfuzz::WriteSeed(seeds, "unique", unique);
    std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qvkfuzz::Input in(data, size);
    Model model;
    model.duplicates = (in.Byte() & 1) != 0;
    HashTable table(model.duplicates ? 1 : 0, 8);
    std::uintptr_t nextValue = 1;
    // Hashes from a small range, so that keys repeat and buckets are shared.
    auto hashFrom = [](std::uint32_t raw) { return (raw % 331) * 0x9E3779B1u; };
    for (int step = 0; step < 4000 && in.Left() > 0; ++step) {
        const std::uint8_t op = in.Byte() % 8;
        const std::uint32_t raw = in.U16();
        const std::uint32_t hash = hashFrom(raw);
        switch (op) {
        case 0:
        case 1: {  // insert
            const std::uintptr_t value = nextValue++;
            Check(table.InsertByHash(hash, V(value)) == 1, "insert");
            model.Insert(hash, value);
            break;
        }
        case 2: {  // insert if absent
            const std::uintptr_t value = nextValue++;
            int existed = -1;
            const bool present = model.values.count(hash) != 0;
            Check(table.InsertIfAbsentByHash(hash, V(value), &existed) == (present ? 0 : 1), "insert if absent");
            Check(existed == (present ? 1 : 0), "existed flag");
            if (!present) model.Insert(hash, value);
            break;
        }
        case 3:  // remove the newest of a hash
            Check(table.RemoveByHash(hash) == (model.RemoveAt(hash, 0) ? 1 : 0), "remove");
            break;
        case 4: {  // remove a pair named by its place in the model
            auto it = model.values.find(hash);
            if (it == model.values.end()) {
                Check(table.RemovePairByHash(hash, V(nextValue + 7)) == 0, "remove absent pair");
                break;
            }
            const std::uintptr_t value = it->second[in.Byte() % it->second.size()];
            Check(table.RemovePairByHash(hash, V(value)) == 1, "remove pair");
            model.RemovePair(hash, value);
            break;
        }
        case 5: {  // visit, removing the visited nodes whose value the byte divides
            std::multiset<std::uintptr_t> expected;
            for (const auto& [h, list] : model.values) expected.insert(list.begin(), list.end());
            Visit visit{&table, &model, {}, static_cast<std::uint8_t>(raw & 0xFF)};
            Check(table.ForEach(Visitor, &visit) == 1, "visit result");
            Check(visit.seen == expected, "every node visited once");
            break;
        }
        case 6:  // find something
            CheckAgainst(table, model);
            break;
        default:
            if ((raw & 0xFF) == 0x5A) {  // rarely: empty it
                table.RemoveAll();
                model.values.clear();
                model.hashOf.clear();
                model.count = 0;
            }
            break;
        }
        Check(table.Count() == model.count, "count after step");
    }
    CheckAgainst(table, model);
    return 0;
}
