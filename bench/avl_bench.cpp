// The AVL tree beside std::map on 1,000,000 random 8-octet keys compared
// byte-wise: insertion, look-up, successor and removal, per operation; and
// mibNext per call on a store of 10,000 entries.
#include "agent/avl.h"
#include "agent/mib.h"
#include "smx/smx.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <random>
#include <vector>

namespace {

constexpr size_t KEYS = 1000000;
using Key = std::array<uint8_t, 8>;

const std::vector<Key> &keys() {
    static const std::vector<Key> k = [] {
        std::mt19937_64 rng(7);
        std::vector<Key> out(KEYS);
        for (Key &key : out) {
            uint64_t v = rng();
            std::memcpy(key.data(), &v, sizeof v);
        }
        return out;
    }();
    return k;
}

// The look-ups in another order than the insertions, so that neither walks
// the tree in its own order.
const std::vector<size_t> &probeOrder() {
    static const std::vector<size_t> order = [] {
        std::vector<size_t> o(KEYS);
        for (size_t i = 0; i < KEYS; ++i)
            o[i] = i;
        std::shuffle(o.begin(), o.end(), std::mt19937_64(9));
        return o;
    }();
    return order;
}

int compareKey(const void *item, const uint8_t *key, int) {
    int c = std::memcmp(key, item, sizeof(Key));
    return c == 0 ? 0 : (c < 0 ? AVL_LEFT : AVL_RIGHT);
}

struct KeyLess {
    bool operator()(const Key &a, const Key &b) const {
        return std::memcmp(a.data(), b.data(), sizeof(Key)) < 0;
    }
};

AvlTree *filledTree() {
    AvlTree *tree = avlNew(compareKey, nullptr);
    for (const Key &k : keys())
        avlInsert(tree, k.data(), 8, const_cast<uint8_t *>(k.data()));
    return tree;
}

std::map<Key, const Key *, KeyLess> filledMap() {
    std::map<Key, const Key *, KeyLess> m;
    for (const Key &k : keys())
        m.emplace(k, &k);
    return m;
}

// Each iteration is one pass over all keys; items processed counts the
// operations, so the report's rate is per operation.
void BM_AvlInsert(benchmark::State &state) {
    for (auto _ : state) {
        AvlTree *tree = filledTree();
        state.PauseTiming();
        avlFree(tree);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * KEYS);
}

void BM_MapInsert(benchmark::State &state) {
    for (auto _ : state) {
        auto *m = new std::map<Key, const Key *, KeyLess>(filledMap());
        state.PauseTiming();
        delete m;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * KEYS);
}

void BM_AvlFind(benchmark::State &state) {
    AvlTree *tree = filledTree();
    for (auto _ : state)
        for (size_t i : probeOrder())
            benchmark::DoNotOptimize(avlFind(tree, keys()[i].data(), 8));
    state.SetItemsProcessed(state.iterations() * KEYS);
    avlFree(tree);
}

void BM_MapFind(benchmark::State &state) {
    auto m = filledMap();
    for (auto _ : state)
        for (size_t i : probeOrder())
            benchmark::DoNotOptimize(m.find(keys()[i]));
    state.SetItemsProcessed(state.iterations() * KEYS);
}

void BM_AvlNext(benchmark::State &state) {
    AvlTree *tree = filledTree();
    for (auto _ : state)
        for (size_t i : probeOrder())
            benchmark::DoNotOptimize(avlNext(tree, keys()[i].data(), 8));
    state.SetItemsProcessed(state.iterations() * KEYS);
    avlFree(tree);
}

void BM_MapNext(benchmark::State &state) {
    auto m = filledMap();
    for (auto _ : state)
        for (size_t i : probeOrder())
            benchmark::DoNotOptimize(m.upper_bound(keys()[i]));
    state.SetItemsProcessed(state.iterations() * KEYS);
}

void BM_AvlRemove(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        AvlTree *tree = filledTree();
        state.ResumeTiming();
        for (size_t i : probeOrder())
            avlRemove(tree, keys()[i].data(), 8);
        state.PauseTiming();
        avlFree(tree);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * KEYS);
}

void BM_MapRemove(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto m = filledMap();
        state.ResumeTiming();
        for (size_t i : probeOrder())
            m.erase(keys()[i]);
    }
    state.SetItemsProcessed(state.iterations() * KEYS);
}

AsnNode *benchNext(uint32_t *ids, int *count, uintptr_t) {
    if (*count != 0)
        return nullptr; // one instance per entry: .0
    ids[0] = 0;
    *count = 1;
    return asnNewInteger(0, 2, 1);
}

constexpr MibOps benchOps = {nullptr, benchNext, nullptr, nullptr, nullptr};

// A GetNext walk over 10,000 entries 1.3.6.1.4.1.32473.N, each with one
// instance; per call.
void BM_MibNext(benchmark::State &state) {
    MibEntry *store = mibNew();
    for (uint32_t n = 1; n <= 10000; ++n) {
        uint8_t oid[MIB_OID_MAX];
        const uint32_t arcs[] = {43, 6, 1, 4, 1, 32473, n};
        int length = smxSubIdsToObjectId(oid, MIB_OID_MAX, arcs, 7);
        AsnNode *packed = mibPackEntry(&benchOps, 0);
        mibAdd(store, oid, length, packed);
        asnFree(packed);
    }
    uint8_t buffer[MIB_OID_MAX];
    int length = 0;
    for (auto _ : state) {
        AsnNode *value = mibNext(store, buffer, &length, MIB_OID_MAX);
        if (!value)
            length = 0; // past the end: start again
        asnFree(value);
    }
    state.SetItemsProcessed(state.iterations());
    mibFree(store);
}

} // namespace

BENCHMARK(BM_AvlInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapInsert)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AvlFind)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapFind)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AvlNext)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapNext)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AvlRemove)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapRemove)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MibNext);
