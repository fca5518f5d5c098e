#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "agent/avl.h"
#include "agent/mib.h"
#include "asn/asn.h"
#include "smx/smx.h"

namespace {

using Arcs = std::vector<uint32_t>; // encoded sub-identifiers, 1.3 as 43

std::vector<uint8_t> enc(const char *text) {
    std::vector<uint8_t> out(MIB_OID_MAX);
    int n = smxTextToObjectId(out.data(), MIB_OID_MAX, text);
    EXPECT_GT(n, 0) << text;
    out.resize(n > 0 ? n : 0);
    return out;
}

std::vector<uint8_t> enc(const Arcs &arcs) {
    std::vector<uint8_t> out(MIB_OID_MAX);
    int n =
        smxSubIdsToObjectId(out.data(), MIB_OID_MAX, arcs.data(), static_cast<int>(arcs.size()));
    EXPECT_GE(n, 0);
    out.resize(n > 0 ? n : 0);
    return out;
}

Arcs arcsOf(const uint8_t *oid, int length) {
    Arcs out(MIB_OID_MAX);
    int n = smxObjectIdToSubIds(out.data(), MIB_OID_MAX, oid, length);
    out.resize(n > 0 ? n : 0);
    return out;
}

int32_t intOf(AsnNode *value) {
    EXPECT_NE(value, nullptr);
    int32_t v = value ? asnBytesToInt(asnValue(value), asnValueLength(value)) : -1;
    asnFree(value);
    return v;
}

// An entry's instances with a number each, and what its functions were handed.
struct Fake {
    std::map<Arcs, int> rows;
    std::vector<Arcs> gets, tests, sets;
    int testResult = 0;
    bool garbleOnNone = false; // next leaves 256 huge sub-identifiers behind
};

Fake *fakeOf(uintptr_t context) {
    return reinterpret_cast<Fake *>(context);
}

AsnNode *fakeGet(const uint32_t *ids, int count, uintptr_t context) {
    Fake *f = fakeOf(context);
    Arcs key(ids, ids + count);
    f->gets.push_back(key);
    auto it = f->rows.find(key);
    return it == f->rows.end() ? nullptr : asnNewInteger(0, 2, it->second);
}

AsnNode *fakeNext(uint32_t *ids, int *count, uintptr_t context) {
    Fake *f = fakeOf(context);
    auto it = f->rows.upper_bound(Arcs(ids, ids + *count));
    if (it == f->rows.end()) {
        if (f->garbleOnNone) {
            std::fill(ids, ids + MIB_INSTANCE_MAX, 0xFFFFFFFFu);
            *count = MIB_INSTANCE_MAX;
        }
        return nullptr;
    }
    std::copy(it->first.begin(), it->first.end(), ids);
    *count = static_cast<int>(it->first.size());
    return asnNewInteger(0, 2, it->second);
}

int fakeTestSet(const uint32_t *ids, int count, AsnNode *, uintptr_t context) {
    fakeOf(context)->tests.emplace_back(ids, ids + count);
    return fakeOf(context)->testResult;
}

int fakeSet(const uint32_t *ids, int count, AsnNode *, uintptr_t context) {
    fakeOf(context)->sets.emplace_back(ids, ids + count);
    return 0;
}

constexpr MibOps fakeOps = {fakeGet, fakeNext, fakeTestSet, fakeSet};

int add(MibEntry *store, const std::vector<uint8_t> &oid, Fake *fake) {
    AsnNode *packed = mibPackEntry(&fakeOps, reinterpret_cast<uintptr_t>(fake));
    int r = mibAdd(store, oid.data(), static_cast<int>(oid.size()), packed);
    asnFree(packed);
    return r;
}

AsnNode *get(MibEntry *store, const std::vector<uint8_t> &oid) {
    return mibGet(store, oid.data(), static_cast<int>(oid.size()));
}

// The names a GetNext walk from start visits, with their values.
std::vector<std::pair<Arcs, int>> walk(MibEntry *store, const std::vector<uint8_t> &start) {
    std::vector<std::pair<Arcs, int>> seen;
    uint8_t buffer[MIB_OID_MAX];
    if (!start.empty())
        std::memcpy(buffer, start.data(), start.size());
    int length = static_cast<int>(start.size());
    while (AsnNode *value = mibNext(store, buffer, &length, MIB_OID_MAX)) {
        seen.emplace_back(arcsOf(buffer, length), intOf(value));
        if (seen.size() > 100000)
            break;
    }
    return seen;
}

struct StoreTest : ::testing::Test {
    MibEntry *store = mibNew();
    ~StoreTest() override { mibFree(store); }
};

// Object-identifier order, not octet order, wherever a sub-identifier needs
// more than one octet; plain octet order with prefix matching otherwise.
TEST(MibCompare, OrdersBySubIdentifier) {
    struct Case {
        const char *entry, *key;
        int expected;
    } cases[] = {
        {"1.3.6.1.2.1.1", "1.3.6.1.2.1.1", 0},
        {"1.3.6.1.2.1.1", "1.3.6.1.2.1.1.1.0", 0},
        {"1.3.6.1.2.1.1", "1.3.6.1.2.1", AVL_LEFT},
        {"1.3.6.1.2.1.1", "1.3.6.1.2.1.0.5", AVL_LEFT},
        {"1.3.6.1.2.1.1", "1.3.6.1.2.1.2", AVL_RIGHT},
        {"1.3.6.1.4.1.8072", "1.3.6.1.4.1.20000", AVL_RIGHT},
        {"1.3.6.1.4.1.20000", "1.3.6.1.4.1.8072", AVL_LEFT},
        {"1.3.6.1.4.1.200", "1.3.6.1.4.1.127", AVL_LEFT},
        {"1.3.6.1.4.1.127", "1.3.6.1.4.1.200", AVL_RIGHT},
        {"1.3.6.1.4.1.128", "1.3.6.1.4.1.255", AVL_RIGHT},
        {"1.3.6.1.4.1.16384", "1.3.6.1.4.1.2000000", AVL_RIGHT},
        {"1.3.6.1.4.1.16384", "1.3.6.1.4.1.16383.9", AVL_LEFT},
        {"1.3.6.1.4.1.300", "1.3.6.1.4.1.300.1", 0},
        {"1.3.6.1.4.1.300", "1.3.6.1.4.1.2", AVL_LEFT},
    };
    for (const Case &c : cases) {
        MibEntry entry{};
        std::vector<uint8_t> oid = enc(c.entry), key = enc(c.key);
        entry.oidLen = static_cast<int32_t>(oid.size());
        std::memcpy(entry.oid, oid.data(), oid.size());
        EXPECT_EQ(mibCompare(&entry, key.data(), static_cast<int>(key.size())), c.expected)
            << c.entry << " against " << c.key;
    }
}

TEST_F(StoreTest, GetHandsTheInstanceToTheEntry) {
    Fake f;
    f.rows = {{{1, 0}, 7}, {{}, 8}};
    ASSERT_EQ(add(store, enc("1.3.6.1.2.1.1"), &f), 0);
    EXPECT_EQ(intOf(get(store, enc("1.3.6.1.2.1.1.1.0"))), 7);
    EXPECT_EQ(intOf(get(store, enc("1.3.6.1.2.1.1"))), 8);
    EXPECT_EQ(get(store, enc("1.3.6.1.2.1")), nullptr);
    EXPECT_EQ(get(store, enc("1.3.6.1.2.1.2.1.0")), nullptr);
    EXPECT_EQ(f.gets, (std::vector<Arcs>{{1, 0}, {}}));
    EXPECT_EQ(get(nullptr, enc("1.3.6.1.2.1.1.1.0")), nullptr);
}

// The same identifier, one below it or one above it: the second is refused,
// in either order, and the first still answers.
TEST_F(StoreTest, OverlappingRegistrationsAreRefused) {
    struct Case {
        const char *first, *second;
        int expected;
    } cases[] = {
        {"1.3.6.1.2.1.1", "1.3.6.1.2.1.1", SMP_GEN_ERR},
        {"1.3.6.1.2.1.1", "1.3.6.1.2.1.1.1", SMP_GEN_ERR},
        {"1.3.6.1.2.1.1.1", "1.3.6.1.2.1.1", SMP_GEN_ERR},
        {"1.3.6.1.4.1.300.1", "1.3.6.1.4.1.300", SMP_GEN_ERR},
        {"1.3.6.1.2.1.1", "1.3.6.1.2.1.2", 0},
        {"1.3.6.1.4.1.300", "1.3.6.1.4.1.3", 0},
    };
    for (const Case &c : cases) {
        MibEntry *s = mibNew();
        Fake one, two;
        one.rows = {{{1, 0}, 1}};
        two.rows = {{{1, 0}, 2}};
        ASSERT_EQ(add(s, enc(c.first), &one), 0);
        EXPECT_EQ(add(s, enc(c.second), &two), c.expected) << c.first << " then " << c.second;
        EXPECT_EQ(intOf(get(s, enc((std::string(c.first) + ".1.0").c_str()))), 1);
        mibFree(s);
    }
}

TEST_F(StoreTest, MalformedRegistrationsAreRefused) {
    Fake f;
    std::vector<uint8_t> oid = enc("1.3.6.1.2.1.1");
    AsnNode *good = mibPackEntry(&fakeOps, reinterpret_cast<uintptr_t>(&f));
    AsnNode *noOps = mibPackEntry(nullptr, 0);
    MibEntry raw{};
    AsnNode *wrongClass =
        asnNewOctetString(0, MIB_PACKED_TAG, reinterpret_cast<uint8_t *>(&raw), sizeof raw);
    AsnNode *wrongTag =
        asnNewOctetString(MIB_PACKED_CLASS, 4, reinterpret_cast<uint8_t *>(&raw), sizeof raw);
    AsnNode *shortContent = asnNewOctetString(MIB_PACKED_CLASS, MIB_PACKED_TAG,
                                              reinterpret_cast<uint8_t *>(&raw), sizeof raw - 1);
    const uint8_t unfinished[] = {0x2B, 0x06, 0x81};
    uint8_t big[MIB_OID_MAX + 1] = {0x2B};
    struct Case {
        MibEntry *store;
        const uint8_t *oid;
        int length;
        AsnNode *node;
    } cases[] = {
        {nullptr, oid.data(), static_cast<int>(oid.size()), good},
        {store, oid.data(), 0, good},
        {store, big, MIB_OID_MAX + 1, good},
        {store, unfinished, 3, good},
        {store, oid.data(), static_cast<int>(oid.size()), nullptr},
        {store, oid.data(), static_cast<int>(oid.size()), noOps},
        {store, oid.data(), static_cast<int>(oid.size()), wrongClass},
        {store, oid.data(), static_cast<int>(oid.size()), wrongTag},
        {store, oid.data(), static_cast<int>(oid.size()), shortContent},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(mibAdd(cases[i].store, cases[i].oid, cases[i].length, cases[i].node), SMP_GEN_ERR)
            << "case " << i;
    // Nothing of the refused ones stayed behind: the identifier is still free.
    EXPECT_EQ(mibAdd(store, oid.data(), static_cast<int>(oid.size()), good), 0);
    for (AsnNode *n : {good, noOps, wrongClass, wrongTag, shortContent})
        asnFree(n);
}

TEST_F(StoreTest, PackedEntryHoldsOneRecord) {
    Fake f;
    AsnNode *packed = mibPackEntry(&fakeOps, reinterpret_cast<uintptr_t>(&f));
    ASSERT_NE(packed, nullptr);
    EXPECT_EQ(asnClass(packed), MIB_PACKED_CLASS);
    EXPECT_EQ(asnTag(packed), MIB_PACKED_TAG);
    MibEntry content;
    ASSERT_EQ(asnGather(packed, reinterpret_cast<uint8_t *>(&content), sizeof content),
              static_cast<int>(sizeof content));
    EXPECT_EQ(content.ops, &fakeOps);
    EXPECT_EQ(content.context, reinterpret_cast<uintptr_t>(&f));
    EXPECT_EQ(content.oidLen, 0);
    EXPECT_TRUE(
        std::all_of(content.oid, content.oid + MIB_OID_MAX, [](uint8_t o) { return o == 0; }));
    asnFree(packed);
}

TEST_F(StoreTest, NextMovesOnAndSkipsEntriesWithoutInstances) {
    Fake a, empty, c;
    a.rows = {{{1, 0}, 1}, {{2, 0}, 2}};
    c.rows = {{{1}, 3}};
    ASSERT_EQ(add(store, enc("1.3.6.1.2.1.3"), &c), 0);
    ASSERT_EQ(add(store, enc("1.3.6.1.2.1.1"), &a), 0);
    ASSERT_EQ(add(store, enc("1.3.6.1.2.1.2"), &empty), 0);
    auto seen = walk(store, enc("1.3.6.1.2.1"));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], (std::pair<Arcs, int>{{43, 6, 1, 2, 1, 1, 1, 0}, 1}));
    EXPECT_EQ(seen[1], (std::pair<Arcs, int>{{43, 6, 1, 2, 1, 1, 2, 0}, 2}));
    EXPECT_EQ(seen[2], (std::pair<Arcs, int>{{43, 6, 1, 2, 1, 3, 1}, 3}));
    // From inside an entry past its last instance, and past the store's end.
    EXPECT_EQ(walk(store, enc("1.3.6.1.2.1.1.9")).size(), 1u);
    EXPECT_TRUE(walk(store, enc("1.3.6.1.2.1.3.1")).empty());
    EXPECT_TRUE(walk(store, enc("1.3.6.1.2.1.4")).empty());
    int length = 0;
    uint8_t buffer[MIB_OID_MAX];
    EXPECT_EQ(mibNext(nullptr, buffer, &length, MIB_OID_MAX), nullptr);
}

// When an entry has no further instance, what its next left in the array is
// not encoded: the walk goes on with the following entry.
TEST_F(StoreTest, NextIgnoresWhatAnExhaustedEntryLeft) {
    Fake a, b;
    a.rows = {{{1}, 1}};
    a.garbleOnNone = true;
    b.rows = {{{5}, 2}};
    ASSERT_EQ(add(store, enc("1.3.6.1.2.1.1"), &a), 0);
    ASSERT_EQ(add(store, enc("1.3.6.1.2.1.2"), &b), 0);
    uint8_t buffer[MIB_OID_MAX];
    std::vector<uint8_t> start = enc("1.3.6.1.2.1.1.1");
    std::memcpy(buffer, start.data(), start.size());
    int length = static_cast<int>(start.size());
    EXPECT_EQ(intOf(mibNext(store, buffer, &length, MIB_OID_MAX)), 2);
    EXPECT_EQ(arcsOf(buffer, length), (Arcs{43, 6, 1, 2, 1, 2, 5}));
}

TEST_F(StoreTest, NextThatDoesNotFitGivesNone) {
    Fake a;
    a.rows = {{{1, 0}, 1}};
    std::vector<uint8_t> oid = enc("1.3.6.1.2.1.1");
    ASSERT_EQ(add(store, oid, &a), 0);
    for (std::vector<uint8_t> start : {oid, enc("1.3.6.1.2.1")}) {
        uint8_t buffer[MIB_OID_MAX];
        std::memcpy(buffer, start.data(), start.size());
        int length = static_cast<int>(start.size());
        EXPECT_EQ(mibNext(store, buffer, &length, static_cast<int>(oid.size()) + 1), nullptr);
        length = static_cast<int>(start.size());
        std::memcpy(buffer, start.data(), start.size());
        EXPECT_EQ(intOf(mibNext(store, buffer, &length, static_cast<int>(oid.size()) + 2)), 1);
    }
}

// An instance longer than the access functions take is not cut short into
// another instance's name.
TEST_F(StoreTest, OverlongInstanceIsNotTruncated) {
    Fake a;
    Arcs first(MIB_INSTANCE_MAX, 1);
    a.rows = {{first, 1}};
    Arcs name = {43, 6, 1, 2, 1, 1};
    ASSERT_EQ(add(store, enc(name), &a), 0);
    Arcs exact = name, longer = name;
    exact.insert(exact.end(), first.begin(), first.end());
    longer.insert(longer.end(), MIB_INSTANCE_MAX + 1, 1);
    EXPECT_EQ(intOf(get(store, enc(exact))), 1);
    std::vector<uint8_t> oid = enc(longer);
    int n = static_cast<int>(oid.size());
    EXPECT_EQ(mibGet(store, oid.data(), n), nullptr);
    EXPECT_EQ(mibTestSet(store, oid.data(), n, nullptr), SMP_NO_SUCH_NAME);
    EXPECT_EQ(mibSet(store, oid.data(), n, nullptr), SMP_NO_SUCH_NAME);
    EXPECT_EQ(a.gets.size(), 1u);
    EXPECT_TRUE(a.tests.empty() && a.sets.empty());
}

TEST_F(StoreTest, SetStepsReachTheEntry) {
    Fake a;
    a.testResult = SMP_BAD_VALUE;
    ASSERT_EQ(add(store, enc("1.3.6.1.2.1.1"), &a), 0);
    std::vector<uint8_t> covered = enc("1.3.6.1.2.1.1.4.0"), uncovered = enc("1.3.6.1.2.1.2.1");
    AsnNode *value = asnNewInteger(0, 2, 5);
    EXPECT_EQ(mibTestSet(store, covered.data(), static_cast<int>(covered.size()), value),
              SMP_BAD_VALUE);
    EXPECT_EQ(mibSet(store, covered.data(), static_cast<int>(covered.size()), value), 0);
    EXPECT_EQ(mibTestSet(store, uncovered.data(), static_cast<int>(uncovered.size()), value),
              SMP_NO_SUCH_NAME);
    EXPECT_EQ(mibSet(nullptr, covered.data(), static_cast<int>(covered.size()), value),
              SMP_GEN_ERR);
    EXPECT_EQ(mibTestSet(nullptr, covered.data(), static_cast<int>(covered.size()), value),
              SMP_GEN_ERR);
    EXPECT_EQ(a.tests, (std::vector<Arcs>{{4, 0}}));
    EXPECT_EQ(a.sets, (std::vector<Arcs>{{4, 0}}));
    asnFree(value);
}

TEST(MibProcessStore, RegisterUsesTheStoreOfInit) {
    static Fake f;
    f.rows = {{{0}, 42}};
    ASSERT_NE(mibInit(), nullptr);
    EXPECT_EQ(mibInit(), mibGetStore(nullptr));
    EXPECT_EQ(mibIsWritable(nullptr), 1);
    EXPECT_EQ(mibRegister("1.3.6.1.4.1.32473.77", &fakeOps, reinterpret_cast<uintptr_t>(&f)), 0);
    EXPECT_EQ(mibRegister("1.3.6.1.4.1.32473.77", &fakeOps, reinterpret_cast<uintptr_t>(&f)), 1);
    EXPECT_EQ(mibRegister("1.3.6.1.4.1.32473.77.1", &fakeOps, reinterpret_cast<uintptr_t>(&f)), 1);
    EXPECT_EQ(mibRegister("3.1", &fakeOps, reinterpret_cast<uintptr_t>(&f)), 1);
    EXPECT_EQ(intOf(get(mibGetStore(nullptr), enc("1.3.6.1.4.1.32473.77.0"))), 42);
    mibSetWritable(0);
    EXPECT_EQ(mibIsWritable(nullptr), 0);
    mibSetWritable(1);
}

// Entries whose last sub-identifier needs one, two and three octets walk in
// numeric order, registered in any order.
TEST_F(StoreTest, WalkFollowsIdentifierOrderAcrossEncodingLengths) {
    const uint32_t numbers[] = {20000, 5, 2097152, 128, 8072, 16383, 127, 16384, 2097151, 300};
    std::vector<Fake> fakes(std::size(numbers));
    for (size_t i = 0; i < std::size(numbers); ++i) {
        fakes[i].rows = {{{0}, static_cast<int>(numbers[i])}};
        ASSERT_EQ(add(store, enc(Arcs{43, 6, 1, 4, 1, numbers[i]}), &fakes[i]), 0);
    }
    auto seen = walk(store, enc("1.3.6.1.4.1"));
    std::vector<uint32_t> order(std::begin(numbers), std::end(numbers));
    std::sort(order.begin(), order.end());
    ASSERT_EQ(seen.size(), order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(seen[i].first, (Arcs{43, 6, 1, 4, 1, order[i], 0}));
        EXPECT_EQ(seen[i].second, static_cast<int>(order[i]));
    }
}

uint32_t randomArc(std::mt19937 &rng) {
    // Few values per octet count, so identifiers often share prefixes.
    static const uint32_t arcs[] = {0, 1, 2, 127, 128, 300, 16383, 16384, 70000, 2147483648u};
    return arcs[rng() % std::size(arcs)];
}

Arcs randomArcs(std::mt19937 &rng, int minDepth, int maxDepth) {
    Arcs out;
    int depth = minDepth + static_cast<int>(rng() % (maxDepth - minDepth + 1));
    for (int i = 0; i < depth; ++i)
        out.push_back(randomArc(rng));
    return out;
}

bool isPrefix(const Arcs &a, const Arcs &b) {
    return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// Random registrations against a model keyed by whole names: every look-up
// and every GetNext agrees with it, and a walk visits each instance once.
TEST(MibModel, AgreesWithAMapOfNames) {
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        MibEntry *store = mibNew();
        ASSERT_NE(store, nullptr);
        std::vector<Arcs> registered;
        std::vector<std::unique_ptr<Fake>> fakes;
        std::map<Arcs, int> model;
        int number = 0;
        for (int i = 0; i < 400; ++i) {
            Arcs id = {43, 6, 1};
            Arcs tail = randomArcs(rng, 1, 4);
            id.insert(id.end(), tail.begin(), tail.end());
            bool overlaps = std::any_of(registered.begin(), registered.end(), [&](const Arcs &r) {
                return isPrefix(r, id) || isPrefix(id, r);
            });
            auto fake = std::make_unique<Fake>();
            int r = add(store, enc(id), fake.get());
            ASSERT_EQ(r, overlaps ? SMP_GEN_ERR : 0) << "seed " << seed << " entry " << i;
            if (r != 0)
                continue;
            registered.push_back(id);
            for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
                Arcs instance = randomArcs(rng, 1, 3);
                if (fake->rows.emplace(instance, number).second) {
                    Arcs name = id;
                    name.insert(name.end(), instance.begin(), instance.end());
                    model[name] = number;
                }
                ++number;
            }
            fakes.push_back(std::move(fake));
        }
        ASSERT_GT(registered.size(), 50u);

        auto seen = walk(store, {});
        ASSERT_EQ(seen.size(), model.size()) << "seed " << seed;
        auto it = model.begin();
        for (size_t i = 0; i < seen.size(); ++i, ++it) {
            ASSERT_EQ(seen[i].first, it->first) << "seed " << seed << " step " << i;
            ASSERT_EQ(seen[i].second, it->second);
        }

        for (int probe = 0; probe < 3000; ++probe) {
            Arcs key;
            if (probe % 3 == 0) {
                auto pick = model.begin();
                std::advance(pick, rng() % model.size());
                key = pick->first;
                if (probe % 2 == 0)
                    key.pop_back();
            } else {
                key = {43, 6, 1};
                Arcs tail = randomArcs(rng, 0, 6);
                key.insert(key.end(), tail.begin(), tail.end());
            }
            std::vector<uint8_t> oid = enc(key);
            auto exact = model.find(key);
            AsnNode *value = get(store, oid);
            if (exact == model.end())
                EXPECT_EQ(value, nullptr) << "seed " << seed;
            else
                EXPECT_EQ(intOf(value), exact->second) << "seed " << seed;
            if (exact == model.end() && value)
                asnFree(value);

            uint8_t buffer[MIB_OID_MAX];
            std::memcpy(buffer, oid.data(), oid.size());
            int length = static_cast<int>(oid.size());
            AsnNode *next = mibNext(store, buffer, &length, MIB_OID_MAX);
            auto after = model.upper_bound(key);
            if (after == model.end()) {
                EXPECT_EQ(next, nullptr) << "seed " << seed;
                asnFree(next);
            } else {
                ASSERT_NE(next, nullptr) << "seed " << seed;
                EXPECT_EQ(intOf(next), after->second);
                EXPECT_EQ(arcsOf(buffer, length), after->first);
            }
        }
        mibFree(store);
    }
}

} // namespace
