// The MIB store against a map of names, which holds mibCompare's order.
#include "agent/avl.h"
#include "agent/mib.h"
#include "asn/asn.h"
#include "smx/smx.h"
#include "support.h"
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {
using Arcs = std::vector<uint32_t>; // encoded sub-identifiers, 1.3 as 43
using Oid = std::vector<uint8_t>;
Oid enc(const Arcs &a) {
    Oid out(MIB_OID_MAX);
    int n = smxSubIdsToObjectId(out.data(), MIB_OID_MAX, a.data(), static_cast<int>(a.size()));
    out.resize(static_cast<size_t>(std::max(0, n)));
    return out;
}
int len(const Oid &oid) {
    return static_cast<int>(oid.size());
}
int32_t intOf(AsnNode *value) {
    int32_t v = value ? asnBytesToInt(asnValue(value), asnValueLength(value)) : -1;
    asnFree(value);
    return v;
}

// An entry's instances with a number each. Next leaves its array full of huge
// arcs when no instance follows; testSet and set answer badValue for others.
using Rows = std::map<Arcs, int>;
Rows &rowsOf(uintptr_t context) {
    return *reinterpret_cast<Rows *>(context);
}
AsnNode *fakeGet(const uint32_t *ids, int count, uintptr_t context) {
    auto it = rowsOf(context).find(Arcs(ids, ids + count));
    return it == rowsOf(context).end() ? nullptr : asnNewInteger(0, 2, it->second);
}
AsnNode *fakeNext(uint32_t *ids, int *count, uintptr_t context) {
    auto it = rowsOf(context).upper_bound(Arcs(ids, ids + *count));
    if (it == rowsOf(context).end()) {
        std::fill(ids, ids + MIB_INSTANCE_MAX, 0xFFFFFFFFu);
        *count = MIB_INSTANCE_MAX;
        return nullptr;
    }
    std::copy(it->first.begin(), it->first.end(), ids);
    *count = static_cast<int>(it->first.size());
    return asnNewInteger(0, 2, it->second);
}
int fakeSet(const uint32_t *ids, int count, AsnNode *, uintptr_t context) {
    return rowsOf(context).count(Arcs(ids, ids + count)) ? 0 : SMP_BAD_VALUE;
}
constexpr MibOps fakeOps = {fakeGet, fakeNext, fakeSet, fakeSet, nullptr};
int add(MibEntry *store, const Oid &oid, Rows *rows) {
    AsnNode *packed = mibPackEntry(&fakeOps, reinterpret_cast<uintptr_t>(rows));
    int r = mibAdd(store, oid.data(), len(oid), packed);
    asnFree(packed);
    return r;
}

std::pair<Oid, int> next(MibEntry *store, const Oid &start, int size = MIB_OID_MAX) {
    Oid buffer(start);
    buffer.resize(MIB_OID_MAX);
    int length = len(start);
    int value = intOf(mibNext(store, buffer.data(), &length, size));
    buffer.resize(value < 0 ? 0 : static_cast<size_t>(length));
    return {buffer, value};
}
Arcs randomArcs(std::mt19937 &rng, int minDepth, int maxDepth) {
    // Few values per octet count, so identifiers often share prefixes.
    static const uint32_t arcs[] = {0, 1, 2, 127, 128, 300, 16383, 16384, 70000, 2147483648u};
    Arcs out;
    for (int i = minDepth + static_cast<int>(rng() % (maxDepth - minDepth + 1)); i > 0; --i)
        out.push_back(arcs[rng() % std::size(arcs)]);
    return out;
}
bool isPrefix(const Arcs &a, const Arcs &b) {
    return a.size() <= b.size() && std::equal(a.begin(), a.end(), b.begin());
}

TEST(MibModel, AgreesWithAMapOfNames) {
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        MibEntry *store = mibNew();
        std::vector<Arcs> registered;
        std::vector<std::unique_ptr<Rows>> entries;
        std::map<Arcs, int> model;
        for (int i = 0, number = 0; i < 400; ++i) {
            Arcs id = {43, 6, 1}, tail = randomArcs(rng, 1, 4);
            id.insert(id.end(), tail.begin(), tail.end());
            bool overlaps = std::any_of(registered.begin(), registered.end(), [&](const Arcs &r) {
                return isPrefix(r, id) || isPrefix(id, r);
            });
            auto rows = std::make_unique<Rows>();
            int r = add(store, enc(id), rows.get());
            ASSERT_EQ(r, overlaps ? SMP_GEN_ERR : 0) << "seed " << seed << " entry " << i;
            if (r != 0)
                continue;
            registered.push_back(id);
            for (int k = static_cast<int>(rng() % 4); k > 0; --k, ++number) {
                Arcs instance = randomArcs(rng, 1, 3), name = id;
                name.insert(name.end(), instance.begin(), instance.end());
                if (rows->emplace(instance, number).second)
                    model[name] = number;
            }
            entries.push_back(std::move(rows));
        }
        ASSERT_GT(registered.size(), 50u);
        auto it = model.begin();
        for (auto seen = next(store, {}); seen.second >= 0; seen = next(store, seen.first), ++it) {
            ASSERT_NE(it, model.end()) << "seed " << seed;
            ASSERT_EQ(seen, std::make_pair(enc(it->first), it->second)) << "seed " << seed;
        }
        EXPECT_EQ(it, model.end()) << "seed " << seed;
        for (int probe = 0; probe < 3000; ++probe) {
            Arcs key = {43, 6, 1};
            if (probe % 3 == 0) {
                key = std::next(model.begin(), static_cast<long>(rng() % model.size()))->first;
                if (probe % 2 == 0)
                    key.pop_back();
            } else {
                Arcs tail = randomArcs(rng, 0, 6);
                key.insert(key.end(), tail.begin(), tail.end());
            }
            Oid oid = enc(key);
            auto exact = model.find(key);
            bool covered = std::any_of(registered.begin(), registered.end(),
                                       [&](const Arcs &r) { return isPrefix(r, key); });
            EXPECT_EQ(intOf(mibGet(store, oid.data(), len(oid))),
                      exact == model.end() ? -1 : exact->second);
            int set = exact != model.end() ? 0 : covered ? SMP_BAD_VALUE : SMP_NO_SUCH_NAME;
            EXPECT_EQ(mibTestSet(store, oid.data(), len(oid), nullptr), set);
            EXPECT_EQ(mibSet(store, oid.data(), len(oid), nullptr), set);
            auto after = model.upper_bound(key);
            EXPECT_EQ(next(store, oid), after == model.end()
                                            ? std::make_pair(Oid{}, -1)
                                            : std::make_pair(enc(after->first), after->second));
        }
        mibFree(store);
    }
}

TEST(MibStore, RefusalsAndBounds) {
    MibEntry *store = mibNew();
    Rows rows = {{Arcs(MIB_INSTANCE_MAX, 1), 1}};
    Arcs name = {43, 6, 1, 2, 1, 1}, exact = name, longer = name;
    Oid oid = enc(name);
    exact.insert(exact.end(), MIB_INSTANCE_MAX, 1);
    longer.insert(longer.end(), MIB_INSTANCE_MAX + 1, 1);
    MibEntry raw{};
    const uint8_t *octets = reinterpret_cast<uint8_t *>(&raw), unfinished[] = {0x2B, 0x06, 0x81};
    uint8_t big[MIB_OID_MAX + 1] = {0x2B};
    AsnNode *good = mibPackEntry(&fakeOps, reinterpret_cast<uintptr_t>(&rows)),
            *bad[] = {nullptr, mibPackEntry(nullptr, 0),
                      asnNewOctetString(0, MIB_PACKED_TAG, octets, sizeof raw),
                      asnNewOctetString(MIB_PACKED_CLASS, 4, octets, sizeof raw),
                      asnNewOctetString(MIB_PACKED_CLASS, MIB_PACKED_TAG, octets, sizeof raw - 1)};
    EXPECT_EQ(mibAdd(nullptr, oid.data(), len(oid), good), SMP_GEN_ERR);
    EXPECT_EQ(mibAdd(store, oid.data(), 0, good), SMP_GEN_ERR);
    EXPECT_EQ(mibAdd(store, big, MIB_OID_MAX + 1, good), SMP_GEN_ERR);
    EXPECT_EQ(mibAdd(store, unfinished, 3, good), SMP_GEN_ERR);
    for (AsnNode *b : bad) { // none, no operations, wrong class, wrong tag, short
        EXPECT_EQ(mibAdd(store, oid.data(), len(oid), b), SMP_GEN_ERR);
        asnFree(b);
    }
    EXPECT_EQ(mibAdd(store, oid.data(), len(oid), good), 0);
    asnFree(good);

    // An instance longer than the access functions take is not cut short
    // into another instance's name.
    Oid whole = enc(exact), over = enc(longer);
    EXPECT_EQ(intOf(mibGet(store, whole.data(), len(whole))), 1);
    EXPECT_EQ(mibGet(store, over.data(), len(over)), nullptr);
    EXPECT_EQ(mibTestSet(store, over.data(), len(over), nullptr), SMP_NO_SUCH_NAME);
    // A next name that does not fit the buffer gives none.
    rows = {{{1, 0}, 7}};
    EXPECT_EQ(next(store, oid, len(oid) + 1).second, -1);
    EXPECT_EQ(next(store, oid, len(oid) + 2).second, 7);
    // An arc over 2^32-1 follows every instance with its prefix, never wrapping to 0.
    Oid past = oid;
    past.insert(past.end(), {0x90, 0x80, 0x80, 0x80, 0x00});
    EXPECT_EQ(next(store, past).second, -1);
    EXPECT_EQ(next(store, enc(Arcs{43, 6, 1, 2, 1}), len(oid) + 1).second, -1);
    EXPECT_EQ(next(nullptr, oid).second, -1);
    EXPECT_EQ(mibGet(nullptr, whole.data(), len(whole)), nullptr);
    EXPECT_EQ(mibSet(nullptr, whole.data(), len(whole), nullptr), SMP_GEN_ERR);
    testing_support::EventCapture capture;
    mibPrintEntry(static_cast<const MibEntry *>(
        avlFind(reinterpret_cast<AvlTree *>(store->context), oid.data(), len(oid))));
    EXPECT_EQ(capture.joined(), "<2B 06 01 02 01 01 >");
    mibFree(store);
}

} // namespace
